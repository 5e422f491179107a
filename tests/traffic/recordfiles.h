#pragma once

#include "traffic/trafficrecord.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// What tests of record files share: a file's whole contents, and records
// compared field by field (a failure names the record).

inline std::string contents(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline void expectSame(const std::vector<traffic::Record>& got,
                       const std::vector<traffic::Record>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].time, want[i].time) << i;
        EXPECT_EQ(got[i].kind, want[i].kind) << i;
        EXPECT_EQ(got[i].bytes, want[i].bytes) << i;
        EXPECT_EQ(got[i].text, want[i].text) << i;
    }
}
