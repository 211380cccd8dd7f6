// The TLS back-end on POSIX: OpenSSL with a BIO that reads and writes through
// the caller's stream, so the TLS records travel over whatever is below
// (plain TCP or a SOCKS tunnel) and a live connection can be upgraded.
#include "pal/tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <new>

namespace kv::pal {

namespace {

struct BioState {
    TlsStream *stream = nullptr;
    bool streamFailed = false;
};

int BioWrite(BIO *bio, const char *data, int length) {
    auto *state = static_cast<BioState *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (length <= 0) return 0;
    long n = state->stream->Send(data, size_t(length));
    if (n <= 0) {
        state->streamFailed = true;
        return -1;
    }
    return int(n);
}

int BioRead(BIO *bio, char *buffer, int capacity) {
    auto *state = static_cast<BioState *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (capacity <= 0) return 0;
    long n = state->stream->Receive(buffer, size_t(capacity));
    if (n < 0) {
        state->streamFailed = true;
        return -1;
    }
    return int(n); // 0: end of stream, which OpenSSL checks for a close_notify
}

long BioCtrl(BIO *, int command, long, void *) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO *bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD *StreamMethod() {
    // Made once and kept for the life of the process, as OpenSSL's own methods are.
    static BIO_METHOD *method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kv stream");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
            BIO_meth_set_create(m, BioCreate);
        }
        return m;
    }();
    return method;
}

std::string QueueText(bool *notTls = nullptr) {
    std::string text;
    while (unsigned long e = ERR_get_error()) {
        if (notTls && ERR_GET_LIB(e) == ERR_LIB_SSL &&
            (ERR_GET_REASON(e) == SSL_R_WRONG_VERSION_NUMBER || ERR_GET_REASON(e) == SSL_R_UNKNOWN_PROTOCOL ||
             ERR_GET_REASON(e) == SSL_R_PACKET_LENGTH_TOO_LONG || ERR_GET_REASON(e) == SSL_R_RECORD_LENGTH_MISMATCH))
            *notTls = true;
        char line[256];
        ERR_error_string_n(e, line, sizeof line);
        if (!text.empty()) text += "; ";
        text += line;
    }
    return text;
}

TlsCertProblem ProblemOf(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return TlsCertProblem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID: return TlsCertProblem::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return TlsCertProblem::WrongHost;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED: return TlsCertProblem::UnknownIssuer;
    case X509_V_ERR_CERT_REVOKED: return TlsCertProblem::Revoked;
    default: return TlsCertProblem::Other;
    }
}

