#include "lasterror.h"

#include <cerrno>

namespace net
{

namespace
{
thread_local std::uint32_t tLastError = 0;
}

std::uint32_t lastError()
{
    return tLastError;
}

void setLastError(std::uint32_t code)
{
    tLastError = code;
}

void setLastError(const Error& error)
{
    tLastError = lastErrorCodeOf(error);
}

void setLastErrorFromErrno()
{
    tLastError = static_cast<std::uint32_t>(errno);
}

std::uint32_t lastErrorCodeOf(const Error& error)
{
    switch (error.fault()) {
    case Fault::None:
    case Fault::PeerClosed:
        return 0;
    case Fault::BadParameter:
        return kErrorInvalidParameter;
    case Fault::BufferTooSmall:
        return kErrorInsufficientBuffer;
    case Fault::AddressHeaderMissing:
        return kErrorInvalidUserBuffer;
    case Fault::TimedOut:
        return error.systemCode() != 0 ? static_cast<std::uint32_t>(error.systemCode()) : ETIMEDOUT;
    default:
        return static_cast<std::uint32_t>(error.systemCode());
    }
}

Error errorOfLastErrorCode(std::uint32_t code)
{
    switch (code) {
    case 0:
        return {};
    case kErrorInvalidParameter:
        return Error(Fault::BadParameter);
    case kErrorInsufficientBuffer:
        return Error(Fault::BufferTooSmall);
    case kErrorInvalidUserBuffer:
        return Error(Fault::AddressHeaderMissing);
    default:
        return Error::system(static_cast<int>(code));
    }
}

} // namespace net
