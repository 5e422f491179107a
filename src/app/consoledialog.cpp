#include "consoledialog.h"

#include "consolekeyfilter.h"
#include "dialogcombobox.h"
#include "ipv4addressedit.h"
#include "messageview.h"
#include "portspin.h"
#include "qtsettingsstore.h"
#include "qtviewwindow.h"
#include "socketevent.h"
#include "trafficwindow.h"

#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"
#include "protocol/framedefaults.h"
#include "socket/socketaddress.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

#include <arpa/inet.h>
#include <cstdio>
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
// "IP: 255.255.255.255, Port: 65535" and its zero, with room to spare.
constexpr std::size_t kUdpAddressTextSize = 64;
constexpr std::string_view kEchoPrefix = " -> ";

// The read-only displays beside the frame fields always show the printable
// delimiters and the line end as text (four characters, not CR LF).
constexpr std::string_view kStartDelimiterValue = "[";
constexpr std::string_view kEqualDelimiterValue = "=";
constexpr std::string_view kDashDelimiterValue = "-";
constexpr std::string_view kEndOfDataValue = "\\r\\n";
constexpr std::string_view kTerminatorValue = "0";

// A control's text up to its first NUL byte, as the console has always read
// them: a text with a NUL in it ends there.
std::string cText(const QString& text)
{
    std::string bytes = latin1Bytes(text);
    bytes.resize(std::string_view(bytes.c_str()).size());
    return bytes;
}

} // namespace

ConsoleDialog::ConsoleDialog(QWidget* parent) : QDialog(parent, kWindowFlags), controls_(this)
{
    initConsoleResources();
    icon_ = QIcon(kIconResource);
    setWindowTitle(latin1(ConsoleTemplate::kCaption));
    controls_.layout();
    viewWindow_ = std::make_unique<QtViewWindow>(controls_.messageView(), this);

    connect(controls_.connect(), &QPushButton::clicked, this, &ConsoleDialog::onConnect);
    connect(controls_.disconnect(), &QPushButton::clicked, this, &ConsoleDialog::onDisconnect);
    connect(controls_.sendMessage(), &QPushButton::clicked, this, &ConsoleDialog::onSendMessage);
    connect(controls_.sendThisData(), &QPushButton::clicked, this,
            &ConsoleDialog::onSendCommandFrame);
    connect(controls_.close(), &QPushButton::clicked, this, &ConsoleDialog::accept);
    connect(controls_.address(), &Ipv4AddressEdit::fieldChanged, this,
            &ConsoleDialog::onServerAddressFieldChanged);

    keyFilter_ =
        new ConsoleKeyFilter(this, controls_.freeText(), controls_.mode(), controls_.port());
    connect(keyFilter_, &ConsoleKeyFilter::freeTextEntered, this, [this] {
        if (channel_.hasSocket())
            onSendMessage();
    });
    connect(keyFilter_, &ConsoleKeyFilter::modeBoxLeft, this, &ConsoleDialog::onModeBoxLostFocus);
    connect(keyFilter_, &ConsoleKeyFilter::portEditLeft, this, &ConsoleDialog::onPortEditLostFocus);
    initDialog();
    setUpTraffic();
}

ConsoleDialog::~ConsoleDialog()
{
    // The window's own destruction hides it, and the focus loss that follows
    // must reach no handler of this half-destroyed dialog.
    delete keyFilter_;
    keyFilter_ = nullptr;
    stopChannel();
    delete trafficWindow_;
}

