#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers the message boxes a test provokes: while it watches, every
// QMessageBox that becomes the active modal widget has its text recorded and
// is closed with its OK button. Lets a test click a button whose handler runs
// a modal message box without the test hanging in it.
class MessageBoxWatcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 10;

    explicit MessageBoxWatcher(QObject* parent = nullptr);

    const QStringList& texts() const { return texts_; }
    // The buttons each box offered, as QMessageBox::StandardButtons values.
    const QList<int>& buttons() const { return buttons_; }

private:
    void answer();

    QTimer timer_;
    QStringList texts_;
    QList<int> buttons_;
};
