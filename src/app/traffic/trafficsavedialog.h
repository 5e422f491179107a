#pragma once

#include "trafficexport.h"

#include "app/settings/settingsstore.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string_view>

class QWidget;

namespace app
{

// The file dialog of the Traffic window's "Save as…": a name and one of the
// types text log, CSV and pcapng.
//
// It starts in the folder a file was last saved to (remembered in the
// settings, section kSettingsSection, key kFolderKey, as the file system
// names it), else in the user's documents folder, else in the home folder,
// whichever exists first. A name without an extension gets the chosen type's
// (the dialog adds it as its default suffix, so that it asks before
// replacing that file; choice() adds it where a platform dialog did not).
// A name with the extension of one of the types is saved as that type.
//
// UI thread only.
class TrafficSaveDialog
{
public:
    static constexpr std::string_view kSettingsSection = "Traffic";
    static constexpr std::string_view kFolderKey = "SaveFolder";

    struct Choice {
        QString path;
        TrafficExport::Format format = TrafficExport::Format::TextLog;
    };

    // Asks modally over `parent`; nothing when cancelled. Remembers the
    // chosen file's folder.
    static std::optional<Choice> ask(QWidget* parent, SettingsStore& settings);

    // The folder the dialog starts in (see above).
    static QString startFolder(SettingsStore& settings);
    // The dialog's name filters, one a type, in the order of Format.
    static QStringList nameFilters();
    // What is saved for `path` chosen with `nameFilter` (see above).
    static Choice choice(const QString& path, const QString& nameFilter);
    // The extension a file of `format` gets, without its dot.
    static QString extension(TrafficExport::Format format);
};

} // namespace app
