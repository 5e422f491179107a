#pragma once

#include "app/commands/receivedtap.h"
#include "app/devices/connectionwatch.h"
#include "consoleconnector.h"
#include "consolecontrols.h"
#include "consolehostmode.h"
#include "consolesender.h"
#include "consolesettings.h"
#include "pendingconnect.h"
#include "sidewindows.h"

#include "app/traffic/trafficqueue.h"

#include "protocol/messageviewchannel.h"
#include "traffic/recordingcontrol.h"

#include <QDialog>
#include <QIcon>

#include <memory>
#include <string>

namespace app
{

class ConsoleKeyFilter;
class DevicesWindow;
class QtViewWindow;
class TlsWindow;
class TrafficWindow;

// The console: the program's only window, a modal dialog through which the
// operator picks the server address, port and socket type, connects, sends free
// text or a command frame, and watches all traffic in the message view.
//
// The window is built from ConsoleTemplate and laid out in dialog units of its
// font (ConsoleControls); its caption bar has no close box. The constructor also
// initialises the dialog: it fills the combo lists, reads the remembered port,
// server address and delimiter mode, binds the channel to the message view,
// sets the delimiter mode and shows the initial field values, with the keyboard
// focus on "Connect\nto Server". Console state: Disconnected (Connect, TCP and
// UDP enabled; Send message and Disconnect disabled) or Connected (the
// reverse).
//
// Connecting runs in the background (BackgroundConnect): while the attempt is
// pending the window answers input, the mouse shows a busy cursor, Connect is
// disabled and Disconnect enabled; Disconnect cancels the attempt, and so
// does ending the dialog. When the attempt ends the connect steps run on the
// UI thread: on success the Connected state, the focus one control on from
// Connect and the connect line in the view; on failure (a cancelled attempt
// included) nothing changes but the Connect button's tooltip, which tells the
// last attempt's server, socket type, reason and duration.
//
// Keys (ConsoleKeyFilter): Esc does nothing in any control of the window (an
// open drop-down list is a window of its own and closes on Esc as usual).
// Enter in the free-text edit sends its text when connected and is consumed
// either way. Enter in the message view starts a new line there. Enter in any
// other control presses the focused push button, or else the default button
// "Send this data".
//
// Settings (ConsoleSettings, Params section): SocketPort is written when the
// port edit loses the focus, SocketIp whenever the operator changes a field of
// the address, bRelease whenever the mode box loses the focus.
//
// Ending: "Close\nSocket Client" and a close request from the window manager
// end the dialog with QDialog::Accepted; ending the dialog and destroying it
// both stop the channel first, so no watcher outlives the window or its view.
// A SocketEvent that reaches the dialog changes nothing.
//
// Host mode (ConsoleHost, the Devices window): a device that calls in while
// the console has no connection becomes its device through the channel's
// adoptAccepted(), which announces it as the server role does ("Connection
// Established"), and the dialog takes its Connected state. When that device
// is gone (closed by it, dropped, or Disconnect) the dialog goes back to
// Disconnected and the next device to connect is taken.
//
// Threads: everything here runs on the UI thread, which also runs every channel
// operation; the channel's watcher reaches the window only through the view,
// its send queue's writer (sends the socket could not take at once) only the
// traffic record.
class ConsoleDialog : public QDialog
{
    Q_OBJECT
public:
    enum class SocketType { Tcp, Udp };

    // The port spin's ends: the up arrow lowers the port down to kPortSpinUpEnd,
    // the down arrow raises it up to kPortSpinDownEnd.
    static constexpr int kPortSpinDownEnd = 21220;
    static constexpr int kPortSpinUpEnd = 21200;

    explicit ConsoleDialog(QWidget* parent = nullptr);
    ~ConsoleDialog() override;

    // The control with this template id, or nullptr (also for kStatic).
    QWidget* control(int id) const { return controls_.control(id); }
    // True while a connect attempt runs in the background.
    bool connectPending() const { return connector_.pending(); }

    // The channel's traffic record: what the Traffic window shows and, when
    // switched on (or asked for on the command line), the record files.
    traffic::RecordingControl& trafficRecording() { return trafficRecording_; }

    // Stops the channel, then ends the dialog.
    void done(int result) override;
    // Esc and every other rejection are ignored: the dialog ends only through
    // done() (its Close button or a close request).
    void reject() override;

