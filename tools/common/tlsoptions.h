#pragma once

#include "commandline.h"

#include "base/error.h"
#include "tls/tlscontext.h"
#include "tls/tlssession.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// The TLS options a tool that connects to devices takes (framesend,
// devicecheck), and what they decide: the context to connect with and
// whether a device's certificate is good enough to go on.
//
//   --tls              speak TLS
//   --ca FILE          trust the authorities in FILE (PEM) besides the system's
//   --pin FINGERPRINT  accept the device whose certificate has this SHA-256
//                      fingerprint (and no other)
//   --insecure         accept any certificate (its fingerprint is still shown)
//   --cert FILE --key FILE  a client certificate for devices that require one
//
// A value; one thread.
struct TlsOptions {
    bool on = false;
    std::string caFile;
    std::string certificateFile;
    std::string keyFile;
    std::string pin; // canonical form, or empty
    bool insecure = false;

    static bool isOption(std::string_view option);
    // Takes the current option of `line` (one isOption() says is ours).
    [[nodiscard]] base::Error take(std::string_view option, CommandLine& line);
    // The options as a whole: a certificate without its key, a pin or a CA
    // file without --tls are refused.
    [[nodiscard]] base::Error complete() const;

    // The client context these options make (files read now).
    [[nodiscard]] base::Result<std::shared_ptr<tls::TlsContext>> clientContext() const;
    // Whether to go on with the device once its handshake is done: trusted
    // by an authority, pinned (the device's own pin, else --pin), or
    // --insecure; else Untrusted with the reason and the fingerprint.
    [[nodiscard]] base::Error judge(const tls::TlsSession& session,
                                    const std::string& devicePin = {}) const;

    // The lines of --help that describe these options.
    static std::string_view usage();
};

} // namespace devicetools
