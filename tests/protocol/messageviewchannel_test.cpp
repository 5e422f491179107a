#include "protocol/messageviewchannel.h"

#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"
#include "threadedviewwindow.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace std::string_literals;
using net::ChannelEvent;
using protocol::DelimiterSet;
using protocol::MessageViewChannel;

namespace
{

constexpr auto kDeadline = 5s;
const std::string kError = "Error received data !\r\n";

// The channel with its hooks reachable from the test, and a count of the hook
// calls that have returned, so a test can wait for the watcher to be done.
class ObservedChannel : public MessageViewChannel
{
public:
    using MessageViewChannel::MessageViewChannel;
    ~ObservedChannel() override { stop(); }

    bool waitForHooks(int count, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return returned_.wait_for(lock, limit, [&] { return hooks_ >= count; });
    }

    void handleBlock(std::uint8_t* data, std::uint32_t length) override
    {
        MessageViewChannel::handleBlock(data, length);
        countHook();
    }
    void handleEvent(ChannelEvent event) override
    {
        MessageViewChannel::handleEvent(event);
        countHook();
    }

private:
    void countHook()
    {
        {
            std::lock_guard lock(mutex_);
            ++hooks_;
        }
        returned_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable returned_;
    int hooks_ = 0;
};

// A console-like set-up: the view with its UI thread, the process's delimiter
// set stand-in and a channel bound to the view (declared last, so it stops
// before the view goes away), connected to a loopback TCP peer.
class TcpChannel : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listening());
        channel.setView(&view);
    }

    void connect()
    {
        ASSERT_TRUE(
            channel.openClient("127.0.0.1", server.portText().c_str(), AF_INET, SOCK_STREAM));
        ASSERT_TRUE(server.accept(kDeadline));
        ASSERT_TRUE(channel.startWatcher());
    }

    // Sends one block and waits until the watcher has handled it.
    void sendBlock(std::string_view bytes, int hooksSoFar)
    {
        ASSERT_TRUE(server.send(bytes));
        ASSERT_TRUE(channel.waitForHooks(hooksSoFar + 1, kDeadline));
    }

    LoopbackTcpServer server;
    ThreadedViewWindow view;
    DelimiterSet delimiters;
    ObservedChannel channel{delimiters};
};

struct BlockRow {
    const char* name;
    bool release;
    std::string sent;
    std::string shown;
};

void PrintTo(const BlockRow& row, std::ostream* os)
{
    *os << row.name;
}

class TcpBlocks : public TcpChannel, public testing::WithParamInterface<BlockRow>
{
};

TEST_P(TcpBlocks, ShowsWhatTheCheckLeavesUpToTheFirstNul)
{
    const BlockRow& row = GetParam();
    delimiters.setModeFlag(row.release ? 1 : 0);
    connect();
    sendBlock(row.sent, 0);
    EXPECT_EQ(view.text(), row.shown);
    EXPECT_TRUE(view.posted().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TcpBlocks,
    testing::Values(
        BlockRow{"FrameWithLineEnd", false, "[BA1=ENT-Message\r\n", "[BA1=ENT-Message\r\n"},
        BlockRow{"NoDelimiters", false, std::string(1000, 'z') + "\r\n", kError},
        BlockRow{"SingleByte", false, "[", kError},
        BlockRow{"FrameOfAnotherConsole", false, "[BA1=ENT-m\r\n\0"s, "[BA1=ENT-m\r\n"},
        BlockRow{"NulCutsTheText", false, "[a=b-c\0hidden\r\n"s, "[a=b-c"},
        BlockRow{"DelimitersOnlyAfterNul", false, "seen\0[=-"s, "seen"},
        BlockRow{"BytesPassUndecoded", false, "\x01[\xC3\xA9=\xFF\x80-\x7F\x1B\r\n",
                 "\x01[\xC3\xA9=\xFF\x80-\x7F\x1B\r\n"},
        BlockRow{"ReleaseFrame", true,
                 "\x07"
                 "BA1\x08"
                 "ENT\x09"
                 "Message\r\n",
                 "[BA1=ENT-Message\r\n"},
        BlockRow{"ReleaseTwoFrames", true,
                 "\x07"
                 "a\x08"
                 "b\x09"
                 "c\x07"
                 "d\x08"
                 "e\x09"
                 "f",
                 "[a=b-c\x07"
                 "d\x08"
                 "e\x09"
                 "f"},
        BlockRow{"ReleaseRejectsPrintableDelimiters", true, "[BA1=ENT-Message\r\n", kError}),
    [](const testing::TestParamInfo<BlockRow>& info) { return std::string(info.param.name); });

TEST_F(TcpChannel, BlocksWithoutLineEndContinueTheSameLine)
{
    connect();
    sendBlock("[a=b-first", 0);
    sendBlock(" second [=-\r\n", 1);
    EXPECT_EQ(view.text(), "[a=b-first second [=-\r\n");
}

TEST_F(TcpChannel, DroppedConnectionAppendsTheLineAndPostsTheEvent)
{
    connect();
    sendBlock("[a=b-c\r\n", 0);
    server.closeConnection();
    ASSERT_TRUE(view.waitForPosts(1, kDeadline));
    EXPECT_EQ(view.text(), "[a=b-c\r\nConnection Abandonned\r\n");
    const auto posted = view.posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, 0x9234u);
    EXPECT_EQ(posted[0].wParam, 2u);
    EXPECT_EQ(posted[0].lParam, reinterpret_cast<std::intptr_t>(&channel));
    EXPECT_TRUE(channel.hasSocket()) << "the watcher does not release the socket itself";
}

