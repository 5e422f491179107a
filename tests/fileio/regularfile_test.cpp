#include "scratchfolder.h"

#include "fileio/regularfile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using fileio::RegularFile;

namespace
{

constexpr auto kAtOnce = std::chrono::seconds(5);

// Each kind of file that is no regular file is refused at once, with what it
// is; a FIFO without a writer above all, whose open would otherwise wait.
class RegularFileRefuses : public testing::TestWithParam<const char*>
{
};

TEST_P(RegularFileRefuses, WhatIsNoRegularFileAtOnceWithTheReason)
{
    ScratchFolder folder;
    const std::string path = folder.make(GetParam());
    const auto start = std::chrono::steady_clock::now();
    const net::Result<std::string> text = RegularFile::readAll(path, 1024, "the file");
    EXPECT_LT(std::chrono::steady_clock::now() - start, kAtOnce);
    ASSERT_FALSE(text);
    const std::string kind = GetParam() == std::string("folder") ? "directory" : GetParam();
    const std::string reason = text.error().text();
    EXPECT_TRUE(reason.starts_with("the file: it is a")) << reason;
    EXPECT_NE(reason.find(kind == "fifo" ? "FIFO" : kind), std::string::npos) << reason;
}

INSTANTIATE_TEST_SUITE_P(Kinds, RegularFileRefuses,
                         testing::Values("fifo", "folder", "socket", "device"));

TEST(RegularFile, ReadsUpToItsBoundAndRefusesOneByteMore)
{
    ScratchFolder folder;
    const std::string fits = folder.write("fits", std::string(100, 'x'));
    const net::Result<std::string> read = RegularFile::readAll(fits, 100);
    ASSERT_TRUE(read) << read.error().text();
    EXPECT_EQ(*read, std::string(100, 'x'));

    const std::string over = folder.write("over", std::string(65537, 'x'));
    const net::Result<std::string> refused = RegularFile::readAll(over, 65536);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text(),
              over + ": it has more than 65,536 bytes, the most it may have");
}

TEST(RegularFile, FollowsALinkOnlyWhenAllowed)
{
    ScratchFolder folder;
    const std::string link = folder.make("link");
    EXPECT_EQ(*RegularFile::readAll(link, 100), "kept\n");
    const net::Result<std::string> refused =
        RegularFile::readAll(link, 100, {}, RegularFile::Links::Refuse);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().text().find("symbolic link"), std::string::npos);
}

TEST(RegularFile, ReadsInPiecesToTheEnd)
{
    ScratchFolder folder;
    const std::string path = folder.write("pieces", "abcdefg");
    net::Result<RegularFile> file = RegularFile::open(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 7u);
    EXPECT_EQ(*file->read(4), "abcd");
    EXPECT_EQ(*file->read(4), "efg");
    EXPECT_EQ(*file->read(4), "");
    EXPECT_EQ(RegularFile::open(folder.file("none")).error().systemCode(), ENOENT);
}

} // namespace
