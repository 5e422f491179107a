#include "recordformatbox.h"

#include <QSignalBlocker>

namespace app
{

namespace
{

constexpr std::string_view kText = "text";
constexpr std::string_view kPcapng = "pcapng";

} // namespace

RecordFormatBox::RecordFormatBox(QWidget* parent) : QComboBox(parent)
{
    setObjectName(QStringLiteral("recordFormat"));
    // The entries' order is that of Format.
    addItem(QString::fromLatin1(kText.data(), kText.size()));
    addItem(QString::fromLatin1(kPcapng.data(), kPcapng.size()));
    setToolTip(tr("The format of the record files: text lines, or pcapng for a capture tool"));
    setCurrentIndex(static_cast<int>(remembered(settings_)));
    // Only the operator's choice is remembered: activated, not currentIndexChanged.
    connect(this, &QComboBox::activated, this, &RecordFormatBox::onActivated);
}

RecordFormatBox::Format RecordFormatBox::remembered(SettingsStore& settings)
{
    return settings.readText(kSettingsSection, kFormatKey, kText) == kPcapng ? Format::Pcapng
                                                                             : Format::Text;
}

RecordFormatBox::Format RecordFormatBox::format() const
{
    return currentIndex() == static_cast<int>(Format::Pcapng) ? Format::Pcapng : Format::Text;
}

void RecordFormatBox::fixTo(Format format)
{
    const QSignalBlocker quiet(this);
    setCurrentIndex(static_cast<int>(format));
    setEnabled(false);
    setToolTip(tr("Set by --record-format for this run"));
}

void RecordFormatBox::onActivated(int index)
{
    const Format chosen = index == static_cast<int>(Format::Pcapng) ? Format::Pcapng : Format::Text;
    settings_.writeText(kSettingsSection, kFormatKey, chosen == Format::Pcapng ? kPcapng : kText);
    emit formatChosen(chosen);
}

} // namespace app
