#pragma once

#include "base/error.h"

#include <cstdint>

namespace net
{

// The calling thread's last-error code, kept per thread: the public edge's
// form of a base::Error (SocketChannel's counts, the host look-ups).
//
// A platform call that fails leaves its own code (errno) here; the layer's
// own parameter and buffer faults store one of the named codes below, which
// callers and their tests know. Nothing clears the code on success: read it
// only right after a call that reported a failure. A code is no errno in
// general: a caller of the public edge turns it back into a base::Error
// (errorOfLastErrorCode) for its text. This system's own code never reads it
// back: it uses the typed calls (ioresult.h, SocketChannel::read and write,
// acceptConnection) and only sets the code for the edge.
inline constexpr std::uint32_t kErrorInvalidParameter = 87;    // base::Fault::BadParameter
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122; // base::Fault::BufferTooSmall
inline constexpr std::uint32_t kErrorInvalidUserBuffer = 1784; // base::Fault::AddressHeaderMissing

std::uint32_t lastError();
void setLastError(std::uint32_t code);
// Stores lastErrorCodeOf(error).
void setLastError(const base::Error& error);
// Stores the current errno of the calling thread as its last-error code.
void setLastErrorFromErrno();

// The code that stands for `error` at the public edge: the named codes for
// the layer's own faults, ETIMEDOUT for a time-out, 0 for no failure or an
// orderly close, else the errno.
std::uint32_t lastErrorCodeOf(const base::Error& error);
// The base::Error a code stands for: the named codes as the layer's own
// faults, 0 as no failure, any other code as an errno.
base::Error errorOfLastErrorCode(std::uint32_t code);

} // namespace net
