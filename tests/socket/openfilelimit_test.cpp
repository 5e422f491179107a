#include "socket/openfilelimit.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Lowers this process's soft limit for one test and puts the old limits back.
class OpenFileLimitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved_), 0);
        if (saved_.rlim_max != RLIM_INFINITY && saved_.rlim_max < 200)
            GTEST_SKIP() << "hard limit below 200";
        rlimit low = saved_;
        low.rlim_cur = 100;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    }
    void TearDown() override { setrlimit(RLIMIT_NOFILE, &saved_); }

    rlimit saved_{};
};

TEST_F(OpenFileLimitTest, RaisesSoftLimitUpToWhatIsNeeded)
{
    const net::OpenFileLimit after = net::raiseOpenFileLimit(150);
    EXPECT_EQ(after.soft, 150U);
    rlimit now{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(now.rlim_cur, 150U);
}

TEST_F(OpenFileLimitTest, NeverLowersTheSoftLimit)
{
    EXPECT_EQ(net::raiseOpenFileLimit(50).soft, 100U);
}

TEST_F(OpenFileLimitTest, StopsAtTheHardLimit)
{
    // A lowered hard limit cannot be raised again without privilege: lower it
    // in a child so the rest of this test program keeps its own.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit capped{100, 120};
        if (setrlimit(RLIMIT_NOFILE, &capped) != 0)
            _exit(2);
        const net::OpenFileLimit after = net::raiseOpenFileLimit(1000);
        _exit(after.soft == 120 && after.hard == 120 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
