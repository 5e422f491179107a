#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// A program a benchmark runs as a child process, its standard output and
// error into a file (or /dev/null), its standard input from /dev/null.
class ChildProgram
{
public:
    // How a run ended: the exit code (-1 when killed or not started), the
    // wall time, and the most memory it held (wait4's ru_maxrss).
    struct Result {
        int status = -1;
        std::chrono::duration<double> wall{};
        long maxRssKiB = 0;
    };

    ChildProgram(const std::string& path, const std::vector<std::string>& arguments,
                 const std::string& output = "/dev/null");
    // Ends a child still running with SIGTERM (SIGKILL after a second).
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // True while the child has not ended.
    bool running();
    // Waits at most `limit` for the end; a child still running then is killed.
    Result wait(std::chrono::milliseconds limit);

    // Runs a program to its end.
    static Result run(const std::string& path, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds limit, const std::string& output = "/dev/null");

private:
    bool reap(int options);

    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point start_;
    Result result_;
};
