#pragma once

#include <string_view>

namespace app
{

// The application: one QApplication and the console run modally, then the end.
//
// run() first reads the command line (ConsoleOptions): --help and --version
// print their text and return 0 without opening a display. An unknown option
// or argument returns ConsoleOptions::kExitUsage (2) with a message on
// stderr, before any window shows; only Qt knows its own options, so that
// check waits for the QApplication, and without a display the missing display
// is reported instead. --record DIR and --record-limit MB go to the console's
// traffic record (ConsoleDialog::trafficRecording()). With --open-record FILE
// it shows only a RecordReviewWindow of FILE, no console, and returns 0 once
// that is closed, or kExitCannotOpenRecord (3) with a message on stderr and
// no window when FILE cannot be opened as a record at all. --listen and
// --connect act once the console shows (connectAtStart()). run() makes the process
// ready for sockets (SIGPIPE ignored, a second guard next to the socket
// layer's MSG_NOSIGNAL), names the
// settings root (organisation "Quorvel"; the application keeps the
// executable's base name) and the desktop entry (org.quorvel.SocketClient),
// runs the ConsoleDialog with exec() and returns the exit code: 0 after the
// console has closed. It returns 1 with a message on stderr, and shows no
// window, when there is no display to open: neither DISPLAY, WAYLAND_DISPLAY,
// QT_QPA_PLATFORM nor a -platform argument names one, or Qt cannot connect to
// the one named (where Qt would otherwise abort). Call once, on the main thread.
class ClientApp
{
public:
    static constexpr int kExitOk = 0;
    static constexpr int kExitNoDisplay = 1;
    static constexpr int kExitCannotOpenRecord = 3;

    int run(int argc, char** argv);

    // True when the environment or the arguments name a display or a Qt
    // platform to open.
    static bool displayNamed(int argc, char** argv);
};

} // namespace app
