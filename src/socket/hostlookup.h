#pragma once

#include "base/error.h"
#include "socketaddress.h"

#include <cstddef>
#include <cstdint>

namespace net
{

// A platform socket descriptor, and the value that stands for none.
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

// Host-order IPv4 address that stands both for the limited broadcast address
// and for "nothing resolved".
inline constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// Size of the work buffer for host names: 259 characters and the zero.
inline constexpr std::size_t kHostNameBufferSize = 260;

// Free look-up operations. They keep no state, may be called from any thread,
// and take as long as the system's name services take. Texts are
// zero-terminated; nothing here throws.

// Port of a service text, host order. Leading decimal digits give the number
// (only its low 16 bits count, however many digits there are); a text that does
// not begin with a digit is looked up in the service database with no
// protocol. 0 when nothing is found. The text is not trimmed.
std::uint16_t parsePort(const char* service);

// IPv4 address of a host text (nullptr: the local host's canonical name),
// host order. A dotted address is taken as it stands; the text
// "255.255.255.255" gives 0xFFFFFFFF without any look-up; any other text is
// looked up by name. 0xFFFFFFFF when nothing resolves.
std::uint32_t resolveHost(const char* host);

// The local host's canonical name into `buffer` (capacity bytes, zero
// included). False with last-error 87 for no buffer or capacity 0, with 122
// when the name and its zero do not fit (the buffer is then untouched), and
// with the platform's code when the host name cannot be read.
bool localHostName(char* buffer, std::size_t capacity);

// The local host's first IPv4 address as "a.b.c.d" into `buffer`. False with
// last-error 87 for no buffer or capacity 0, 122 when it does not fit, and
// without a code of its own when the host's name does not resolve to an IPv4
// address. Never needs more than 16 bytes.
bool localDottedAddress(char* buffer, std::size_t capacity);

// Accepts one connection on a listening socket, without asking for the
// peer's address. Waits until one arrives or the socket is shut down; the new
// socket (close-on-exec), or kInvalidSocket with the thread's last-error code
// set.
SocketHandle acceptOne(SocketHandle listening);
// The same, typed, for the layer's own use: the new socket, or the system's
// failure. Does not touch the last-error code.
[[nodiscard]] base::Result<SocketHandle> acceptConnection(SocketHandle listening);

// Shuts the socket down both ways (result ignored), then closes it. True when
// the close succeeded; false for a socket that is already closed.
bool shutdownAndClose(SocketHandle socket);

} // namespace net
