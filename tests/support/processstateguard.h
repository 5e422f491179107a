#pragma once

#include <signal.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

// Puts process-wide state back when a test ends, however it ends: a failed
// ASSERT returns from the test body early, and without the guard a changed
// signal disposition or environment variable would stay changed for every
// later test in the binary. Save before changing; the destructor restores in
// reverse order. One thread uses it.
class ProcessStateGuard
{
public:
    ProcessStateGuard() = default;
    ~ProcessStateGuard()
    {
        for (auto it = environment_.rbegin(); it != environment_.rend(); ++it) {
            if (it->value)
                ::setenv(it->name.c_str(), it->value->c_str(), 1);
            else
                ::unsetenv(it->name.c_str());
        }
        for (auto it = signals_.rbegin(); it != signals_.rend(); ++it)
            ::sigaction(it->number, &it->previous, nullptr);
    }
    ProcessStateGuard(const ProcessStateGuard&) = delete;
    ProcessStateGuard& operator=(const ProcessStateGuard&) = delete;

    // Sets the disposition of `number` to `handler` (flags 0, so a blocking
    // call it interrupts fails with EINTR) and restores the present one later.
    bool setSignalHandler(int number, void (*handler)(int))
    {
        struct sigaction action {
        };
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        SavedSignal saved{number, {}};
        if (::sigaction(number, &action, &saved.previous) != 0)
            return false;
        signals_.push_back(saved);
        return true;
    }

    // Sets (or with std::nullopt removes) an environment variable and
    // restores its present value, or its absence, later.
    void setEnvironment(const std::string& name, const std::optional<std::string>& value)
    {
        const char* present = ::getenv(name.c_str());
        environment_.push_back(
            {name, present ? std::optional<std::string>(present) : std::nullopt});
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }

private:
    struct SavedSignal {
        int number;
        struct sigaction previous;
    };
    struct SavedVariable {
        std::string name;
        std::optional<std::string> value;
    };
    std::vector<SavedSignal> signals_;
    std::vector<SavedVariable> environment_;
};
