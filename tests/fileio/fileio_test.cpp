#include "fileio/regularfile.h"
#include "fileio/safefile.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

using fileio::RegularFile;
using fileio::SafeFile;
namespace fs = std::filesystem;

namespace
{

// A folder of the test's own, and the kinds of file a user may name by mistake.
class FileIo : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "fileioXXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override
    {
        if (socket_ >= 0)
            ::close(socket_);
        fs::remove_all(folder_);
    }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::ofstream(folder_ + "/" + name, std::ios::binary) << text;
        return folder_ + "/" + name;
    }
    std::string make(const std::string& kind)
    {
        const std::string path = folder_ + "/" + kind;
        if (kind == "fifo")
            ::mkfifo(path.c_str(), 0600);
        else if (kind == "directory")
            fs::create_directory(path);
        else if (kind == "link")
            fs::create_symlink(write("target", "kept"), path);
        else if (kind == "device")
            return "/dev/null";
        else if (kind == "socket") {
            socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{AF_UNIX, {}};
            std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
            ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        return path;
    }
    std::size_t entries() const
    {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
    }

    std::string folder_;
    int socket_ = -1;
};

class FileKinds : public FileIo, public testing::WithParamInterface<const char*>
{
};

// What is no regular file is refused at once with what it is: read (a FIFO
// without a writer would block the open) and written (nothing is written
// through it, its mode stays, no temporary file is left).
TEST_P(FileKinds, NoRegularFileIsRefusedAtOnceAndLeftAlone)
{
    const std::string kind = GetParam();
    const std::string path = make(kind);
    struct stat before {
    };
    ::lstat(path.c_str(), &before);
    const std::size_t files = entries();
    const auto start = std::chrono::steady_clock::now();
    const base::Result<std::string> read =
        RegularFile::readAll(path, 1024, "the file", RegularFile::Links::Refuse);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_FALSE(read);
    EXPECT_TRUE(read.error().text().starts_with("the file: it is a")) << read.error().text();
    for (const base::Error& error : {SafeFile::check(path), SafeFile::write(path, "x")}) {
        EXPECT_EQ(error.text().find("cannot create " + path + ": it is a"), 0u) << error.text();
    }
    const std::string shown = kind == "fifo" ? "FIFO" : kind == "link" ? "symbolic link" : kind;
    EXPECT_NE(read.error().text().find(shown), std::string::npos) << read.error().text();
    struct stat after {
    };
    ::lstat(path.c_str(), &after);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(entries(), files);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileKinds,
                         testing::Values("fifo", "directory", "socket", "device", "link"));

TEST_F(FileIo, ReadsUpToItsBoundAndRefusesOneByteMore)
{
    EXPECT_EQ(*RegularFile::readAll(write("fits", "abc"), 3), "abc");
    const std::string over = write("over", std::string(65537, 'x'));
    EXPECT_EQ(RegularFile::readAll(over, 65536).error().text(),
              over + ": it has more than 65,536 bytes, the most it may have");
    EXPECT_EQ(*RegularFile::readAll(make("link"), 10), "kept"); // followed unless refused
}

// Replaced whole, owner-only: the old file (still reachable by a second
// name) keeps its bytes and mode; an unfinished write leaves nothing.
TEST_F(FileIo, ReplacesWholeAndOwnerOnlyWithoutTouchingTheOldFile)
{
    const std::string path = write("report.xml", "old");
    ::chmod(path.c_str(), 0644);
    fs::create_hard_link(path, folder_ + "/other");
    ASSERT_TRUE(SafeFile::write(path, "new").ok());
    EXPECT_EQ(*RegularFile::readAll(path, 10), "new");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(*RegularFile::readAll(folder_ + "/other", 10), "old");
    EXPECT_EQ(fs::status(folder_ + "/other").permissions() & fs::perms::all, fs::perms(0644));
    {
        base::Result<SafeFile> unfinished = SafeFile::create(folder_ + "/new.csv");
        ASSERT_TRUE(unfinished && unfinished->append("half").ok());
    }
    EXPECT_TRUE(SafeFile::check(folder_ + "/new.csv").ok());
    EXPECT_EQ(entries(), 2u);
}

} // namespace