    // The Traffic window's intake, for whatever produces the channel's
    // records; it exists as long as the dialog does.
    traffic::RecordSink& trafficSink() { return trafficQueue_; }
    // The side windows (SideWindows, which states what each does).
    void showTrafficWindow() { sideWindows_->showTrafficWindow(); }
    TrafficWindow* trafficWindow() const { return sideWindows_->trafficWindow(); }
    void fixRecordFormat(traffic::FileRecorder::Format format)
    {
        sideWindows_->fixRecordFormat(format);
    }
    void fixRecordTlsKeys(bool on) { sideWindows_->fixRecordTlsKeys(on); }
    void showCommandsWindow() { sideWindows_->showCommandsWindow(); }
    CommandsWindow* commandsWindow() { return sideWindows_->commandsWindow(); }
    void showDevicesWindow() { sideWindows_->showDevicesWindow(); }
    DevicesWindow* devicesWindow() { return sideWindows_->devicesWindow(); }
    TlsWindow* tlsWindow() { return sideWindows_->tlsWindow(); }
    // Host mode: the listener and the devices that call in.
    ConsoleHost& consoleHost() { return hostMode_->host(); }

    // Connects as Connect does, of the type the TCP and UDP buttons say, to
    // `host`: a name, an IPv4 or an IPv6 address (brackets allowed), looked
    // up for both families; `port` empty: the port field's. The address
    // control is left as it is. The view, the record and the Connect button's
    // tooltip name an IPv6 address in brackets ("[::1]"). False, with
    // nothing started, while a connect is pending or a connection held.
    bool connectTo(const QString& host, const QString& port);

protected:
    // Starts the channel's watcher; true when it runs. Overridable so that a
    // test can make the start fail.
    virtual bool startWatcher();
    protocol::MessageViewChannel& channel() { return channel_; }

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void initDialog();
    void stopChannel();
    // Shows what the watcher has queued so far: called before a send, so that
    // what arrived before it shows before its echo and what it provokes after.
    void showQueued();
    SocketType socketType() const;

    void onConnectEnded(ConnectEnd end);
    // Notes a TLS connection's facts in the record and the TLS window, or
    // why it failed in the window.
    void showTlsEnd(const ConnectEnd& end);
    void cancelConnect();

    void onConnect();
    // What Connect and connectTo() share: `family` AF_INET (the address
    // control's) or AF_UNSPEC (a name or an address of either family).
    bool startConnect(std::string host, std::string port, int family);
    void onDisconnect();
    // The Connected and Disconnected states of the controls.
    void showConnected();
    void showDisconnected();

    void onModeBoxLostFocus();
    void onPortEditLostFocus();
    void onServerAddressFieldChanged();

    ConsoleControls controls_;
    ConsoleSettings settings_;
    // The process-wide set: the channel checks and the sender composes frames
    // in its mode, which the mode box switches.
    protocol::DelimiterSet& delimiters_;
    ConsoleKeyFilter* keyFilter_ = nullptr;
    QIcon icon_;
    ConsoleConnector connector_;
    PendingConnect pending_{controls_};

    // The queue outlives the channel that feeds it (declared before it); the
    // window is deleted with the channel stopped, before the queue goes.
    TrafficQueue trafficQueue_;
    // Passes the records on to the queue and keeps received bytes for the
    // automatic answers; outlives the channel as the queue does.
    ReceivedTap receivedTap_{&trafficQueue_};
    // Feeds the queue (and the record files); outlives the channel, whose
    // last stop() still reports to it.
    traffic::RecordingControl trafficRecording_;
    // The channel's observer: passes everything on to the record and keeps
    // the connection's true state for the Devices window.
    ConnectionWatch connectionWatch_{trafficRecording_.observer()};
    // The Traffic and Commands windows; deleted with the channel stopped.
    std::unique_ptr<SideWindows> sideWindows_;

    // Declared last so that it is destroyed first: the channel stops its
    // watcher before the view window it appends through goes away.
    std::unique_ptr<QtViewWindow> viewWindow_;
    protocol::MessageViewChannel channel_;
    ConsoleSender sender_;
    // Host mode. Made last, ended first: nothing is handed to the console
    // once it goes.
    std::unique_ptr<ConsoleHostMode> hostMode_;
};

} // namespace app
