#include "sidewindows.h"

#include "app/devices/deviceswindow.h"
#include "app/settings/qtsettingsstore.h"
#include "app/tls/tlswindow.h"
#include "app/traffic/recordformatbox.h"
#include "app/traffic/recordtlskeysbox.h"
#include "app/traffic/trafficqueue.h"
#include "app/traffic/trafficwindow.h"
#include "app/view/messageview.h"

#include "protocol/delimiterset.h"

#include "traffic/recordingcontrol.h"

#include <QShortcut>
#include <QWidget>

namespace app
{

SideWindows::SideWindows(QWidget* console, MessageView* view, TrafficQueue& queue,
                         traffic::RecordingControl& recording,
                         const protocol::DelimiterSet& delimiters, ConsoleLink& commands)
    : console_(console), trafficQueue_(queue), trafficRecording_(recording),
      delimiters_(delimiters), commandConsole_(commands)
{
    // Frames are read from the first record on, so that what came before the
    // Traffic window was first opened has its Frames cells too.
    trafficQueue_.setDelimiterMode(delimiters_.mode());
    setUpTraffic(view);
    setUpCommands(view);
}

SideWindows::~SideWindows()
{
    delete trafficWindow_;
    delete commandsWindow_;
    delete devicesWindow_;
    delete tlsWindow_;
}

void SideWindows::setUpTraffic(MessageView* view)
{
    // Record files are written when the window's remembered switch says so
    // (or the command line asks).
    QtSettingsStore settings;
    traffic::FileRecorder::Options files = trafficRecording_.fileOptions();
    files.format = RecordFormatBox::remembered(settings);
    trafficRecording_.setFileOptions(files);
    trafficRecording_.setRecordTlsKeys(RecordTlsKeysBox::remembered(settings));
    trafficRecording_.setRecordingEnabled(TrafficWindow::recordToFileRemembered(settings));

    // An application shortcut: Ctrl+T works whichever control has the focus,
    // also in the Traffic window itself.
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), console_);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, &SideWindows::showTrafficWindow);
    connect(view, &MessageView::trafficRequested, this, &SideWindows::showTrafficWindow);
}

void SideWindows::delimiterModeChanged()
{
    trafficQueue_.setDelimiterMode(delimiters_.mode());
}

void SideWindows::showTrafficWindow()
{
    openTrafficWindow(true);
}

void SideWindows::openTrafficWindow(bool activate)
{
    // A child window of the console, so the console's modality does not block it.
    if (!trafficWindow_) {
        trafficWindow_ = new TrafficWindow(trafficQueue_, console_);
        connect(trafficWindow_, &TrafficWindow::recordToFileChanged, this,
                [this](bool on) { trafficRecording_.setRecordingEnabled(on); });
        connect(trafficWindow_, &TrafficWindow::recordFormatChanged, this,
                [this](traffic::FileRecorder::Format format) { setRecordFormat(format); });
        connect(trafficWindow_, &TrafficWindow::recordTlsKeysChanged, this,
                [this](bool on) { trafficRecording_.setRecordTlsKeys(on); });
        trafficWindow_->setRecordingStatus(
            [this] { return QString::fromStdString(trafficRecording_.statusText()); });
        // --record may have switched recording on for this run only.
        trafficWindow_->showRecordToFile(trafficRecording_.recordingEnabled());
        if (recordFormatFixed_)
            trafficWindow_->fixRecordFormat(trafficRecording_.fileOptions().format);
        if (recordTlsKeysFixed_)
            trafficWindow_->fixRecordTlsKeys(trafficRecording_.recordTlsKeys());
    }
    trafficWindow_->showBeside(console_, activate);
}

void SideWindows::setRecordFormat(traffic::FileRecorder::Format format)
{
    traffic::FileRecorder::Options files = trafficRecording_.fileOptions();
    if (files.format == format)
        return;
    files.format = format;
    trafficRecording_.setFileOptions(files);
}

void SideWindows::fixRecordFormat(traffic::FileRecorder::Format format)
{
    recordFormatFixed_ = true;
    setRecordFormat(format);
    if (trafficWindow_)
        trafficWindow_->fixRecordFormat(format);
}

void SideWindows::fixRecordTlsKeys(bool on)
{
    recordTlsKeysFixed_ = true;
    trafficRecording_.setRecordTlsKeys(on);
    if (trafficWindow_)
        trafficWindow_->fixRecordTlsKeys(on);
}

void SideWindows::consoleShown()
{
    if (shown_)
        return;
    shown_ = true;
    // Recording to files on from the start (remembered, or --record): the
    // Traffic window opens beside the console with its recording line, so
    // that no recording runs unseen. Queued, so that the console has its
    // place first; the console keeps the focus.
    if (trafficRecording_.recordingEnabled())
        QMetaObject::invokeMethod(
            this,
            [this] {
                openTrafficWindow(false);
                // Some platforms activate every window that is shown.
                console_->activateWindow();
            },
            Qt::QueuedConnection);
}

void SideWindows::setUpCommands(MessageView* view)
{
    // Application shortcuts, as Ctrl+T: they work in the console and in its
    // windows.
    const auto shortcut = [this](QKeySequence keys, auto slot) {
        auto* s = new QShortcut(keys, console_);
        s->setContext(Qt::ApplicationShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_K), [this] { showCommandsWindow(); });
    for (int i = 0; i < CommandsWindow::kMaxShortcutCommands; ++i)
        shortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + i)),
                 [this, i] { commandsWindow()->sendShortcut(i); });
    connect(view, &MessageView::commandsRequested, this, &SideWindows::showCommandsWindow);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_L), [this] { showDevicesWindow(); });
    connect(view, &MessageView::devicesRequested, this, &SideWindows::showDevicesWindow);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { showTlsWindow(); });
    connect(view, &MessageView::tlsRequested, this, &SideWindows::showTlsWindow);
}

TlsWindow* SideWindows::tlsWindow()
{
    // A child window of the console, so the console's modality does not block it.
    if (!tlsWindow_)
        tlsWindow_ = new TlsWindow(console_);
    return tlsWindow_;
}

void SideWindows::showTlsWindow()
{
    tlsWindow()->showBeside(console_);
}

DevicesWindow* SideWindows::devicesWindow()
{
    // A child window of the console, so the console's modality does not block it.
    if (!devicesWindow_ && consoleHost_)
        devicesWindow_ = new DevicesWindow(*consoleHost_, console_);
    return devicesWindow_;
}

void SideWindows::showDevicesWindow()
{
    if (DevicesWindow* window = devicesWindow())
        window->showBeside(console_);
}

CommandsWindow* SideWindows::commandsWindow()
{
    // A child window of the console, so the console's modality does not block it.
    if (!commandsWindow_)
        commandsWindow_ = new CommandsWindow(commandConsole_, console_);
    return commandsWindow_;
}

void SideWindows::showCommandsWindow()
{
    commandsWindow()->showBeside(console_);
}

void SideWindows::connectionEnded()
{
    if (commandsWindow_)
        commandsWindow_->connectionEnded();
}

} // namespace app
