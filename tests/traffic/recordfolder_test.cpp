#include "traffic/recordfolder.h"

#include "traffic/recordline.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

using traffic::RecordFolder;
namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace
{

struct Label {
    std::string connectText;
    std::string label;
};

class RecordFolderLabel : public testing::TestWithParam<Label>
{
};

// The label becomes part of a file name: whatever the operator typed as the
// host, it names a file inside the folder and nothing else.
TEST_P(RecordFolderLabel, NamesAFileInsideTheFolder)
{
    const std::string label = RecordFolder::labelOf(GetParam().connectText);
    EXPECT_EQ(label, GetParam().label);
    EXPECT_EQ(label.find('/'), std::string::npos);
    EXPECT_TRUE(RecordFolder::isRecordFileName("20261207T081502.123Z_" + label + ".log"));
}

INSTANTIATE_TEST_SUITE_P(
    ConnectTexts, RecordFolderLabel,
    testing::Values(Label{"TCP 127.0.0.1:21210", "tcp_127.0.0.1_21210"},
                    Label{"UDP reader-3.local:7000", "udp_reader-3.local_7000"},
                    Label{"TCP ../../etc/passwd:1", "tcp_..-..-etc-passwd_1"},
                    Label{"TCP ..:21210", "tcp_--_21210"}, Label{"TCP a b:c:80", "tcp_a-b-c_80"},
                    Label{"", "none"}, Label{"garbage", "garbage"}, Label{"T/P host", "t-p_host"}));

TEST(RecordFolderFileName, OnlyNamesOfTheRecordFormCount)
{
    EXPECT_TRUE(RecordFolder::isRecordFileName("20261207T081502.123Z_tcp_127.0.0.1_21210.log"));
    EXPECT_TRUE(RecordFolder::isRecordFileName("20261207T081502.123Z_none-2.log"));
    for (const char* other : {"notes.log", "20261207T081502.123Z_tcp.txt",
                              "20261207T081502.123Z.log", "2026120xT081502.123Z_a.log",
                              "20261207T081502,123Z_a.log", "20261207T081502.123Z-a.log"}) {
        EXPECT_FALSE(RecordFolder::isRecordFileName(other)) << other;
    }
}

class RecordFolderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "record-folder-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
        folder = base / "traffic";
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::owner_all);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
    // A file as an older run left it: the header, then `bytes` of records.
    void oldRecord(const std::string& name, std::size_t bytes) const
    {
        std::ofstream(folder / name) << traffic::kRecordFileHeader << std::string(bytes, 'x');
    }
    static std::string line(std::size_t bytes) { return std::string(bytes - 1, 'r') + "\n"; }

    fs::path base;
    fs::path folder;
};

constexpr std::uint64_t kLimit = 64 * 1024;

// A file in the folder that the bound must leave alone.
struct Planted {
    std::string label;
    std::string name;
    std::function<void(const fs::path& file, const fs::path& outside)> make;
};

void PrintTo(const Planted& planted, std::ostream* out)
{
    *out << planted.name;
}

class RecordFolderOwnFiles : public RecordFolderTest, public testing::WithParamInterface<Planted>
{
};

// Regression: every file whose name fitted the pattern counted by its length
// and could be deleted, so one sparse file of a terabyte made the next
// connect delete every older record, and a user's own file with it.
TEST_P(RecordFolderOwnFiles, BoundCountsAndDeletesOnlyTheRecordersOwnFiles)
{
    const fs::path outside = base / "outside.log";
    std::ofstream(outside) << traffic::kRecordFileHeader << std::string(50000, 'o');
    if (::geteuid() != 0 && GetParam().label == "OtherOwner") {
        GTEST_SKIP() << "giving a file away needs root";
    }
    GetParam().make(folder / GetParam().name, outside);
    oldRecord("20000101T000000.000Z_tcp_127.0.0.1_1.log", 50000);
    RecordFolder records(folder, kLimit);
    ASSERT_TRUE(records.prepare().ok());
    ASSERT_TRUE(
        records.startFile("tcp_127.0.0.1_2", Clock::now(), traffic::kRecordFileHeader).ok());
    // The old run's file and the planted one together fill the bound only
    // when the planted one counts.
    EXPECT_LT(records.bytesOnDisk(), 60000u);
    base::Error result;
    ASSERT_TRUE(records.makeRoom(20000, Clock::now(), traffic::kRecordFileHeader, result))
        << result.text();
    EXPECT_FALSE(fs::exists(folder / "20000101T000000.000Z_tcp_127.0.0.1_1.log"));
    EXPECT_TRUE(fs::exists(fs::symlink_status(folder / GetParam().name)));
    EXPECT_TRUE(fs::exists(outside));
}

