#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// A program started by a test, with its standard output and error joined in
// one pipe that the test reads with deadlines, or, with StalledOutput, its
// standard output into a pipe that nobody ever reads (held open until the
// destructor) and only its standard error read. The destructor kills a child
// that is still running and reaps it. One thread (the test's) uses it.
class ChildProcess
{
public:
    enum class Output { Joined, StalledOutput };

    ChildProcess(const std::string& path, const std::vector<std::string>& arguments,
                 Output output = Output::Joined);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Reads until the output holds a line end after `part`, or `limit` passes;
    // true when it does.
    bool waitForLine(const std::string& part, std::chrono::milliseconds limit);
    // Reads to the end of the output and reaps the child, within `limit`.
    // The exit code, or -1 when the child did not end in time or was killed.
    int wait(std::chrono::milliseconds limit);
    void signal(int number);
    // With StalledOutput: closes the unread pipe's read end, as a reader that
    // has gone.
    void closeStalledOutput();
    const std::string& output() const { return output_; }

private:
    // Reads what is there within the time left; false at the end of the output.
    bool readSome(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int out_ = -1;
    int stalled_ = -1;
    bool ended_ = false;
    std::string output_;
};

// Runs a program to its end (at most `limit`), giving its exit code and output.
struct ProcessResult {
    int code;
    std::string output;
};
ProcessResult runProcess(const std::string& path, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit);
