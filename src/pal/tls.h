// Client-side TLS over a byte stream the caller supplies (the TCP socket, or
// the SOCKS tunnel through it), so a live plain connection can turn into TLS
// (STARTTLS). One back-end per platform: OpenSSL on POSIX, Schannel on Windows.
// Everything the protocols show the user is decided above this seam; a
// back-end only classifies what went wrong.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace kv::pal {

// The ciphertext path below the session.
class TlsStream {
  public:
    virtual ~TlsStream() = default;
    // As send/recv: bytes moved, 0 from Receive when the peer closed, -1 on failure.
    virtual long Send(const void *data, size_t length) = 0;
    virtual long Receive(void *buffer, size_t capacity) = 0;
};

struct TlsOptions {
    std::string host;   // sent as SNI and matched against the certificate
    bool verify = true; // chain and host name
    std::string caFile; // PEM bundle; empty: the system store
};

enum class TlsFailure {
    None,
    Stream,      // the stream below failed; its own error code says why
    Closed,      // the peer ended the connection without a TLS close_notify
    Certificate, // the certificate was refused; see TlsCertProblem
    Setup,       // the library or the CA file could not be set up
    Protocol,    // handshake or record failure (alert, bad data)
    NotTls,      // the peer answered the handshake with something that is not TLS
};

enum class TlsCertProblem { None, Expired, NotYetValid, WrongHost, UnknownIssuer, Revoked, Other };

struct TlsError {
    TlsFailure failure = TlsFailure::None;
    TlsCertProblem certificate = TlsCertProblem::None;
    std::string detail; // the library's own words, for the log and the Other cases
};

class TlsSession {
  public:
    virtual ~TlsSession() = default;
    // The client handshake; false: Error() says why.
    virtual bool Handshake() = 0;
    // Sends all of `length` or fails (-1).
    virtual long Send(const void *data, size_t length) = 0;
    // Plaintext bytes; 0 only after the peer's close_notify; -1 on failure.
    virtual long Receive(void *buffer, size_t capacity) = 0;
    // Sends close_notify when the session is still sound; never waits for the answer.
    virtual void Close() = 0;
    virtual const TlsError &Error() const = 0;
    // "TLSv1.3 TLS_AES_256_GCM_SHA384" after the handshake, for the log.
    virtual std::string Description() const = 0;
};

// Null only when memory runs out; set-up failures show in Handshake().
std::unique_ptr<TlsSession> CreateTlsSession(TlsStream &stream, const TlsOptions &options);

} // namespace kv::pal
