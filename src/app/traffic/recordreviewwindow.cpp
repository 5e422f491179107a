#include "recordreviewwindow.h"

#include "traffic/recordframes.h"

#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>

#include <algorithm>

namespace app
{

namespace
{

std::filesystem::path localPath(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    return std::filesystem::path(
        std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

QString reasonOf(const base::Error& error)
{
    return QString::fromStdString(error.text());
}

} // namespace

RecordReviewWindow::RecordReviewWindow(const QString& path, QWidget* parent,
                                       traffic::RecordLimits limits, protocol::DelimiterMode mode)
    : TrafficWindow(parent, limits.maxRecords), path_(path)
{
    setWindowTitle(tr("Traffic record – %1").arg(QFileInfo(path).fileName()));
    setStatus(tr("Reading %1…").arg(path_));
    reader_ = std::thread([this, file = localPath(path), limits, mode] {
        struct Read {
            base::Result<traffic::RecordFileContents> result;
            std::vector<std::string> frames;
        };
        Read read{traffic::RecordFileReader::readFile(
                      file, limits,
                      [this](std::uint64_t done, std::uint64_t total) {
                          QMetaObject::invokeMethod(
                              this, [this, done, total] { showProgress(done, total); },
                              Qt::QueuedConnection);
                      },
                      &cancel_),
                  {}};
        // Decoded here, as the live window's queue decodes on the recording
        // side: a large file's frames would hold the UI thread up.
        if (read.result) {
            traffic::RecordFrames frames(mode);
            read.frames.reserve(read.result->records.size());
            for (const traffic::Record& record : read.result->records)
                read.frames.push_back(frames.take(record));
        }
        // The records move to the UI thread in one piece; a shared pointer
        // because a queued call's functor is copied.
        auto shared = std::make_shared<Read>(std::move(read));
        QMetaObject::invokeMethod(
            this,
            [this, shared] {
                frames_ = std::move(shared->frames);
                takeResult(std::move(shared->result));
            },
            Qt::QueuedConnection);
    });
}

RecordReviewWindow::~RecordReviewWindow()
{
    cancel_ = true;
    if (reader_.joinable())
        reader_.join();
}

QString RecordReviewWindow::fileFilter()
{
    return tr("Record files (*.log *.pcapng);;All files (*)");
}

RecordReviewWindow* RecordReviewWindow::open(const QString& path, QWidget* owner,
                                             protocol::DelimiterMode mode)
{
    // The file is opened and told by the reading thread, never here: a FIFO
    // or a slow file system would hold the whole console up.
    auto* window = new RecordReviewWindow(path, owner, kDefaultLimits, mode);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &RecordReviewWindow::opened, window, [window] {
        window->show();
        window->raise();
        window->activateWindow();
    });
    const QPointer<QWidget> over(owner);
    connect(window, &RecordReviewWindow::readFinished, window, [window, over](bool ok) {
        if (ok || window->wasOpened())
            return;
        window->deleteLater();
        QMessageBox::warning(over, tr("Open record"),
                             tr("The record cannot be opened: %1").arg(reasonOf(window->error())));
    });
    return window;
}

void RecordReviewWindow::markOpened()
{
    if (opened_)
        return;
    opened_ = true;
    emit opened();
}

void RecordReviewWindow::showProgress(quint64 done, quint64 total)
{
    markOpened();
    if (finished_)
        return;
    setStatus(total > 0
                  ? tr("Reading %1… %2%").arg(path_).arg(std::min<quint64>(done * 100 / total, 100))
                  : tr("Reading %1…").arg(path_));
}

void RecordReviewWindow::setStatus(const QString& text)
{
    status_ = text;
    // Set again so that the status line is redrawn now, not at a next event.
    setRecordingStatus([this] { return status_; });
}

void RecordReviewWindow::takeResult(base::Result<traffic::RecordFileContents> result)
{
    finished_ = true;
    if (!result) {
        error_ = result.error();
        setStatus(tr("%1 could not be read: %2").arg(path_, reasonOf(error_)));
        emit readFinished(false);
        return;
    }
    markOpened();
    contents_ = std::move(*result);
    model().append(std::move(contents_.records), std::move(frames_));
    contents_.records.clear();
    frames_.clear();
    setStatus(summary());
    emit readFinished(true);
}

QString RecordReviewWindow::summary() const
{
    const QLocale locale;
    const bool pcapng = contents_.format == traffic::RecordFileReader::Format::Pcapng;
    QString text = tr("%1 (%2): %3 records")
                       .arg(path_, pcapng ? QStringLiteral("pcapng") : tr("text"),
                            locale.toString(static_cast<qulonglong>(model().rowCount())));
    text += contents_.damaged == 0
                ? tr(", nothing damaged")
                : tr(", %1 damaged %2 skipped")
                      .arg(locale.toString(static_cast<qulonglong>(contents_.damaged)),
                           pcapng ? tr("blocks") : tr("lines"));
    if (contents_.leftOut > 0)
        text += tr(", %1 older records left out (the newest %2 are kept)")
                    .arg(locale.toString(static_cast<qulonglong>(contents_.leftOut)),
                         locale.toString(static_cast<qulonglong>(model().maxRecords())));
    return text + QLatin1Char('.');
}

} // namespace app
