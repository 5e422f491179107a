#pragma once

#include "consoletemplate.h"
#include "qtsettingsstore.h"
#include "trafficqueue.h"

#include "protocol/delimiterset.h"
#include "protocol/messageviewchannel.h"

#include <QDialog>
#include <QIcon>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace app
{

class DialogComboBox;
class Ipv4AddressEdit;
class MessageView;
class PortSpin;
class QtViewWindow;
class TrafficWindow;

// The console: the program's only window, a modal dialog through which the
// operator picks the server address, port and socket type, connects, sends free
// text or a command frame, and watches all traffic in the message view.
//
// The window is built from ConsoleTemplate and laid out in dialog units of its
// font; its caption bar has no close box. The constructor also initialises the
// dialog: it fills the combo lists, reads the remembered port, server address
// and delimiter mode, binds the channel to the message view, resets the
// delimiters and shows the initial field values, with the keyboard focus on
// "Connect\nto Server". Console state: Disconnected (Connect, TCP and UDP
// enabled; Send message and Disconnect disabled) or Connected (the reverse).
//
// Keys: Esc does nothing in any control of the window (an open drop-down list
// is a window of its own and closes on Esc as usual). Enter in the free-text
// edit sends its text when connected and is consumed either way. Enter in the
// message view starts a new line there. Enter in any other control presses
// the focused push button, or else the default button "Send this data".
//
// Settings (Params section): SocketPort is written when the port edit loses
// the focus, SocketIp whenever the operator changes a field of the address,
// bRelease whenever the mode box loses the focus.
//
// Ending: "Close\nSocket Client" and a close request from the window manager
// end the dialog with QDialog::Accepted; ending the dialog and destroying it
// both stop the channel first, so no watcher outlives the window or its view.
// A SocketEvent that reaches the dialog changes nothing.
//
// Threads: everything here runs on the UI thread, which also runs every channel
// operation; the channel's watcher reaches the window only through the view.
class ConsoleDialog : public QDialog
{
    Q_OBJECT
public:
    // Remembered values, in protocol::kParamsSection.
    static constexpr std::string_view kPortKey = "SocketPort";
    static constexpr std::string_view kServerAddressKey = "SocketIp";
    static constexpr std::string_view kAbsentPort = "0";
    static constexpr std::string_view kFirstPort = "21210";
    static constexpr std::string_view kDefaultServerAddress = "192.168.0.1";
    static constexpr std::string_view kLoopbackAddress = "127.0.0.1";
    static constexpr std::int32_t kDefaultReleaseFlag = 0;

    // The port spin's range as (lower, upper): up lowers the port, down raises it.
    static constexpr int kPortSpinLower = 21220;
    static constexpr int kPortSpinUpper = 21200;

    // One free-text message or command frame is one write from a send buffer of
    // this size, closed by CR LF and a NUL byte.
    static constexpr std::size_t kSendBufferSize = 2048;
    static constexpr std::size_t kLineEndBytes = 3;
    static constexpr int kFreeTextMaxLength = static_cast<int>(kSendBufferSize - kLineEndBytes);
    static constexpr int kDataMaxLength = static_cast<int>(protocol::DelimiterSet::kDataMaxLength);
    static constexpr int kMessageMaxLength =
        static_cast<int>(protocol::DelimiterSet::kMessageMaxLength);
    // Text room for the local host's dotted address.
    static constexpr std::size_t kLocalAddressSize = 256;

    // The fixed buffers of "Send this data".
    static constexpr std::size_t kEchoBufferSize = 1024;
    static constexpr std::size_t kMediaBufferSize = 64;
    static constexpr std::size_t kDeviceIdBufferSize = 64;
    static constexpr std::size_t kDataBufferSize = 64;
    static constexpr std::size_t kCommandBufferSize = 11;
    static constexpr std::size_t kMessageBufferSize = 124;
    static constexpr std::size_t kEndOfDataBufferSize = 64;
    static constexpr std::size_t kTerminatorBufferSize = 64;

    // Field values shown when the dialog opens.
    static constexpr std::string_view kStartDelimiterValue = "[";
    static constexpr std::string_view kMediaValue = "B";
    static constexpr std::string_view kDeviceIdValue = "A1";
    static constexpr std::string_view kDataValue = "39123439";
    static constexpr std::string_view kEqualDelimiterValue = "=";
    static constexpr std::string_view kCommandValue = "ENT";
    static constexpr std::string_view kDashDelimiterValue = "-";
    static constexpr std::string_view kMessageValue = "Message / Description";
    static constexpr std::string_view kEndOfDataValue = "\\r\\n"; // four characters, not CR LF
    static constexpr std::string_view kTerminatorValue = "0";

    // Height of a combo box's field, and of one entry of its list, in dialog
    // units; the rest of a combo's template box is its list.
    static constexpr int kComboFieldHeight = 14;
    static constexpr int kComboEntryHeight = 8;

    explicit ConsoleDialog(QWidget* parent = nullptr);
    ~ConsoleDialog() override;

    // The control with this template id, or nullptr (also for kStatic).
    QWidget* control(int id) const;

    // Copies the controls to the members (true) or the members to the
    // controls (false). Text: the whole text. Radio: the index of the checked
    // socket type (0 TCP, 1 UDP, -1 none). Combo: see DialogComboBox. Texts are
    // single-byte (Latin-1); a character beyond Latin-1 reads as '?'.
    void updateData(bool saveAndValidate);

    // Stops the channel, then ends the dialog.
    void done(int result) override;
    // Esc and every other rejection are ignored: the dialog ends only through
    // done() (its Close button or a close request).
    void reject() override;

    // The Traffic window's intake, for whatever produces the channel's
    // records; it exists as long as the dialog does.
    traffic::RecordSink& trafficSink() { return trafficQueue_; }
    // Shows the Traffic window (made at the first call), raised and active.
    // Ctrl+T anywhere in the console and the message view's "Traffic…" call it.
    void showTrafficWindow();
    // The Traffic window, or nullptr before the first showTrafficWindow().
    TrafficWindow* trafficWindow() const { return trafficWindow_; }

protected:
    // Starts the channel's watcher; true when it runs. Overridable so that a
    // test can make the start fail.
    virtual bool startWatcher();
    protocol::MessageViewChannel& channel() { return channel_; }

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildControls();
    void setUpTraffic();
    QWidget* createControl(const ConsoleTemplate::Control& control);
    void layoutControls();
    void fillComboLists();
    void initDialog();
    void stopChannel();
    void showFieldMessage(std::string_view text);

    void onConnect();
    void onDisconnect();
    void onSendMessage();
    void onSendCommandFrame();
    void onModeBoxLostFocus();
    void onPortEditLostFocus();
    void onServerAddressFieldChanged();

    QtSettingsStore settings_;

    // The widgets, one per template entry (labels and frames included).
    std::array<QWidget*, ConsoleTemplate::kControls.size()> widgets_{};
    QPushButton* connectButton_ = nullptr;
    QPushButton* disconnectButton_ = nullptr;
    QPushButton* sendMessageButton_ = nullptr;
    QPushButton* sendThisDataButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QLineEdit* freeTextEdit_ = nullptr;
    QLineEdit* portEdit_ = nullptr;
    QLineEdit* dataEdit_ = nullptr;
    QLineEdit* messageEdit_ = nullptr;
    PortSpin* portSpin_ = nullptr;
    Ipv4AddressEdit* addressEdit_ = nullptr;
    QRadioButton* tcpRadio_ = nullptr;
    QRadioButton* udpRadio_ = nullptr;
    MessageView* messageView_ = nullptr;
    DialogComboBox* mediaCombo_ = nullptr;
    DialogComboBox* deviceIdCombo_ = nullptr;
    DialogComboBox* commandCombo_ = nullptr;
    DialogComboBox* modeCombo_ = nullptr;

    // Members that mirror the controls (single-byte texts).
    std::string portText_;
    int socketType_ = 0; // 0 TCP, 1 UDP
    std::string startDelimiterText_;
    std::string mediaText_;
    std::string deviceIdText_;
    std::string dataText_;
    std::string equalDelimiterText_;
    std::string commandText_;
    std::string dashDelimiterText_;
    std::string messageText_;
    std::string endOfDataText_;
    std::string terminatorText_;
    std::string modeText_;

    // The buffers of "Send this data", emptied at every send.
    char echoBuffer_[kEchoBufferSize] = {};
    char mediaBuffer_[kMediaBufferSize] = {};
    char deviceIdBuffer_[kDeviceIdBufferSize] = {};
    char dataBuffer_[kDataBufferSize] = {};
    char commandBuffer_[kCommandBufferSize] = {};
    char messageBuffer_[kMessageBufferSize] = {};
    char endOfDataBuffer_[kEndOfDataBufferSize] = {};
    char terminatorBuffer_[kTerminatorBufferSize] = {};

    QIcon icon_;
    bool filtering_ = false;

    // The queue outlives the channel that feeds it (declared before it); the
    // window is deleted with the channel stopped, before the queue goes.
    TrafficQueue trafficQueue_;
    TrafficWindow* trafficWindow_ = nullptr;

    // Declared last so that it is destroyed first: the channel stops its
    // watcher before the view window it appends through goes away.
    std::unique_ptr<QtViewWindow> viewWindow_;
    protocol::MessageViewChannel channel_;
};

} // namespace app
