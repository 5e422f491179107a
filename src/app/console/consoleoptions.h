#pragma once

#include "base/error.h"
#include "socket/addresslookup.h"
#include "socket/endpoint.h"
#include "traffic/filerecorder.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace app
{

// The console's own command line: -h/--help, -v/--version, --record DIR
// (record the traffic to files in DIR for this run) and --record-limit MB (the
// disk those files may take, in MB of 1,048,576 bytes, 1 to kMaxRecordLimitMb;
// another value is a usage error) and --record-format text|pcapng (the files'
// format; another value is a usage error) and --record-tls-keys (pcapng
// record files carry the TLS session keys for this run) and --open-record FILE (open only a
// review window of that record file, no console; an empty FILE, or the
// record options beside it, are a usage error) and --listen [ADDR:]PORT (listen
// for devices that call in, TCP and UDP, from the start; an address or port
// that cannot be read is a usage error), --tls (encrypt with TLS: the console's
// connection, and with --listen the TCP devices), --cert FILE --key FILE (the
// listening certificate and key, PEM; one without the other is a usage error)
// and --connect HOST[:PORT] (connect at the start; HOST a name, an IPv4
// address or an IPv6 one in brackets, a bare IPv6 address taken whole; PORT
// 1..65535 when given; anything else a usage error). Further options go in the
// constructor, with an accessor; their values are final once check() has
// returned Action::Run.
//
// It is read twice. read() takes the raw argv before any QApplication or
// display exists, so --help and --version work on a machine without a
// desktop session; it knows nothing of Qt's own arguments (-platform NAME,
// -style NAME, ...) and reports no errors. Once the QApplication has taken
// its own arguments out, check() reads what is left and reports unknown
// options and stray arguments as a usage error. Both return the action to
// take; report() prints the help, version or error text and gives the exit
// code for it. Not copyable; main thread only.
class ConsoleOptions
{
public:
    enum class Action { Run, ShowHelp, ShowVersion, UsageError };

    static constexpr int kExitShown = 0;
    static constexpr int kExitUsage = 2;
    static constexpr std::uint64_t kBytesPerMb = 1024 * 1024;
    static constexpr std::uint64_t kMaxRecordLimitMb = 1024 * 1024; // 1 TB

    // programName is the name shown in the help, version and error texts;
    // version the program's version.
    ConsoleOptions(const QString& programName, const QString& version);

    Action read(int argc, char** argv);
    Action check(const QStringList& arguments);

    // Prints the text for the last action (help and version on stdout, a
    // usage error on stderr) and returns kExitShown or kExitUsage. Nothing
    // is printed for Action::Run, which returns kExitShown.
    int report() const;

    Action action() const { return action_; }
    QString helpText() const;
    QString versionText() const;
    // Why the last check() found the arguments unusable (BadArgument); no
    // failure unless the action is UsageError.
    const base::Error& error() const { return error_; }

    // The folder given with --record (empty when none), and the limit given
    // with --record-limit in bytes (nullopt when none or not valid).
    QString recordFolder() const;
    std::optional<std::uint64_t> recordLimitBytes() const;
    // The format given with --record-format (nullopt when none or not valid).
    std::optional<traffic::FileRecorder::Format> recordFormat() const;
    // True when --record-tls-keys is given.
    bool recordTlsKeys() const;

    // The file given with --open-record (empty when none).
    QString openRecordFile() const;

    // Where --listen asks to listen (nullopt when not given or not valid).
    std::optional<net::Endpoint> listenAt() const;
    // Whether --tls was given: the console connects, and listens, with TLS.
    bool tls() const;
    // The files given with --cert and --key (empty when none).
    QString certificateFile() const;
    QString keyFile() const;

    // What --connect names: the host without brackets, the port empty when
    // not given (nullopt when not given or not valid).
    std::optional<net::HostAndPort> connectTo() const;

private:
    Action parse(const QStringList& arguments, bool reportErrors);

    QString programName_;
    QString version_;
    QCommandLineParser parser_;
    QCommandLineOption help_;
    QCommandLineOption versionOption_;
    QCommandLineOption record_;
    QCommandLineOption recordLimit_;
    QCommandLineOption recordFormat_;
    QCommandLineOption recordTlsKeys_;
    QCommandLineOption openRecord_;
    QCommandLineOption listen_;
    QCommandLineOption tls_;
    QCommandLineOption connect_;
    QCommandLineOption certificate_;
    QCommandLineOption key_;
    Action action_ = Action::Run;
    base::Error error_;
};

} // namespace app