bool IsAddressLiteral(const std::string &host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

class OpenSslSession final : public TlsSession {
  public:
    OpenSslSession(TlsStream &stream, const TlsOptions &options) : options_(options) { state_.stream = &stream; }
    ~OpenSslSession() override {
        if (ssl_) SSL_free(ssl_); // frees the BIO too
        else if (bio_) BIO_free(bio_);
        if (ctx_) SSL_CTX_free(ctx_);
    }

    bool Handshake() override {
        ERR_clear_error();
        if (!SetUp()) return false;
        int rc = SSL_connect(ssl_);
        if (rc == 1) {
            established_ = true;
            return true;
        }
        long verify = SSL_get_verify_result(ssl_);
        if (options_.verify && verify != X509_V_OK) {
            fatal_ = true;
            error_.failure = TlsFailure::Certificate;
            error_.certificate = ProblemOf(verify);
            error_.detail = X509_verify_cert_error_string(verify);
            ERR_clear_error();
            return false;
        }
        Classify(rc);
        return false;
    }

    long Send(const void *data, size_t length) override {
        if (!established_ || fatal_) return Refuse();
        const char *p = static_cast<const char *>(data);
        size_t left = length;
        while (left > 0) {
            ERR_clear_error();
            size_t written = 0;
            int rc = SSL_write_ex(ssl_, p, left, &written);
            if (rc != 1) {
                Classify(rc);
                return -1;
            }
            p += written;
            left -= written;
        }
        return long(length);
    }

    long Receive(void *buffer, size_t capacity) override {
        if (!established_ || fatal_) return Refuse();
        if (capacity == 0) return 0;
        ERR_clear_error();
        size_t got = 0;
        int rc = SSL_read_ex(ssl_, buffer, capacity, &got);
        if (rc == 1) return long(got);
        if (SSL_get_error(ssl_, rc) == SSL_ERROR_ZERO_RETURN) return 0;
        Classify(rc);
        return -1;
    }

    void Close() override {
        if (established_ && !fatal_) {
            ERR_clear_error();
            SSL_shutdown(ssl_);
            ERR_clear_error();
        }
        fatal_ = true;
    }

    const TlsError &Error() const override { return error_; }

    std::string Description() const override {
        if (!established_) return std::string();
        std::string text = SSL_get_version(ssl_);
        if (const SSL_CIPHER *cipher = SSL_get_current_cipher(ssl_)) text += std::string(" ") + SSL_CIPHER_get_name(cipher);
        return text;
    }

  private:
    bool SetUp() {
        if (ssl_) return true;
        auto setupFailed = [this](const std::string &what) {
            fatal_ = true;
            error_.failure = TlsFailure::Setup;
            error_.detail = what;
            std::string queue = QueueText();
            if (!queue.empty()) error_.detail += " (" + queue + ")";
            return false;
        };
        ctx_ = SSL_CTX_new(TLS_client_method());
        if (!ctx_) return setupFailed("no TLS context");
        if (options_.verify) {
            SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
            if (!options_.caFile.empty()) {
                if (SSL_CTX_load_verify_locations(ctx_, options_.caFile.c_str(), nullptr) != 1)
                    return setupFailed("the CA file '" + options_.caFile + "' could not be read");
            } else if (SSL_CTX_set_default_verify_paths(ctx_) != 1) {
                return setupFailed("the system's certificate store could not be read");
            }
        } else {
            SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
        }
        ssl_ = SSL_new(ctx_);
        if (!ssl_) return setupFailed("no TLS session");
        BIO_METHOD *method = StreamMethod();
        if (!method) return setupFailed("no stream method");
        bio_ = BIO_new(method);
        if (!bio_) return setupFailed("no stream");
        BIO_set_data(bio_, &state_);
        SSL_set_bio(ssl_, bio_, bio_);
        bool literal = IsAddressLiteral(options_.host);
        // SNI carries names only; an address literal is matched against the IP entries.
        if (!literal && !options_.host.empty() && SSL_set_tlsext_host_name(ssl_, options_.host.c_str()) != 1)
            return setupFailed("the host name '" + options_.host + "' cannot be sent");
        if (options_.verify) {
            X509_VERIFY_PARAM *param = SSL_get0_param(ssl_);
            X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            int ok = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, options_.host.c_str())
                             : X509_VERIFY_PARAM_set1_host(param, options_.host.c_str(), 0);
            if (ok != 1) return setupFailed("the host name '" + options_.host + "' cannot be checked");
        }
        return true;
    }

    long Refuse() {
        if (error_.failure == TlsFailure::None) {
            error_.failure = TlsFailure::Protocol;
            error_.detail = "the TLS session is not open";
        }
        return -1;
    }

    void Classify(int rc) {
        fatal_ = true;
        int code = SSL_get_error(ssl_, rc);
        bool notTls = false;
        std::string queue = QueueText(&notTls);
        error_.certificate = TlsCertProblem::None;
        if (state_.streamFailed) {
            error_.failure = TlsFailure::Stream;
            error_.detail.clear();
        } else if (notTls && !established_) {
            error_.failure = TlsFailure::NotTls;
            error_.detail = queue;
        } else if (code == SSL_ERROR_ZERO_RETURN || code == SSL_ERROR_SYSCALL ||
                   queue.find("unexpected eof") != std::string::npos) {
            error_.failure = TlsFailure::Closed;
            error_.detail = queue;
        } else {
            error_.failure = TlsFailure::Protocol;
            error_.detail = queue.empty() ? "TLS error " + std::to_string(code) : queue;
        }
    }

    TlsOptions options_;
    BioState state_;
    SSL_CTX *ctx_ = nullptr;
    SSL *ssl_ = nullptr;
    BIO *bio_ = nullptr;
    bool established_ = false;
    bool fatal_ = false;
    TlsError error_;
};

} // namespace

std::unique_ptr<TlsSession> CreateTlsSession(TlsStream &stream, const TlsOptions &options) {
    return std::unique_ptr<TlsSession>(new (std::nothrow) OpenSslSession(stream, options));
}

} // namespace kv::pal