INSTANTIATE_TEST_SUITE_P(
    Planted, RecordFolderOwnFiles,
    testing::Values(Planted{"SparseTerabyte", "99991231T235959.999Z_x.log",
                            [](const fs::path& file, const fs::path&) {
                                std::ofstream(file) << traffic::kRecordFileHeader;
                                fs::resize_file(file, 1ull << 40);
                            }},
                    Planted{"UsersNotes", "20261201T000000.000Z_notes.log",
                            [](const fs::path& file, const fs::path&) {
                                std::ofstream(file) << "my notes";
                            }},
                    Planted{"LinkToARecord", "19990101T000000.000Z_link.log",
                            [](const fs::path& file, const fs::path& outside) {
                                fs::create_symlink(outside, file);
                            }},
                    Planted{"OtherOwner", "19990101T000000.000Z_a.log",
                            [](const fs::path& file, const fs::path&) {
                                std::ofstream(file) << traffic::kRecordFileHeader;
                                ASSERT_EQ(::chown(file.c_str(), 12345, 12345), 0);
                            }}),
    [](const testing::TestParamInfo<Planted>& info) { return info.param.label; });

// Regression: a delete that failed was passed over, and every later record
// was dropped without a word. An immutable file fails to delete even for root.
TEST_F(RecordFolderTest, DeleteThatFailsStopsWithTheReason)
{
    const std::string name = "20000101T000000.000Z_tcp_127.0.0.1_1.log";
    oldRecord(name, 60000);
    const int fd = ::open((folder / name).c_str(), O_RDONLY);
    int flags = FS_IMMUTABLE_FL;
    if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no immutable files here";
    }
    RecordFolder records(folder, kLimit);
    ASSERT_TRUE(records.prepare().ok());
    const base::Error started =
        records.startFile("tcp_127.0.0.1_2", Clock::now(), traffic::kRecordFileHeader);
    base::Error result;
    const bool room =
        started.ok() && records.makeRoom(20000, Clock::now(), traffic::kRecordFileHeader, result);
    flags = 0;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    ASSERT_TRUE(started.ok()) << started.text();
    EXPECT_FALSE(room);
    EXPECT_EQ(result.fault(), base::Fault::CannotDelete);
    EXPECT_EQ(result.text(), "cannot delete " + (folder / name).string() + ": " +
                                 std::system_category().message(EPERM));
}

// Regression: a second console on the folder deleted the first one's open
// file, which went on "writing" into nothing.
TEST_F(RecordFolderTest, TwoRecordersOnOneFolderKeepEachOthersLiveFile)
{
    RecordFolder first(folder, kLimit);
    RecordFolder second(folder, kLimit);
    ASSERT_TRUE(first.prepare().ok());
    ASSERT_TRUE(second.prepare().ok());
    ASSERT_TRUE(first.startFile("tcp_127.0.0.1_1", Clock::now(), traffic::kRecordFileHeader).ok());
    ASSERT_TRUE(first.append(line(10000)).result.ok());
    const fs::path live = first.currentFile();
    ASSERT_TRUE(second.startFile("tcp_127.0.0.1_2", Clock::now(), traffic::kRecordFileHeader).ok());
    for (int i = 0; i < 40; ++i) {
        base::Error result;
        if (!second.fits(4000, 4000)) {
            ASSERT_TRUE(second.makeRoom(4000, Clock::now(), traffic::kRecordFileHeader, result))
                << i << result.text();
        }
        ASSERT_TRUE(second.append(line(4000)).result.ok()) << i;
    }
    EXPECT_GT(second.filesDeleted(), 0u);
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(first.append(line(100)).result.ok());
}

