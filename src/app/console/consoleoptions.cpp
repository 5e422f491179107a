#include "consoleoptions.h"

#include <cstdio>

namespace app
{

namespace
{

const QString kUsagePrefix = QStringLiteral("Usage: ");

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

ConsoleOptions::ConsoleOptions(const QString& programName, const QString& version)
    : programName_(programName), version_(version),
      help_(QStringList{QStringLiteral("h"), QStringLiteral("help")},
            QStringLiteral("Show this help and exit.")),
      versionOption_(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                     QStringLiteral("Show the program's version and exit.")),
      record_(QStringLiteral("record"),
              QStringLiteral("Record the traffic to files in <dir> for this run (made "
                             "owner-only when missing)."),
              QStringLiteral("dir")),
      recordLimit_(QStringLiteral("record-limit"),
                   QStringLiteral("The most disk the record files may take, in MB (default "
                                  "256); the oldest files are deleted first."),
                   QStringLiteral("mb")),
      recordFormat_(QStringLiteral("record-format"),
                    QStringLiteral("The record files' format: text (default) or pcapng, "
                                   "which capture tools open."),
                    QStringLiteral("format")),
      recordTlsKeys_(QStringLiteral("record-tls-keys"),
                     QStringLiteral("Write the TLS session keys into the pcapng record files for "
                                    "this run, so that a capture of the connection can be "
                                    "decrypted. Anyone who has such a file can read everything "
                                    "the session carried.")),
      openRecord_(QStringLiteral("open-record"),
                  QStringLiteral("Open the record file <file> (text or pcapng) in a "
                                 "window of its own to review it, without the console."),
                  QStringLiteral("file")),
      listen_(QStringLiteral("listen"),
              QStringLiteral("Listen for devices that call in, on TCP and UDP, at [<addr>:]<port> "
                             "(every IPv4 address when <addr> is left out); the first device to "
                             "connect becomes the console's device. Ctrl+L opens the Devices "
                             "window."),
              QStringLiteral("[addr:]port")),
      tls_(QStringLiteral("tls"),
           QStringLiteral("Encrypt with TLS for this run: the console's own connection (the "
                          "TLS window's switch, Ctrl+E; the device's certificate is checked "
                          "against the system's authorities, or shown and pinned on first use) "
                          "and, with --listen, the devices that call in over TCP.")),
      connect_(QStringLiteral("connect"),
               QStringLiteral("Connect to <host>[:<port>] at the start, over TCP or UDP as the "
                              "console's buttons say: an IPv4 address fills the server "
                              "address; a host name or an IPv6 address in brackets "
                              "([::1]:21210) leaves it as it is. Without <port>, the port "
                              "field's."),
               QStringLiteral("host[:port]")),
      certificate_(QStringLiteral("cert"),
                   QStringLiteral("The certificate (PEM) the console shows devices that call in "
                                  "with TLS; without it the console's own, made on first use."),
                   QStringLiteral("file")),
      key_(QStringLiteral("key"), QStringLiteral("The private key (PEM) of --cert."),
           QStringLiteral("file"))
{
    parser_.setApplicationDescription(QStringLiteral(
        "A desktop console for testing access-control devices (card and barcode\n"
        "readers, door controllers) over TCP or UDP: connect to a device, send\n"
        "free text or command frames and watch what comes back.\n"
        "\n"
        "Ctrl+T opens the Traffic window (every record, record files); Ctrl+K the\n"
        "Commands window: saved commands (Ctrl+1 to Ctrl+9 send them), check files\n"
        "run against the device, automatic answers; Ctrl+L the Devices window:\n"
        "listen for devices that call in; Ctrl+E the TLS window. See socketclient(1).\n"
        "\n"
        "Qt's own options, such as -platform NAME or -style NAME, are accepted too."));
    // "-platform" is one option, as Qt reads it, not the letters p, l, a...
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addOption(help_);
    parser_.addOption(versionOption_);
    parser_.addOption(record_);
    parser_.addOption(recordLimit_);
    parser_.addOption(recordFormat_);
    parser_.addOption(recordTlsKeys_);
    parser_.addOption(openRecord_);
    parser_.addOption(listen_);
    parser_.addOption(connect_);
    parser_.addOption(tls_);
    parser_.addOption(certificate_);
    parser_.addOption(key_);
}

bool ConsoleOptions::tls() const
{
    return parser_.isSet(tls_);
}

QString ConsoleOptions::certificateFile() const
{
    return parser_.isSet(certificate_) ? parser_.value(certificate_) : QString();
}

QString ConsoleOptions::keyFile() const
{
    return parser_.isSet(key_) ? parser_.value(key_) : QString();
}

std::optional<net::Endpoint> ConsoleOptions::listenAt() const
{
    if (!parser_.isSet(listen_))
        return std::nullopt;
    base::Result<net::Endpoint> local =
        net::Endpoint::parseListen(parser_.value(listen_).toStdString());
    if (!local)
        return std::nullopt;
    return *local;
}

std::optional<net::HostAndPort> ConsoleOptions::connectTo() const
{
    if (!parser_.isSet(connect_))
        return std::nullopt;
    base::Result<net::HostAndPort> target =
        net::parseConnectTarget(parser_.value(connect_).toStdString());
    if (!target)
        return std::nullopt;
    return *target;
}

QString ConsoleOptions::openRecordFile() const
{
    return parser_.isSet(openRecord_) ? parser_.value(openRecord_) : QString();
}

QString ConsoleOptions::recordFolder() const
{
    return parser_.isSet(record_) ? parser_.value(record_) : QString();
}

std::optional<std::uint64_t> ConsoleOptions::recordLimitBytes() const
{
    if (!parser_.isSet(recordLimit_))
        return std::nullopt;
    bool ok = false;
    const qulonglong mb = parser_.value(recordLimit_).toULongLong(&ok);
    if (!ok || mb == 0 || mb > kMaxRecordLimitMb)
        return std::nullopt;
    return mb * kBytesPerMb;
}

std::optional<traffic::FileRecorder::Format> ConsoleOptions::recordFormat() const
{
    if (!parser_.isSet(recordFormat_))
        return std::nullopt;
    const QString format = parser_.value(recordFormat_);
    if (format == QLatin1String("text"))
        return traffic::FileRecorder::Format::Text;
    if (format == QLatin1String("pcapng"))
        return traffic::FileRecorder::Format::Pcapng;
    return std::nullopt;
}

bool ConsoleOptions::recordTlsKeys() const
{
    return parser_.isSet(recordTlsKeys_);
}

ConsoleOptions::Action ConsoleOptions::read(int argc, char** argv)
{
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments << QString::fromLocal8Bit(argv[index]);
    return parse(arguments, false);
}

ConsoleOptions::Action ConsoleOptions::check(const QStringList& arguments)
{
    return parse(arguments, true);
}

ConsoleOptions::Action ConsoleOptions::parse(const QStringList& arguments, bool reportErrors)
{
    error_ = {};
    // An empty list would make the parser take the first option for the
    // program's name.
    const bool parsed = parser_.parse(arguments.isEmpty() ? QStringList{programName_} : arguments);
    // Help and version win over any error, as they do in most programs.
    if (parser_.isSet(help_))
        return action_ = Action::ShowHelp;
    if (parser_.isSet(versionOption_))
        return action_ = Action::ShowVersion;
    if (reportErrors) {
        QString why;
        if (!parsed)
            why = parser_.errorText();
        else if (parser_.isSet(recordLimit_) && !recordLimitBytes())
            why = QStringLiteral("Invalid --record-limit '%1': give the megabytes as a whole "
                                 "number from 1 to %2.")
                      .arg(parser_.value(recordLimit_))
                      .arg(kMaxRecordLimitMb);
        else if (parser_.isSet(recordFormat_) && !recordFormat())
            why = QStringLiteral("Invalid --record-format '%1': give text or pcapng.")
                      .arg(parser_.value(recordFormat_));
        else if (parser_.isSet(listen_) && !listenAt())
            why = QStringLiteral("Invalid --listen '%1': %2")
                      .arg(parser_.value(listen_),
                           QString::fromStdString(
                               net::Endpoint::parseListen(parser_.value(listen_).toStdString())
                                   .error()
                                   .text()));
        else if (parser_.isSet(connect_) && !connectTo())
            why = QStringLiteral("Invalid --connect '%1': %2")
                      .arg(parser_.value(connect_),
                           QString::fromStdString(
                               net::parseConnectTarget(parser_.value(connect_).toStdString())
                                   .error()
                                   .text()));
        else if (certificateFile().isEmpty() != keyFile().isEmpty())
            why = QStringLiteral("--cert and --key go together: give both files.");
        else if (parser_.isSet(record_) && parser_.value(record_).isEmpty())
            why = QStringLiteral("Invalid --record '': give a folder.");
        else if (parser_.isSet(openRecord_) && parser_.value(openRecord_).isEmpty())
            why = QStringLiteral("Invalid --open-record '': give a record file.");
        else if (parser_.isSet(openRecord_) &&
                 (parser_.isSet(record_) || parser_.isSet(recordLimit_) ||
                  parser_.isSet(recordFormat_) || parser_.isSet(recordTlsKeys_) ||
                  parser_.isSet(listen_) || parser_.isSet(tls_) || parser_.isSet(connect_)))
            why = QStringLiteral("--open-record opens no console, so it takes no --record, "
                                 "--record-limit, --record-format, --record-tls-keys, "
                                 "--listen, --tls or --connect.");
        else if (!parser_.positionalArguments().isEmpty())
            why = QStringLiteral("Unexpected argument '%1'.")
                      .arg(parser_.positionalArguments().constFirst());
        if (!why.isEmpty()) {
            error_ = base::Error::input(base::Fault::BadArgument, {}, why.toStdString());
            return action_ = Action::UsageError;
        }
    }
    return action_ = Action::Run;
}

QString ConsoleOptions::helpText() const
{
    // The parser names the program by a placeholder while no QCoreApplication
    // exists and by its full path once one does; the usage line shows the name.
    QString text = parser_.helpText();
    if (text.startsWith(kUsagePrefix)) {
        const qsizetype end = text.indexOf(QLatin1Char(' '), kUsagePrefix.size());
        if (end > 0)
            text.replace(kUsagePrefix.size(), end - kUsagePrefix.size(), programName_);
    }
    return text;
}

QString ConsoleOptions::versionText() const
{
    return programName_ + QLatin1Char(' ') + version_ + QLatin1Char('\n');
}

int ConsoleOptions::report() const
{
    switch (action_) {
    case Action::Run:
        return kExitShown;
    case Action::ShowHelp:
        print(stdout, helpText());
        return kExitShown;
    case Action::ShowVersion:
        print(stdout, versionText());
        return kExitShown;
    case Action::UsageError:
        print(stderr, QStringLiteral("%1: %2\nTry %1 --help.\n")
                          .arg(programName_, QString::fromStdString(error_.text())));
        return kExitUsage;
    }
    return kExitUsage;
}

} // namespace app
