#pragma once

#include "base/error.h"

#include <string>

namespace tls
{

// A certificate and its private key, both PEM text: what a program shows its
// peers. A value; any thread.
struct Credentials {
    std::string certificatePem;
    std::string keyPem;

    bool empty() const { return certificatePem.empty(); }
    // Reads both files (bounded, regular files only). The failure names the
    // file; a file that holds no PEM block is refused as BadInput. Without a
    // key file the certificate file is a PKCS#12 bundle without a password.
    [[nodiscard]] static base::Result<Credentials> load(const std::string& certificatePath,
                                                        const std::string& keyPath);
    // Reads a PKCS#12 file (certificate, key and any chain in one, as some
    // authorities hand them out) that `password` opens ("" for none), into
    // PEM. The failure names the file and the library's reason (a wrong or
    // missing password reads as "mac verify failure").
    [[nodiscard]] static base::Result<Credentials> loadPkcs12(const std::string& path,
                                                              const std::string& password);
};

} // namespace tls