// An existing folder "d" with `mode` and `owner` (0: the user), or a link to a
// private folder when `mode` is 0.
struct FolderCase {
    std::string name;
    int mode;
    uid_t owner;
    base::Fault fault;
};

void PrintTo(const FolderCase& folderCase, std::ostream* out)
{
    *out << folderCase.name;
}

class RecordFolderChecks : public RecordFolderTest, public testing::WithParamInterface<FolderCase>
{
};

// Regression: any existing folder was taken, a link to one or a folder that
// others may write in included.
TEST_P(RecordFolderChecks, AnExistingFolderMustBeTheUsersOwnAndPrivate)
{
    const FolderCase& folderCase = GetParam();
    if (::geteuid() != 0 && folderCase.owner != 0) {
        GTEST_SKIP() << "giving a folder away needs root";
    }
    const fs::path target = base / "d";
    if (folderCase.mode == 0) {
        fs::create_directory_symlink(folder, target);
    } else {
        fs::create_directory(target);
        fs::permissions(target, fs::perms(folderCase.mode));
        ASSERT_EQ(::chown(target.c_str(), folderCase.owner ? folderCase.owner : ::geteuid(),
                          static_cast<gid_t>(-1)),
                  0);
    }
    RecordFolder records(target, kLimit);
    const base::Error prepared = records.prepare();
    EXPECT_EQ(prepared.fault(), folderCase.fault) << prepared.text();
    EXPECT_EQ(prepared.ok(), prepared.text().find(target.string()) == std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, RecordFolderChecks,
    testing::Values(FolderCase{"Private", 0755, 0, base::Fault::None},
                    FolderCase{"LinkToAFolder", 0, 0, base::Fault::NotAFolder},
                    FolderCase{"WritableByAll", 01777, 0, base::Fault::UnsafeFolder},
                    FolderCase{"WritableByGroup", 0770, 0, base::Fault::UnsafeFolder},
                    FolderCase{"OtherOwner", 0700, 12345, base::Fault::UnsafeFolder}),
    [](const testing::TestParamInfo<FolderCase>& info) { return info.param.name; });

// Regression: "--record linkdir/" recorded through a link that "linkdir" is
// refused as, since the slash makes the open follow it.
TEST_F(RecordFolderTest, TrailingSlashFollowsALinkToAFolder)
{
    const fs::path link = base / "linkdir";
    fs::create_directory_symlink(folder, link);
    for (const std::string& suffix : {"", "/", "//", "/."}) {
        RecordFolder records(link.string() + suffix, kLimit);
        EXPECT_EQ(records.prepare().fault(), base::Fault::NotAFolder) << suffix;
    }
    RecordFolder real(folder.string() + "/", kLimit);
    EXPECT_TRUE(real.prepare().ok());
}

// Regression: records written after the folder (or the file) was deleted
// counted as kept though they went nowhere.
TEST_F(RecordFolderTest, FolderOrFileDeletedWhileRecordingStopsAtTheNextWrite)
{
    for (const bool wholeFolder : {false, true}) {
        RecordFolder records(folder, kLimit);
        ASSERT_TRUE(records.prepare().ok());
        ASSERT_TRUE(
            records.startFile("tcp_127.0.0.1_1", Clock::now(), traffic::kRecordFileHeader).ok());
        ASSERT_TRUE(records.append(line(100)).result.ok());
        const fs::path gone = wholeFolder ? folder : records.currentFile();
        fs::remove_all(gone);
        const RecordFolder::Appended appended = records.append(line(100));
        EXPECT_EQ(appended.kept, 0u);
        EXPECT_EQ(appended.result.text(), "deleted while recording: " + gone.string());
        EXPECT_EQ(records.recordsKept(), 1u);
    }
}

} // namespace
