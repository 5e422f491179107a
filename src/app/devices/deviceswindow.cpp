#include "deviceswindow.h"

#include "consolehost.h"
#include "devicessettings.h"
#include "localaddresses.h"

#include "app/commands/besideplace.h"

#include "socket/addresslookup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace app
{

namespace
{

const QString kGeometryKey = QStringLiteral("Devices/Geometry");

} // namespace

DevicesWindow::DevicesWindow(ConsoleHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host), model_(this)
{
    setWindowTitle(tr("Devices"));
    buildControls();
    connect(&host_, &ConsoleHost::listeningChanged, this, &DevicesWindow::showListening);
    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, &DevicesWindow::refresh);
    showListening();
    refresh();
}

void DevicesWindow::buildControls()
{
    protocol_ = new QComboBox(this);
    protocol_->addItem(tr("TCP and UDP"), host::DeviceHost::Both);
    protocol_->addItem(tr("TCP"), host::DeviceHost::Tcp);
    protocol_->addItem(tr("UDP"), host::DeviceHost::Udp);
    address_ = new QComboBox(this);
    address_->addItem(tr("Any address"), QString());
    for (const std::string& address : localAddresses())
        address_->addItem(QString::fromStdString(address), QString::fromStdString(address));
    port_ = new QSpinBox(this);
    port_->setRange(1, 65535);
    listen_ = new QPushButton(tr("Listen"), this);
    stop_ = new QPushButton(tr("Stop"), this);

    DevicesSettings settings;
    protocol_->setCurrentIndex(std::max(0, protocol_->findData(settings.protocols())));
    const QString remembered = QString::fromStdString(settings.address());
    if (address_->findData(remembered) < 0)
        address_->addItem(remembered, remembered);
    address_->setCurrentIndex(address_->findData(remembered));
    port_->setValue(settings.port());

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Protocol"), this));
    top->addWidget(protocol_);
    top->addWidget(new QLabel(tr("Address"), this));
    top->addWidget(address_, 1);
    top->addWidget(new QLabel(tr("Port"), this));
    top->addWidget(port_);
    top->addWidget(listen_);
    top->addWidget(stop_);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    // The certificate's fingerprint is copied from here into devices.
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    table_ = new QTableView(this);
    table_->setModel(&model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setWordWrap(false);

    choose_ = new QPushButton(tr("Make the console's device"), this);
    closeDevice_ = new QPushButton(tr("Close device"), this);
    counts_ = new QLabel(this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(choose_);
    bottom->addWidget(closeDevice_);
    bottom->addWidget(counts_, 1);

    connectTarget_ = new QLineEdit(this);
    connectTarget_->setMaxLength(static_cast<int>(DevicesSettings::kMostConnectToChars));
    connectTarget_->setPlaceholderText(tr("host name, IPv4 address or [IPv6 address], :port"));
    connectTarget_->setText(QString::fromLatin1(settings.connectTo()));
    connectTo_ = new QPushButton(tr("Connect"), this);
    auto* connectRow = new QHBoxLayout;
    connectRow->addWidget(new QLabel(tr("Connect to"), this));
    connectRow->addWidget(connectTarget_, 1);
    connectRow->addWidget(connectTo_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(connectRow);
    layout->addLayout(top);
    layout->addLayout(buildTlsControls());
    layout->addWidget(status_);
    layout->addWidget(table_, 1);
    layout->addLayout(bottom);

    connect(listen_, &QPushButton::clicked, this, &DevicesWindow::listen);
    connect(stop_, &QPushButton::clicked, this, [this] { host_.stopListening(); });
    connect(choose_, &QPushButton::clicked, this, &DevicesWindow::chooseSelected);
    connect(table_, &QTableView::activated, this, &DevicesWindow::chooseSelected);
    connect(closeDevice_, &QPushButton::clicked, this, &DevicesWindow::closeSelected);
    connect(connectTo_, &QPushButton::clicked, this, &DevicesWindow::connectToTarget);
    connect(connectTarget_, &QLineEdit::returnPressed, this, [this] {
        if (connectTo_->isEnabled())
            connectToTarget();
    });
}

void DevicesWindow::connectToTarget()
{
    const QString text = connectTarget_->text().trimmed();
    DevicesSettings().storeConnectTo(text.toLatin1().toStdString());
    choiceNote_.clear();
    const base::Result<net::HostAndPort> target = net::parseConnectTarget(text.toStdString());
    if (!target)
        choiceNote_ = tr("Cannot connect to \"%1\": %2")
                          .arg(text, QString::fromStdString(target.error().text()));
    else if (!host_.connectConsoleTo(QString::fromStdString(target->host),
                                     QString::fromStdString(target->port)))
        choiceNote_ = tr("The console is connected already: Disconnect first.");
    refresh();
}

QLayout* DevicesWindow::buildTlsControls()
{
    tls_ = new QCheckBox(tr("TLS"), this);
    tls_->setToolTip(tr("Devices that call in over TCP speak TLS; UDP stays without encryption"));
    certificate_ = new QLineEdit(this);
    key_ = new QLineEdit(this);
    certificate_->setPlaceholderText(tr("the console's own certificate"));
    key_->setPlaceholderText(tr("the console's own certificate"));
    browseCertificate_ = new QToolButton(this);
    browseKey_ = new QToolButton(this);
    browseCertificate_->setText(QStringLiteral("…"));
    browseKey_->setText(QStringLiteral("…"));
    const ListenTls remembered = DevicesSettings().tls();
    tls_->setChecked(remembered.on);
    certificate_->setText(QFile::decodeName(QByteArray::fromStdString(remembered.certificateFile)));
    key_->setText(QFile::decodeName(QByteArray::fromStdString(remembered.keyFile)));
    connect(browseCertificate_, &QToolButton::clicked, this,
            [this] { browse(certificate_, tr("Certificate (PEM)")); });
    connect(browseKey_, &QToolButton::clicked, this, [this] { browse(key_, tr("Key (PEM)")); });

    auto* row = new QHBoxLayout;
    row->addWidget(tls_);
    row->addWidget(new QLabel(tr("Certificate"), this));
    row->addWidget(certificate_, 1);
    row->addWidget(browseCertificate_);
    row->addWidget(new QLabel(tr("Key"), this));
    row->addWidget(key_, 1);
    row->addWidget(browseKey_);
    return row;
}

void DevicesWindow::browse(QLineEdit* edit, const QString& title)
{
    const QString file = QFileDialog::getOpenFileName(
        this, title, edit->text(), tr("PEM files (*.pem *.crt *.key);;All files (*)"));
    if (!file.isEmpty())
        edit->setText(file);
}

void DevicesWindow::listen()
{
    const auto protocols =
        static_cast<host::DeviceHost::Protocols>(protocol_->currentData().toInt());
    const std::string address = address_->currentData().toString().toStdString();
    const auto port = static_cast<std::uint16_t>(port_->value());
    ListenTls tls;
    tls.on = tls_->isChecked();
    tls.certificateFile = QFile::encodeName(certificate_->text().trimmed()).toStdString();
    tls.keyFile = QFile::encodeName(key_->text().trimmed()).toStdString();
    DevicesSettings settings;
    settings.store(protocols, address, port);
    settings.storeTls(tls);
    const std::optional<net::Endpoint> local = address.empty()
                                                   ? net::Endpoint::any(AF_INET, port)
                                                   : net::Endpoint::fromNumeric(address, port);
    if (!local) {
        status_->setText(
            tr("Cannot listen on %1: not an address").arg(QString::fromStdString(address)));
        return;
    }
    static_cast<void>(host_.listen(protocols, *local, tls));
}

void DevicesWindow::showListening()
{
    const bool listening = host_.listening();
    listen_->setEnabled(!listening);
    stop_->setEnabled(listening);
    protocol_->setEnabled(!listening);
    address_->setEnabled(!listening);
    port_->setEnabled(!listening);
    for (QWidget* control :
         std::initializer_list<QWidget*>{tls_, certificate_, key_, browseCertificate_, browseKey_})
        control->setEnabled(!listening);
    status_->setText(host_.listenStatus());
}

QString DevicesWindow::statusText() const
{
    return status_->text();
}

void DevicesWindow::refresh()
{
    const host::HostSnapshot snapshot = host_.devices().snapshot();
    // Devices come and go under the operator's selection: it follows its
    // device, wherever the new list puts it.
    const int selected = selectedRow();
    const std::uint64_t selectedId = model_.deviceId(selected);
    model_.update(host_.watch().current(), snapshot);
    if (selected >= 0 && model_.deviceId(selected) != selectedId) {
        const int row = selectedId != 0 ? model_.rowOf(selectedId) : (selected == 0 ? 0 : -1);
        if (row >= 0)
            table_->selectRow(row);
        else
            table_->clearSelection();
    } else if (selected >= 0 && selectedRow() < 0) {
        table_->selectRow(selected);
    }
    connectTo_->setEnabled(!host_.consoleTaken());
    QString counts = tr("%1 connected, %2 refused beyond the bound")
                         .arg(snapshot.connected)
                         .arg(snapshot.refused);
    if (!choiceNote_.isEmpty())
        counts = choiceNote_ + QStringLiteral("  ") + counts;
    counts_->setText(counts);
}

int DevicesWindow::selectedRow() const
{
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void DevicesWindow::chooseSelected()
{
    const int row = selectedRow();
    choiceNote_.clear();
    if (!model_.servedByHost(row))
        return;
    if (!host_.choose(model_.deviceId(row)))
        choiceNote_ = tr("The console is connected to a server: Disconnect first.");
    refresh();
}

void DevicesWindow::closeSelected()
{
    const int row = selectedRow();
    if (model_.servedByHost(row))
        host_.devices().close(model_.deviceId(row));
}

void DevicesWindow::showBeside(QWidget* console)
{
    if (!placed_) {
        placed_ = true;
        resize(sizeHint().expandedTo(QSize(640, 360)));
        restoreOrPlaceBeside(*this, console, QSize(480, 300), kGeometryKey, SideSlot::Devices);
    }
    show();
    raise();
    activateWindow();
}

void DevicesWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
    poll_->start();
}

void DevicesWindow::hideEvent(QHideEvent* event)
{
    poll_->stop();
    QWidget::hideEvent(event);
}

void DevicesWindow::closeEvent(QCloseEvent* event)
{
    rememberPlace(*this, kGeometryKey);
    QWidget::closeEvent(event);
}

} // namespace app
