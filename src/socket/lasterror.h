#pragma once

#include <cstdint>

namespace net
{

// The calling thread's last-error code, kept per thread.
//
// A platform call that fails leaves its own code (errno) here through
// setLastErrorFromErrno(); the layer's own parameter and buffer faults store
// one of the named codes below. Nothing clears the code on success: read it
// only right after a call that reported a failure.
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;

std::uint32_t lastError();
void setLastError(std::uint32_t code);
// Stores the current errno of the calling thread as its last-error code.
void setLastErrorFromErrno();

} // namespace net
