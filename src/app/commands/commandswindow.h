#pragma once

#include "commandlist.h"
#include "commandsfile.h"

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
class ReceivedTap;

// What the Commands window needs of the console.
struct CommandConsole {
    // The frame fields and the free text as the console shows them now.
    std::function<protocol::FrameFields()> frameFields;
    std::function<std::string()> freeText;
    std::function<bool()> connected;
    // True while the connection is UDP (each received read is one datagram).
    std::function<bool()> datagrams;
    // The device as the console names it (host and port), for a run's report.
    std::function<check::Target()> device;
    // Sends a saved command through the console's own send path, with `note`
    // in the traffic record; empty when it went to the send queue, else why not.
    std::function<std::string(const check::SendStep& send, const std::string& note)> send;
    std::function<net::SendQueue::Counts()> sendCounts;
    // Received bytes for the automatic answers and runs (nullptr: none), how
    // an answer goes out (with its rule in the traffic record), and how a
    // run's block does (empty when queued, else why not).
    ReceivedTap* received = nullptr;
    std::function<void(const check::Answer&)> sendAnswer;
    std::function<std::string(const std::string& block, bool frame)> sendBlock;
};

// The Commands window: the saved commands (CommandList) in a list, kept in
// the file at path() and written back after every change; other check files
// opened and saved with "Open…" and "Save as…" (a file with a mistake is
// refused with its "file:line:column: what" in the status line, the list
// unchanged). "Add from console" takes the console's frame fields when they
// make a frame that can be saved as it would go out (media, id and command
// cut to their widths, as the console sends them), else its free text, else
// nothing (the status says why). Rows are reordered by dragging.
//
// Automatic answers: the file's `[[answer]]` rules, applied while switched on
// (AnswerPanel).
//
// "Run" runs the list (with any expect and wait steps an opened file has)
// against the device (RunPanel), and "Save report…" writes the run as
// devicecheck reports one device; received bytes reach the answers and the
// run from the console's traffic record (ReceivedTap), taken every
// kIntakeIntervalMs while either needs them, one read at a time (over UDP
// each datagram ends a record of the run's).
//
// Sending: a double-click or Enter on a row, or sendCommand() (which the
// console's Ctrl+1 … Ctrl+9 call), sends that command while connected.
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
    static constexpr int kIntakeIntervalMs = 20;

    CommandsWindow(CommandConsole console, QWidget* parent, std::string path = defaultPath());
    ~CommandsWindow() override;

    // $XDG_DATA_HOME/Quorvel/socketclient/commands.toml (~/.local/share/…).
    static std::string defaultPath();
    // Appended to the name of a list file that could not be read at start,
    // when the first save moves it aside.
    static constexpr std::string_view kBrokenSuffix = CommandsFile::kBrokenSuffix;
    const std::string& path() const { return file_.path(); }

    // Shows the window (placed the first time), raised and active.
    void showBeside(QWidget* console);

    CommandList& list() { return list_; }
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
    bool saveAs(const std::string& path);
    // Sends saved command `index` (0-based); false (the status says why) when
    // it did not go out.
    bool sendCommand(int index);
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
    void showStatus(const std::string& text);
    void rememberGeometry() const;
    void updateIntake();
    void takeReceived();
    int selectedRow() const;

    CommandConsole console_;
    CommandsFile file_;
    CommandList list_;
    bool placed_ = false;

    QListWidget* rows_ = nullptr;
    QLabel* status_ = nullptr;
    RepeatPanel* repeats_ = nullptr;
    AnswerPanel* answers_ = nullptr;
    RunPanel* runs_ = nullptr;
    // Takes the tap's bytes to the answers and the run while either wants them.
    QTimer intake_;
};

} // namespace app
