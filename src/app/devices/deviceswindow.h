#pragma once

#include "devicesmodel.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;
class QToolButton;

namespace app
{

class ConsoleHost;

// The Devices window: where the console listens for devices that call in
// (protocol TCP, UDP or both; the local address, any or one of the machine's;
// the port; TLS for TCP with a certificate and key file, or with none named
// the console's own; Listen and Stop, remembered in DevicesSettings), why it
// cannot (the system's or the TLS library's reason), with TLS the
// certificate's fingerprint (selectable, to be entered into devices), and
// every device in a table (DevicesModel), brought
// up to date kPollMs while shown. "Make the console's device" (or a double
// click, or Enter, on a row) makes the selected device the console's device;
// "Close device" closes the selected one. "Connect to" takes a host name, an
// IPv4 address or an IPv6 one in brackets, each with ":port" or without
// (the console's port field then), and starts the console's own connect to it
// (ConsoleHost::connectConsoleTo), the text remembered; it is disabled while
// the console holds or makes a connection. Placed beside the console at its
// first showing, its place remembered.
//
// UI thread only. The host outlives the window.
class DevicesWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 200;

    DevicesWindow(ConsoleHost& host, QWidget* parent = nullptr);

    // Shows it (beside the console at its first showing), raised and active.
    void showBeside(QWidget* console);
    // Listens as the controls say (the Listen button).
    void listen();
    // Brings the table up to date now (the poll does it while shown).
    void refresh();

    DevicesModel& model() { return model_; }
    QTableView* table() const { return table_; }
    QString statusText() const;
    QPushButton* listenButton() const { return listen_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* chooseButton() const { return choose_; }
    QComboBox* protocolBox() const { return protocol_; }
    QComboBox* addressBox() const { return address_; }
    QSpinBox* portSpin() const { return port_; }
    QLineEdit* connectToEdit() const { return connectTarget_; }
    QPushButton* connectToButton() const { return connectTo_; }
    // The note beside the counts (a choice or a "Connect to" that failed).
    QString noteText() const { return choiceNote_; }
    // Connects the console to what the "Connect to" edit says (its button).
    void connectToTarget();
    QCheckBox* tlsBox() const { return tls_; }
    QLineEdit* certificateEdit() const { return certificate_; }
    QLineEdit* keyEdit() const { return key_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildControls();
    QLayout* buildTlsControls();
    void browse(QLineEdit* edit, const QString& title);
    void showListening();
    void chooseSelected();
    void closeSelected();
    int selectedRow() const;

    ConsoleHost& host_;
    DevicesModel model_;
    QComboBox* protocol_ = nullptr;
    QComboBox* address_ = nullptr;
    QSpinBox* port_ = nullptr;
    QCheckBox* tls_ = nullptr;
    QLineEdit* certificate_ = nullptr;
    QLineEdit* key_ = nullptr;
    QToolButton* browseCertificate_ = nullptr;
    QToolButton* browseKey_ = nullptr;
    QPushButton* listen_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* status_ = nullptr;
    QTableView* table_ = nullptr;
    QPushButton* choose_ = nullptr;
    QPushButton* closeDevice_ = nullptr;
    QLabel* counts_ = nullptr;
    QLineEdit* connectTarget_ = nullptr;
    QPushButton* connectTo_ = nullptr;
    QTimer* poll_ = nullptr;
    QString choiceNote_;
    bool placed_ = false;
};

} // namespace app
