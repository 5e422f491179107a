#include "framedescription.h"

#include <gtest/gtest.h>

TEST(FrameDescription, NamesModeAndFieldsOrShowsTheBytes)
{
    const auto frame = protocol::FrameDecoder::decode("\x07"
                                                      "BA1x\"y\x08"
                                                      "ENT\x09"
                                                      "m");
    ASSERT_TRUE(frame);
    EXPECT_EQ(devicetools::describeFrame(*frame),
              R"(RELEASE media=B id=A1 data="x\"y" command=ENT message="m")");
    EXPECT_EQ(devicetools::describeRecord("ab\x07"),
              R"(- not a frame, 3 bytes: 61 62 07 "ab\x07")");
}
