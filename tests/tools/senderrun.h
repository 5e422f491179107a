#pragma once

#include "framesender.h"

#include <sstream>
#include <string>

// One run of the sender in the test's process: its exit code and what it
// wrote to standard output and standard error.
struct SenderRun {
    int code;
    std::string out;
    std::string err;
};

inline SenderRun runSender(devicetools::SenderOptions options)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = devicetools::FrameSender(std::move(options)).run(out, err);
    return {code, out.str(), err.str()};
}
