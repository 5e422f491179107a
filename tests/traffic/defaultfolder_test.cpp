#include "traffic/filerecorder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using traffic::FileRecorder;

namespace
{

struct DataHome {
    std::optional<std::string> xdgDataHome;
    std::string home;
    std::string folder;
};

class FileRecorderDefaultFolder : public testing::TestWithParam<DataHome>
{
protected:
    void SetUp() override
    {
        if (const char* value = std::getenv("XDG_DATA_HOME")) {
            savedXdg = value;
        }
        if (const char* value = std::getenv("HOME")) {
            savedHome = value;
        }
    }
    // Restores the environment the other tests run in.
    void TearDown() override
    {
        restore("XDG_DATA_HOME", savedXdg);
        restore("HOME", savedHome);
    }
    static void restore(const char* name, const std::optional<std::string>& value)
    {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::optional<std::string> savedXdg;
    std::optional<std::string> savedHome;
};

TEST_P(FileRecorderDefaultFolder, FollowsTheXdgDataHome)
{
    restore("XDG_DATA_HOME", GetParam().xdgDataHome);
    ::setenv("HOME", GetParam().home.c_str(), 1);
    EXPECT_EQ(FileRecorder::defaultFolder(), fs::path(GetParam().folder));
}

INSTANTIATE_TEST_SUITE_P(
    Environment, FileRecorderDefaultFolder,
    testing::Values(DataHome{"/data", "/home/tech", "/data/Quorvel/socketclient/traffic"},
                    DataHome{"relative/data", "/home/tech",
                             "/home/tech/.local/share/Quorvel/socketclient/traffic"},
                    DataHome{std::nullopt, "/home/tech",
                             "/home/tech/.local/share/Quorvel/socketclient/traffic"}));

} // namespace
