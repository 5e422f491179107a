#include "consoledialog.h"

#include "consolekeyfilter.h"
#include "consoletexts.h"
#include "dialogcombobox.h"
#include "ipv4addressedit.h"
#include "portspin.h"

#include "app/tls/tlssettings.h"
#include "app/tls/tlswindow.h"
#include "app/view/messageview.h"
#include "app/view/qtviewwindow.h"
#include "app/view/socketevent.h"

#include "protocol/delimiterset.h"
#include "socket/socketaddress.h"

#include "traffic/recordingcontrol.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

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

} // namespace

ConsoleDialog::ConsoleDialog(QWidget* parent)
    : QDialog(parent, kWindowFlags), controls_(this),
      delimiters_(protocol::DelimiterSet::instance()),
      connector_([this](ConnectEnd end) { onConnectEnded(std::move(end)); }, this),
      channel_(delimiters_), sender_(controls_, channel_, this)
{
    initConsoleResources();
    icon_ = QIcon(kIconResource);
    setWindowTitle(latin1(ConsoleTemplate::kCaption));
    controls_.layout();
    viewWindow_ = std::make_unique<QtViewWindow>(controls_.messageView(), this);

    connect(controls_.connect(), &QPushButton::clicked, this, &ConsoleDialog::onConnect);
    connect(controls_.disconnect(), &QPushButton::clicked, this, &ConsoleDialog::onDisconnect);
    connect(controls_.sendMessage(), &QPushButton::clicked, this, [this] {
        showQueued();
        sender_.sendFreeText();
    });
    connect(controls_.sendThisData(), &QPushButton::clicked, this, [this] {
        showQueued();
        sender_.sendCommandFrame();
    });
    connect(controls_.close(), &QPushButton::clicked, this, &ConsoleDialog::accept);
    connect(controls_.address(), &Ipv4AddressEdit::fieldChanged, this,
            &ConsoleDialog::onServerAddressFieldChanged);

    keyFilter_ =
        new ConsoleKeyFilter(this, controls_.freeText(), controls_.mode(), controls_.port());
    connect(keyFilter_, &ConsoleKeyFilter::freeTextEntered, this, [this] {
        if (channel_.hasSocket()) {
            showQueued();
            sender_.sendFreeText();
        }
    });
    connect(keyFilter_, &ConsoleKeyFilter::modeBoxLeft, this, &ConsoleDialog::onModeBoxLostFocus);
    connect(keyFilter_, &ConsoleKeyFilter::portEditLeft, this, &ConsoleDialog::onPortEditLostFocus);
    initDialog();
    // Every record reaches the Traffic window's queue through the answers' tap.
    trafficRecording_.setViewSink(&receivedTap_);
    sender_.setNote([this](std::string_view text) { trafficRecording_.recorder().note(text); });
    connector_.setBrokenNote(
        [this](const std::string& line) { trafficRecording_.recorder().note(line); });
    sender_.setTakeIn([this] { showQueued(); });
    sender_.setReceived(&receivedTap_);
    sideWindows_ = std::make_unique<SideWindows>(this, controls_.messageView(), trafficQueue_,
                                                 trafficRecording_, delimiters_, sender_);
    DialogSeat::Hooks hooks;
    hooks.startWatcher = [this] { return startWatcher(); };
    hooks.showQueued = [this] { showQueued(); };
    hooks.stopChannel = [this] { stopChannel(); };
    hooks.connected = [this] { showConnected(); };
    hooks.ended = [this] {
        sideWindows_->connectionEnded();
        showDisconnected();
    };
    hooks.connectTo = [this](const QString& host, const QString& port) {
        return connectTo(host, port);
    };
    hostMode_ =
        std::make_unique<ConsoleHostMode>(channel_, connector_, connectionWatch_, trafficRecording_,
                                          sender_, delimiters_, std::move(hooks));
    sideWindows_->setConsoleHost(&hostMode_->host());
}

