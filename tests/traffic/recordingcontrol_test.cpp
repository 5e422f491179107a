#include "traffic/recordingcontrol.h"

#include "traffic/recordfolder.h"
#include "traffic/recordline.h"

#include "loopbacktcpserver.h"
#include "recordcollector.h"
#include "threadedviewwindow.h"
#include "waituntil.h"

#include "protocol/messageviewchannel.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using traffic::Record;
using traffic::RecordKind;
namespace fs = std::filesystem;

namespace
{

constexpr auto kDeadline = 5s;

// The console's arrangement: a view sink that always takes the records, a
// control that switches files on and off, a channel over a loopback peer.
class RecordingControlTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "traffic-control-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        control.setViewSink(&collector);
        control.setFileOptions({folder});
        channel.setView(&view);
        channel.setObserver(&control.observer());
    }

    void TearDown() override
    {
        channel.stop();
        control.setRecordingEnabled(false);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::vector<fs::path> files() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    std::vector<Record> recordsIn(const fs::path& file) const
    {
        std::vector<Record> records;
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            if (auto record = traffic::recordFromLine(line)) {
                records.push_back(*record);
            }
        }
        return records;
    }

    fs::path folder;
    RecordCollector collector;
    traffic::RecordingControl control;
    LoopbackTcpServer server;
    ThreadedViewWindow view;
    protocol::DelimiterSet delimiters;
    protocol::MessageViewChannel channel{delimiters};
};

// The devices a host serves get a recorder of their own, in the subfolder
// "devices", made only once a device's records come; off, it is taken back.
TEST_F(RecordingControlTest, ServedDevicesAreRecordedInAFolderOfTheirOwn)
{
    std::shared_ptr<traffic::RecordSink> devices;
    int told = 0;
    control.setDevicesRecorderHook([&](std::shared_ptr<traffic::RecordSink> sink) {
        devices = std::move(sink);
        ++told;
    });
    control.setRecordingEnabled(true);
    ASSERT_TRUE(devices);
    EXPECT_FALSE(fs::exists(folder / "devices"));
    const auto now = std::chrono::system_clock::now();
    devices->record({now, RecordKind::ConnectAttempt, {}, "TCP 10.0.0.7:40001", {}});
    devices->record({now, RecordKind::Read, "[BA1=EVT-]\r\n", "", {}});
    devices->record({now, RecordKind::Disconnect, {}, "Disconnected", {}});
    control.setRecordingEnabled(false);
    EXPECT_FALSE(devices);
    EXPECT_EQ(told, 2);
    ASSERT_TRUE(fs::is_directory(folder / "devices"));
    std::vector<fs::path> written;
    for (const auto& entry : fs::directory_iterator(folder / "devices"))
        written.push_back(entry.path());
    ASSERT_EQ(written.size(), 1u);
    EXPECT_NE(written[0].filename().string().find("10.0.0.7_40001"), std::string::npos);
    EXPECT_EQ(recordsIn(written[0]).size(), 3u);
}

// Switched on while connected, the file still starts with the connection's
// attempt and is named after it; the view's sink saw everything throughout.
TEST_F(RecordingControlTest, SwitchedOnWhileConnectedTheFileStartsWithTheConnection)
{
    ASSERT_TRUE(channel.openClient("127.0.0.1", server.portText().c_str(), AF_INET, SOCK_STREAM));
    ASSERT_TRUE(server.accept(kDeadline));
    ASSERT_TRUE(channel.startWatcher());
    EXPECT_EQ(control.statusText(), "Not recording to a file.");

    control.setRecordingEnabled(true);
    ASSERT_TRUE(server.send("[a=b-c\r\n"));
    ASSERT_TRUE(collector.waitForLast(RecordKind::Read, kDeadline));
    channel.stop();
    ASSERT_TRUE(collector.waitForLast(RecordKind::Disconnect, kDeadline));
    EXPECT_TRUE(control.statusText().starts_with("Recording to " + folder.string()))
        << control.statusText();
    control.setRecordingEnabled(false);

    const std::vector<fs::path> found = files();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(
        found[0].filename().string().ends_with("_tcp_127.0.0.1_" + server.portText() + ".log"))
        << found[0];
    const std::vector<Record> onDisk = recordsIn(found[0]);
    const std::vector<Record> seen = collector.records();
    ASSERT_EQ(onDisk.size(), 4u);
    ASSERT_EQ(seen.size(), 4u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(onDisk[i].kind, seen[i].kind) << i;
        EXPECT_EQ(onDisk[i].bytes, seen[i].bytes) << i;
        EXPECT_EQ(onDisk[i].text, seen[i].text) << i;
        EXPECT_EQ(onDisk[i].time, std::chrono::floor<std::chrono::microseconds>(seen[i].time));
    }
}

// A recorder that stopped on a failure says so; switching off and on again
// tries afresh, here with a folder that works.
TEST_F(RecordingControlTest, AStoppedRecorderSaysWhyAndASwitchOnTriesAgain)
{
    std::ofstream(folder / "file") << "x";
    control.setFileOptions({folder / "file" / "traffic"});
    control.setRecordingEnabled(true);
    EXPECT_TRUE(waitUntil([&] { return !control.fileStatus()->recording; }, kDeadline));
    EXPECT_TRUE(control.statusText().starts_with("Recording stopped: ")) << control.statusText();

    control.setFileOptions({folder / "traffic"});
    ASSERT_TRUE(control.recordingEnabled());
    ASSERT_TRUE(channel.openClient("127.0.0.1", server.portText().c_str(), AF_INET, SOCK_STREAM));
    channel.stop();
    control.setRecordingEnabled(false);
    EXPECT_FALSE(control.fileStatus().has_value());
    ASSERT_TRUE(fs::is_directory(folder / "traffic"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "traffic"), fs::directory_iterator()),
              1);
}

} // namespace
