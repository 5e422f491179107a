#include "simulatorundertest.h"

namespace
{

devicetools::SimulatorConfig onLoopback(devicetools::SimulatorConfig config,
                                        const std::string& host)
{
    config.listenHost = host;
    config.port = 0;
    return config;
}

} // namespace

SimulatorUnderTest::SimulatorUnderTest(devicetools::SimulatorConfig config, const std::string& host)
    : config_(onLoopback(std::move(config), host)), log_([this](std::string_view line) {
          {
              std::lock_guard lock(mutex_);
              lines_.emplace_back(line);
          }
          added_.notify_all();
      }),
      simulator_(config_, log_)
{
    const base::Error error = simulator_.start();
    started_ = error.ok();
    error_ = error.text();
}

SimulatorUnderTest::~SimulatorUnderTest()
{
    simulator_.stop();
}

std::vector<std::string> SimulatorUnderTest::lines() const
{
    constexpr std::chrono::seconds kFlushLimit{5};
    log_.flush(kFlushLimit);
    std::lock_guard lock(mutex_);
    return lines_;
}

bool SimulatorUnderTest::waitForLine(std::string_view part, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return added_.wait_for(lock, limit, [&] {
        for (const std::string& line : lines_) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    });
}

std::vector<std::string> SimulatorUnderTest::linesWith(std::string_view part) const
{
    std::vector<std::string> found;
    for (const std::string& line : lines()) {
        if (line.find(part) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}
