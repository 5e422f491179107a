#pragma once

#include <ostream>

namespace devicetools
{

// The whole devicecheck program but for main(): reads the options, the check
// file and the targets (any mistake: exit 2 before any device is contacted),
// raises the open-file limit for --jobs, runs the fleet with Ctrl+C and
// SIGTERM taken as a stop, prints the result and writes the reports.
//
// Signals: SIGINT and SIGTERM are blocked in the process for the run and
// read through a signalfd; SIGPIPE is ignored. So it is meant for a process
// of its own (main), not for a test's process.
class CheckProgram
{
public:
    static constexpr int kAllPassed = 0;
    static constexpr int kSomeFailed = 1;
    static constexpr int kUsageError = 2;

    // Descriptors the program keeps besides one per device under way
    // (standard streams, the event loop, the signalfd, record files).
    static constexpr unsigned kSpareFiles = 32;

    static int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
};

} // namespace devicetools
