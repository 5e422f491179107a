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

void setLastError(const base::Error& error)
{
    tLastError = lastErrorCodeOf(error);
}

void setLastErrorFromErrno()
{
    tLastError = static_cast<std::uint32_t>(errno);
}

std::uint32_t lastErrorCodeOf(const base::Error& error)
{
    switch (error.fault()) {
    case base::Fault::None:
    case base::Fault::PeerClosed:
        return 0;
    case base::Fault::BadParameter:
        return kErrorInvalidParameter;
    case base::Fault::BufferTooSmall:
        return kErrorInsufficientBuffer;
    case base::Fault::AddressHeaderMissing:
        return kErrorInvalidUserBuffer;
    case base::Fault::TimedOut:
        return error.systemCode() != 0 ? static_cast<std::uint32_t>(error.systemCode()) : ETIMEDOUT;
    default:
        return static_cast<std::uint32_t>(error.systemCode());
    }
}

base::Error errorOfLastErrorCode(std::uint32_t code)
{
    switch (code) {
    case 0:
        return {};
    case kErrorInvalidParameter:
        return base::Error(base::Fault::BadParameter);
    case kErrorInsufficientBuffer:
        return base::Error(base::Fault::BufferTooSmall);
    case kErrorInvalidUserBuffer:
        return base::Error(base::Fault::AddressHeaderMissing);
    default:
        return base::Error::system(static_cast<int>(code));
    }
}

} // namespace net
