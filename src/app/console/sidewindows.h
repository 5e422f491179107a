#pragma once

#include "app/commands/commandswindow.h"

#include "traffic/filerecorder.h"

#include <QObject>

class QWidget;

namespace protocol
{
class DelimiterSet;
}

namespace traffic
{
class RecordingControl;
}

namespace app
{

class ConsoleHost;
class DevicesWindow;
class TlsWindow;
class MessageView;
class TrafficQueue;
class TrafficWindow;

// The console's side windows, the Traffic and the Commands window: each made
// at its first use as a child window of the console (so the console's
// modality does not block it) and shown beside it, and the application
// shortcuts and message-view requests that open them. At construction it
// reads the Traffic window's remembered "Record to file" switch, record
// format and "Record TLS keys" into the traffic record.
//
// Threads: UI thread only. The console, its message view, the queue and the
// record outlive this object; the console deletes it, with the channel
// stopped, before any of them goes.
class SideWindows : public QObject
{
    Q_OBJECT
public:
    // `commands` is how the Commands window reaches the console (it outlives
    // this object). `delimiters` is the console's delimiter set,
    // whose mode the Traffic window's Frames column decodes in.
    SideWindows(QWidget* console, MessageView* view, TrafficQueue& queue,
                traffic::RecordingControl& recording, const protocol::DelimiterSet& delimiters,
                ConsoleLink& commands);
    // Deletes the windows it made.
    ~SideWindows() override;

    // Shows the Traffic window (made at the first call), raised and active.
    // Ctrl+T anywhere in the console and the message view's "Traffic…" call it.
    void showTrafficWindow();
    // The Traffic window, or nullptr before it is first shown. When recording
    // to files is on as the console is first shown (remembered, or --record),
    // it opens then, beside the console, which keeps the focus.
    TrafficWindow* trafficWindow() const { return trafficWindow_; }
    // The command line's --record-format: the record files' format for this
    // run, whatever the Traffic window's remembered choice, which shows it and
    // cannot change it. Without it the remembered choice is used.
    void fixRecordFormat(traffic::FileRecorder::Format format);
    // The command line's --record-tls-keys: the TLS keys go into the pcapng
    // record files for this run, whatever the Traffic window's remembered
    // choice, which shows it and cannot change it.
    void fixRecordTlsKeys(bool on);
    // The console's showEvent: the first call opens the Traffic window when
    // recording to files is on; later calls do nothing.
    void consoleShown();
    // The console's delimiter mode changed: the Traffic window's queue reads
    // the records that come from now on for frames in the new one (it reads
    // them in the console's mode from the start, window made or not).
    void delimiterModeChanged();

    // Shows the Commands window (made at the first call, beside the console),
    // raised and active. Ctrl+K anywhere in the console or its windows and
    // the message view's "Commands…" call it.
    void showCommandsWindow();
    // The Commands window, made hidden at the first call; Ctrl+1 … Ctrl+9
    // send its saved commands 1 … 9 whether it is shown or not.
    CommandsWindow* commandsWindow();
    // The connection ended (closed or dropped): ends the Commands window's
    // repeats, if that window was made.
    void connectionEnded();

    // The console's host mode, which the Devices window shows (it outlives
    // this object); set once, before the window is first shown.
    void setConsoleHost(ConsoleHost* host) { consoleHost_ = host; }
    // Shows the Devices window (made at the first call, beside the console),
    // raised and active. Ctrl+L anywhere in the console or its windows and
    // the message view's "Devices…" call it.
    void showDevicesWindow();
    // The Devices window, made hidden at the first call.
    DevicesWindow* devicesWindow();
    // Shows the TLS window (made at the first call), raised and active.
    // Ctrl+E anywhere in the console or its windows and the message view's
    // "TLS…" call it.
    void showTlsWindow();
    // The TLS window, made hidden at the first call.
    TlsWindow* tlsWindow();

private:
    void setUpTraffic(MessageView* view);
    void setUpCommands(MessageView* view);
    void openTrafficWindow(bool activate);
    void setRecordFormat(traffic::FileRecorder::Format format);

    QWidget* console_;
    TrafficQueue& trafficQueue_;
    traffic::RecordingControl& trafficRecording_;
    const protocol::DelimiterSet& delimiters_;
    ConsoleLink& commandConsole_;
    TrafficWindow* trafficWindow_ = nullptr;
    bool recordFormatFixed_ = false;
    bool recordTlsKeysFixed_ = false;
    bool shown_ = false;
    CommandsWindow* commandsWindow_ = nullptr;
    ConsoleHost* consoleHost_ = nullptr;
    DevicesWindow* devicesWindow_ = nullptr;
    TlsWindow* tlsWindow_ = nullptr;
};

} // namespace app
