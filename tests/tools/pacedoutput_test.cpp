#include "pacedoutput.h"

#include <gtest/gtest.h>

#include <string>

using devicetools::PacedOutput;
using namespace std::chrono_literals;

namespace
{

const PacedOutput::Clock::time_point kStart{1000s};

// The pause of a piece starts once the piece before it has gone whole, not
// when it was queued; an empty piece (a datagram) goes like any other.
TEST(PacedOutput, EachPieceWaitsItsPauseAfterThePieceBefore)
{
    PacedOutput output(64);
    ASSERT_TRUE(output.push("abc", 0, kStart));
    ASSERT_TRUE(output.push("de", 50, kStart));
    ASSERT_TRUE(output.push("", 0, kStart));
    EXPECT_EQ(output.ready(kStart), "abc");
    output.consume(2, kStart + 10ms);
    EXPECT_EQ(output.ready(kStart + 10ms), "c");
    output.consume(1, kStart + 30ms);
    EXPECT_EQ(output.nextAt(), kStart + 80ms);
    EXPECT_FALSE(output.ready(kStart + 79ms));
    EXPECT_EQ(output.ready(kStart + 80ms), "de");
    output.consume(2, kStart + 80ms);
    EXPECT_EQ(output.ready(kStart + 80ms), "");
    output.dropFirst(kStart + 80ms);
    EXPECT_TRUE(output.empty());
    EXPECT_FALSE(output.nextAt());
}

TEST(PacedOutput, RefusesWhatWouldPassItsCapacity)
{
    PacedOutput output(5);
    ASSERT_TRUE(output.push("abcd", 0, kStart));
    EXPECT_FALSE(output.push("ef", 0, kStart));
    EXPECT_TRUE(output.push("e", 0, kStart));
    output.consume(4, kStart);
    EXPECT_EQ(output.queuedBytes(), 1u);
    EXPECT_TRUE(output.push("fghi", 0, kStart));
}

} // namespace
