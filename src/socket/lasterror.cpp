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

void setLastErrorFromErrno()
{
    tLastError = static_cast<std::uint32_t>(errno);
}

} // namespace net
