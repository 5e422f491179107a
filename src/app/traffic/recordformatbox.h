#pragma once

#include "app/settings/qtsettingsstore.h"

#include "traffic/filerecorder.h"

#include <QComboBox>

#include <string_view>

namespace app
{

// The format of the record files, chosen beside the Traffic window's "Record
// to file": "text" or "pcapng" (traffic::FileRecorder::Format).
//
// The operator's choice is remembered in the settings (section
// kSettingsSection, key kFormatKey, "text" or "pcapng"; text when never set or
// unknown), read when the box is built and written at each choice, which
// formatChosen() also announces. fixTo() shows a format that this run takes
// from elsewhere (the command line's --record-format): the box shows it, is
// disabled, says why in its tool tip, and neither remembers nor announces it.
//
// UI thread only.
class RecordFormatBox : public QComboBox
{
    Q_OBJECT
public:
    using Format = traffic::FileRecorder::Format;

    static constexpr std::string_view kSettingsSection = "Traffic";
    static constexpr std::string_view kFormatKey = "RecordFormat";

    explicit RecordFormatBox(QWidget* parent = nullptr);

    // The remembered choice.
    static Format remembered(SettingsStore& settings);

    Format format() const;
    void fixTo(Format format);

signals:
    void formatChosen(traffic::FileRecorder::Format format);

private:
    void onActivated(int index);

    QtSettingsStore settings_;
};

} // namespace app