TEST_F(TcpChannel, WithoutViewBlocksAndEventsLeaveNoTrace)
{
    channel.setView(nullptr);
    connect();
    sendBlock("[a=b-c\r\n", 0);
    sendBlock("bad block", 1);
    server.closeConnection();
    ASSERT_TRUE(channel.waitForHooks(3, kDeadline));
    view.runOnUiThread([] {}); // anything queued to the view has been handled
    EXPECT_EQ(view.appendRequests(), 0);
    EXPECT_TRUE(view.text().empty());
    EXPECT_TRUE(view.posted().empty());
}

TEST_F(TcpChannel, ParentGoneEventsAppendAndPostNothingButBlocksShow)
{
    view.setParentExists(false);
    connect();
    sendBlock("[a=b-c", 0);
    server.closeConnection();
    ASSERT_TRUE(channel.waitForHooks(2, kDeadline));
    view.runOnUiThread([] {});
    EXPECT_EQ(view.text(), "[a=b-c");
    EXPECT_TRUE(view.posted().empty());
}

TEST_F(TcpChannel, BlockedUiLosesThatBlockAndTheWatcherReadsOn)
{
    connect();
    view.blockUi(10s);
    ASSERT_TRUE(server.send("[lost=block-\r\n"));
    ASSERT_TRUE(view.waitForTimedOutAppends(1, kDeadline));
    ASSERT_TRUE(channel.waitForHooks(1, kDeadline));
    view.releaseUi();

    sendBlock("[kept=block-\r\n", 1);
    EXPECT_TRUE(view.waitForTextEqual("[kept=block-\r\n", kDeadline)) << view.text();
}

TEST_F(TcpChannel, AppendThatTimedOutNeverShowsAfterStop)
{
    connect();
    view.blockUi(10s);
    ASSERT_TRUE(server.send("[late=block-\r\n"));
    ASSERT_TRUE(view.waitForAppendRequests(1, kDeadline));
    // Stop while the watcher waits on the blocked UI: its append times out,
    // the watcher ends, and the queued append must not land afterwards.
    const auto before = std::chrono::steady_clock::now();
    channel.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 4s);
    EXPECT_FALSE(channel.hasWatcher());
    view.releaseUi();
    view.runOnUiThread([] {});
    EXPECT_TRUE(view.text().empty()) << view.text();
}

TEST_F(TcpChannel, EchoOnTheUiThreadIsAppendedAtOnce)
{
    bool appended = false;
    std::string seen;
    view.runOnUiThread([&] {
        channel.appendToView(" -> [BA1=ENT-\r\n");
        seen = view.text();
        appended = true;
    });
    EXPECT_TRUE(appended);
    EXPECT_EQ(seen, " -> [BA1=ENT-\r\n");
}

struct EventRow {
    ChannelEvent event;
    std::string text;
};

void PrintTo(const EventRow& row, std::ostream* os)
{
    *os << static_cast<int>(row.event);
}

class ChannelEvents : public testing::TestWithParam<EventRow>
{
};

