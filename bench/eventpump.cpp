#include "eventpump.h"

#include <cstdlib>

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

void useRunFolderAndPlatform(const std::string& folder)
{
    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}
