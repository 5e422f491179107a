#include "childprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace
{

constexpr std::size_t kReadSize = 4096;

} // namespace

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& arguments,
                           Output output)
{
    int ends[2];
    int stalled[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0 ||
        (output == Output::StalledOutput && ::pipe2(stalled, O_CLOEXEC) != 0)) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(
        &actions, output == Output::StalledOutput ? stalled[1] : ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    out_ = ends[0];
    if (stalled[1] >= 0) {
        ::close(stalled[1]);
        stalled_ = stalled[0];
    }
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) {
        ::close(out_);
    }
    if (stalled_ >= 0) {
        ::close(stalled_);
    }
}

bool ChildProcess::readSome(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return true;
    }
    pollfd entry{out_, POLLIN, 0};
    const int rc = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (rc <= 0) {
        return rc == 0 || errno == EINTR;
    }
    char buffer[kReadSize];
    ssize_t n;
    do {
        n = ::read(out_, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        return false;
    }
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool ChildProcess::waitForLine(const std::string& part, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::size_t at = output_.find(part);
        if (at != std::string::npos && output_.find('\n', at) != std::string::npos) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline || !readSome(deadline)) {
            return false;
        }
    }
}

int ChildProcess::wait(std::chrono::milliseconds limit)
{
    if (pid_ <= 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool endOfOutput = false;
    while (!endOfOutput && std::chrono::steady_clock::now() < deadline) {
        endOfOutput = !readSome(deadline);
    }
    int status = 0;
    ended_ = true;
    // The output ends when the child closes it on its way out, so the wait
    // that follows is short; a child whose output is still open at the
    // deadline is killed.
    if (!endOfOutput) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        return -1;
    }
    pid_t reaped;
    do {
        reaped = ::waitpid(pid_, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    return reaped == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::signal(int number)
{
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, number);
    }
}

void ChildProcess::closeStalledOutput()
{
    if (stalled_ >= 0) {
        ::close(stalled_);
        stalled_ = -1;
    }
}

ProcessResult runProcess(const std::string& path, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit)
{
    ChildProcess child(path, arguments);
    const int code = child.wait(limit);
    return {code, child.output()};
}
