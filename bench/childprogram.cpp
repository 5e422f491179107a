#include "childprogram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace
{

constexpr std::chrono::milliseconds kPoll{5};
constexpr std::chrono::seconds kTermGrace{1};

} // namespace

ChildProgram::ChildProgram(const std::string& path, const std::vector<std::string>& arguments,
                           const std::string& output)
{
    std::vector<std::string> words{path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    start_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
}

ChildProgram::~ChildProgram()
{
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + kTermGrace;
    while (!reap(WNOHANG)) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid_, SIGKILL);
            reap(0);
            return;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

bool ChildProgram::reap(int options)
{
    if (pid_ <= 0) {
        return true;
    }
    int status = 0;
    rusage usage{};
    const pid_t done = ::wait4(pid_, &status, options, &usage);
    if (done == 0) {
        return false;
    }
    result_.wall = std::chrono::steady_clock::now() - start_;
    result_.maxRssKiB = usage.ru_maxrss;
    result_.status = done == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return true;
}

bool ChildProgram::running()
{
    return !reap(WNOHANG);
}

ChildProgram::Result ChildProgram::wait(std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    // A pidfd becomes readable the moment the child ends, so the wall time
    // measured holds no polling delay.
    if (const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)); pidfd >= 0) {
        pollfd entry{pidfd, POLLIN, 0};
        ::poll(&entry, 1, static_cast<int>(limit.count()));
        ::close(pidfd);
    }
    while (!reap(WNOHANG)) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid_, SIGKILL);
            reap(0);
            result_.status = -1;
            break;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return result_;
}

ChildProgram::Result ChildProgram::run(const std::string& path,
                                       const std::vector<std::string>& arguments,
                                       std::chrono::milliseconds limit, const std::string& output)
{
    ChildProgram child(path, arguments, output);
    return child.wait(limit);
}
