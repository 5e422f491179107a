#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace app
{

// The console's own command line: -h/--help and -v/--version, and room for
// further options (add them in the constructor).
//
// It is read twice. read() takes the raw argv before any QApplication or
// display exists, so --help and --version work on a machine without a
// desktop session; it knows nothing of Qt's own arguments (-platform NAME,
// -style NAME, ...) and reports no errors. Once the QApplication has taken
// its own arguments out, check() reads what is left and reports unknown
// options and stray arguments as a usage error. Both return the action to
// take; report() prints the help, version or error text and gives the exit
// code for it. Plain value class, main thread only.
class ConsoleOptions
{
public:
    enum class Action { Run, ShowHelp, ShowVersion, UsageError };

    static constexpr int kExitShown = 0;
    static constexpr int kExitUsage = 2;

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
    QString errorText() const { return error_; }

private:
    Action parse(const QStringList& arguments, bool reportErrors);

    QString programName_;
    QString version_;
    QCommandLineParser parser_;
    QCommandLineOption help_;
    QCommandLineOption versionOption_;
    Action action_ = Action::Run;
    QString error_;
};

} // namespace app
