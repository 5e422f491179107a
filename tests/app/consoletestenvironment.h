#pragma once

#include <QSettings>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

class QWidget;

// What every console test needs around it: the settings in a temporary folder
// of their own, never the user's, and a way to show a window as the active one
// (focus changes, and so the settings written on focus loss, need it).
class ConsoleTestEnvironment
{
public:
    // Points XDG_CONFIG_HOME at a new temporary folder. Call in initTestCase(),
    // before anything reads settings: QSettings takes the folder once.
    bool setUp();

    // The console's settings as the console stores them (organisation
    // "Quorvel", this test program's name).
    static std::unique_ptr<QSettings> settings();
    static QVariant value(const char* key);
    static void setValue(const char* key, const QVariant& value);
    static void clearSettings();

    // Shows the window and waits until it is the active window.
    static bool showActive(QWidget* window);

    // The address the console shows when it opens, given what is stored: the
    // loopback address on a host that knows itself only by it.
    static QString expectedServerAddress(const QString& stored);

private:
    QTemporaryDir folder_;
};
