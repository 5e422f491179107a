#pragma once

#include "settingsstore.h"

#include <QSettings>

#include <string_view>

namespace app
{

// The console's per-user settings store on QSettings: organisation "Quorvel",
// application named as QCoreApplication names it (by default the executable's
// base name), one group per section. On Linux this is the file
// $XDG_CONFIG_HOME/Quorvel/<application>.conf.
//
// Texts are single-byte (Latin-1) both ways. readText() gives the fallback only
// for an absent value, so a stored empty text comes back empty; readInt() gives
// the fallback for an absent value and for one that is not a decimal integer
// (surrounding blanks allowed). Writes are not verified; QSettings writes them to disk later.
// UI thread only; construct it after the QApplication.
class QtSettingsStore : public SettingsStore
{
public:
    static constexpr std::string_view kOrganisation = "Quorvel";

    QtSettingsStore();

    // The console's own data folder, $XDG_DATA_HOME/Quorvel/socketclient
    // (~/.local/share/...), whatever the program's name: saved commands,
    // known devices, its own certificate. Not made here.
    static QString dataFolder();

    std::string readText(std::string_view section, std::string_view key,
                         std::string_view fallback) override;
    void writeText(std::string_view section, std::string_view key, std::string_view value) override;
    std::int32_t readInt(std::string_view section, std::string_view key,
                         std::int32_t fallback) override;
    void writeInt(std::string_view section, std::string_view key, std::int32_t value) override;

private:
    QSettings settings_;
};

} // namespace app
