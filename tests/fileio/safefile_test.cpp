#include "scratchfolder.h"

#include "fileio/safefile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using fileio::SafeFile;

namespace
{

std::string contentOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

mode_t modeOf(const std::string& path)
{
    struct stat info {
    };
    ::lstat(path.c_str(), &info);
    return info.st_mode;
}

std::size_t entriesIn(const std::string& folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}

TEST(SafeFile, ReplacesAFileWholeAndOwnerOnlyWithoutChangingTheOldOne)
{
    ScratchFolder folder;
    const std::string path = folder.write("report.xml", "old\n");
    ::chmod(path.c_str(), 0644);
    // A second name of the old file: it must keep its bytes and its mode.
    const std::string other = folder.file("other");
    std::filesystem::create_hard_link(path, other);

    ASSERT_TRUE(SafeFile::write(path, "new\n").ok());
    EXPECT_EQ(contentOf(path), "new\n");
    EXPECT_EQ(modeOf(path) & 0777, 0600u);
    EXPECT_EQ(contentOf(other), "old\n");
    EXPECT_EQ(modeOf(other) & 0777, 0644u);
    EXPECT_EQ(entriesIn(folder.file("")), 2u); // no temporary file left
}

// What exists and is no regular file is refused with what it is, before any
// byte is written, and stays exactly as it was.
class SafeFileRefuses : public testing::TestWithParam<const char*>
{
};

TEST_P(SafeFileRefuses, WhatIsNoRegularFileAndLeavesItAlone)
{
    ScratchFolder folder;
    const std::string path = folder.make(GetParam());
    const mode_t before = modeOf(path);
    const std::size_t entries = entriesIn(folder.file(""));
    for (const net::Error& error : {SafeFile::check(path), SafeFile::write(path, "x")}) {
        EXPECT_EQ(error.fault(), net::Fault::CannotCreateFile);
        EXPECT_NE(error.text().find("cannot create " + path + ": it is a"), std::string::npos)
            << error.text();
    }
    EXPECT_EQ(modeOf(path), before);
    EXPECT_EQ(entriesIn(folder.file("")), entries);
    if (GetParam() == std::string("link")) {
        EXPECT_EQ(contentOf(path), "kept\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SafeFileRefuses,
                         testing::Values("fifo", "folder", "socket", "device", "link"));

TEST(SafeFile, CheckMakesNothingAndAnUncommittedFileLeavesNothing)
{
    ScratchFolder folder;
    const std::string path = folder.file("new.csv");
    EXPECT_TRUE(SafeFile::check(path).ok());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(SafeFile::check(folder.file("missing/new.csv")).fault(),
              net::Fault::CannotCreateFile);
    {
        net::Result<SafeFile> file = SafeFile::create(path);
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->append("half").ok());
    }
    EXPECT_EQ(entriesIn(folder.file("")), 0u);
}

} // namespace
