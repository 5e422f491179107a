#include "certificateinfo.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <ctime>
#include <memory>

namespace tls
{

namespace
{

std::string nameText(const X509_NAME* name)
{
    if (name == nullptr)
        return {};
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    // One line, RFC 2253 order and escaping: "CN=door-7,O=Site".
    X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

std::string timeText(const ASN1_TIME* time)
{
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string hexPairs(const unsigned char* bytes, unsigned length)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "SHA256:";
    for (unsigned i = 0; i < length; ++i) {
        if (i != 0)
            text += ':';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

} // namespace

CertificateInfo CertificateInfo::of(X509* certificate)
{
    CertificateInfo info;
    if (certificate == nullptr)
        return info;
    info.subject = nameText(X509_get_subject_name(certificate));
    info.issuer = nameText(X509_get_issuer_name(certificate));
    info.notBefore = timeText(X509_get0_notBefore(certificate));
    info.notAfter = timeText(X509_get0_notAfter(certificate));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) == 1)
        info.fingerprint = hexPairs(digest, length);
    return info;
}

base::Result<CertificateInfo> CertificateInfo::ofPem(std::string_view pem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> in(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr), X509_free);
    if (!certificate)
        return base::Error::input(base::Fault::BadInput, "certificate", "no PEM certificate");
    return of(certificate.get());
}

std::string CertificateInfo::normalFingerprint(std::string_view text)
{
    if (text.size() >= 7 && (text.substr(0, 7) == "SHA256:" || text.substr(0, 7) == "sha256:"))
        text.remove_prefix(7);
    std::string digits;
    for (const char c : text) {
        if (c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (digits.size() != 64)
        return {};
    std::string canonical = "SHA256:";
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        if (i != 0)
            canonical += ':';
        canonical += digits.substr(i, 2);
    }
    return canonical;
}

} // namespace tls
