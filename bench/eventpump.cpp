#include "eventpump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

bool pumpUntil(const std::function<bool()>& done, std::chrono::steady_clock::duration limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void serveFor(std::chrono::steady_clock::duration limit)
{
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(limit), &loop,
                       &QEventLoop::quit);
    loop.exec();
}
