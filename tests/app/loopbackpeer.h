#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The far end of the console's connection in GUI tests: a TCP listener or a
// UDP socket bound to 127.0.0.1 on a port the system picks. Nothing here ever
// sends to or connects with any other address. Used by the test's thread only;
// every wait has a deadline.
class LoopbackPeer
{
public:
    enum class Kind { Tcp, Udp };

    explicit LoopbackPeer(Kind kind);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    bool isReady() const { return socket_ >= 0 && port_ != 0; }
    std::uint16_t port() const { return port_; }
    QString portText() const { return QString::number(port_); }

    // TCP: takes the next pending connection. False when none came in time.
    bool accept(int timeoutMs);
    // One read: a TCP block from the accepted connection, or one UDP datagram
    // (its sender's port into senderPort). False when nothing came in time, or
    // (TCP) the connection was closed.
    bool receive(QByteArray& data, int timeoutMs, std::uint16_t* senderPort = nullptr);
    // TCP: true once the accepted connection has been closed by the console.
    bool waitForClose(int timeoutMs);
    // TCP: sends bytes on the accepted connection. True when all went out.
    bool send(const QByteArray& data);
    // TCP: closes the accepted connection, as a server that hangs up.
    void closeConnection();

private:
    bool waitReadable(int socket, int timeoutMs) const;

    Kind kind_;
    int socket_ = -1;
    int connection_ = -1;
    std::uint16_t port_ = 0;
};
