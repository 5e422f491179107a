#include "clientapp.h"

#include "consoledialog.h"
#include "consoleoptions.h"
#include "consolesettings.h"
#include "startupconnect.h"

#include "app/settings/qtsettingsstore.h"
#include "app/tls/tlssettings.h"
#include "app/traffic/recordreviewwindow.h"

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace app
{

namespace
{

constexpr char kNoDisplayText[] =
    "%s: no display found (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset).\n"
    "The console needs a desktop session; start it from a graphical terminal, or try it\n"
    "under a virtual X server: xvfb-run -a %s\n";
constexpr char kDisplayFailedText[] = "%s: cannot open the display: %s\n";

const char* programName = "socketclient";
// Names the desktop entry and icon, so that desktops match the window to them.
constexpr char kDesktopFileName[] = "org.quorvel.SocketClient";
QtMessageHandler previousHandler = nullptr;

bool environmentSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Qt ends the process with abort() when its platform cannot start (for
// instance a DISPLAY that nothing answers on). While the QApplication is being
// made, that fatal message becomes a clear line and a plain exit status.
void startupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message)
{
    if (type == QtFatalMsg) {
        const QByteArray text = message.toLocal8Bit();
        std::fprintf(stderr, kDisplayFailedText, programName, text.constData());
        std::fflush(stderr);
        std::_Exit(ClientApp::kExitNoDisplay);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

// The executable's base name, as Qt takes it for the application's name.
QString baseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return QString::fromLocal8Bit(slash != nullptr ? slash + 1 : path);
}

// --record-limit applies to whatever records to files in this run, and so
// do --record-format and --record-tls-keys, over the Traffic window's
// remembered choices; --record switches recording on, into its folder, for
// this run only.
void applyRecordOptions(const ConsoleOptions& options, ConsoleDialog& console)
{
    traffic::RecordingControl& recording = console.trafficRecording();
    traffic::FileRecorder::Options files = recording.fileOptions();
    if (const std::optional<std::uint64_t> limit = options.recordLimitBytes())
        files.diskLimitBytes = *limit;
    const std::optional<traffic::FileRecorder::Format> format = options.recordFormat();
    if (format)
        files.format = *format;
    const QString folder = options.recordFolder();
    if (!folder.isEmpty())
        files.folder = QFile::encodeName(folder).toStdString();
    recording.setFileOptions(files);
    if (format)
        console.fixRecordFormat(*format);
    if (options.recordTlsKeys()) {
        console.fixRecordTlsKeys(true);
        // Text files take no keys: say so rather than record none unseen.
        if (files.format != traffic::FileRecorder::Format::Pcapng)
            std::fprintf(stderr,
                         "%s: --record-tls-keys: the record files are text, which carry no "
                         "keys; add --record-format pcapng.\n",
                         qPrintable(QCoreApplication::applicationName()));
    }
    if (!folder.isEmpty())
        recording.setRecordingEnabled(true);
}

// --listen: TCP and UDP from the start, with --tls TCP with TLS (--cert and
// --key, or the console's own certificate). A port or certificate that
// cannot be had is told on stderr and in the Devices window, which opens
// once the console shows.
void applyListenOption(const ConsoleOptions& options, ConsoleDialog& console)
{
    const std::optional<net::Endpoint> local = options.listenAt();
    if (!local)
        return;
    ListenTls tls;
    tls.on = options.tls();
    tls.certificateFile = QFile::encodeName(options.certificateFile()).toStdString();
    tls.keyFile = QFile::encodeName(options.keyFile()).toStdString();
    if (console.consoleHost().listen(host::DeviceHost::Both, *local, tls).ok())
        return;
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(console.consoleHost().listenStatus()));
    QMetaObject::invokeMethod(
        &console,
        [&console] {
            console.showDevicesWindow();
            console.activateWindow();
        },
        Qt::QueuedConnection);
}

// --connect: once the console shows, as connectAtStart() says.
void applyConnectOption(const ConsoleOptions& options, ConsoleDialog& console)
{
    const std::optional<net::HostAndPort> target = options.connectTo();
    if (!target)
        return;
    QMetaObject::invokeMethod(
        &console, [&console, target = *target] { connectAtStart(console, target); },
        Qt::QueuedConnection);
}

// SIGTERM and SIGHUP (a logout, `kill`, a closed terminal) end the console
// as its Close button does, so that the traffic record is written out. The
// handler only writes a byte to this pipe; the event loop reads it.
int endSignalPipe[2] = {-1, -1};

void onEndSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(endSignalPipe[1], &byte, 1);
    errno = saved;
}

// Null when the pipe cannot be made: the signals then end the process as
// before. `end` closes what is open, as its Close button does.
std::unique_ptr<QSocketNotifier> watchEndSignals(QObject& context, std::function<void()> end)
{
    if (::pipe2(endSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(endSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &context, [&context, end] {
        char bytes[16];
        while (::read(endSignalPipe[0], bytes, sizeof bytes) > 0) {
        }
        // A message box or file dialog open over the console would hold its
        // own loop; each is closed first (bounded: the console stays).
        for (int i = 0; i < 16; ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal == &context)
                break;
            modal->close();
        }
        end();
    });
    struct sigaction action {
    };
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    return notifier;
}

// --open-record: only the review window, until it is closed. A file that
// cannot be opened at all is told on stderr before any window shows.
int reviewRecord(const QString& path)
{
    // Frames are read in the delimiter mode the console last used.
    const bool release = ConsoleSettings().releaseFlag() != 0;
    RecordReviewWindow window(path, nullptr, RecordReviewWindow::kDefaultLimits,
                              release ? protocol::DelimiterMode::Release
                                      : protocol::DelimiterMode::Demo);
    // The reading thread opens the file; the window shows once it is a record.
    int status = ClientApp::kExitOk;
    const std::unique_ptr<QSocketNotifier> endSignals = watchEndSignals(window, [&window] {
        window.close();
        QApplication::exit(ClientApp::kExitOk);
    });
    QObject::connect(&window, &RecordReviewWindow::opened, &window, [&window] { window.show(); });
    QObject::connect(&window, &RecordReviewWindow::readFinished, &window, [&](bool ok) {
        if (ok || window.wasOpened())
            return;
        std::fprintf(stderr, "%s: cannot open the record: %s\n", programName,
                     window.error().text().c_str());
        status = ClientApp::kExitCannotOpenRecord;
        QApplication::exit(status);
    });
    QApplication::exec();
    return status;
}

} // namespace

bool ClientApp::displayNamed(int argc, char** argv)
{
    if (environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY") ||
        environmentSet("QT_QPA_PLATFORM"))
        return true;
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "-platform") == 0 ||
            std::strcmp(argv[index], "--platform") == 0)
            return true;
    }
    return false;
}

