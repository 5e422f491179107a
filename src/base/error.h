#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace base
{

// What went wrong. The kinds are grouped by the layer that reports them; a
// layer uses its own and System.
enum class Fault : std::uint8_t {
    None, // nothing went wrong

    // The system
    System, // a system call failed; the errno says why

    // Sockets and channels
    BadParameter,         // no buffer, or a size of 0
    BufferTooSmall,       // the answer and its zero do not fit the buffer
    AddressHeaderMissing, // address-header mode: shorter than the 16-byte header
    TimedOut,             // nothing within the time allowed (or the errno of a wait that failed)
    NoRoomNow,            // a send that may not wait found no room: nothing went, try again later
    Cancelled,            // a stop or cancel ended the wait first
    PeerClosed,           // the peer ended the connection in order
    SendQueueFull,        // a message would make the send queue hold too much

    // Records
    CannotCreateFolder, // record folder: a missing folder could not be made
    NotAFolder,         // record folder: the path exists but is no folder
    CannotListFolder,   // record folder: its entries could not be read
    CannotCreateFile,   // record folder: a new file could not be made
    CannotWrite,        // record folder: a write failed (e.g. the disk is full)
    UnsafeFolder,       // record folder: not the user's own, or others may write in it
    CannotDelete,       // record folder: an old file could not be deleted to make room
    RecordGone,         // record folder: the folder or file was deleted while recording

    // Checks and input
    BadInput, // input a user gave (a rule file, a check file, a field) cannot be used

    // Tools
    BadArgument, // a program's command line cannot be used

    // Encrypted connections
    TlsFailed, // the TLS handshake or session failed; the reason says why
    Untrusted, // the peer's certificate is not trusted (the reason says why)
};

// One failure, or none: the fault, the errno where the system gave one, the
// detail that names what it concerns (a path, "file:line:column", a step), and
// for input the reason in words when the fault alone cannot say it. A value:
// copy it, compare it, keep it; any thread. Never dropped unread.
class [[nodiscard]] Error
{
public:
    // No failure.
    Error() = default;
    explicit Error(Fault fault, int systemCode = 0, std::string detail = {})
        : fault_(fault), systemCode_(systemCode), detail_(std::move(detail))
    {
    }
    // A system call's failure with its errno.
    static Error system(int code, std::string detail = {})
    {
        return Error(Fault::System, code, std::move(detail));
    }
    // The calling thread's errno as it stands, read before anything else.
    static Error fromErrno(std::string_view detail = {});
    // Input that cannot be used (BadInput, BadArgument), or a file refused for
    // what it is: where it stands and why.
    static Error input(Fault fault, std::string detail, std::string reason)
    {
        Error error(fault, 0, std::move(detail));
        error.reason_ = std::move(reason);
        return error;
    }

    bool ok() const { return fault_ == Fault::None; }
    Fault fault() const { return fault_; }
    // The errno, 0 when the system gave none.
    int systemCode() const { return systemCode_; }
    const std::string& detail() const { return detail_; }
    // The reason given in words (input); empty for the other faults.
    const std::string& reason() const { return reason_; }

    // The text a user reads, the one place every message about a failure
    // comes from: for an errno the system's text, for the layers' own faults
    // plain English, for input its reason; the detail goes first ("<detail>:
    // <reason>"), or after the record folder's verb ("cannot write <path>:
    // <reason>"). Empty for no failure.
    std::string text() const;

    friend bool operator==(const Error&, const Error&) = default;

private:
    Fault fault_ = Fault::None;
    int systemCode_ = 0;
    std::string detail_;
    std::string reason_;
};

// A value, or the failure that kept it from being made. Never dropped unread.
template <typename T> class [[nodiscard]] Result
{
public:
    Result(T value) : value_(std::move(value)) {}
    // `error` must be a failure.
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // The value; only when ok().
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    // Why there is no value; no failure when ok().
    const Error& error() const { return error_; }

private:
    std::optional<T> value_;
    Error error_;
};

} // namespace base
