#include "trafficwindow.h"

#include "recordformatbox.h"
#include "recordreviewwindow.h"
#include "recordtlskeysbox.h"
#include "trafficfilter.h"
#include "trafficformat.h"
#include "trafficframes.h"
#include "trafficqueue.h"
#include "trafficsavedialog.h"

#include "app/commands/besideplace.h"

#include "traffic/recordline.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace app
{

namespace
{

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 560;

} // namespace

TrafficWindow::TrafficWindow(TrafficQueue& queue, QWidget* parent, std::size_t maxRecords)
    : TrafficWindow(&queue, parent, maxRecords)
{
}

TrafficWindow::TrafficWindow(QWidget* parent, std::size_t maxRecords)
    : TrafficWindow(nullptr, parent, maxRecords)
{
}

TrafficWindow::TrafficWindow(TrafficQueue* queue, QWidget* parent, std::size_t maxRecords)
    : QWidget(parent, Qt::Window), queue_(queue)
{
    setWindowTitle(tr("Traffic"));
    if (parent)
        setWindowIcon(parent->windowIcon());
    model_ = new TrafficModel(maxRecords, this);
    // From now on the queue reads records for the Frames column.
    if (queue_ && !queue_->delimiterMode())
        queue_->setDelimiterMode(protocol::DelimiterMode::Demo);
    filter_ = new TrafficFilter(model_, this);
    buildControls();
    resize(kDefaultWidth, kDefaultHeight);

    if (queue_) {
        connect(&drainTimer_, &QTimer::timeout, this, &TrafficWindow::drain);
        drainTimer_.start(kDrainIntervalMs);
    } else {
        recordToFile_->hide();
        recordFormat_->hide();
        recordTlsKeys_->hide();
    }
    updateStatus();
}

TrafficWindow::~TrafficWindow()
{
    if (placed_)
        rememberPlace(*this, geometryKey());
}

QString TrafficWindow::geometryKey()
{
    return QString::fromLatin1(kSettingsSection.data(), kSettingsSection.size()) + u'/' +
           QString::fromLatin1(kGeometryKey.data(), kGeometryKey.size());
}

void TrafficWindow::showBeside(QWidget* console, bool activate)
{
    if (!placed_) {
        placed_ = true;
        restoreOrPlaceBeside(*this, console, QSize(), geometryKey(), SideSlot::Traffic);
    }
    setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    show();
    raise();
    if (activate)
        activateWindow();
}

void TrafficWindow::closeEvent(QCloseEvent* event)
{
    if (queue_)
        rememberPlace(*this, geometryKey());
    QWidget::closeEvent(event);
}

bool TrafficWindow::recordToFileRemembered(SettingsStore& settings)
{
    return settings.readInt(kSettingsSection, kRecordToFileKey, 0) != 0;
}

void TrafficWindow::buildControls()
{
    filterText_ = new QLineEdit(this);
    filterText_->setObjectName(QStringLiteral("trafficFilterText"));
    filterText_->setPlaceholderText(tr("Filter: text or hex"));
    filterText_->setClearButtonEnabled(true);
    direction_ = new QComboBox(this);
    direction_->setObjectName(QStringLiteral("trafficDirection"));
    direction_->addItems(TrafficFilter::directionChoices());
    follow_ = new QCheckBox(tr("Follow newest"), this);
    follow_->setObjectName(QStringLiteral("followNewest"));
    follow_->setChecked(true);
    auto* clear = new QPushButton(tr("Clear"), this);
    clear->setObjectName(QStringLiteral("trafficClear"));
    auto* save = new QPushButton(tr("Save as…"), this);
    save->setObjectName(QStringLiteral("trafficSaveAs"));
    auto* open = new QPushButton(tr("Open record…"), this);
    open->setObjectName(QStringLiteral("trafficOpenRecord"));

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("trafficTable"));
    table_->setModel(filter_);
    table_->setFont(fixed);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    table_->setAlternatingRowColors(true);
    // Fixed row heights and no row header: with 100,000 rows any per-row
    // measuring would make every batch dear.
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(QFontMetrics(fixed).height() + 4);
    QHeaderView* columns = table_->horizontalHeader();
    columns->setStretchLastSection(true);
    const int digit = QFontMetrics(fixed).horizontalAdvance(QLatin1Char('0'));
    table_->setColumnWidth(TrafficModel::TimeColumn, digit * 17);
    table_->setColumnWidth(TrafficModel::DirectionColumn, digit * 10);
    table_->setColumnWidth(TrafficModel::LengthColumn, digit * 7);
    table_->setColumnWidth(TrafficModel::TextColumn, digit * 32);
    table_->setColumnWidth(TrafficModel::HexColumn, digit * 24);

    auto* copy = new QAction(tr("Copy"), table_);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    table_->addAction(copy);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);

    detail_ = new QPlainTextEdit(this);
    detail_->setObjectName(QStringLiteral("trafficDetail"));
    detail_->setReadOnly(true);
    detail_->setLineWrapMode(QPlainTextEdit::NoWrap);
    detail_->setFont(fixed);

    recordToFile_ = new QCheckBox(tr("Record to file"), this);
    recordToFile_->setObjectName(QStringLiteral("recordToFile"));
    recordToFile_->setChecked(recordToFileRemembered(settings_));
    recordFormat_ = new RecordFormatBox(this);
    recordTlsKeys_ = new RecordTlsKeysBox(this);
    recording_ = new QLabel(this);
    recording_->setObjectName(QStringLiteral("recordingStatus"));
    recording_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("recordCount"));

    auto* top = new QHBoxLayout;
    top->addWidget(filterText_, 1);
    top->addWidget(direction_);
    top->addWidget(follow_);
    top->addWidget(clear);
    top->addWidget(save);
    top->addWidget(open);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(table_);
    split->addWidget(detail_);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(recordToFile_);
    bottom->addWidget(recordFormat_);
    bottom->addWidget(recordTlsKeys_);
    bottom->addWidget(recording_, 1);
    bottom->addWidget(counts_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);

    connect(filterText_, &QLineEdit::textChanged, this, [this](const QString& text) {
        filter_->setText(text);
        updateStatus();
    });
    connect(direction_, &QComboBox::currentIndexChanged, this, &TrafficWindow::onDirectionChosen);
    connect(follow_, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            table_->scrollToBottom();
    });
    // Scrolling up by hand (scroll bar, wheel) stops following, or the next
    // batch would pull the view away from what the operator went to read.
    QScrollBar* rows = table_->verticalScrollBar();
    connect(rows, &QScrollBar::actionTriggered, this, [this, rows] {
        if (rows->sliderPosition() < rows->maximum())
            follow_->setChecked(false);
    });
    connect(clear, &QPushButton::clicked, this, &TrafficWindow::onClear);
    connect(save, &QPushButton::clicked, this, &TrafficWindow::onSaveAs);
    connect(open, &QPushButton::clicked, this, &TrafficWindow::onOpenRecord);
    connect(copy, &QAction::triggered, this, &TrafficWindow::copySelectedRows);
    connect(recordToFile_, &QCheckBox::toggled, this, &TrafficWindow::onRecordToFileToggled);
    connect(recordFormat_, &RecordFormatBox::formatChosen, this,
            &TrafficWindow::recordFormatChanged);
    connect(recordTlsKeys_, &RecordTlsKeysBox::keysChosen, this,
            &TrafficWindow::recordTlsKeysChanged);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { showDetail(current); });
}

