#include "qtsettingsstore.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QString>

namespace app
{

namespace
{

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString settingKey(std::string_view section, std::string_view key)
{
    return latin1(section) + QLatin1Char('/') + latin1(key);
}

} // namespace

QString QtSettingsStore::dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + latin1(kOrganisation) + QStringLiteral("/socketclient");
}

QtSettingsStore::QtSettingsStore()
    : settings_(latin1(kOrganisation), QCoreApplication::applicationName())
{
}

std::string QtSettingsStore::readText(std::string_view section, std::string_view key,
                                      std::string_view fallback)
{
    const QString name = settingKey(section, key);
    if (!settings_.contains(name))
        return std::string(fallback);
    return settings_.value(name).toString().toLatin1().toStdString();
}

void QtSettingsStore::writeText(std::string_view section, std::string_view key,
                                std::string_view value)
{
    settings_.setValue(settingKey(section, key), latin1(value));
}

std::int32_t QtSettingsStore::readInt(std::string_view section, std::string_view key,
                                      std::int32_t fallback)
{
    const QString name = settingKey(section, key);
    if (!settings_.contains(name))
        return fallback;
    bool ok = false;
    const int value = settings_.value(name).toString().trimmed().toInt(&ok);
    return ok ? static_cast<std::int32_t>(value) : fallback;
}

void QtSettingsStore::writeInt(std::string_view section, std::string_view key, std::int32_t value)
{
    settings_.setValue(settingKey(section, key), static_cast<int>(value));
}

} // namespace app
