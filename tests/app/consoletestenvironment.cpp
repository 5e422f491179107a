#include "consoletestenvironment.h"

#include "socket/hostlookup.h"

#include <QCoreApplication>
#include <QTest>
#include <QWidget>

#include <cstring>

bool ConsoleTestEnvironment::setUp()
{
    if (!folder_.isValid())
        return false;
    return qputenv("XDG_CONFIG_HOME", folder_.path().toLocal8Bit());
}

std::unique_ptr<QSettings> ConsoleTestEnvironment::settings()
{
    return std::make_unique<QSettings>(QStringLiteral("Quorvel"),
                                       QCoreApplication::applicationName());
}

QVariant ConsoleTestEnvironment::value(const char* key)
{
    return settings()->value(QStringLiteral("Params/") + QLatin1String(key));
}

void ConsoleTestEnvironment::setValue(const char* key, const QVariant& value)
{
    settings()->setValue(QStringLiteral("Params/") + QLatin1String(key), value);
}

void ConsoleTestEnvironment::clearSettings()
{
    auto store = settings();
    store->clear();
    store->sync();
}

bool ConsoleTestEnvironment::showActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

QString ConsoleTestEnvironment::expectedServerAddress(const QString& stored)
{
    char local[256] = {};
    if (net::localDottedAddress(local, sizeof local) && std::strcmp(local, "127.0.0.1") == 0)
        return QStringLiteral("127.0.0.1");
    return stored;
}