ConsoleDialog::~ConsoleDialog()
{
    // The window's own destruction hides it, and the focus loss that follows
    // must reach no handler of this half-destroyed dialog.
    delete keyFilter_;
    keyFilter_ = nullptr;
    if (connector_.pending())
        cancelConnect();
    hostMode_.reset();
    stopChannel();
    sideWindows_.reset();
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
    controls_.portSpin()->setEnds(kPortSpinDownEnd, kPortSpinUpEnd);
    controls_.address()->setText(latin1(settings_.serverAddress()));

    // The channel: a plain client bound to the message view.
    channel_.setView(viewWindow_.get());
    channel_.setServerRole(false);
    channel_.setAddressHeaders(false);
    channel_.setObserver(&connectionWatch_);

    // The delimiters, in the remembered mode; the mode box follows it.
    delimiters_.setModeFlag(settings_.releaseFlag());
    controls_.mode()->setExchangeText(latin1(delimiters_.isRelease()
                                                 ? protocol::DelimiterSet::kReleaseModeText
                                                 : protocol::DelimiterSet::kDemoModeText));

    controls_.showInitialValues();
    controls_.connect()->setFocus(Qt::OtherFocusReason);
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

void ConsoleDialog::showQueued()
{
    if (viewWindow_)
        viewWindow_->flush();
}

ConsoleDialog::SocketType ConsoleDialog::socketType() const
{
    return controls_.tcp()->isChecked() ? SocketType::Tcp : SocketType::Udp;
}

void ConsoleDialog::onConnect()
{
    startConnect(textUpToNul(controls_.address()->text()), textUpToNul(controls_.port()->text()),
                 AF_INET);
}

bool ConsoleDialog::connectTo(const QString& host, const QString& port)
{
    std::string name = host.trimmed().toStdString();
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    // An IPv6 address in brackets, so that the port stays apart from it.
    if (name.find(':') != std::string::npos)
        name = "[" + name + "]";
    return startConnect(std::move(name),
                        port.isEmpty() ? textUpToNul(controls_.port()->text()) : port.toStdString(),
                        AF_UNSPEC);
}

bool ConsoleDialog::startConnect(std::string host, std::string port, int family)
{
    // One attempt at a time, and none while a socket is held.
    if (connector_.pending() || channel_.hasSocket())
        return false;
    PendingConnect::Attempt pending;
    pending.host = std::move(host);
    pending.port = std::move(port);
    pending.tcp = socketType() == SocketType::Tcp;
    pending.connectHadFocus = controls_.connect()->hasFocus();
    if (hostMode_)
        hostMode_->host().consoleConnecting();
    net::ConnectRequest request;
    request.host = pending.host;
    request.service = pending.port;
    request.family = family;
    request.type = pending.tcp ? SOCK_STREAM : SOCK_DGRAM;
    // The traffic record hears of the attempt and of its end, as it does of
    // the channel's own connects.
    if (net::ChannelObserver* observer = channel_.observer())
        observer->connectStarted(request);
    std::optional<TlsRequest> tls;
    pending.tls = TlsSettings().connectWithTls();
    if (pending.tls) {
        // Told to the record, which keeps the lines only while the user asked
        // for keys in record files; the recorder outlives every connection.
        tls = TlsSettings().request(pending.host, pending.port, [this](const std::string& line) {
            trafficRecording_.recorder().keyLog(line);
        });
    }
    connector_.start(std::move(request), std::move(tls));
    pending_.enter(std::move(pending));
    return true;
}

void ConsoleDialog::showTlsEnd(const ConnectEnd& end)
{
    QString text;
    if (end.tls && end.outcome.connected()) {
        const std::string note = end.tls->noteText(end.pinnedNow);
        trafficRecording_.recorder().note(note);
        text = QString::fromStdString(note);
    } else {
        text = tr("The last TLS connect failed: %1")
                   .arg(QString::fromStdString(end.outcome.error.text()));
    }
    sideWindows_->tlsWindow()->showConnection(text);
}

void ConsoleDialog::onConnectEnded(ConnectEnd end)
{
    net::ConnectOutcome& outcome = end.outcome;
    if (net::ChannelObserver* observer = channel_.observer())
        observer->connectEnded(outcome);
    const PendingConnect::Attempt pending = pending_.leave();
    if (pending.tls)
        showTlsEnd(end);
    if (!outcome.connected() || !channel_.adoptClient(std::move(outcome.socket))) {
        pending_.showLastAttempt(pending, outcome);
        hostMode_->host().consoleEnded(host::DeviceState::Dropped);
        return;
    }
    controls_.connect()->setToolTip(QString());
    if (!startWatcher()) {
        // A socket held without a watcher would make every later connect fail
        // until the window closes: give it back now.
        stopChannel();
        hostMode_->host().consoleEnded(host::DeviceState::Dropped);
        return;
    }

    showConnected();
    net::SocketAddress local;
    if (!pending.tcp && !channel_.queryLocalAddress(local))
        local = net::SocketAddress{};
    controls_.messageView()->replaceText(
        pending.tcp ? consoletexts::tcpConnectLine(pending.host, pending.port)
                    : consoletexts::udpConnectLine(local));
}

void ConsoleDialog::cancelConnect()
{
    const bool disconnectHadFocus = controls_.disconnect()->hasFocus();
    const net::ConnectOutcome outcome = connector_.cancel();
    if (net::ChannelObserver* observer = channel_.observer())
        observer->connectEnded(outcome);
    const PendingConnect::Attempt pending = pending_.leave();
    if (disconnectHadFocus)
        controls_.connect()->setFocus(Qt::OtherFocusReason);
    pending_.showLastAttempt(pending, outcome);
    if (hostMode_)
        hostMode_->host().consoleEnded(host::DeviceState::ClosedHere);
}

void ConsoleDialog::onDisconnect()
{
    if (connector_.pending()) {
        cancelConnect();
        return;
    }
    stopChannel();
    sideWindows_->connectionEnded();
    if (channel_.hasSocket())
        return;
    showDisconnected();
    hostMode_->host().consoleEnded(host::DeviceState::ClosedHere);
}

void ConsoleDialog::showConnected()
{
    controls_.sendMessage()->setEnabled(true);
    controls_.disconnect()->setEnabled(true);
    // The focus moves on before Connect is disabled, so it never rests on a
    // disabled button.
    if (controls_.connect()->hasFocus())
        focusNextChild();
    controls_.connect()->setEnabled(false);
    controls_.tcp()->setEnabled(false);
    controls_.udp()->setEnabled(false);
}

void ConsoleDialog::showDisconnected()
{
    controls_.connect()->setEnabled(true);
    if (controls_.disconnect()->hasFocus())
        focusPreviousChild();
    controls_.sendMessage()->setEnabled(false);
    controls_.disconnect()->setEnabled(false);
    controls_.tcp()->setEnabled(true);
    controls_.udp()->setEnabled(true);
}

void ConsoleDialog::onModeBoxLostFocus()
{
    settings_.storeReleaseFlag(
        delimiters_.switchDelimiterMode(latin1Bytes(controls_.mode()->exchangeText())));
    if (sideWindows_)
        sideWindows_->delimiterModeChanged();
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
    if (connector_.pending())
        cancelConnect();
    // Close ends everything: the listener and every device with it.
    if (hostMode_)
        hostMode_->host().shutdown();
    stopChannel();
    QDialog::done(result);
}

void ConsoleDialog::reject() {}

bool ConsoleDialog::event(QEvent* event)
{
    // The channel announces its events to the window; the console shows them
    // through the view only, so the announcement itself changes nothing.
    if (event->type() == SocketEvent::eventType()) {
        // A dropped connection ends the Commands window's repeats.
        const auto code = static_cast<SocketEvent*>(event)->wParam;
        if (code == static_cast<std::uintptr_t>(net::ChannelEvent::ConnectionDropped)) {
            sideWindows_->connectionEnded();
            // A device that called in and is gone frees the console for the
            // next one; a connection the console made keeps its state until
            // Disconnect.
            if (hostMode_ && hostMode_->host().consoleDevice() != 0)
                hostMode_->seat().deviceGone(hostMode_->host());
        }
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

void ConsoleDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    sideWindows_->consoleShown();
}

} // namespace app