void ConsoleDialog::initDialog()
{
    controls_.fillComboLists();
    setWindowIcon(icon_);

    // Disconnected state.
    controls_.sendMessage()->setEnabled(false);
    controls_.disconnect()->setEnabled(false);

    // The port (stored at once on the first start), the spin's range reversed
    // (up lowers the port), the server address.
    controls_.port()->setText(latin1(settings_.port()));
    controls_.portSpin()->setRange(kPortSpinLower, kPortSpinUpper);
    controls_.address()->setText(latin1(settings_.serverAddress()));

    // The channel: a plain client bound to the message view.
    channel_.setView(viewWindow_.get());
    channel_.setServerRole(false);
    channel_.setAddressHeaders(false);
    channel_.setObserver(&trafficRecording_.observer());

    // The delimiters, in the remembered mode; the mode box follows it.
    protocol::DelimiterSet& delimiters = protocol::DelimiterSet::instance();
    delimiters.resetDelimiters();
    delimiters.setModeFlag(settings_.releaseFlag());
    delimiters.applyDelimiterSet();
    controls_.mode()->setExchangeText(latin1(delimiters.isRelease()
                                                 ? protocol::DelimiterSet::kReleaseModeText
                                                 : protocol::DelimiterSet::kDemoModeText));

    // Length limits. The free-text limit keeps every message within the send
    // block with its CR LF and NUL.
    controls_.message()->setMaxLength(static_cast<int>(protocol::kMessageMaxLength));
    controls_.data()->setMaxLength(static_cast<int>(protocol::kDataMaxLength));
    controls_.freeText()->setMaxLength(static_cast<int>(protocol::kFreeTextMaxLength));

    showInitialFields();
    controls_.connect()->setFocus(Qt::OtherFocusReason);
}

