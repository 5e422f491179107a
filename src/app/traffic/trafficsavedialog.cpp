#include "trafficsavedialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include <array>

namespace app
{

namespace
{

using Format = TrafficExport::Format;

struct FileType {
    Format format;
    const char* filter;
    std::array<const char*, 2> extensions; // the first is the one added
};
const FileType kTypes[] = {
    {Format::TextLog, "Text log (*.log *.txt)", {"log", "txt"}},
    {Format::Csv, "CSV (*.csv)", {"csv", nullptr}},
    {Format::Pcapng, "pcapng capture (*.pcapng)", {"pcapng", nullptr}},
};

const FileType& typeOf(Format format)
{
    for (const FileType& type : kTypes) {
        if (type.format == format)
            return type;
    }
    return kTypes[0];
}

QString translated(const char* text)
{
    return QCoreApplication::translate("app::TrafficSaveDialog", text);
}

bool isFolder(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

QStringList TrafficSaveDialog::nameFilters()
{
    QStringList filters;
    for (const FileType& type : kTypes)
        filters += translated(type.filter);
    return filters;
}

QString TrafficSaveDialog::extension(Format format)
{
    return QString::fromLatin1(typeOf(format).extensions[0]);
}

QString TrafficSaveDialog::startFolder(SettingsStore& settings)
{
    // Kept as the file system's bytes: the store's texts are single-byte.
    const QString remembered = QFile::decodeName(
        QByteArray::fromStdString(settings.readText(kSettingsSection, kFolderKey, {})));
    if (isFolder(remembered))
        return remembered;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (isFolder(documents))
        return documents;
    return QDir::homePath();
}

TrafficSaveDialog::Choice TrafficSaveDialog::choice(const QString& path, const QString& nameFilter)
{
    Choice chosen{path, Format::TextLog};
    for (const FileType& type : kTypes) {
        if (translated(type.filter) == nameFilter)
            chosen.format = type.format;
    }
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.isEmpty()) {
        chosen.path += QLatin1Char('.') + extension(chosen.format);
        return chosen;
    }
    for (const FileType& type : kTypes) {
        for (const char* known : type.extensions) {
            if (known && suffix.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
                chosen.format = type.format;
        }
    }
    return chosen;
}

std::optional<TrafficSaveDialog::Choice> TrafficSaveDialog::ask(QWidget* parent,
                                                                SettingsStore& settings)
{
    QFileDialog dialog(parent, translated("Save traffic"), startFolder(settings));
    dialog.setObjectName(QStringLiteral("trafficSaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = nameFilters();
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(extension(kTypes[0].format));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, &filters](const QString& filter) {
                         const auto at = filters.indexOf(filter);
                         if (at >= 0)
                             dialog.setDefaultSuffix(extension(kTypes[at].format));
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const Choice chosen = choice(dialog.selectedFiles().constFirst(), dialog.selectedNameFilter());
    settings.writeText(kSettingsSection, kFolderKey,
                       QFile::encodeName(QFileInfo(chosen.path).absolutePath()).toStdString());
    return chosen;
}

} // namespace app
