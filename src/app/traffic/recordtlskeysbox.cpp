#include "recordtlskeysbox.h"

#include <QSignalBlocker>

namespace app
{

RecordTlsKeysBox::RecordTlsKeysBox(QWidget* parent)
    : QCheckBox(tr("Record TLS keys (pcapng)"), parent)
{
    setObjectName(QStringLiteral("recordTlsKeys"));
    setToolTip(tr("Writes the TLS session keys into the pcapng record files, so that a capture "
                  "of the connection can be decrypted. Anyone who has such a file can read "
                  "everything the session carried, card numbers included: keep it to yourself "
                  "and delete it when done."));
    setChecked(remembered(settings_));
    // Only the operator's choice is remembered: clicked, not toggled.
    connect(this, &QCheckBox::clicked, this, &RecordTlsKeysBox::onClicked);
}

bool RecordTlsKeysBox::remembered(SettingsStore& settings)
{
    return settings.readInt(kSettingsSection, kKeysKey, 0) != 0;
}

void RecordTlsKeysBox::fixTo(bool on)
{
    const QSignalBlocker quiet(this);
    setChecked(on);
    setEnabled(false);
    setToolTip(tr("Set by --record-tls-keys for this run"));
}

void RecordTlsKeysBox::onClicked(bool on)
{
    settings_.writeInt(kSettingsSection, kKeysKey, on ? 1 : 0);
    emit keysChosen(on);
}

} // namespace app
