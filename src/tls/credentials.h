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
    // file; a file that holds no PEM block is refused as BadInput.
    [[nodiscard]] static base::Result<Credentials> load(const std::string& certificatePath,
                                                        const std::string& keyPath);
};

} // namespace tls
