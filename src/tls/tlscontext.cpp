#include "tlscontext.h"

#include "tlssession.h"

#include "fileio/regularfile.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace tls
{

namespace
{

constexpr std::size_t kMaxCaFileBytes = 4 * 1024 * 1024;

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

BioPtr memoryOf(const std::string& text)
{
    return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), BIO_free);
}

base::Error unusable(const std::string& what, const std::string& fallback)
{
    return base::Error::input(base::Fault::BadInput, what, takeLibraryError(fallback));
}

// Client side: the handshake goes on whatever the certificate; the verdict is
// read afterwards (SSL_get_verify_result) and the trust policy decides, so
// that a self-signed device can be shown to the user and pinned.
int acceptForLater(int /*preverified*/, X509_STORE_CTX* /*store*/)
{
    return 1;
}

base::Error useOwn(SSL_CTX* context, const Credentials& own)
{
    BioPtr certificates = memoryOf(own.certificatePem);
    X509* leaf = PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr);
    if (leaf == nullptr)
        return unusable("certificate", "no PEM certificate");
    const int used = SSL_CTX_use_certificate(context, leaf);
    X509_free(leaf);
    if (used != 1)
        return unusable("certificate", "cannot be used");
    // The rest of the file is the chain up to the authority.
    while (X509* link = PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr)) {
        if (SSL_CTX_add0_chain_cert(context, link) != 1) {
            X509_free(link);
            return unusable("certificate chain", "cannot be used");
        }
    }
    ERR_clear_error(); // the end of the PEM text
    BioPtr keyText = memoryOf(own.keyPem);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr);
    if (key == nullptr)
        return unusable("key", "no PEM private key (an encrypted key is not taken)");
    const int keyUsed = SSL_CTX_use_PrivateKey(context, key);
    EVP_PKEY_free(key);
    if (keyUsed != 1 || SSL_CTX_check_private_key(context) != 1)
        return unusable("key", "does not belong to the certificate");
    return {};
}

base::Error addAnchors(SSL_CTX* context, const std::string& path)
{
    base::Result<std::string> text = fileio::RegularFile::readAll(path, kMaxCaFileBytes);
    if (!text)
        return text.error();
    BioPtr in = memoryOf(*text);
    STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(in.get(), nullptr, nullptr, nullptr);
    if (infos == nullptr)
        return unusable(path, "holds no PEM certificate");
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    int added = 0;
    for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
        X509_INFO* info = sk_X509_INFO_value(infos, i);
        if (info->x509 != nullptr && X509_STORE_add_cert(store, info->x509) == 1)
            ++added;
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    ERR_clear_error();
    if (added == 0)
        return base::Error::input(base::Fault::BadInput, path, "holds no PEM certificate");
    return {};
}

} // namespace

std::string takeLibraryError(const std::string& fallback)
{
    const unsigned long code = ERR_peek_last_error();
    std::string text;
    if (code != 0) {
        const char* reason = ERR_reason_error_string(code);
        text = reason != nullptr ? reason : "";
    }
    ERR_clear_error();
    return text.empty() ? fallback : text;
}

base::Result<std::shared_ptr<TlsContext>> TlsContext::make(const ContextSettings& settings)
{
    ERR_clear_error();
    SSL_CTX* context =
        SSL_CTX_new(settings.role == Role::Client ? TLS_client_method() : TLS_server_method());
    if (context == nullptr)
        return base::Error(base::Fault::TlsFailed, 0, takeLibraryError("no TLS context"));
    std::shared_ptr<TlsContext> made(
        new TlsContext(context, settings.role, settings.requireClientCertificate));
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Partial writes: the session hands out whatever is encrypted at once.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_keylog_callback(context, &TlsSession::keyLogHook);
    if (settings.role == Role::Server && settings.own.empty())
        return base::Error::input(base::Fault::BadInput, "certificate",
                                  "a listening side needs a certificate and key");
    if (!settings.own.empty())
        if (base::Error error = useOwn(context, settings.own); !error.ok())
            return error;
    if (settings.systemTrust && SSL_CTX_set_default_verify_paths(context) != 1)
        ERR_clear_error(); // no system store: only the given anchors count
    if (!settings.caFile.empty())
        if (base::Error error = addAnchors(context, settings.caFile); !error.ok())
            return error;
    if (settings.role == Role::Client)
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &acceptForLater);
    else if (settings.requireClientCertificate)
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    else if (settings.askClientCertificate)
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &acceptForLater);
    return made;
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(context_);
}

} // namespace tls
