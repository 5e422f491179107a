#pragma once

#include "app/settings/qtsettingsstore.h"

#include <QCoreApplication>
#include <QSettings>

namespace app
{

// The console's settings file, where the Commands window keeps its own keys
// (section "Commands"). UI thread only.
inline QSettings commandSettings()
{
    return QSettings(QString::fromLatin1(QtSettingsStore::kOrganisation.data(),
                                         QtSettingsStore::kOrganisation.size()),
                     QCoreApplication::applicationName());
}

} // namespace app
