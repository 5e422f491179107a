#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;

namespace app
{

// The console's TLS settings (TlsSettings) as a side window: "Connect with
// TLS" for the console's own TCP connection (fixed on by --tls for the run),
// the client certificate and key for devices that require one, a file of
// trusted authorities besides the system's, where the known devices' pins
// are kept and how many, and what the last secured connection came to.
// Every change is stored at once and taken by the next Connect.
//
// UI thread only.
class TlsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TlsWindow(QWidget* parent);

    // Shows the window beside `console` (remembered place), raised and active.
    void showBeside(QWidget* console);
    // What the last TLS connection came to (its record note, or why it failed).
    void showConnection(const QString& text);

    bool connectWithTls() const;
    QString statusText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLineEdit* fileRow(const QString& label, const QString& value, QFormLayout* form);
    void storeFiles();
    void showKnownDevices();

    QCheckBox* connectWithTls_ = nullptr;
    QLineEdit* certificate_ = nullptr;
    QLineEdit* key_ = nullptr;
    QLineEdit* authorities_ = nullptr;
    QLabel* known_ = nullptr;
    QLabel* status_ = nullptr;
    bool placed_ = false;
};

} // namespace app