int ClientApp::run(int argc, char** argv)
{
    if (argc > 0 && argv[0] != nullptr)
        programName = argv[0];
    // Writes to a peer that has gone must fail with EPIPE, never end the process.
    std::signal(SIGPIPE, SIG_IGN);

    ConsoleOptions options(baseName(programName), QStringLiteral(SOCKETCLIENT_VERSION));
    if (options.read(argc, argv) != ConsoleOptions::Action::Run)
        return options.report();

    if (!displayNamed(argc, argv)) {
        std::fprintf(stderr, kNoDisplayText, programName, programName);
        return kExitNoDisplay;
    }

    previousHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication application(argc, argv);
    qInstallMessageHandler(previousHandler);
    // QApplication has taken its own arguments out; the rest must be ours.
    if (options.check(QCoreApplication::arguments()) != ConsoleOptions::Action::Run)
        return options.report();

    // The application's name stays the executable's: it names the settings file.
    QCoreApplication::setApplicationVersion(QStringLiteral(SOCKETCLIENT_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    QCoreApplication::setOrganizationName(
        QString::fromLatin1(QtSettingsStore::kOrganisation.data(),
                            static_cast<qsizetype>(QtSettingsStore::kOrganisation.size())));
    if (const QString record = options.openRecordFile(); !record.isEmpty())
        return reviewRecord(record);
    {
        TlsSettings::forceForThisRun(options.tls());
        ConsoleDialog console;
        const std::unique_ptr<QSocketNotifier> endSignals =
            watchEndSignals(console, [&console] { console.accept(); });
        applyRecordOptions(options, console);
        applyListenOption(options, console);
        applyConnectOption(options, console);
        console.exec();
    }
    return kExitOk;
}

} // namespace app
