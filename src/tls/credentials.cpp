#include "credentials.h"

#include "fileio/regularfile.h"

namespace tls
{

namespace
{

// Certificates and keys are small; a bigger file is no credential.
constexpr std::size_t kMaxPemBytes = 256 * 1024;

base::Result<std::string> readPem(const std::string& path)
{
    base::Result<std::string> text = fileio::RegularFile::readAll(path, kMaxPemBytes);
    if (!text)
        return text.error();
    if (text->find("-----BEGIN ") == std::string::npos)
        return base::Error::input(base::Fault::BadInput, path, "holds no PEM certificate or key");
    return text;
}

} // namespace

base::Result<Credentials> Credentials::load(const std::string& certificatePath,
                                            const std::string& keyPath)
{
    base::Result<std::string> certificate = readPem(certificatePath);
    if (!certificate)
        return certificate.error();
    base::Result<std::string> key = readPem(keyPath);
    if (!key)
        return key.error();
    return Credentials{std::move(*certificate), std::move(*key)};
}

} // namespace tls
