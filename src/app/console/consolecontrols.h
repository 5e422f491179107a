#pragma once

#include "consoletemplate.h"

#include <QString>

#include <array>
#include <string>
#include <string_view>

class QDialog;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace app
{

class DialogComboBox;
class Ipv4AddressEdit;
class MessageView;
class PortSpin;

// The console's controls, built from ConsoleTemplate as children of one
// window and laid out in dialog units of that window's font.
//
// Built in template order, so Qt's focus chain (the tab order) and the stacking
// order follow the template; labels, frames and group boxes let clicks through
// to the control underneath. Each control with an id carries the object name
// "control<id>". Owned by the window (Qt parent); this object only points at
// them. UI thread only.
class ConsoleControls
{
public:
    // Height of a combo box's field, and of one entry of its list, in dialog
    // units; the rest of a combo's template box is its list.
    static constexpr int kComboFieldHeight = 14;
    static constexpr int kComboEntryHeight = 8;

    explicit ConsoleControls(QDialog* window);
    ConsoleControls(const ConsoleControls&) = delete;
    ConsoleControls& operator=(const ConsoleControls&) = delete;

    // The control with this template id, or nullptr (also for kStatic).
    QWidget* control(int id) const;
    // Every control, in template order.
    const std::array<QWidget*, ConsoleTemplate::kControls.size()>& all() const { return widgets_; }

    // Places every control and sizes the window from the window's font.
    void layout();
    // Adds the template's lists to the four combo boxes.
    void fillComboLists();
    // The length limits of the free text, data and message edits, and the
    // values the fields show when the console opens: TCP, the default frame
    // fields, the printable delimiters and line end in their displays.
    void showInitialValues();

    QPushButton* connect() const { return connect_; }
    QPushButton* disconnect() const { return disconnect_; }
    QPushButton* sendMessage() const { return sendMessage_; }
    QPushButton* sendThisData() const { return sendThisData_; }
    QPushButton* close() const { return close_; }
    QLineEdit* freeText() const { return freeText_; }
    QLineEdit* port() const { return port_; }
    QLineEdit* data() const { return data_; }
    QLineEdit* message() const { return message_; }
    PortSpin* portSpin() const { return portSpin_; }
    Ipv4AddressEdit* address() const { return address_; }
    QRadioButton* tcp() const { return tcp_; }
    QRadioButton* udp() const { return udp_; }
    MessageView* messageView() const { return messageView_; }
    DialogComboBox* media() const { return media_; }
    DialogComboBox* deviceId() const { return deviceId_; }
    DialogComboBox* command() const { return command_; }
    DialogComboBox* mode() const { return mode_; }

private:
    QWidget* createControl(const ConsoleTemplate::Control& control);
    void setEditText(int id, std::string_view text);

    QDialog* window_;
    std::array<QWidget*, ConsoleTemplate::kControls.size()> widgets_{};
    QPushButton* connect_ = nullptr;
    QPushButton* disconnect_ = nullptr;
    QPushButton* sendMessage_ = nullptr;
    QPushButton* sendThisData_ = nullptr;
    QPushButton* close_ = nullptr;
    QLineEdit* freeText_ = nullptr;
    QLineEdit* port_ = nullptr;
    QLineEdit* data_ = nullptr;
    QLineEdit* message_ = nullptr;
    PortSpin* portSpin_ = nullptr;
    Ipv4AddressEdit* address_ = nullptr;
    QRadioButton* tcp_ = nullptr;
    QRadioButton* udp_ = nullptr;
    MessageView* messageView_ = nullptr;
    DialogComboBox* media_ = nullptr;
    DialogComboBox* deviceId_ = nullptr;
    DialogComboBox* command_ = nullptr;
    DialogComboBox* mode_ = nullptr;
};

// Texts are single-byte (Latin-1) on the console's side; a character beyond
// Latin-1 reads as '?'.
QString latin1(std::string_view text);
std::string latin1Bytes(const QString& text);
// A control's text as the console reads it for a connect or a send: single
// bytes up to the first NUL byte, as a C string would end there.
std::string textUpToNul(const QString& text);

} // namespace app
