#include "tlswindow.h"

#include "tlssettings.h"

#include "app/commands/besideplace.h"

#include "tls/knowndevices.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace app
{

namespace
{

const QString kGeometryKey = QStringLiteral("Tls/Geometry");

} // namespace

TlsWindow::TlsWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("TLS"));
    TlsSettings settings;
    connectWithTls_ = new QCheckBox(tr("Connect with TLS (the console's TCP connection)"), this);
    connectWithTls_->setChecked(settings.connectWithTls());
    if (TlsSettings::forcedForThisRun()) {
        connectWithTls_->setEnabled(false);
        connectWithTls_->setToolTip(tr("Set by --tls for this run"));
    }
    connect(connectWithTls_, &QCheckBox::toggled, this,
            [](bool on) { TlsSettings().storeConnectWithTls(on); });

    auto* form = new QFormLayout;
    certificate_ = fileRow(tr("Client certificate (PEM, or PKCS#12 alone)"),
                           settings.clientCertificate(), form);
    key_ = fileRow(tr("Client key (PEM)"), settings.clientKey(), form);
    authorities_ = fileRow(tr("Trusted authorities (PEM)"), settings.authorities(), form);

    known_ = new QLabel(this);
    known_->setWordWrap(true);
    known_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_ = new QLabel(tr("No TLS connection yet."), this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(connectWithTls_);
    layout->addLayout(form);
    layout->addWidget(known_);
    layout->addWidget(status_);
    layout->addStretch(1);
    showKnownDevices();
}

QLineEdit* TlsWindow::fileRow(const QString& label, const QString& value, QFormLayout* form)
{
    auto* edit = new QLineEdit(value, this);
    edit->setPlaceholderText(tr("none"));
    auto* browse = new QPushButton(tr("…"), this);
    browse->setToolTip(tr("Choose a file"));
    connect(edit, &QLineEdit::editingFinished, this, &TlsWindow::storeFiles);
    connect(browse, &QPushButton::clicked, this, [this, edit, label] {
        const QString chosen = QFileDialog::getOpenFileName(this, label, edit->text());
        if (chosen.isEmpty())
            return;
        edit->setText(chosen);
        storeFiles();
    });
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse);
    form->addRow(label, row);
    return edit;
}

void TlsWindow::storeFiles()
{
    TlsSettings().storeFiles(certificate_->text().trimmed(), key_->text().trimmed(),
                             authorities_->text().trimmed());
}

void TlsWindow::showKnownDevices()
{
    const std::string path = TlsSettings::knownDevicesPath();
    const base::Result<tls::KnownDevices> known = tls::KnownDevices::load(path);
    const QString where = QString::fromStdString(path);
    known_->setText(
        known
            ? tr("%n device certificate(s) trusted, kept in %1", "", int(known->size())).arg(where)
            : tr("Cannot read %1: %2").arg(where, QString::fromStdString(known.error().text())));
}

void TlsWindow::showConnection(const QString& text)
{
    status_->setText(text);
    showKnownDevices();
}

bool TlsWindow::connectWithTls() const
{
    return connectWithTls_->isChecked();
}

QString TlsWindow::statusText() const
{
    return status_->text();
}

void TlsWindow::showBeside(QWidget* console)
{
    if (!placed_) {
        placed_ = true;
        resize(sizeHint().expandedTo(QSize(520, 240)));
        restoreOrPlaceBeside(*this, console, QSize(420, 200), kGeometryKey, SideSlot::Devices);
    }
    show();
    raise();
    activateWindow();
}

void TlsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showKnownDevices();
}

void TlsWindow::closeEvent(QCloseEvent* event)
{
    rememberPlace(*this, kGeometryKey);
    QWidget::closeEvent(event);
}

} // namespace app
