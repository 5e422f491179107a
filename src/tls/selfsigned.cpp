#include "selfsigned.h"

#include "tlscontext.h"

#include "fileio/safefile.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <array>
#include <memory>

namespace tls
{

namespace
{

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertificatePtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

base::Error failed(const char* step)
{
    return base::Error::input(base::Fault::TlsFailed, "certificate", takeLibraryError(step));
}

std::string pemOf(BIO* bio)
{
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(length));
}

bool isAddress(const std::string& name)
{
    std::array<unsigned char, 16> bytes{};
    return ::inet_pton(AF_INET, name.c_str(), bytes.data()) == 1 ||
           ::inet_pton(AF_INET6, name.c_str(), bytes.data()) == 1;
}

} // namespace

base::Result<Credentials> makeSelfSigned(const std::string& commonName,
                                         const std::vector<std::string>& names, int days)
{
    ERR_clear_error();
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        return failed("no key");
    CertificatePtr certificate(X509_new());
    if (!certificate)
        return failed("no certificate");
    X509_set_version(certificate.get(), 2);
    std::array<unsigned char, 16> serial{};
    RAND_bytes(serial.data(), static_cast<int>(serial.size()));
    serial[0] &= 0x7f; // a positive serial number
    std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> number(
        BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr));
    BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate.get()));
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), static_cast<long>(days) * 86400);
    X509_NAME* subject = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(certificate.get(), subject);
    X509_set_pubkey(certificate.get(), key.get());
    std::string alternatives;
    for (const std::string& name : names) {
        if (!alternatives.empty())
            alternatives += ',';
        alternatives += (isAddress(name) ? "IP:" : "DNS:") + name;
    }
    X509V3_CTX extensions;
    X509V3_set_ctx_nodb(&extensions);
    X509V3_set_ctx(&extensions, certificate.get(), certificate.get(), nullptr, nullptr, 0);
    const auto extend = [&](int nid, const std::string& value) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &extensions, nid, value.c_str());
        if (extension == nullptr)
            return false;
        X509_add_ext(certificate.get(), extension, -1);
        X509_EXTENSION_free(extension);
        return true;
    };
    if (!extend(NID_basic_constraints, "critical,CA:FALSE") ||
        (!alternatives.empty() && !extend(NID_subject_alt_name, alternatives)))
        return failed("a name the certificate cannot hold");
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        return failed("cannot sign");
    BioPtr certificateText(BIO_new(BIO_s_mem()));
    BioPtr keyText(BIO_new(BIO_s_mem()));
    if (PEM_write_bio_X509(certificateText.get(), certificate.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyText.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1)
        return failed("cannot write PEM");
    return Credentials{pemOf(certificateText.get()), pemOf(keyText.get())};
}

base::Result<Credentials> ownCredentials(const std::string& folder, const std::string& commonName)
{
    const std::string certificatePath = folder + "/certificate.pem";
    const std::string keyPath = folder + "/key.pem";
    struct stat status {
    };
    if (::stat(certificatePath.c_str(), &status) == 0)
        return Credentials::load(certificatePath, keyPath);
    if (base::Error made = fileio::SafeFile::makeFolders(folder); !made.ok())
        return made;
    base::Result<Credentials> made = makeSelfSigned(commonName, {"localhost", "127.0.0.1", "::1"});
    if (!made)
        return made.error();
    // The key first: a certificate without its key is never left behind.
    if (base::Error error = fileio::SafeFile::write(keyPath, made->keyPem); !error.ok())
        return error;
    if (base::Error error = fileio::SafeFile::write(certificatePath, made->certificatePem);
        !error.ok())
        return error;
    return made;
}

} // namespace tls
