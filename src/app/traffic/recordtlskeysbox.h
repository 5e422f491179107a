#pragma once

#include "app/settings/qtsettingsstore.h"

#include <QCheckBox>

#include <string_view>

namespace app
{

// "Record TLS keys (pcapng)", beside the Traffic window's record format: the
// TLS session keys of the console's connection go into the pcapng record
// files (traffic::RecordingControl::setRecordTlsKeys()). Its tool tip says
// what such a file exposes.
//
// The operator's choice is remembered in the settings (section
// kSettingsSection, key kKeysKey, 0 or 1; off when never set), read when the
// box is built and written at each click, which keysChosen() also
// announces. fixTo() shows a choice this run takes from elsewhere (the
// command line's --record-tls-keys): the box shows it, is disabled, says why
// in its tool tip, and neither remembers nor announces it.
//
// UI thread only.
class RecordTlsKeysBox : public QCheckBox
{
    Q_OBJECT
public:
    static constexpr std::string_view kSettingsSection = "Traffic";
    static constexpr std::string_view kKeysKey = "RecordTlsKeys";

    explicit RecordTlsKeysBox(QWidget* parent = nullptr);

    // The remembered choice.
    static bool remembered(SettingsStore& settings);

    void fixTo(bool on);

signals:
    void keysChosen(bool on);

private:
    void onClicked(bool on);

    QtSettingsStore settings_;
};

} // namespace app
