#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

// A test name for a data row from its `name` text: letters and digits kept,
// everything else an underscore.
template <typename Row> std::string rowName(const testing::TestParamInfo<Row>& info)
{
    std::string name;
    for (const char c : std::string(info.param.name)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}
