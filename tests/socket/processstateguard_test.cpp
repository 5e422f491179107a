// The guard that puts signal dispositions and environment variables back.

#include "processstateguard.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <string>

namespace
{
void ignoreSignal(int) {}

void (*currentHandler(int number))(int)
{
    struct sigaction now {
    };
    ::sigaction(number, nullptr, &now);
    return now.sa_handler;
}
} // namespace

TEST(ProcessStateGuard, RestoresSignalsAndEnvironmentInReverseOrder)
{
    const auto before = currentHandler(SIGUSR2);
    ::setenv("PSG_TEST_SET", "original", 1);
    ::unsetenv("PSG_TEST_ABSENT");
    {
        ProcessStateGuard state;
        ASSERT_TRUE(state.setSignalHandler(SIGUSR2, ignoreSignal));
        ASSERT_TRUE(state.setSignalHandler(SIGUSR2, SIG_IGN));
        state.setEnvironment("PSG_TEST_SET", "changed");
        state.setEnvironment("PSG_TEST_SET", std::nullopt);
        state.setEnvironment("PSG_TEST_ABSENT", "now here");
        EXPECT_EQ(currentHandler(SIGUSR2), SIG_IGN);
        EXPECT_EQ(::getenv("PSG_TEST_SET"), nullptr);
        EXPECT_STREQ(::getenv("PSG_TEST_ABSENT"), "now here");
    }
    EXPECT_EQ(currentHandler(SIGUSR2), before);
    ASSERT_NE(::getenv("PSG_TEST_SET"), nullptr);
    EXPECT_EQ(std::string(::getenv("PSG_TEST_SET")), "original");
    EXPECT_EQ(::getenv("PSG_TEST_ABSENT"), nullptr);
    ::unsetenv("PSG_TEST_SET");
}
