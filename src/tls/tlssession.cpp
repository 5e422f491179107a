#include "tlssession.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <array>

namespace tls
{

namespace
{

constexpr std::size_t kChunk = 16 * 1024;

// The session a key log line belongs to, found from the library's object.
int sessionIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

bool isAddress(const std::string& name)
{
    std::array<unsigned char, 16> bytes{};
    return ::inet_pton(AF_INET, name.c_str(), bytes.data()) == 1 ||
           ::inet_pton(AF_INET6, name.c_str(), bytes.data()) == 1;
}

} // namespace

TlsSession::TlsSession(std::shared_ptr<TlsContext> context, std::string peerName)
    : context_(std::move(context))
{
    ERR_clear_error();
    ssl_ = SSL_new(context_->native());
    if (ssl_ == nullptr) {
        fail(takeLibraryError("no TLS session"));
        return;
    }
    SSL_set_ex_data(ssl_, sessionIndex(), this);
    // Memory buffers on both sides: the owner carries the bytes.
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl_, in, out);
    if (context_->role() == Role::Client) {
        SSL_set_connect_state(ssl_);
        if (!peerName.empty()) {
            if (isAddress(peerName)) {
                X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), peerName.c_str());
            } else {
                SSL_set_tlsext_host_name(ssl_, peerName.c_str());
                SSL_set1_host(ssl_, peerName.c_str());
            }
        }
    } else {
        SSL_set_accept_state(ssl_);
    }
}

TlsSession::~TlsSession()
{
    if (ssl_ != nullptr)
        SSL_free(ssl_);
}

void TlsSession::keyLogHook(const SSL* ssl, const char* line)
{
    auto* session = static_cast<TlsSession*>(SSL_get_ex_data(ssl, sessionIndex()));
    if (session != nullptr && session->keyLog_ && line != nullptr)
        session->keyLog_(line);
}

void TlsSession::start()
{
    if (state_ == State::Handshaking && context_->role() == Role::Client)
        advance();
}

void TlsSession::receive(std::string_view bytes)
{
    if (state_ == State::Failed || state_ == State::Closed || bytes.empty())
        return;
    BIO_write(SSL_get_rbio(ssl_), bytes.data(), static_cast<int>(bytes.size()));
    advance();
}

void TlsSession::advance()
{
    if (state_ == State::Handshaking) {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_);
        if (result != 1) {
            settle(result);
            return;
        }
        finishHandshake();
    }
    if (state_ == State::Open) {
        writePending();
        readPlain();
    }
}

void TlsSession::finishHandshake()
{
    state_ = State::Open;
    X509* certificate = SSL_get1_peer_certificate(ssl_);
    peer_.presented = certificate != nullptr;
    peer_.certificate = CertificateInfo::of(certificate);
    X509_free(certificate);
    const long verdict = SSL_get_verify_result(ssl_);
    peer_.trusted = peer_.presented && verdict == X509_V_OK;
    if (!peer_.presented)
        peer_.problem = "no certificate";
    else if (verdict != X509_V_OK)
        peer_.problem = X509_verify_cert_error_string(verdict);
}

void TlsSession::readPlain()
{
    std::array<char, kChunk> buffer{};
    while (state_ == State::Open) {
        ERR_clear_error();
        const int count = SSL_read(ssl_, buffer.data(), static_cast<int>(buffer.size()));
        if (count <= 0) {
            settle(count);
            return;
        }
        received_.append(buffer.data(), static_cast<std::size_t>(count));
    }
}

void TlsSession::writePending()
{
    while (state_ == State::Open && !pendingPlain_.empty()) {
        ERR_clear_error();
        const int count =
            SSL_write(ssl_, pendingPlain_.data(), static_cast<int>(pendingPlain_.size()));
        if (count <= 0) {
            settle(count);
            return;
        }
        pendingPlain_.erase(0, static_cast<std::size_t>(count));
    }
}

bool TlsSession::settle(int result)
{
    switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return true;
    case SSL_ERROR_ZERO_RETURN:
        state_ = State::Closed;
        return false;
    case SSL_ERROR_SYSCALL:
        // On memory buffers only an end without close_notify gets here.
        fail(takeLibraryError("the peer ended the connection without closing TLS"));
        return false;
    default:
        fail(takeLibraryError("the TLS session failed"));
        return false;
    }
}

void TlsSession::fail(std::string reason)
{
    state_ = State::Failed;
    failure_ = base::Error::input(base::Fault::TlsFailed, "TLS", std::move(reason));
}

base::Error TlsSession::send(std::string_view plain)
{
    if (state_ == State::Failed)
        return failure_;
    if (state_ == State::Closed)
        return base::Error(base::Fault::PeerClosed);
    pendingPlain_.append(plain);
    if (state_ == State::Open)
        writePending();
    return state_ == State::Failed ? failure_ : base::Error();
}

void TlsSession::close()
{
    if (ssl_ == nullptr || state_ != State::Open)
        return;
    writePending();
    ERR_clear_error();
    SSL_shutdown(ssl_);
    state_ = State::Closed;
}

std::string TlsSession::takeOutput()
{
    std::string out;
    if (ssl_ == nullptr)
        return out;
    BIO* wire = SSL_get_wbio(ssl_);
    std::array<char, kChunk> buffer{};
    while (BIO_ctrl_pending(wire) > 0) {
        const int count = BIO_read(wire, buffer.data(), static_cast<int>(buffer.size()));
        if (count <= 0)
            break;
        out.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return out;
}

std::string TlsSession::takeReceived()
{
    std::string taken;
    taken.swap(received_);
    return taken;
}

std::string TlsSession::version() const
{
    return state_ == State::Handshaking || ssl_ == nullptr ? std::string() : SSL_get_version(ssl_);
}

std::string TlsSession::cipher() const
{
    if (state_ == State::Handshaking || ssl_ == nullptr)
        return {};
    const char* name = SSL_get_cipher_name(ssl_);
    return name != nullptr ? name : "";
}

} // namespace tls
