#include "consoledialog.h"

#include "dialogcombobox.h"
#include "dialogunits.h"
#include "ipv4addressedit.h"
#include "messageview.h"
#include "portspin.h"
#include "qtviewwindow.h"
#include "socketevent.h"
#include "trafficwindow.h"

#include "socket/hostlookup.h"
#include "socket/socketaddress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

// The icon lives in a static library, whose resource registration the linker
// would drop unless something refers to it.
static void initConsoleResources()
{
    Q_INIT_RESOURCE(consoleapp);
}

namespace app
{

namespace
{

// A caption bar without a close box. X11 window managers take the allowed
// actions from the window's Motif hints, which Qt writes only when at least one
// button is asked for; without one they allow everything and show a close box.
// Asking for the minimise button makes "close" and "maximise" missing from
// those actions.
constexpr Qt::WindowFlags kWindowFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint;
const QString kIconResource = QStringLiteral(":/app/icon128.png");
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kTcpConnectText = "Connection established with server: ";
constexpr std::string_view kTcpPortText = " on port ";
constexpr std::string_view kUdpConnectText = "Socket created: ";
constexpr char kUdpAddressFormat[] = "IP: %u.%u.%u.%u, Port: %d";
constexpr char kEchoFormat[] = " -> %.*s\r\n";
constexpr char kGroupBoxStyle[] =
    "QGroupBox { border: 1px solid palette(mid); margin-top: 0.5em; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
    " left: 0.5em; padding: 0 2px; background-color: palette(window); }";
// "IP: 255.255.255.255, Port: 65535" and its zero, with room to spare.
constexpr std::size_t kUdpAddressTextSize = 64;

using Kind = ConsoleTemplate::Kind;

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string bytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

// Copies at most `maxChars` characters of `source`, never more than the
// buffer holds with its zero, and terminates the copy. Returns its length.
template <std::size_t N>
std::size_t copyBounded(char (&buffer)[N], std::string_view source, std::size_t maxChars = N)
{
    static_assert(N > 0);
    const std::size_t length = std::min({source.size(), maxChars, N - 1});
    std::memcpy(buffer, source.data(), length);
    buffer[length] = '\0';
    return length;
}

// A text up to its first NUL byte, as a C string would end there.
std::string_view cString(const std::string& text)
{
    return std::string_view(text.c_str());
}

} // namespace

ConsoleDialog::ConsoleDialog(QWidget* parent) : QDialog(parent, kWindowFlags)
{
    initConsoleResources();
    icon_ = QIcon(kIconResource);
    buildControls();
    layoutControls();
    qApp->installEventFilter(this);
    filtering_ = true;
    initDialog();
    setUpTraffic();
}

ConsoleDialog::~ConsoleDialog()
{
    if (filtering_)
        qApp->removeEventFilter(this);
    filtering_ = false;
    stopChannel();
    delete trafficWindow_;
}

QWidget* ConsoleDialog::control(int id) const
{
    if (id == ConsoleTemplate::kStatic)
        return nullptr;
    for (std::size_t index = 0; index < ConsoleTemplate::kControls.size(); ++index) {
        if (ConsoleTemplate::kControls[index].id == id)
            return widgets_[index];
    }
    return nullptr;
}

void ConsoleDialog::buildControls()
{
    setWindowTitle(latin1(ConsoleTemplate::kCaption));
    // Each control is created with its parent, in template order, so Qt's focus
    // chain (the tab order) is the template order too.
    for (std::size_t index = 0; index < ConsoleTemplate::kControls.size(); ++index)
        widgets_[index] = createControl(ConsoleTemplate::kControls[index]);
    // Earlier controls lie on top: the white background and the group boxes
    // at the end of the template lie under the controls they frame.
    for (QWidget* widget : widgets_)
        widget->lower();

    connectButton_ = qobject_cast<QPushButton*>(control(ConsoleTemplate::kConnect));
    disconnectButton_ = qobject_cast<QPushButton*>(control(ConsoleTemplate::kDisconnect));
    sendMessageButton_ = qobject_cast<QPushButton*>(control(ConsoleTemplate::kSendMessage));
    sendThisDataButton_ = qobject_cast<QPushButton*>(control(ConsoleTemplate::kSendThisData));
    closeButton_ = qobject_cast<QPushButton*>(control(ConsoleTemplate::kClose));
    freeTextEdit_ = qobject_cast<QLineEdit*>(control(ConsoleTemplate::kFreeTextEdit));
    portEdit_ = qobject_cast<QLineEdit*>(control(ConsoleTemplate::kPortEdit));
    dataEdit_ = qobject_cast<QLineEdit*>(control(ConsoleTemplate::kData));
    messageEdit_ = qobject_cast<QLineEdit*>(control(ConsoleTemplate::kMessage));
    portSpin_ = qobject_cast<PortSpin*>(control(ConsoleTemplate::kPortSpin));
    addressEdit_ = qobject_cast<Ipv4AddressEdit*>(control(ConsoleTemplate::kServerAddress));
    tcpRadio_ = qobject_cast<QRadioButton*>(control(ConsoleTemplate::kTcpRadio));
    udpRadio_ = qobject_cast<QRadioButton*>(control(ConsoleTemplate::kUdpRadio));
    messageView_ = qobject_cast<MessageView*>(control(ConsoleTemplate::kMessageView));
    mediaCombo_ = qobject_cast<DialogComboBox*>(control(ConsoleTemplate::kMedia));
    deviceIdCombo_ = qobject_cast<DialogComboBox*>(control(ConsoleTemplate::kDeviceId));
    commandCombo_ = qobject_cast<DialogComboBox*>(control(ConsoleTemplate::kCommand));
    modeCombo_ = qobject_cast<DialogComboBox*>(control(ConsoleTemplate::kMode));

    // The spin's buddy is the control before it in the template: the port edit.
    portSpin_->setBuddy(portEdit_);
    // Only one button can be Qt's default. "Send this data" is the last of the
    // template's default buttons, the one its dialog manager ends up with.
    sendThisDataButton_->setDefault(true);
    // Tab leaves the message view for the next control instead of typing a tab.
    messageView_->setTabChangesFocus(true);

    connect(connectButton_, &QPushButton::clicked, this, &ConsoleDialog::onConnect);
    connect(disconnectButton_, &QPushButton::clicked, this, &ConsoleDialog::onDisconnect);
    connect(sendMessageButton_, &QPushButton::clicked, this, &ConsoleDialog::onSendMessage);
    connect(sendThisDataButton_, &QPushButton::clicked, this, &ConsoleDialog::onSendCommandFrame);
    connect(closeButton_, &QPushButton::clicked, this, &ConsoleDialog::accept);
    connect(addressEdit_, &Ipv4AddressEdit::fieldChanged, this,
            &ConsoleDialog::onServerAddressFieldChanged);

    viewWindow_ = std::make_unique<QtViewWindow>(messageView_, this);
}

QWidget* ConsoleDialog::createControl(const ConsoleTemplate::Control& control)
{
    const QString text = latin1(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case Kind::PushButton:
        widget = new QPushButton(text, this);
        break;
    case Kind::Edit:
        widget = new QLineEdit(this);
        break;
    case Kind::ReadOnlyEdit: {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(true);
        edit->setAlignment(Qt::AlignCenter);
        widget = edit;
        break;
    }
    case Kind::Label: {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    case Kind::UpDown:
        widget = new PortSpin(this);
        break;
    case Kind::Ipv4Address:
        widget = new Ipv4AddressEdit(this);
        break;
    case Kind::RadioButton:
        // No tab stop, but a click still selects and focuses it.
        widget = new QRadioButton(text, this);
        widget->setFocusPolicy(Qt::ClickFocus);
        break;
    case Kind::WhiteRect: {
        auto* frame = new QFrame(this);
        QPalette palette = frame->palette();
        palette.setColor(QPalette::Window, Qt::white);
        frame->setPalette(palette);
        frame->setAutoFillBackground(true);
        widget = frame;
        break;
    }
    case Kind::MessageView:
        widget = new MessageView(this);
        break;
    case Kind::GroupBox: {
        // The frame line runs through the middle of the title, half a line
        // below the top of the box, as the template's layout expects; the
        // platform style would put the whole title above the line and so push
        // the line down into the controls.
        auto* group = new QGroupBox(text, this);
        group->setStyleSheet(QLatin1String(kGroupBoxStyle));
        widget = group;
        break;
    }
    case Kind::SortedCombo:
        widget = new DialogComboBox(DialogComboBox::Order::Sorted, this);
        break;
    case Kind::UnsortedCombo:
        widget = new DialogComboBox(DialogComboBox::Order::AsAdded, this);
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

void ConsoleDialog::layoutControls()
{
    const DialogUnits units(font());
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
    setFixedSize(units.toPixels(ConsoleTemplate::kWidthUnits, ConsoleTemplate::kHeightUnits));
}

void ConsoleDialog::fillComboLists()
{
    const auto fill = [](DialogComboBox* combo, const auto& entries) {
        for (std::string_view entry : entries)
            combo->addEntry(latin1(entry));
    };
    fill(mediaCombo_, ConsoleTemplate::kMediaEntries);
    fill(deviceIdCombo_, ConsoleTemplate::kDeviceIdEntries);
    fill(commandCombo_, ConsoleTemplate::kCommandEntries);
    fill(modeCombo_, ConsoleTemplate::kModeEntries);
}

void ConsoleDialog::initDialog()
{
    // 1. The combo lists and a first exchange of the still empty members.
    fillComboLists();
    updateData(false);

    // 2. The About item needs a system menu, which a window here does not have.

    // 3. The window icon.
    setWindowIcon(icon_);

    // 4. Disconnected state.
    sendMessageButton_->setEnabled(false);
    disconnectButton_->setEnabled(false);

    // 5. The port, stored at once on the first start.
    portText_ = settings_.readText(protocol::kParamsSection, kPortKey, kAbsentPort);
    if (portText_ == kAbsentPort) {
        settings_.writeText(protocol::kParamsSection, kPortKey, kFirstPort);
        portText_ = std::string(kFirstPort);
    }

    // 6. The spin's range, reversed: up lowers the port.
    portSpin_->setRange(kPortSpinLower, kPortSpinUpper);

    // 7. The server address: the loopback address on a host that knows itself
    // only by it, otherwise the remembered one.
    char local[kLocalAddressSize] = {};
    if (!net::localDottedAddress(local, sizeof local))
        local[0] = '\0';
    std::string address(kLoopbackAddress);
    if (std::string_view(local) != kLoopbackAddress)
        address =
            settings_.readText(protocol::kParamsSection, kServerAddressKey, kDefaultServerAddress);
    addressEdit_->setText(latin1(address));

    // 8. The channel: a plain client bound to the message view.
    channel_.setView(viewWindow_.get());
    channel_.setServerRole(false);
    channel_.setAddressHeaders(false);

    // 9. The delimiters, in the remembered mode.
    protocol::DelimiterSet& delimiters = protocol::DelimiterSet::instance();
    delimiters.resetDelimiters();
    delimiters.setModeFlag(
        settings_.readInt(protocol::kParamsSection, protocol::kReleaseKey, kDefaultReleaseFlag));
    delimiters.applyDelimiterSet();

    // 10. The mode box follows the mode.
    modeText_ = std::string(delimiters.isRelease() ? protocol::DelimiterSet::kReleaseModeText
                                                   : protocol::DelimiterSet::kDemoModeText);

    // 11. Length limits. The free-text limit keeps every message within the
    // send buffer with its CR LF and NUL.
    messageEdit_->setMaxLength(kMessageMaxLength);
    dataEdit_->setMaxLength(kDataMaxLength);
    freeTextEdit_->setMaxLength(kFreeTextMaxLength);

    // 12. The initial field values.
    startDelimiterText_ = kStartDelimiterValue;
    mediaText_ = kMediaValue;
    deviceIdText_ = kDeviceIdValue;
    dataText_ = kDataValue;
    equalDelimiterText_ = kEqualDelimiterValue;
    commandText_ = kCommandValue;
    dashDelimiterText_ = kDashDelimiterValue;
    messageText_ = kMessageValue;
    endOfDataText_ = kEndOfDataValue;
    terminatorText_ = kTerminatorValue;

    // 13. Show them.
    updateData(false);

    // 14. The focus starts on the first tab stop.
    connectButton_->setFocus(Qt::OtherFocusReason);
}

void ConsoleDialog::updateData(bool saveAndValidate)
{
    const auto text = [saveAndValidate](QLineEdit* edit, std::string& member) {
        if (saveAndValidate)
            member = bytes(edit->text());
        else
            edit->setText(latin1(member));
    };
    const auto comboText = [saveAndValidate](DialogComboBox* combo, std::string& member) {
        if (saveAndValidate)
            member = bytes(combo->exchangeText());
        else
            combo->setExchangeText(latin1(member));
    };
    const auto edit = [this](int id) { return qobject_cast<QLineEdit*>(control(id)); };

    text(portEdit_, portText_);
    if (saveAndValidate) {
        socketType_ = tcpRadio_->isChecked() ? 0 : udpRadio_->isChecked() ? 1 : -1;
    } else {
        // Auto-exclusive buttons cannot be cleared one by one: an index outside
        // the group clears both with exclusiveness off for the moment.
        tcpRadio_->setAutoExclusive(false);
        udpRadio_->setAutoExclusive(false);
        tcpRadio_->setChecked(socketType_ == 0);
        udpRadio_->setChecked(socketType_ == 1);
        tcpRadio_->setAutoExclusive(true);
        udpRadio_->setAutoExclusive(true);
    }
    text(edit(ConsoleTemplate::kStartDisplay), startDelimiterText_);
    comboText(mediaCombo_, mediaText_);
    comboText(deviceIdCombo_, deviceIdText_);
    text(dataEdit_, dataText_);
    text(edit(ConsoleTemplate::kEqualDisplay), equalDelimiterText_);
    comboText(commandCombo_, commandText_);
    text(edit(ConsoleTemplate::kDashDisplay), dashDelimiterText_);
    text(messageEdit_, messageText_);
    text(edit(ConsoleTemplate::kEndOfDataDisplay), endOfDataText_);
    text(edit(ConsoleTemplate::kTerminatorDisplay), terminatorText_);
    comboText(modeCombo_, modeText_);
}

bool ConsoleDialog::startWatcher()
{
    return channel_.startWatcher();
}

void ConsoleDialog::stopChannel()
{
    // While the UI thread waits for the watcher it serves no append; suspending
    // them lets a watcher that is appending give up at once instead of after
    // the append time-out.
    if (viewWindow_)
        viewWindow_->setAppendsSuspended(true);
    channel_.stop();
    if (viewWindow_)
        viewWindow_->setAppendsSuspended(false);
}

void ConsoleDialog::onConnect()
{
    updateData(true);
    const std::string host = bytes(addressEdit_->text());
    const int type = socketType_ == 0 ? SOCK_STREAM : SOCK_DGRAM;
    if (!channel_.openClient(host.c_str(), portText_.c_str(), AF_INET, type))
        return;
    if (!startWatcher()) {
        // A socket held without a watcher would make every later connect fail
        // at openClient until the window closes: give it back now.
        stopChannel();
        return;
    }

    sendMessageButton_->setEnabled(true);
    disconnectButton_->setEnabled(true);
    // The focus moves on before Connect is disabled, so it never rests on a
    // disabled button.
    focusNextChild();
    connectButton_->setEnabled(false);
    tcpRadio_->setEnabled(false);
    udpRadio_->setEnabled(false);

    std::string line;
    if (socketType_ == 0) {
        line.append(kTcpConnectText).append(cString(host)).append(kTcpPortText);
        line.append(cString(portText_)).append(kLineEnd);
    } else {
        net::SocketAddress local;
        if (!channel_.queryLocalAddress(local))
            local = net::SocketAddress{};
        const auto* octets = reinterpret_cast<const unsigned char*>(&local.address);
        char addressText[kUdpAddressTextSize] = {};
        std::snprintf(addressText, sizeof addressText, kUdpAddressFormat, octets[0], octets[1],
                      octets[2], octets[3], static_cast<int>(ntohs(local.port)));
        line.append(kUdpConnectText).append(addressText).append(kLineEnd);
    }
    messageView_->replaceText(line);
}

void ConsoleDialog::onDisconnect()
{
    stopChannel();
    if (channel_.hasSocket())
        return;
    connectButton_->setEnabled(true);
    focusPreviousChild();
    sendMessageButton_->setEnabled(false);
    disconnectButton_->setEnabled(false);
    tcpRadio_->setEnabled(true);
    udpRadio_->setEnabled(true);
}

void ConsoleDialog::onSendMessage()
{
    if (!channel_.hasSocket())
        return;
    updateData(true);
    const std::string text = bytes(freeTextEdit_->text());
    if (cString(text).empty())
        return;
    char sendBuffer[kSendBufferSize] = {};
    std::size_t length =
        copyBounded(sendBuffer, cString(text), static_cast<std::size_t>(kFreeTextMaxLength));
    std::memcpy(sendBuffer + length, kLineEnd.data(), kLineEnd.size());
    length += kLineEnd.size();
    // The NUL after CR LF goes out too.
    channel_.writeBlock(sendBuffer, static_cast<std::uint32_t>(length + 1),
                        net::SocketChannel::kNoTimeout);
}

void ConsoleDialog::onSendCommandFrame()
{
    for (char* buffer : {echoBuffer_, mediaBuffer_, deviceIdBuffer_, dataBuffer_, commandBuffer_,
                         messageBuffer_, endOfDataBuffer_, terminatorBuffer_})
        buffer[0] = '\0';
    updateData(true);

    const std::string_view problem = protocol::validateFrameFields(
        cString(mediaText_), cString(deviceIdText_), cString(commandText_));
    if (!problem.empty()) {
        showFieldMessage(problem);
        return;
    }

    using protocol::DelimiterSet;
    copyBounded(mediaBuffer_, cString(mediaText_), DelimiterSet::kMediaWidth);
    copyBounded(deviceIdBuffer_, cString(deviceIdText_), DelimiterSet::kDeviceIdWidth);
    copyBounded(dataBuffer_, cString(dataText_), DelimiterSet::kDataMaxLength);
    copyBounded(commandBuffer_, cString(commandText_), DelimiterSet::kCommandWidth);
    copyBounded(messageBuffer_, cString(messageText_), DelimiterSet::kMessageMaxLength);
    DelimiterSet& delimiters = DelimiterSet::instance();
    delimiters.composeCommandFrame(mediaBuffer_, deviceIdBuffer_, dataBuffer_, commandBuffer_,
                                   messageBuffer_);
    if (!channel_.hasSocket())
        return;

    char sendBuffer[kSendBufferSize] = {};
    std::size_t length =
        copyBounded(sendBuffer, delimiters.frameText(), kSendBufferSize - kLineEndBytes);
    std::memcpy(sendBuffer + length, kLineEnd.data(), kLineEnd.size());
    length += kLineEnd.size();
    channel_.writeBlock(sendBuffer, static_cast<std::uint32_t>(length + 1),
                        net::SocketChannel::kNoTimeout);

    if (delimiters.modeFlag() != 0)
        delimiters.frameDisplayForm();
    const std::string_view frame = delimiters.frameText();
    std::snprintf(echoBuffer_, sizeof echoBuffer_, kEchoFormat, static_cast<int>(frame.size()),
                  frame.data());
    channel_.appendToView(echoBuffer_);
}

void ConsoleDialog::showFieldMessage(std::string_view text)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), latin1(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void ConsoleDialog::onModeBoxLostFocus()
{
    updateData(true);
    protocol::DelimiterSet::instance().switchDelimiterMode(modeText_, settings_);
}

void ConsoleDialog::onPortEditLostFocus()
{
    updateData(true);
    settings_.writeText(protocol::kParamsSection, kPortKey, portText_);
}

void ConsoleDialog::onServerAddressFieldChanged()
{
    updateData(true);
    settings_.writeText(protocol::kParamsSection, kServerAddressKey, bytes(addressEdit_->text()));
}

void ConsoleDialog::done(int result)
{
    stopChannel();
    QDialog::done(result);
}

void ConsoleDialog::reject() {}

bool ConsoleDialog::event(QEvent* event)
{
    // The channel announces its events to the window; the console shows them
    // through the view only, so the announcement itself changes nothing.
    if (event->type() == SocketEvent::eventType()) {
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

bool ConsoleDialog::eventFilter(QObject* watched, QEvent* event)
{
    // Installed on the application so that it sees every key before the
    // control with the focus does, but it acts only on this window's controls.
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->window() != this)
            break;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape)
            return true;
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && widget == freeTextEdit_) {
            if (channel_.hasSocket())
                onSendMessage();
            return true;
        }
        break;
    }
    case QEvent::FocusOut: {
        // A drop-down list or a context menu opening is no loss of focus.
        if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason)
            break;
        if (watched == modeCombo_)
            onModeBoxLostFocus();
        else if (watched == portEdit_)
            onPortEditLostFocus();
        break;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void ConsoleDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ConsoleDialog::closeEvent(QCloseEvent* event)
{
    // A close request from the window manager ends the dialog as its Close
    // button does.
    event->accept();
    if (isVisible())
        accept();
}

void ConsoleDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        layoutControls();
}

void ConsoleDialog::setUpTraffic()
{
    // An application shortcut: Ctrl+T works whichever control has the focus,
    // also in the Traffic window itself.
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, &ConsoleDialog::showTrafficWindow);
    connect(messageView_, &MessageView::trafficRequested, this,
            &ConsoleDialog::showTrafficWindow);
}

void ConsoleDialog::showTrafficWindow()
{
    // A child window of the dialog, so the dialog's modality does not block it.
    if (!trafficWindow_)
        trafficWindow_ = new TrafficWindow(trafficQueue_, this);
    trafficWindow_->show();
    trafficWindow_->raise();
    trafficWindow_->activateWindow();
}

} // namespace app
