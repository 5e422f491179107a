#include "traffic/recordfolder.h"

#include <gtest/gtest.h>

#include <string>

using traffic::RecordFolder;

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

} // namespace
