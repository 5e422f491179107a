#pragma once

#include "stopsignal.h"

#include <string_view>

namespace devicetools
{

// The simulator's standard output as the log thread writes it: whole lines
// that wait for room as long as the reader takes, but never past abandon().
// A pipe or terminal is written through a non-blocking descriptor of its own
// (so a reader that stops reading cannot hold a write for good); a file is
// written as it stands.
//
// Threads: writeLine() from one thread (the log thread), abandon() from any.
class LineOutput
{
public:
    // `fd` stays open and owned by the caller.
    explicit LineOutput(int fd);
    ~LineOutput();
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;

    // Writes `line` and a line end. False once abandoned or when the output
    // failed (e.g. the reader has gone); later lines are then not written.
    bool writeLine(std::string_view line);
    // Makes a waiting writeLine() return false at once, and every later one.
    void abandon() { abandoned_.trigger(); }

private:
    bool writeAll(std::string_view bytes);

    int fd_;
    int ownFd_ = -1;
    bool failed_ = false;
    StopSignal abandoned_;
};

} // namespace devicetools
