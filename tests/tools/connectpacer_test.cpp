#include "connectpacer.h"
#include "rowname.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>

namespace
{

using devicetools::ConnectPacer;
using Micros = ConnectPacer::Micros;

struct PaceRow {
    const char* name;
    std::uint32_t rate;
    Micros tick; // how often the caller asks
};

const PaceRow kRows[] = {
    {"one_a_second_asked_often", 1, Micros{1000}},
    {"default_asked_each_ms", 500, Micros{1000}},
    {"fast_asked_each_ms", 5000, Micros{1000}},
    {"asked_late", 500, Micros{7300}},
};

class ConnectPacing : public testing::TestWithParam<PaceRow>
{
};

// Over three seconds of asking: no window of one second holds more starts
// than the rate (and the one millisecond of slack a late caller gets), and
// the pacer does not hold starts back below the rate a caller can reach.
TEST_P(ConnectPacing, NoSecondHoldsMoreThanTheRate)
{
    const PaceRow& row = GetParam();
    ConnectPacer pacer(row.rate);
    std::deque<Micros> lastSecond;
    std::size_t starts = 0;
    std::size_t most = 0;
    const Micros end = std::chrono::seconds(3);
    for (Micros now{0}; now < end; now += row.tick) {
        while (pacer.take(check::Instant{now})) {
            ++starts;
            lastSecond.push_back(now);
        }
        while (!lastSecond.empty() && lastSecond.front() <= now - std::chrono::seconds(1)) {
            lastSecond.pop_front();
        }
        most = std::max(most, lastSecond.size());
    }
    EXPECT_LE(most, row.rate + row.rate / 1000 + 1);
    const std::size_t reachable =
        std::min<std::size_t>(3 * row.rate, static_cast<std::size_t>(end / row.tick));
    EXPECT_GE(starts + 2, reachable);
}

INSTANTIATE_TEST_SUITE_P(Rows, ConnectPacing, testing::ValuesIn(kRows), rowName<PaceRow>);

} // namespace
