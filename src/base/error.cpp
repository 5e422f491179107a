#include "error.h"

#include <cerrno>
#include <cstring>

namespace base
{

namespace
{

// Room for any errno text.
constexpr std::size_t kSystemTextSize = 256;

std::string systemText(int code)
{
    char buffer[kSystemTextSize] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    return ::strerror_r(code, buffer, sizeof buffer);
}

// The reason a fault gives when the system gave no errno.
const char* ownText(Fault fault)
{
    switch (fault) {
    case Fault::BadParameter:
        return "invalid parameter (no buffer, or a size of 0)";
    case Fault::BufferTooSmall:
        return "the buffer is too small";
    case Fault::AddressHeaderMissing:
        return "no room for the 16-byte address header";
    case Fault::TimedOut:
        return "timed out";
    case Fault::NoRoomNow:
        return "no room to send now";
    case Fault::Cancelled:
        return "cancelled";
    case Fault::PeerClosed:
        return "closed by the peer";
    case Fault::SendQueueFull:
        return "the send queue is full";
    case Fault::UnsafeFolder:
        return "it must be a folder of your own that no one else may write in";
    case Fault::TlsFailed:
        return "the TLS handshake failed";
    case Fault::Untrusted:
        return "the certificate is not trusted";
    case Fault::None:
    case Fault::System:
    case Fault::CannotCreateFolder:
    case Fault::NotAFolder:
    case Fault::CannotListFolder:
    case Fault::CannotCreateFile:
    case Fault::CannotWrite:
    case Fault::CannotDelete:
    case Fault::RecordGone:
    case Fault::BadInput:
    case Fault::BadArgument:
        break;
    }
    return "";
}

// What the record folder's faults say before their path.
const char* verbText(Fault fault)
{
    switch (fault) {
    case Fault::CannotCreateFolder:
        return "cannot create the folder ";
    case Fault::NotAFolder:
        return "not a folder: ";
    case Fault::CannotListFolder:
        return "cannot read the folder ";
    case Fault::CannotCreateFile:
        return "cannot create ";
    case Fault::CannotWrite:
        return "cannot write ";
    case Fault::UnsafeFolder:
        return "will not record in ";
    case Fault::CannotDelete:
        return "cannot delete ";
    case Fault::RecordGone:
        return "deleted while recording: ";
    default:
        return nullptr;
    }
}

} // namespace

Error Error::fromErrno(std::string_view detail)
{
    // Read first: building the detail may allocate, which may change errno.
    const int code = errno;
    return system(code, std::string(detail));
}

std::string Error::text() const
{
    if (ok())
        return {};
    const char* verb = verbText(fault_);
    const std::string what = verb != nullptr ? verb + detail_ : detail_;
    const std::string reason = systemCode_ != 0   ? systemText(systemCode_)
                               : !reason_.empty() ? reason_
                                                  : std::string(ownText(fault_));
    if (reason.empty())
        return what;
    return what.empty() ? reason : what + ": " + reason;
}

} // namespace base
