#include "consolecontrols.h"

#include "dialogcombobox.h"
#include "dialogunits.h"
#include "ipv4addressedit.h"
#include "portspin.h"

#include "app/view/messageview.h"

#include "protocol/commandframe.h"
#include "protocol/framedefaults.h"

#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace app
{

namespace
{

// The read-only displays beside the frame fields always show the printable
// delimiters and the line end as text (four characters, not CR LF).
constexpr std::string_view kStartDelimiterValue = "[";
constexpr std::string_view kEqualDelimiterValue = "=";
constexpr std::string_view kDashDelimiterValue = "-";
constexpr std::string_view kEndOfDataValue = "\\r\\n";
constexpr std::string_view kTerminatorValue = "0";

constexpr char kGroupBoxStyle[] =
    "QGroupBox { border: 1px solid palette(mid); margin-top: 0.5em; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
    " left: 0.5em; padding: 0 2px; background-color: palette(window); }";

using Kind = ConsoleTemplate::Kind;

template <typename T> T* typed(const ConsoleControls& controls, int id)
{
    return qobject_cast<T*>(controls.control(id));
}

} // namespace

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string latin1Bytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

std::string textUpToNul(const QString& text)
{
    std::string bytes = latin1Bytes(text);
    bytes.resize(std::string_view(bytes.c_str()).size());
    return bytes;
}

ConsoleControls::ConsoleControls(QDialog* window) : window_(window)
{
    for (std::size_t index = 0; index < ConsoleTemplate::kControls.size(); ++index)
        widgets_[index] = createControl(ConsoleTemplate::kControls[index]);
    // Earlier controls lie on top: the white background and the group boxes
    // at the end of the template lie under the controls they frame.
    for (QWidget* widget : widgets_)
        widget->lower();

    connect_ = typed<QPushButton>(*this, ConsoleTemplate::kConnect);
    disconnect_ = typed<QPushButton>(*this, ConsoleTemplate::kDisconnect);
    sendMessage_ = typed<QPushButton>(*this, ConsoleTemplate::kSendMessage);
    sendThisData_ = typed<QPushButton>(*this, ConsoleTemplate::kSendThisData);
    close_ = typed<QPushButton>(*this, ConsoleTemplate::kClose);
    freeText_ = typed<QLineEdit>(*this, ConsoleTemplate::kFreeTextEdit);
    port_ = typed<QLineEdit>(*this, ConsoleTemplate::kPortEdit);
    data_ = typed<QLineEdit>(*this, ConsoleTemplate::kData);
    message_ = typed<QLineEdit>(*this, ConsoleTemplate::kMessage);
    portSpin_ = typed<PortSpin>(*this, ConsoleTemplate::kPortSpin);
    address_ = typed<Ipv4AddressEdit>(*this, ConsoleTemplate::kServerAddress);
    tcp_ = typed<QRadioButton>(*this, ConsoleTemplate::kTcpRadio);
    udp_ = typed<QRadioButton>(*this, ConsoleTemplate::kUdpRadio);
    messageView_ = typed<MessageView>(*this, ConsoleTemplate::kMessageView);
    media_ = typed<DialogComboBox>(*this, ConsoleTemplate::kMedia);
    deviceId_ = typed<DialogComboBox>(*this, ConsoleTemplate::kDeviceId);
    command_ = typed<DialogComboBox>(*this, ConsoleTemplate::kCommand);
    mode_ = typed<DialogComboBox>(*this, ConsoleTemplate::kMode);

    // The spin's buddy is the control before it in the template: the port edit.
    portSpin_->setBuddy(port_);
    // Only one button can be Qt's default. "Send this data" is the last of the
    // template's default buttons, the one its dialog manager ends up with.
    sendThisData_->setDefault(true);
    // Tab leaves the message view for the next control instead of typing a tab.
    messageView_->setTabChangesFocus(true);
}

QWidget* ConsoleControls::control(int id) const
{
    if (id == ConsoleTemplate::kStatic)
        return nullptr;
    for (std::size_t index = 0; index < ConsoleTemplate::kControls.size(); ++index) {
        if (ConsoleTemplate::kControls[index].id == id)
            return widgets_[index];
    }
    return nullptr;
}

void ConsoleControls::setEditText(int id, std::string_view text)
{
    if (auto* edit = typed<QLineEdit>(*this, id))
        edit->setText(latin1(text));
}

QWidget* ConsoleControls::createControl(const ConsoleTemplate::Control& control)
{
    const QString text = latin1(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case Kind::PushButton:
        widget = new QPushButton(text, window_);
        break;
    case Kind::Edit:
        widget = new QLineEdit(window_);
        break;
    case Kind::ReadOnlyEdit: {
        auto* edit = new QLineEdit(window_);
        edit->setReadOnly(true);
        edit->setAlignment(Qt::AlignCenter);
        widget = edit;
        break;
    }
    case Kind::Label: {
        auto* label = new QLabel(text, window_);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    case Kind::UpDown:
        widget = new PortSpin(window_);
        break;
    case Kind::Ipv4Address:
        widget = new Ipv4AddressEdit(window_);
        break;
    case Kind::RadioButton:
        // No tab stop, but a click still selects and focuses it.
        widget = new QRadioButton(text, window_);
        widget->setFocusPolicy(Qt::ClickFocus);
        break;
    case Kind::WhiteRect: {
        auto* frame = new QFrame(window_);
        QPalette palette = frame->palette();
        palette.setColor(QPalette::Window, Qt::white);
        frame->setPalette(palette);
        frame->setAutoFillBackground(true);
        widget = frame;
        break;
    }
    case Kind::MessageView:
        widget = new MessageView(window_);
        break;
    case Kind::GroupBox: {
        // The frame line runs through the middle of the title, half a line
        // below the top of the box, as the template's layout expects; the
        // platform style would put the whole title above the line and so push
        // the line down into the controls.
        auto* group = new QGroupBox(text, window_);
        group->setStyleSheet(QLatin1String(kGroupBoxStyle));
        widget = group;
        break;
    }
    case Kind::SortedCombo:
        widget = new DialogComboBox(DialogComboBox::Order::Sorted, window_);
        break;
    case Kind::UnsortedCombo:
        widget = new DialogComboBox(DialogComboBox::Order::AsAdded, window_);
        break;
    }
    // Labels, frames and group boxes only draw: a click on them goes to the
    // control underneath. Without this the empty group box, which lies above
    // "Send this data" in the template's order, would take that button's clicks.
    if (control.kind == Kind::Label || control.kind == Kind::WhiteRect ||
        control.kind == Kind::GroupBox)
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (control.id != ConsoleTemplate::kStatic)
        widget->setObjectName(QStringLiteral("control%1").arg(control.id));
    return widget;
}

void ConsoleControls::layout()
{
    const DialogUnits units(window_->font());
    for (std::size_t index = 0; index < ConsoleTemplate::kControls.size(); ++index) {
        const ConsoleTemplate::Control& control = ConsoleTemplate::kControls[index];
        QWidget* widget = widgets_[index];
        if (auto* combo = qobject_cast<DialogComboBox*>(widget)) {
            // The template's combo box includes its dropped-down list.
            combo->setGeometry(
                units.toPixels(control.x, control.y, control.width, kComboFieldHeight));
            combo->setMaxVisibleItems(
                std::max(1, (control.height - kComboFieldHeight) / kComboEntryHeight));
        } else {
            QRect box = units.toPixels(control.x, control.y, control.width, control.height);
            // A label whose text is wider in this font than in the template's
            // takes the room it needs to the right instead of cutting its text;
            // the template leaves that room free.
            if (auto* label = qobject_cast<QLabel*>(widget))
                box.setWidth(std::max(box.width(), label->sizeHint().width()));
            widget->setGeometry(box);
        }
    }
    window_->setFixedSize(
        units.toPixels(ConsoleTemplate::kWidthUnits, ConsoleTemplate::kHeightUnits));
}

void ConsoleControls::fillComboLists()
{
    const auto fill = [](DialogComboBox* combo, const auto& entries) {
        for (std::string_view entry : entries)
            combo->addEntry(latin1(entry));
    };
    fill(media_, ConsoleTemplate::kMediaEntries);
    fill(deviceId_, ConsoleTemplate::kDeviceIdEntries);
    fill(command_, ConsoleTemplate::kCommandEntries);
    fill(mode_, ConsoleTemplate::kModeEntries);
}

void ConsoleControls::showInitialValues()
{
    // The free-text limit keeps every message within the send block with its
    // CR LF and NUL.
    message_->setMaxLength(static_cast<int>(protocol::kMessageMaxLength));
    data_->setMaxLength(static_cast<int>(protocol::kDataMaxLength));
    freeText_->setMaxLength(static_cast<int>(protocol::kFreeTextMaxLength));

    tcp_->setChecked(true);
    const protocol::FrameFields fields = protocol::defaultFrameFields();
    media_->setExchangeText(latin1(fields.media));
    deviceId_->setExchangeText(latin1(fields.deviceId));
    data_->setText(latin1(fields.data));
    command_->setExchangeText(latin1(fields.command));
    message_->setText(latin1(fields.message));
    setEditText(ConsoleTemplate::kStartDisplay, kStartDelimiterValue);
    setEditText(ConsoleTemplate::kEqualDisplay, kEqualDelimiterValue);
    setEditText(ConsoleTemplate::kDashDisplay, kDashDelimiterValue);
    setEditText(ConsoleTemplate::kEndOfDataDisplay, kEndOfDataValue);
    setEditText(ConsoleTemplate::kTerminatorDisplay, kTerminatorValue);
}

} // namespace app
