#include "uilatencyprobe.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace
{

// An event stamped when it is posted.
class ProbeEvent : public QEvent
{
public:
    static QEvent::Type type()
    {
        static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
        return t;
    }
    ProbeEvent() : QEvent(type()), posted(UiLatencyProbe::Clock::now()) {}
    const UiLatencyProbe::Clock::time_point posted;
};

} // namespace

void UiLatencyProbe::start()
{
    postedDelaysMs.clear();
    timerLatenessMs.clear();
    running_ = true;
    poster_ = std::thread([this] {
        while (running_) {
            QCoreApplication::postEvent(this, new ProbeEvent);
            std::this_thread::sleep_for(kInterval);
        }
    });
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        const auto now = Clock::now();
        if (lastTick_ != Clock::time_point{})
            timerLatenessMs.push_back(toMs(now - lastTick_ - kInterval));
        lastTick_ = now;
    });
    timer_.start(kInterval);
}

void UiLatencyProbe::stop()
{
    running_ = false;
    if (poster_.joinable())
        poster_.join();
    timer_.stop();
    // A later start() connects again; one tick must not be counted twice.
    timer_.disconnect();
    lastTick_ = {};
    QCoreApplication::removePostedEvents(this, ProbeEvent::type());
}

bool UiLatencyProbe::event(QEvent* event)
{
    if (event->type() != ProbeEvent::type())
        return QObject::event(event);
    postedDelaysMs.push_back(toMs(Clock::now() - static_cast<ProbeEvent*>(event)->posted));
    return true;
}

double toMs(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1));
    return values[index];
}

void printDistribution(const char* label, const std::vector<double>& values, int width, int indent)
{
    std::printf("%*s%-*s p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms  (%zu samples)\n", indent, "",
                width, label, percentile(values, 50), percentile(values, 99),
                percentile(values, 100), values.size());
}

long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return 0;
}
