#include "net/tls_layer.h"

namespace kv {

namespace {
constexpr int kTlsFailure = 10107; // "System call failure": only for the numeric code; the text says more
}

long clsTlsLayer::Below::Send(const void *data, size_t length) {
    long n = layer_.Send(data, length);
    if (n < 0) error = layer_.LastError();
    else if (n == 0) error = 10058;
    return n;
}

long clsTlsLayer::Below::Receive(void *buffer, size_t capacity) {
    long n = layer_.Receive(buffer, capacity);
    if (n < 0) error = layer_.LastError();
    return n;
}

clsTlsLayer::clsTlsLayer(clsByteLayer &below, const pal::TlsOptions &options)
    : host_(options.host), below_(below), session_(pal::CreateTlsSession(below_, options)) {}

clsTlsLayer::~clsTlsLayer() {
    if (session_) session_->Close();
}

bool clsTlsLayer::Handshake() { return session_ && session_->Handshake(); }

String clsTlsLayer::Description() const { return session_ ? String(session_->Description()) : String(); }

long clsTlsLayer::Send(const void *data, size_t length) { return session_ ? session_->Send(data, length) : -1; }

long clsTlsLayer::Receive(void *buffer, size_t capacity) { return session_ ? session_->Receive(buffer, capacity) : -1; }

int clsTlsLayer::LastError() const {
    if (session_ && session_->Error().failure == pal::TlsFailure::Stream && below_.error != 0) return below_.error;
    return kTlsFailure;
}

String CertificateProblemText(pal::TlsCertProblem problem, const String &host, const String &detail) {
    switch (problem) {
    case pal::TlsCertProblem::Expired: return "the server's certificate has expired";
    case pal::TlsCertProblem::NotYetValid: return "the server's certificate is not valid yet";
    case pal::TlsCertProblem::WrongHost:
        return Format("the server's certificate is not for the host name '%s'", host.c_str());
    case pal::TlsCertProblem::UnknownIssuer: return "the server's certificate was issued by an unknown authority";
    case pal::TlsCertProblem::Revoked: return "the server's certificate has been revoked";
    default: return Format("the server's certificate was refused: %s", detail.c_str());
    }
}

String clsTlsLayer::FailureText() const {
    if (!session_) return "TLS: out of memory";
    const pal::TlsError &e = session_->Error();
    switch (e.failure) {
    case pal::TlsFailure::Stream: return clsSocket::GetSocketErrorText(below_.error != 0 ? below_.error : 10058);
    case pal::TlsFailure::Closed: return "the server closed the connection without ending the TLS session";
    case pal::TlsFailure::Certificate: return CertificateProblemText(e.certificate, host_, e.detail);
    case pal::TlsFailure::Setup: return "TLS could not be set up: " + String(e.detail);
    case pal::TlsFailure::Protocol: return "TLS error: " + String(e.detail);
    case pal::TlsFailure::NotTls: return "the server does not answer in TLS (is this its port for TLS?)";
    default: return "TLS error";
    }
}

String clsTlsLayer::LastErrorText() const { return FailureText(); }

String clsTlsLayer::HandshakeFailureText() const {
    bool closed = session_ && session_->Error().failure == pal::TlsFailure::Closed;
    return Format("TLS handshake with '%s' failed: %s", host_.c_str(),
                  closed ? "the server closed the connection" : FailureText().c_str());
}

} // namespace kv
