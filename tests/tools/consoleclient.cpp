#include "consoleclient.h"

#include <sys/socket.h>

ConsoleClient::ConsoleClient(bool release)
    : MessageViewChannel(ConsoleDelimiters::set),
      mode_(release ? protocol::DelimiterMode::Release : protocol::DelimiterMode::Demo)
{
    ConsoleDelimiters::set.setModeFlag(release ? 1 : 0);
    setView(&view_);
}

ConsoleClient::~ConsoleClient()
{
    stop();
}

bool ConsoleClient::connect(const std::string& portText, bool udp)
{
    return openClient("127.0.0.1", portText.c_str(), AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM) &&
           startWatcher();
}

bool ConsoleClient::sendFrame(std::string_view media, std::string_view deviceId,
                              std::string_view data, std::string_view command,
                              std::string_view message)
{
    const protocol::FrameFields fields{std::string(media), std::string(deviceId), std::string(data),
                                       std::string(command), std::string(message)};
    return write(protocol::wireBlock(protocol::composeFrame(fields, mode_)));
}

bool ConsoleClient::sendDefaultFrame()
{
    return sendFrame("B - BARCODE", "A1", "39123439", "ENT -  Entrence", "Message / Description");
}

bool ConsoleClient::sendText(std::string_view text)
{
    return write(protocol::wireBlock(text));
}

bool ConsoleClient::write(const std::string& block)
{
    const auto length = static_cast<std::uint32_t>(block.size());
    return writeBlock(block.data(), length, kNoTimeout) == static_cast<std::int32_t>(length);
}

std::vector<std::string> ConsoleClient::blocks() const
{
    std::lock_guard lock(mutex_);
    return blocks_;
}

std::string ConsoleClient::received() const
{
    std::string all;
    for (const std::string& block : blocks()) {
        all += block;
    }
    return all;
}

bool ConsoleClient::waitForReceived(const std::function<bool(const std::string&)>& condition,
                                    std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] {
        std::string all;
        for (const std::string& block : blocks_) {
            all += block;
        }
        return condition(all);
    });
}

void ConsoleClient::handleBlock(std::uint8_t* data, std::uint32_t length)
{
    {
        std::lock_guard lock(mutex_);
        blocks_.emplace_back(reinterpret_cast<const char*>(data), length);
    }
    arrived_.notify_all();
    MessageViewChannel::handleBlock(data, length);
}
