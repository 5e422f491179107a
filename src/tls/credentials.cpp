#include "credentials.h"

#include "tlscontext.h"

#include "fileio/regularfile.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>

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

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;

std::string drain(BIO* bio)
{
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

} // namespace

base::Result<Credentials> Credentials::loadPkcs12(const std::string& path,
                                                  const std::string& password)
{
    base::Result<std::string> bytes = fileio::RegularFile::readAll(path, kMaxPemBytes);
    if (!bytes)
        return bytes.error();
    Bio in(BIO_new_mem_buf(bytes->data(), static_cast<int>(bytes->size())));
    std::unique_ptr<PKCS12, Freer<PKCS12, PKCS12_free>> bundle(
        in ? d2i_PKCS12_bio(in.get(), nullptr) : nullptr);
    if (!bundle)
        return base::Error::input(base::Fault::BadInput, path,
                                  takeLibraryError("holds no PKCS#12 bundle"));
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (PKCS12_parse(bundle.get(), password.c_str(), &key, &certificate, &chain) != 1)
        return base::Error::input(base::Fault::BadInput, path,
                                  takeLibraryError("the PKCS#12 bundle cannot be opened"));
    Bio certificates(BIO_new(BIO_s_mem()));
    Bio keys(BIO_new(BIO_s_mem()));
    bool written =
        certificate != nullptr && key != nullptr && certificates && keys &&
        PEM_write_bio_X509(certificates.get(), certificate) == 1 &&
        PEM_write_bio_PrivateKey(keys.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    for (int i = 0; written && chain != nullptr && i < sk_X509_num(chain); ++i)
        written = PEM_write_bio_X509(certificates.get(), sk_X509_value(chain, i)) == 1;
    EVP_PKEY_free(key);
    X509_free(certificate);
    sk_X509_pop_free(chain, X509_free);
    if (!written)
        return base::Error::input(base::Fault::BadInput, path,
                                  "the PKCS#12 bundle holds no certificate with its key");
    return Credentials{drain(certificates.get()), drain(keys.get())};
}

base::Result<Credentials> Credentials::load(const std::string& certificatePath,
                                            const std::string& keyPath)
{
    if (keyPath.empty())
        return loadPkcs12(certificatePath, "");
    base::Result<std::string> certificate = readPem(certificatePath);
    if (!certificate)
        return certificate.error();
    base::Result<std::string> key = readPem(keyPath);
    if (!key)
        return key.error();
    return Credentials{std::move(*certificate), std::move(*key)};
}

} // namespace tls
