#pragma once

#include "commandlist.h"
#include "commandrows.h"
#include "commandsdocument.h"
#include "commandsender.h"
#include "consolelink.h"
#include "placeholdervalues.h"

#include "check/target.h"
#include "protocol/commandframe.h"
#include "socket/sendqueue.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <string_view>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace check
{
struct Answer;
}

namespace app
{

class AnswerPanel;
class CommandRepeat;
class RepeatPanel;
class RunPanel;
class ReceivedIntake;

// The Commands window: the saved commands (CommandList) in a list, kept in
// the file at path() and written back after every change. "Open…" shows
// another check file instead (a file with a mistake is refused with its
// "file:line:column: what" in the status line, the list unchanged): the
// window's title names it, changes are written to it, and the saved
// commands' own file stays as it was; "Saved commands" shows them again.
// "Save as…" writes what is shown to another file. "Add from console" takes the console's frame
// fields when they make a frame that can be saved as it would go out (media, id and command cut to
// their widths, as the console sends them), else its free text, else nothing (the status says why).
// Rows are reordered by dragging.
//
// Automatic answers: the file's `[[answer]]` rules, applied while switched on
// (AnswerPanel).
//
// "Run" runs the list (with any expect and wait steps an opened file has)
// against the device (RunPanel), and "Save report…" writes the run as
// devicecheck reports one device; received bytes reach the answers and the
// run from the console's traffic record (ReceivedIntake).
//
// Placeholders ({id}, …) of a Run's steps and of a saved command take the
// values PlaceholderValues gives (the file's defaults, the console's, or
// the operator's when asked); a Run whose values do not fit its steps does
// not start, the status line saying why.
//
// Sending: a double-click or Enter on a row, or sendCommand(), sends that
// command while connected; the console's Ctrl+1 … Ctrl+9 send the first nine
// commands that can be sent (sendShortcut()), and each such row shows its
// keys. Every send goes through ConsoleLink::send(). Buttons are enabled only
// when they can act (a row chosen that they act on, no repeat or run
// already going, a run to report on).
// "Repeat" sends the selected one every N ms, a count of times or (0) until
// stopped, with the progress and what the send queue dropped since the start
// in the line below; Stop, connectionEnded() (the console calls it on
// Disconnect and a dropped connection) and a failed send end it.
//
// A top-level, non-modal window, made with the console as parent (so it works
// while the console runs modally); closing it only hides it. Its size and
// place are remembered in the settings (section "Commands", key "Geometry");
// the first time it opens beside the console where the screen has room.
// UI thread only.
class CommandsWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMaxShortcutCommands = 9;

    CommandsWindow(ConsoleLink& console, QWidget* parent, std::string path = defaultPath());
    ~CommandsWindow() override;

    // $XDG_DATA_HOME/Quorvel/socketclient/commands.toml (~/.local/share/…).
    static std::string defaultPath();
    // Appended to the name of a list file that could not be read at start,
    // when the first save moves it aside.
    static constexpr std::string_view kBrokenSuffix = CommandsFile::kBrokenSuffix;
    // The file that is shown: the saved commands' own, or one opened.
    const std::string& path() const { return document_.path(); }
    bool showsSavedCommands() const { return document_.showsSaved(); }

    // Shows the window (placed the first time), raised and active.
    void showBeside(QWidget* console);

    CommandList& list() { return document_.list(); }
    QListWidget* listView() const { return rows_; }
    QString statusText() const;
    QString repeatText() const;
    CommandRepeat& repeat();
    AnswerPanel& answers() const { return *answers_; }
    RunPanel& runs() const { return *runs_; }

    bool addFromConsole();
    // Opens the edit dialog for `row`; true when accepted.
    bool editCommand(int row);
    bool renameCommand(int row, const std::string& name);
    void deleteCommand(int row);
    bool moveCommand(int from, int to);
    bool openFile(const std::string& path);
    // Shows the saved commands again after openFile().
    void showSavedCommands();
    bool saveAs(const std::string& path);
    // Sends the command in row `index` (0-based); false (the status says
    // why) when it did not go out.
    bool sendCommand(int index);
    // Sends the `number`th (0-based) command that can be sent, as Ctrl+1 …
    // Ctrl+9 do; the row it is in, or -1 when there is none.
    int shortcutRow(int number) const;
    bool sendShortcut(int number);
    // How missing placeholder values are asked for (tests answer here).
    void setAskValue(PlaceholderValues::Ask ask) { sender_.setAsk(std::move(ask)); }
    // Starts a Run of what is shown; false (the status says why) when it
    // cannot start.
    bool startRun();
    // Whether the button with `text` is enabled (for tests and the picture).
    bool buttonEnabled(const QString& text) const;
    // Repeats the command at `row`; false when it is not a command.
    bool startRepeat(int row, int intervalMs, std::uint64_t count);
    void connectionEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void refresh(int selectRow);
    // Takes the rows' order, after a drop, into the list.
    void syncOrder();
    void saveList();
    void showList(const std::string& status);
    void updateButtons();
    void showStatus(const std::string& text);
    void rememberGeometry() const;
    int selectedRow() const;

    ConsoleLink& console_;
    CommandsDocument document_;
    CommandSender sender_;
    bool placed_ = false;

    CommandRows* rows_ = nullptr;
    QPushButton* savedCommands_ = nullptr;
    QLabel* status_ = nullptr;
    RepeatPanel* repeats_ = nullptr;
    AnswerPanel* answers_ = nullptr;
    RunPanel* runs_ = nullptr;
    // Takes the tap's bytes to the answers and the run while either wants them.
    ReceivedIntake* intake_ = nullptr;
};

} // namespace app