void ConsoleDialog::showInitialFields()
{
    controls_.tcp()->setChecked(true);
    const protocol::FrameFields fields = protocol::defaultFrameFields();
    controls_.media()->setExchangeText(latin1(fields.media));
    controls_.deviceId()->setExchangeText(latin1(fields.deviceId));
    controls_.data()->setText(latin1(fields.data));
    controls_.command()->setExchangeText(latin1(fields.command));
    controls_.message()->setText(latin1(fields.message));
    controls_.setEditText(ConsoleTemplate::kStartDisplay, kStartDelimiterValue);
    controls_.setEditText(ConsoleTemplate::kEqualDisplay, kEqualDelimiterValue);
    controls_.setEditText(ConsoleTemplate::kDashDisplay, kDashDelimiterValue);
    controls_.setEditText(ConsoleTemplate::kEndOfDataDisplay, kEndOfDataValue);
    controls_.setEditText(ConsoleTemplate::kTerminatorDisplay, kTerminatorValue);
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

ConsoleDialog::SocketType ConsoleDialog::socketType() const
{
    return controls_.tcp()->isChecked() ? SocketType::Tcp : SocketType::Udp;
}

std::string ConsoleDialog::connectLine(SocketType type, std::string_view host,
                                       std::string_view port) const
{
    std::string line;
    if (type == SocketType::Tcp) {
        line.append(kTcpConnectText).append(host).append(kTcpPortText).append(port);
        return line.append(kLineEnd);
    }
    net::SocketAddress local;
    if (!channel_.queryLocalAddress(local))
        local = net::SocketAddress{};
    const auto* octets = reinterpret_cast<const unsigned char*>(&local.address);
    char addressText[kUdpAddressTextSize] = {};
    std::snprintf(addressText, sizeof addressText, kUdpAddressFormat, octets[0], octets[1],
                  octets[2], octets[3], static_cast<int>(ntohs(local.port)));
    return line.append(kUdpConnectText).append(addressText).append(kLineEnd);
}

void ConsoleDialog::onConnect()
{
    const std::string host = cText(controls_.address()->text());
    const std::string port = cText(controls_.port()->text());
    const SocketType type = socketType();
    if (!channel_.openClient(host.c_str(), port.c_str(), AF_INET,
                             type == SocketType::Tcp ? SOCK_STREAM : SOCK_DGRAM))
        return;
    if (!startWatcher()) {
        // A socket held without a watcher would make every later connect fail
        // at openClient until the window closes: give it back now.
        stopChannel();
        return;
    }

    controls_.sendMessage()->setEnabled(true);
    controls_.disconnect()->setEnabled(true);
    // The focus moves on before Connect is disabled, so it never rests on a
    // disabled button.
    focusNextChild();
    controls_.connect()->setEnabled(false);
    controls_.tcp()->setEnabled(false);
    controls_.udp()->setEnabled(false);
    controls_.messageView()->replaceText(connectLine(type, host, port));
}

void ConsoleDialog::onDisconnect()
{
    stopChannel();
    if (channel_.hasSocket())
        return;
    controls_.connect()->setEnabled(true);
    focusPreviousChild();
    controls_.sendMessage()->setEnabled(false);
    controls_.disconnect()->setEnabled(false);
    controls_.tcp()->setEnabled(true);
    controls_.udp()->setEnabled(true);
}

void ConsoleDialog::onSendMessage()
{
    if (!channel_.hasSocket())
        return;
    const std::string text = cText(controls_.freeText()->text());
    if (text.empty())
        return;
    const std::string block = protocol::wireBlock(text);
    channel_.writeBlock(block.data(), static_cast<std::uint32_t>(block.size()),
                        net::SocketChannel::kNoTimeout);
}

void ConsoleDialog::onSendCommandFrame()
{
    const protocol::FrameFields fields{
        cText(controls_.media()->exchangeText()), cText(controls_.deviceId()->exchangeText()),
        cText(controls_.data()->text()), cText(controls_.command()->exchangeText()),
        cText(controls_.message()->text())};
    const std::string_view problem =
        protocol::validateFrameFields(fields.media, fields.deviceId, fields.command);
    if (!problem.empty()) {
        showFieldMessage(problem);
        return;
    }
    if (!channel_.hasSocket())
        return;

    const bool release = protocol::DelimiterSet::instance().isRelease();
    const std::string frame = protocol::composeFrame(
        fields, release ? protocol::DelimiterMode::Release : protocol::DelimiterMode::Demo);
    const std::string block = protocol::wireBlock(frame);
    channel_.writeBlock(block.data(), static_cast<std::uint32_t>(block.size()),
                        net::SocketChannel::kNoTimeout);

    // The echo shows a Release frame in its printable form; a Demo frame goes
    // in as it went out.
    std::string echo(kEchoPrefix);
    echo.append(release ? protocol::frameDisplayText(frame) : frame).append(kLineEnd);
    channel_.appendToView(echo);
}

void ConsoleDialog::showFieldMessage(std::string_view text)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), latin1(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void ConsoleDialog::onModeBoxLostFocus()
{
    settings_.switchMode(latin1Bytes(controls_.mode()->exchangeText()));
}

void ConsoleDialog::onPortEditLostFocus()
{
    settings_.storePort(latin1Bytes(controls_.port()->text()));
}

void ConsoleDialog::onServerAddressFieldChanged()
{
    settings_.storeServerAddress(latin1Bytes(controls_.address()->text()));
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
        controls_.layout();
}

void ConsoleDialog::setUpTraffic()
{
    // Every record goes to the window's queue; record files are written when
    // the window's remembered switch says so (or the command line asks).
    trafficRecording_.setViewSink(&trafficQueue_);
    QtSettingsStore settings;
    trafficRecording_.setRecordingEnabled(TrafficWindow::recordToFileRemembered(settings));

    // An application shortcut: Ctrl+T works whichever control has the focus,
    // also in the Traffic window itself.
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, &ConsoleDialog::showTrafficWindow);
    connect(controls_.messageView(), &MessageView::trafficRequested, this,
            &ConsoleDialog::showTrafficWindow);
}

void ConsoleDialog::showTrafficWindow()
{
    // A child window of the dialog, so the dialog's modality does not block it.
    if (!trafficWindow_) {
        trafficWindow_ = new TrafficWindow(trafficQueue_, this);
        connect(trafficWindow_, &TrafficWindow::recordToFileChanged, this,
                [this](bool on) { trafficRecording_.setRecordingEnabled(on); });
        trafficWindow_->setRecordingStatus(
            [this] { return QString::fromStdString(trafficRecording_.statusText()); });
        // --record may have switched recording on for this run only.
        trafficWindow_->showRecordToFile(trafficRecording_.recordingEnabled());
    }
    trafficWindow_->show();
    trafficWindow_->raise();
    trafficWindow_->activateWindow();
}

} // namespace app
