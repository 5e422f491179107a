#include "loopbacksocket.h"
#include "loopbacktcpserver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

// More than the system's buffers on both ends of a loopback connection hold.
constexpr std::size_t kMoreThanBuffered = 64 * 1024 * 1024;

} // namespace

// The peer's send used to block for as long as the far end did not read, so a
// channel that stopped reading hung the test or benchmark instead of failing it.
TEST(LoopbackTcpServer, SendToAFarEndThatStopsReadingEndsAtItsDeadline)
{
    LoopbackTcpServer server;
    ASSERT_TRUE(server.listening());
    net::SocketAddress to;
    to.family = AF_INET;
    to.port = htons(server.port());
    to.address = htonl(INADDR_LOOPBACK);
    int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    ASSERT_EQ(::connect(client, to.asSockaddr(), net::SocketAddress::kSize), 0);
    ASSERT_TRUE(server.accept(3s));

    const std::string bytes(kMoreThanBuffered, 'x');
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<bool> result{true};
    const auto start = Clock::now();
    std::thread sender([&] {
        result = server.send(bytes, 300ms);
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_all();
    });
    bool endedInTime = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        endedInTime = finished.wait_for(lock, 5s, [&] { return done; });
    }
    // A send still blocked is woken by closing the far end, so the test ends.
    loopback::closeSocket(client);
    sender.join();
    EXPECT_TRUE(endedInTime) << "the send did not give up at its deadline";
    EXPECT_FALSE(result) << "a send that could not finish reported success";
    EXPECT_LT(Clock::now() - start, 5s);
}
