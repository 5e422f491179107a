#include "messageviewchannel.h"

#include <cstring>

namespace protocol
{

namespace
{

constexpr std::string_view kEstablishedText = "Connection Established\r\n";
constexpr std::string_view kFailedText = "Connection Failed\r\n";
// The console's fixed wording for a connection the peer dropped (or whose read
// failed); it has nothing to do with a connect the operator cancels.
constexpr std::string_view kPeerDroppedText = "Connection Abandonned\r\n";
constexpr std::string_view kZeroLengthText = "Zero Length Message\r\n";

} // namespace

MessageViewChannel::MessageViewChannel(const DelimiterSet& delimiters) : check_(delimiters) {}

// The base destructor stops the channel too, but only after this object's
// members are gone; stopping here keeps the hooks away from them.
MessageViewChannel::~MessageViewChannel()
{
    stop();
}

void MessageViewChannel::setView(ViewWindow* view)
{
    view_ = view;
}

void MessageViewChannel::appendToView(std::string_view text)
{
    // An empty text would change nothing, so the view is not even asked.
    if (view_ == nullptr || text.empty()) {
        return;
    }
    // One request instead of separate length, select and replace steps, so
    // that no other append can fall between them. A text that is not placed in
    // time is dropped without a report.
    view_->appendText(text, ViewWindow::kAppendTimeoutMs);
}

void MessageViewChannel::displayData(const std::uint8_t* data, std::uint32_t length)
{
    if (data == nullptr) {
        return;
    }
    const void* nul = std::memchr(data, '\0', length);
    const std::size_t shown =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data)
                       : length;
    appendToView(std::string_view(reinterpret_cast<const char*>(data), shown));
}

std::string_view MessageViewChannel::eventText(net::ChannelEvent event)
{
    switch (event) {
    case net::ChannelEvent::ConnectionEstablished:
        return kEstablishedText;
    case net::ChannelEvent::ConnectionFailed:
        return kFailedText;
    case net::ChannelEvent::ConnectionDropped:
        return kPeerDroppedText;
    case net::ChannelEvent::ZeroLengthMessage:
        return kZeroLengthText;
    }
    return {};
}

void MessageViewChannel::handleBlock(std::uint8_t* data, std::uint32_t length)
{
    // The area the watcher reads into, which the error text may overwrite.
    const std::uint32_t capacity = usesAddressHeaders() ? kBufferSize : kDataCapacity;
    if (observer() == nullptr || !observer()->active()) {
        displayData(data, check_.check(data, length, capacity));
        return;
    }
    // The record gets the block as read: a copy taken before the check
    // writes into it (the copy's room is kept from block to block).
    readCopy_.assign(data, data + length);
    const std::uint32_t shown = check_.check(data, length, capacity);
    reportRead(readCopy_.data(), length, check_.verdict());
    displayData(data, shown);
}

void MessageViewChannel::handleEvent(net::ChannelEvent event)
{
    if (view_ == nullptr || !view_->parentExists()) {
        return;
    }
    const std::string_view text = eventText(event);
    if (!text.empty()) {
        appendToView(text);
    }
    // Posted whether or not the append got through; never waited for.
    view_->postToParent(kSocketEventMessage, static_cast<std::uintptr_t>(event),
                        reinterpret_cast<std::intptr_t>(this));
}

} // namespace protocol
