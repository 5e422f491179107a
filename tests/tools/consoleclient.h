#pragma once

#include "threadedviewwindow.h"

#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"
#include "protocol/messageviewchannel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Holds the client's delimiter set ahead of the channel that refers to it.
struct ConsoleDelimiters {
    protocol::DelimiterSet set;
};

// The console's side of a connection, built from its own layers: a
// MessageViewChannel with its own delimiter set in DEMO or RELEASE mode, bound
// to a ThreadedViewWindow, opened and written the way the console's connect and
// "Send this data" actions do. It also keeps every received block as it came,
// before the frame check. The test thread calls the public members; the
// watcher records blocks.
class ConsoleClient : private ConsoleDelimiters, public protocol::MessageViewChannel
{
public:
    explicit ConsoleClient(bool release);
    ~ConsoleClient() override;

    // openClient to 127.0.0.1 and startWatcher, as the console's connect.
    bool connect(const std::string& portText, bool udp);
    // Composes the frame in this client's mode and writes it with CR LF and
    // NUL in one write; true when every byte went out.
    bool sendFrame(std::string_view media, std::string_view deviceId, std::string_view data,
                   std::string_view command, std::string_view message);
    // The console's opening fields.
    bool sendDefaultFrame();
    bool sendText(std::string_view text);

    ThreadedViewWindow& view() { return view_; }
    // The blocks received so far, as they came.
    std::vector<std::string> blocks() const;
    // Every received byte so far, the blocks joined.
    std::string received() const;
    bool waitForReceived(const std::function<bool(const std::string&)>& condition,
                         std::chrono::milliseconds limit);

protected:
    void handleBlock(std::uint8_t* data, std::uint32_t length) override;

private:
    bool write(const std::string& block);

    protocol::DelimiterMode mode_;
    ThreadedViewWindow view_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> blocks_;
};
