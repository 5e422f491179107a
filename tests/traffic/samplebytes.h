#pragma once

#include <string>

// Every byte value once, 0 to 255 in order: what a record, a line or a file
// must carry through untouched.
inline std::string everyByte()
{
    std::string bytes;
    for (int value = 0; value < 256; ++value) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}
