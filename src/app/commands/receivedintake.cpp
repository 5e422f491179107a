#include "receivedintake.h"

#include "answerpanel.h"
#include "consolelink.h"
#include "receivedtap.h"
#include "runpanel.h"

namespace app
{

ReceivedIntake::ReceivedIntake(ConsoleLink& console, AnswerPanel& answers, RunPanel& runs,
                               QObject* parent)
    : QObject(parent), console_(console), answers_(answers), runs_(runs)
{
    connect(&timer_, &QTimer::timeout, this, &ReceivedIntake::take);
}

ReceivedIntake::~ReceivedIntake()
{
    if (ReceivedTap* received = console_.received()) {
        received->setWake({});
        received->setOn(false);
    }
}

void ReceivedIntake::update()
{
    const bool wanted = answers_.isOn() || runs_.running();
    ReceivedTap* received = console_.received();
    if (received && received->on() != wanted) {
        // Answers go out as soon as the bytes are here, not at the next poll;
        // the poll stays for what a wake may miss.
        std::function<void()> wake;
        if (wanted) {
            wake = [this] {
                QMetaObject::invokeMethod(this, &ReceivedIntake::take, Qt::QueuedConnection);
            };
        }
        received->setWake(std::move(wake));
        received->setOn(wanted);
    }
    if (!wanted)
        timer_.stop();
    else if (!timer_.isActive())
        timer_.start(kIntervalMs);
}

void ReceivedIntake::take()
{
    if (!console_.received())
        return;
    const ReceivedTap::Received received = console_.received()->take();
    // Over UDP each read is one datagram, and a datagram is one record of the
    // device's, whether it ends in a line end or not.
    const bool datagrams = console_.datagrams();
    answers_.received(received, datagrams);
    if (!datagrams) {
        runs_.received(received.bytes, check::Chunk::Stream);
        return;
    }
    const std::string_view bytes = received.bytes;
    std::size_t begin = 0;
    for (const ReceivedTap::Received::Read& read : received.reads) {
        runs_.received(bytes.substr(begin, read.end - begin), check::Chunk::Datagram);
        begin = read.end;
    }
}

} // namespace app