TEST_P(ChannelEvents, AppendTheEventLineThenPostCodeAndChannel)
{
    const EventRow& row = GetParam();
    ThreadedViewWindow view;
    DelimiterSet delimiters;
    ObservedChannel channel(delimiters);
    channel.setView(&view);
    channel.handleEvent(row.event);
    ASSERT_TRUE(view.waitForPosts(1, kDeadline));
    EXPECT_EQ(view.text(), row.text);
    EXPECT_EQ(MessageViewChannel::eventText(row.event), row.text);
    const auto posted = view.posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, MessageViewChannel::kSocketEventMessage);
    EXPECT_EQ(posted[0].wParam, static_cast<std::uintptr_t>(row.event));
    EXPECT_EQ(posted[0].lParam, reinterpret_cast<std::intptr_t>(&channel));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChannelEvents,
    testing::Values(EventRow{ChannelEvent::ConnectionEstablished, "Connection Established\r\n"},
                    EventRow{ChannelEvent::ConnectionFailed, "Connection Failed\r\n"},
                    EventRow{ChannelEvent::ConnectionDropped, "Connection Abandonned\r\n"},
                    EventRow{ChannelEvent::ZeroLengthMessage, "Zero Length Message\r\n"}),
    [](const testing::TestParamInfo<EventRow>& info) {
        return "Code" + std::to_string(static_cast<int>(info.param.event));
    });

TEST(MessageViewChannel, EventIsPostedEvenWhenItsLineTimesOut)
{
    ThreadedViewWindow view;
    DelimiterSet delimiters;
    ObservedChannel channel(delimiters);
    channel.setView(&view);
    view.blockUi(10s);
    channel.handleEvent(ChannelEvent::ConnectionDropped);
    EXPECT_EQ(view.timedOutAppends(), 1);
    view.releaseUi();
    ASSERT_TRUE(view.waitForPosts(1, kDeadline));
    view.runOnUiThread([] {});
    EXPECT_TRUE(view.text().empty());
}

TEST(MessageViewChannel, FailingBlockErrorTextStaysInsideTheReadArea)
{
    ThreadedViewWindow view;
    DelimiterSet delimiters;
    ObservedChannel channel(delimiters);
    channel.setView(&view);
    // The plain-mode read area, exactly: ASan reports any write beyond it.
    std::vector<std::uint8_t> area(net::SocketChannel::kDataCapacity, 'q');
    channel.handleBlock(area.data(), 1);
    EXPECT_EQ(view.text(), kError);
    EXPECT_EQ(area[23], 0);
    EXPECT_EQ(area[24], 'q');
}

TEST(MessageViewChannel, EmptyTextBeforeNulIsNotSentToTheView)
{
    ThreadedViewWindow view;
    DelimiterSet delimiters;
    MessageViewChannel channel(delimiters);
    channel.setView(&view);
    const std::uint8_t block[] = {0, '[', '=', '-'};
    channel.displayData(block, sizeof block);
    EXPECT_EQ(view.appendRequests(), 0);
}

class UdpChannel : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.bound());
        channel.setView(&view);
        ASSERT_TRUE(channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_DGRAM));
        ASSERT_TRUE(channel.startWatcher());
        // The peer learns where the channel is from a first datagram.
        const char hello[] = "hello";
        ASSERT_EQ(channel.writeBlock(hello, 5, 1000), 5);
        std::string received;
        ASSERT_TRUE(peer.receive(received, kDeadline));
        ASSERT_EQ(received, hello);
        if (!peer.senderIsLoopback()) {
            GTEST_SKIP() << "the channel's socket is not bound on the loopback network";
        }
    }

    LoopbackUdpPeer peer;
    ThreadedViewWindow view;
    DelimiterSet delimiters;
    ObservedChannel channel{delimiters};
};

TEST_F(UdpChannel, DatagramsAreShownOneBlockEach)
{
    delimiters.setModeFlag(1);
    ASSERT_TRUE(peer.sendToSender("\x07"
                                  "BA1\x08"
                                  "ENT\x09"
                                  "m\r\n\0"s));
    ASSERT_TRUE(channel.waitForHooks(1, kDeadline));
    ASSERT_TRUE(peer.sendToSender("no frame"));
    ASSERT_TRUE(channel.waitForHooks(2, kDeadline));
    EXPECT_EQ(view.text(), "[BA1=ENT-m\r\n" + kError);
}

TEST_F(UdpChannel, EmptyDatagramDropsTheConnection)
{
    ASSERT_TRUE(peer.sendToSender(""));
    ASSERT_TRUE(view.waitForPosts(1, kDeadline));
    EXPECT_EQ(view.text(), "Connection Abandonned\r\n");
    EXPECT_EQ(view.posted()[0].wParam, 2u);
}

} // namespace
