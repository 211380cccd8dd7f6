// Until the Schannel back-end exists, the Windows build links and every TLS
// request fails clearly instead of going on in clear.
#include <new>

#include "pal/tls.h"

namespace kv::pal {

namespace {

class UnavailableSession final : public TlsSession {
  public:
    UnavailableSession() {
        error_.failure = TlsFailure::Setup;
        error_.detail = "TLS is not available in this build";
    }
    bool Handshake() override { return false; }
    long Send(const void *, size_t) override { return -1; }
    long Receive(void *, size_t) override { return -1; }
    void Close() override {}
    const TlsError &Error() const override { return error_; }
    std::string Description() const override { return std::string(); }

  private:
    TlsError error_;
};

} // namespace

std::unique_ptr<TlsSession> CreateTlsSession(TlsStream &, const TlsOptions &) {
    return std::unique_ptr<TlsSession>(new (std::nothrow) UnavailableSession());
}

} // namespace kv::pal
