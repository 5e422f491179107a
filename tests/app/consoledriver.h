#pragma once

#include "app/console/consoledialog.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

class LoopbackTcpServer;
class LoopbackUdpPeer;

// Drives the console as an operator does, by clicks on its controls, and reads
// what it shows. Always points it at 127.0.0.1.
namespace consoledriver
{

inline constexpr int kWaitMs = 5000;
inline constexpr std::chrono::milliseconds kWait{kWaitMs};

// The message view's text as single bytes (line ends as "\n").
std::string viewText(const app::ConsoleDialog& dialog);
// How many lines of the view are exactly `line` (without its line end).
std::size_t countLines(const app::ConsoleDialog& dialog, std::string_view line);

bool isConnectedState(const app::ConsoleDialog& dialog);
bool isDisconnectedState(const app::ConsoleDialog& dialog);

void click(app::ConsoleDialog& dialog, int id);
void chooseSocketType(app::ConsoleDialog& dialog, bool udp);
// Points the console at `portText` on 127.0.0.1 and clicks Connect; the
// connect runs in the background.
void startConnect(app::ConsoleDialog& dialog, const std::string& portText);
// The same, then waits (at most kWait) for the attempt to end.
void clickConnect(app::ConsoleDialog& dialog, const std::string& portText);
// Waits at most kWait until no connect is pending; true when none is.
bool waitForConnectEnd(const app::ConsoleDialog& dialog);

// Connects over TCP to `peer` and waits (at most kWait each) until the peer
// has accepted and the console is in the Connected state. False (with a
// warning naming the step) when a step fails.
bool connectToTcpPeer(app::ConsoleDialog& dialog, LoopbackTcpServer& peer);
// Chooses UDP, connects to `portText` on 127.0.0.1 and waits (at most kWait)
// for the Connected state. False (with a warning) when it does not come.
bool connectUdp(app::ConsoleDialog& dialog, const std::string& portText);
// Sends the free text "hi" by Enter and waits (at most kWait) until `peer`
// has the datagram: the peer then knows the console's address. False (with a
// warning) when nothing arrives.
bool introduceToUdpPeer(app::ConsoleDialog& dialog, LoopbackUdpPeer& peer);

// The line the console shows after a TCP connect to 127.0.0.1.
std::string tcpConnectLine(const std::string& portText);

// Whether the console is fit for the next connect: Disconnect when it is not
// in the Disconnected state, then a TCP connect to a new loopback peer, which
// must show its connect line, and a Disconnect. Leaves the console
// Disconnected. False (with a warning naming the step) when a step fails.
bool connectsAgain(app::ConsoleDialog& dialog);

} // namespace consoledriver