void TrafficWindow::drain()
{
    if (!queue_)
        return;
    TrafficQueue::Batch batch = queue_->take();
    model_->addDropped(batch.dropped);
    if (!batch.records.empty()) {
        model_->append(std::move(batch.records), std::move(batch.frames));
        if (follow_->isChecked())
            table_->scrollToBottom();
    }
    updateStatus();
}

void TrafficWindow::setRecordingStatus(std::function<QString()> status)
{
    recordingStatus_ = std::move(status);
    updateStatus();
}

void TrafficWindow::setDelimiterMode(protocol::DelimiterMode mode)
{
    if (queue_)
        queue_->setDelimiterMode(mode);
}

void TrafficWindow::showRecordToFile(bool on)
{
    const QSignalBlocker quiet(recordToFile_);
    recordToFile_->setChecked(on);
    updateStatus();
}

void TrafficWindow::fixRecordFormat(traffic::FileRecorder::Format format)
{
    recordFormat_->fixTo(format);
}

void TrafficWindow::fixRecordTlsKeys(bool on)
{
    recordTlsKeys_->fixTo(on);
}

void TrafficWindow::updateStatus()
{
    const QLocale locale;
    QString counts = tr("%1 records").arg(locale.toString(model_->rowCount()));
    if (filter_->rowCount() != model_->rowCount())
        counts += tr(" (%1 shown)").arg(locale.toString(filter_->rowCount()));
    if (model_->droppedCount() > 0)
        counts += tr(", %1 older dropped from memory")
                      .arg(locale.toString(static_cast<qulonglong>(model_->droppedCount())));
    // Only a changed text: a label that is set lays the window out again.
    if (counts_->text() != counts)
        counts_->setText(counts);
    const QString recording =
        recordingStatus_ ? recordingStatus_()
                         : (recordToFile_->isChecked() ? tr("Recording to a file is switched on.")
                                                       : tr("Not recording to a file."));
    if (recording_->text() != recording)
        recording_->setText(recording);
}

