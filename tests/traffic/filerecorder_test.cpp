#include "traffic/filerecorder.h"

#include "traffic/recordfacts.h"
#include "traffic/recordfolder.h"
#include "traffic/recordline.h"

#include "recordfiles.h"
#include "samplebytes.h"
#include "tshark.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace std::string_literals;
using traffic::FileRecorder;
using traffic::Record;
using traffic::RecordKind;
namespace fs = std::filesystem;

namespace
{

constexpr auto kDeadline = 10s;

// The time as the files keep it: microseconds.
Record make(RecordKind kind, std::string bytes = {}, std::string text = {})
{
    const auto now =
        std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    const traffic::RecordFacts facts = traffic::recordFacts(kind, text);
    return Record{now, kind, std::move(bytes), std::move(text), facts};
}

class FileRecorderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "traffic-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
        folder = base / "traffic";
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }

    // The record files of the folder, oldest first.
    std::vector<fs::path> files() const
    {
        std::vector<fs::path> found;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            if (traffic::RecordFolder::isRecordFileName(entry.path().filename().string())) {
                found.push_back(entry.path());
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    // Every record of every file, oldest first; a line that does not parse
    // fails the test.
    std::vector<Record> recordsOnDisk() const
    {
        std::vector<Record> records;
        for (const fs::path& file : files()) {
            std::ifstream in(file, std::ios::binary);
            std::string line;
            EXPECT_TRUE(std::getline(in, line));
            EXPECT_EQ(line + "\n", traffic::kRecordFileHeader) << file;
            while (std::getline(in, line)) {
                const auto record = traffic::recordFromLine(line);
                EXPECT_TRUE(record.has_value()) << file << ": " << line;
                if (record) {
                    records.push_back(*record);
                }
            }
        }
        return records;
    }

    std::uint64_t recordFileBytes() const
    {
        std::uint64_t total = 0;
        for (const fs::path& file : files()) {
            total += fs::file_size(file);
        }
        return total;
    }

    static bool settled(const FileRecorder& recorder, std::uint64_t offered)
    {
        const FileRecorder::Status status = recorder.status();
        return status.recordsWritten + status.recordsDropped == offered;
    }

    fs::path base;
    fs::path folder;
};

TEST_F(FileRecorderTest, FileGivesBackEveryRecordExactly)
{
    const std::vector<Record> sent{
        make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"),
        make(RecordKind::Connected, "", "127.0.0.1:40112"),
        make(RecordKind::Write, "[BA139123439=ENT-Message\r\n", "26 bytes written"),
        make(RecordKind::Read, "[A=B-\r\n\0after the NUL"s, "frame ok"),
        make(RecordKind::Read, "[A=B-\r\n[C=D-\r\n", "frame ok"),
        make(RecordKind::Read, everyByte(), "Error received data !\r\n"),
        make(RecordKind::Event, "", "Connection Abandonned\r\n"),
        make(RecordKind::Disconnect, "", "closed\tby\nthe operator"),
    };
    {
        FileRecorder recorder({folder});
        for (const Record& record : sent) {
            recorder.record(record);
        }
    }
    ASSERT_EQ(files().size(), 1u);
    expectSame(recordsOnDisk(), sent);
}

TEST_F(FileRecorderTest, OneFilePerConnectionNamedByStartProtocolAndPeer)
{
    {
        FileRecorder recorder({folder});
        recorder.record(make(RecordKind::Event, "", "before any connection"));
        recorder.record(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"));
        recorder.record(make(RecordKind::Disconnect, "", "operator"));
        recorder.record(make(RecordKind::ConnectAttempt, "", "UDP 127.0.0.1:7000"));
        recorder.record(make(RecordKind::ConnectFailed, "", "Connection refused after 0.1 ms"));
        ASSERT_TRUE(waitUntil([&] { return settled(recorder, 5); }, kDeadline));
        EXPECT_EQ(recorder.status().currentFile.parent_path(), folder);
        EXPECT_EQ(recorder.status().recordsDropped, 0u);
    }
    const std::vector<fs::path> found = files();
    ASSERT_EQ(found.size(), 3u);
    const std::string suffixes[] = {"_none.log", "_tcp_127.0.0.1_21210.log",
                                    "_udp_127.0.0.1_7000.log"};
    for (std::size_t i = 0; i < found.size(); ++i) {
        const std::string name = found[i].filename().string();
        EXPECT_TRUE(name.ends_with(suffixes[i])) << name;
    }
    EXPECT_EQ(recordsOnDisk().size(), 5u);
}

// With umask 0 the modes cannot come from the umask: they are the ones the
// folders and files were made with.
TEST_F(FileRecorderTest, FoldersAreOwnerOnlyAndFilesTooWhateverTheUmask)
{
    const mode_t previous = ::umask(0);
    const fs::path nested = base / "a" / "b";
    {
        FileRecorder recorder({nested});
        recorder.record(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:1"));
        ASSERT_TRUE(waitUntil([&] { return settled(recorder, 1); }, kDeadline));
    }
    ::umask(previous);
    for (const fs::path& made : {base / "a", nested}) {
        EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all) << made;
    }
    ASSERT_EQ(fs::directory_iterator(nested)->path().extension(), ".log");
    EXPECT_EQ(fs::status(fs::directory_iterator(nested)->path()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FileRecorderTest, StaysWithinTheDiskLimitDeletingTheOldestFilesFirst)
{
    fs::create_directories(folder);
    const fs::path olderRun = folder / "20000101T000000.000Z_tcp_127.0.0.1_1.log";
    const fs::path notOurs = folder / "notes.log";
    std::ofstream(olderRun) << traffic::kRecordFileHeader << std::string(10000, 'x');
    std::ofstream(notOurs) << std::string(100000, 'y');

    constexpr std::uint64_t kLimit = 64 * 1024;
    constexpr int kConnections = 3;
    constexpr int kReadsPerConnection = 40;
    std::vector<Record> sent;
    {
        FileRecorder recorder({folder, kLimit});
        for (int c = 0; c < kConnections; ++c) {
            sent.push_back(
                make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:2121" + std::to_string(c)));
            recorder.record(sent.back());
            for (int i = 0; i < kReadsPerConnection; ++i) {
                sent.push_back(make(RecordKind::Read,
                                    std::string(1000, static_cast<char>('a' + i % 26)),
                                    "frame ok"));
                recorder.record(sent.back());
            }
        }
        ASSERT_TRUE(waitUntil([&] { return settled(recorder, sent.size()); }, kDeadline));
        const FileRecorder::Status status = recorder.status();
        EXPECT_TRUE(status.recording) << status.error.text();
        EXPECT_EQ(status.recordsDropped, 0u);
        EXPECT_GT(status.filesDeleted, 0u);
        EXPECT_LE(status.bytesOnDisk, kLimit);
        EXPECT_GT(status.bytesWritten, kLimit);
    }
    EXPECT_FALSE(fs::exists(olderRun));
    EXPECT_EQ(fs::file_size(notOurs), 100000u);
    EXPECT_LE(recordFileBytes(), kLimit);
    EXPECT_GT(files().size(), 1u);
    // What is left is the newest part of the traffic, without a gap.
    const std::vector<Record> kept = recordsOnDisk();
    ASSERT_FALSE(kept.empty());
    ASSERT_LT(kept.size(), sent.size());
    expectSame(kept, std::vector<Record>(sent.end() - static_cast<std::ptrdiff_t>(kept.size()),
                                         sent.end()));
}

TEST_F(FileRecorderTest, WritesWithinASecondWithoutWaitingForTheDisconnect)
{
    FileRecorder recorder({folder});
    recorder.record(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"));
    recorder.record(make(RecordKind::Read, "[A=B-\r\n", "frame ok"));
    // Upper bound only, well above the promised second.
    ASSERT_TRUE(waitUntil(
        [&] {
            return files().size() == 1 &&
                   contents(files()[0]).find("\\r\\n\t") != std::string::npos;
        },
        3s));
}

struct Unwritable {
    std::string name;
    std::function<fs::path(const fs::path& base)> prepare;
};

class FileRecorderUnwritable : public FileRecorderTest,
                               public testing::WithParamInterface<Unwritable>
{
};

// Root passes every permission check, so these folders fail for reasons that
// hold for root too.
TEST_P(FileRecorderUnwritable, StopsRecordingSaysWhyAndCountsWhatItDrops)
{
    const fs::path target = GetParam().prepare(base);
    FileRecorder recorder({target});
    ASSERT_TRUE(waitUntil([&] { return !recorder.status().recording; }, kDeadline));
    recorder.record(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"));
    recorder.record(make(RecordKind::Read, "bytes", "frame ok"));
    const FileRecorder::Status status = recorder.status();
    EXPECT_NE(status.stoppedText().find(target.string()), std::string::npos)
        << status.stoppedText();
    EXPECT_NE(status.stoppedText().find("Kept 0 records"), std::string::npos)
        << status.stoppedText();
    EXPECT_EQ(status.recordsWritten, 0u);
    EXPECT_EQ(status.recordsDropped, 2u);
}

INSTANTIATE_TEST_SUITE_P(Folders, FileRecorderUnwritable,
                         testing::Values(Unwritable{"ParentIsAFile",
                                                    [](const fs::path& base) {
                                                        std::ofstream(base / "file") << "x";
                                                        return base / "file" / "traffic";
                                                    }},
                                         Unwritable{"FolderIsAFile",
                                                    [](const fs::path& base) {
                                                        std::ofstream(base / "file") << "x";
                                                        return base / "file";
                                                    }}),
                         [](const testing::TestParamInfo<Unwritable>& info) {
                             return info.param.name;
                         });

TEST_F(FileRecorderTest, FolderGoneWhileRecordingStopsAndSaysHowMuchWasKept)
{
    FileRecorder recorder({folder});
    recorder.record(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"));
    recorder.record(make(RecordKind::Read, "[A=B-\r\n", "frame ok"));
    recorder.record(make(RecordKind::Disconnect, "", "operator"));
    ASSERT_TRUE(waitUntil([&] { return settled(recorder, 3); }, kDeadline));
    fs::remove_all(folder);
    recorder.record(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"));
    recorder.record(make(RecordKind::Read, "[A=B-\r\n", "frame ok"));
    ASSERT_TRUE(waitUntil([&] { return !recorder.status().recording; }, kDeadline));
    ASSERT_TRUE(waitUntil([&] { return settled(recorder, 5); }, kDeadline));
    const FileRecorder::Status status = recorder.status();
    EXPECT_EQ(status.recordsWritten, 3u);
    EXPECT_EQ(status.recordsDropped, 2u);
    EXPECT_NE(status.stoppedText().find("Kept 3 records"), std::string::npos)
        << status.stoppedText();
    EXPECT_NE(status.stoppedText().find("No such file or directory"), std::string::npos)
        << status.stoppedText();
}

// Files of this process may grow to `bytes` and no further while it lives:
// the system then refuses the bytes past that size, part way through a
// write, as a disk that fills up does.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        // Past the limit the system raises SIGXFSZ, which would end the test;
        // ignored, the write fails with EFBIG instead.
        savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limited{bytes, saved_.rlim_max};
        set_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return set_; }

private:
    rlimit saved_{};
    void (*savedHandler_)(int) = SIG_DFL;
    bool set_ = false;
};

// Regression: a write cut short by a full disk left half a line at the end of
// the file, and the records of the whole piece counted as dropped, so the file
// ended with a line no reader could take and the window said fewer records
// were kept than were there.
TEST_F(FileRecorderTest, DiskFullPartWayThroughALineKeepsWholeRecordsAndCountsThem)
{
    constexpr rlim_t kRoom = 100 * 1024;
    constexpr int kReads = 300; // about 3 KiB a line: far more than the room
    const FileSizeLimit limit(kRoom);
    ASSERT_TRUE(limit.set());
    std::vector<Record> offered{make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210")};
    for (int i = 0; i < kReads; ++i) {
        offered.push_back(
            make(RecordKind::Read, std::string(1000, static_cast<char>('A' + i % 26)), "frame ok"));
    }
    FileRecorder recorder({folder});
    for (const Record& record : offered) {
        recorder.record(record);
    }
    ASSERT_TRUE(waitUntil([&] { return !recorder.status().recording; }, kDeadline));
    ASSERT_TRUE(waitUntil([&] { return settled(recorder, offered.size()); }, kDeadline));
    const FileRecorder::Status status = recorder.status();

    ASSERT_EQ(files().size(), 1u);
    const std::string file = contents(files().front());
    EXPECT_LE(file.size(), kRoom);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.back(), '\n');
    const std::vector<Record> kept = recordsOnDisk();
    ASSERT_GT(kept.size(), 1u);
    EXPECT_LT(kept.size(), offered.size());
    expectSame(kept, std::vector<Record>(offered.begin(), offered.begin() + kept.size()));
    EXPECT_EQ(status.recordsWritten, kept.size());
    EXPECT_EQ(status.recordsDropped, offered.size() - kept.size());
    EXPECT_EQ(status.bytesWritten, file.size() - traffic::kRecordFileHeader.size());
    EXPECT_NE(status.stoppedText().find("Kept " + std::to_string(kept.size()) + " records"),
              std::string::npos)
        << status.stoppedText();
    EXPECT_NE(status.stoppedText().find(std::system_category().message(EFBIG)), std::string::npos)
        << status.stoppedText();
}

// The console and a device over TCP, `reads` blocks of 1000 bytes from the device.
std::vector<Record> tcpSession(int reads)
{
    std::vector<Record> records{make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"),
                                make(RecordKind::Connected, "", "127.0.0.1:40112 after 0 ms"),
                                make(RecordKind::Write, everyByte(), "256 bytes written")};
    for (int i = 0; i < reads; ++i) {
        records.push_back(
            make(RecordKind::Read, std::string(1000, static_cast<char>(i % 3)), "ok"));
    }
    return records;
}

// How many packets tshark reads from `file`; -1 when it does not read it to
// its end without complaint.
int packetsRead(const fs::path& file)
{
    int status = 0;
    const std::string frames =
        commandOutput("tshark -r '" + file.string() + "' -T fields -e frame.number", &status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0
               ? static_cast<int>(std::count(frames.begin(), frames.end(), '\n'))
               : -1;
}

TEST_F(FileRecorderTest, PcapngFilesAreOwnerOnlyBoundedAndReadWholeByTshark)
{
    if (!haveTshark()) {
        GTEST_SKIP() << "tshark is not installed: the pcapng files cannot be read back";
    }
    std::vector<Record> offered = tcpSession(2);
    offered.push_back(make(RecordKind::Disconnect, "", "Disconnected"));
    offered.push_back(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21211"));
    offered.push_back(make(RecordKind::Connected, "", "127.0.0.1:40113 after 0 ms"));
    {
        FileRecorder recorder({folder, 64 * 1024, FileRecorder::Format::Pcapng});
        // In rounds, each written before the next: a file's next part starts
        // between two pieces written.
        std::size_t given = 0;
        for (int round = 0; round < 4; ++round) {
            for (int i = 0; round > 0 && i < 10; ++i) {
                offered.push_back(make(RecordKind::Read, std::string(1000, 'r'), "ok"));
            }
            for (; given < offered.size(); ++given) {
                recorder.record(offered[given]);
            }
            ASSERT_TRUE(waitUntil([&] { return settled(recorder, offered.size()); }, kDeadline));
        }
        EXPECT_TRUE(recorder.status().recording) << recorder.status().error.text();
        // Records are counted as records, not as the LF bytes a packet holds.
        const FileRecorder::Status status = recorder.status();
        EXPECT_EQ(status.recordsWritten, offered.size());
        EXPECT_GT(status.recordsKept, 0u);
        EXPECT_LE(status.recordsKept, status.recordsWritten);
    }
    const std::vector<fs::path> written = files();
    ASSERT_GT(written.size(), 2u); // the second connection's file was split in parts (of 16 KiB)
    EXPECT_LE(recordFileBytes(), 64u * 1024);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    for (const fs::path& file : written) {
        EXPECT_EQ(file.extension(), ".pcapng");
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_GT(packetsRead(file), 0) << file;
    }
    const auto [sent, received] = followed(written.front(), "tcp");
    EXPECT_EQ(sent, everyByte());
    EXPECT_EQ(received, offered[3].bytes + offered[4].bytes);
}

TEST_F(FileRecorderTest, DiskFullPartWayThroughAPacketKeepsWholeBlocksAndCountsThem)
{
    if (!haveTshark()) {
        GTEST_SKIP() << "tshark is not installed: the pcapng files cannot be read back";
    }
    constexpr rlim_t kRoom = 100 * 1024;
    const std::vector<Record> offered = tcpSession(300);
    const FileSizeLimit limit(kRoom);
    ASSERT_TRUE(limit.set());
    FileRecorder recorder(
        {folder, FileRecorder::kDefaultDiskLimitBytes, FileRecorder::Format::Pcapng});
    for (const Record& record : offered) {
        recorder.record(record);
    }
    ASSERT_TRUE(waitUntil([&] { return !recorder.status().recording; }, kDeadline));
    ASSERT_TRUE(waitUntil([&] { return settled(recorder, offered.size()); }, kDeadline));
    const FileRecorder::Status status = recorder.status();
    ASSERT_EQ(files().size(), 1u);
    EXPECT_LE(fs::file_size(files().front()), kRoom);
    EXPECT_GT(status.recordsWritten, 3u);
    EXPECT_LT(status.recordsWritten, offered.size());
    // The attempt and its outcome are SYN, SYN-ACK and ACK; every other record one packet.
    EXPECT_EQ(packetsRead(files().front()), static_cast<int>(status.recordsWritten) + 1);
}

TEST_F(FileRecorderTest, EveryRecordFromManyThreadsIsWrittenOrCounted)
{
    constexpr int kThreads = 4;
    constexpr int kReadsPerThread = 2000;
    constexpr std::uint64_t kOffered = 1 + kThreads * kReadsPerThread;
    std::uint64_t written = 0;
    {
        FileRecorder recorder({folder});
        recorder.record(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"));
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&recorder, t] {
                for (int i = 0; i < kReadsPerThread; ++i) {
                    recorder.record(make(RecordKind::Read,
                                         std::string(1000, static_cast<char>('0' + t)),
                                         std::to_string(i)));
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        ASSERT_TRUE(waitUntil([&] { return settled(recorder, kOffered); }, kDeadline));
        written = recorder.status().recordsWritten;
    }
    EXPECT_EQ(recordsOnDisk().size(), written);
}

} // namespace

namespace
{

// Regression: the first piece written to a new file went in whole, however
// far past a quarter of the limit, and "Kept" counted the records of the
// files the limit had deleted since.
TEST_F(FileRecorderTest, FilesStayWithinAQuarterAndKeptCountsWhatIsOnDisk)
{
    constexpr std::uint64_t kLimit = 256 * 1024;
    constexpr int kReads = 120; // about 3 KiB a line, offered at once
    std::vector<Record> offered{make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210")};
    for (int i = 0; i < kReads; ++i) {
        offered.push_back(make(RecordKind::Read, std::string(1000, 'a'), "frame ok"));
    }
    FileRecorder recorder({folder, kLimit});
    for (const Record& record : offered) {
        recorder.record(record);
    }
    ASSERT_TRUE(waitUntil([&] { return settled(recorder, offered.size()); }, kDeadline));
    const FileRecorder::Status status = recorder.status();
    EXPECT_EQ(status.recordsWritten, offered.size());
    EXPECT_GT(status.filesDeleted, 0u);
    for (const fs::path& file : files()) {
        EXPECT_LE(fs::file_size(file), kLimit / 4) << file;
    }
    const std::vector<Record> kept = recordsOnDisk();
    EXPECT_EQ(status.recordsKept, kept.size());
    EXPECT_EQ(status.bytesKept,
              recordFileBytes() - files().size() * traffic::kRecordFileHeader.size());
}

} // namespace