void TrafficWindow::showDetail(const QModelIndex& current)
{
    if (!current.isValid()) {
        detail_->clear();
        return;
    }
    const int row = filter_->mapToSource(current).row();
    detail_->setPlainText(trafficformat::detailText(model_->record(row), model_->frames(row)));
}

void TrafficWindow::onDirectionChosen(int index)
{
    filter_->chooseDirection(index);
    updateStatus();
}

void TrafficWindow::onRecordToFileToggled(bool on)
{
    settings_.writeInt(kSettingsSection, kRecordToFileKey, on ? 1 : 0);
    emit recordToFileChanged(on);
    updateStatus();
}

void TrafficWindow::onClear()
{
    model_->clear();
    detail_->clear();
    updateStatus();
}

std::vector<int> TrafficWindow::shownRows() const
{
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(filter_->rowCount()));
    for (int row = 0; row < filter_->rowCount(); ++row)
        rows.push_back(filter_->mapToSource(filter_->index(row, 0)).row());
    return rows;
}

base::Result<QString> TrafficWindow::saveTo(const QString& path, TrafficExport::Format format) const
{
    std::vector<const traffic::Record*> records;
    TrafficExport::FramesList frames;
    for (const int row : shownRows()) {
        records.push_back(&model_->record(row));
        frames.push_back(model_->frames(row));
    }
    return TrafficExport::save(path, format, records, frames);
}

void TrafficWindow::onSaveAs()
{
    const std::optional<TrafficSaveDialog::Choice> chosen = TrafficSaveDialog::ask(this, settings_);
    if (!chosen)
        return;
    const QString& path = chosen->path;
    const base::Result<QString> saved = saveTo(path, chosen->format);
    if (!saved)
        QMessageBox::warning(this, windowTitle(),
                             tr("The traffic could not be saved to %1: %2")
                                 .arg(path, QString::fromStdString(saved.error().text())));
    else if (!saved->isEmpty())
        QMessageBox::warning(this, windowTitle(), *saved);
}

void TrafficWindow::onOpenRecord()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open record"), QString(),
                                                      RecordReviewWindow::fileFilter());
    if (!path.isEmpty())
        RecordReviewWindow::open(path, this,
                                 queue_ && queue_->delimiterMode() ? *queue_->delimiterMode()
                                                                   : protocol::DelimiterMode::Demo);
}

void TrafficWindow::copySelectedRows() const
{
    QModelIndexList selected = table_->selectionModel()->selectedRows();
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(selected.size()));
    for (const QModelIndex& index : selected)
        rows.push_back(filter_->mapToSource(index).row());
    std::sort(rows.begin(), rows.end());
    std::vector<const traffic::Record*> records;
    TrafficExport::FramesList frames;
    for (const int row : rows) {
        records.push_back(&model_->record(row));
        frames.push_back(model_->frames(row));
    }
    if (!records.empty())
        QApplication::clipboard()->setText(TrafficExport::copyText(records, frames));
}

} // namespace app
