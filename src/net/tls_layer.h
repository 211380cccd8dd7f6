// The TLS layer of a connection: a clsByteLayer over the socket's bottom
// layer, with the error texts the user sees, the same for every back-end.
#pragma once

#include <memory>

#include "pal/tls.h"
#include "net/socket.h"

namespace kv {

class clsTlsLayer final : public clsByteLayer {
  public:
    clsTlsLayer(clsByteLayer &below, const pal::TlsOptions &options);
    ~clsTlsLayer() override;
    // The handshake; false: HandshakeFailureText() says why.
    bool Handshake();
    String HandshakeFailureText() const;
    String Description() const;

    long Send(const void *data, size_t length) override;
    long Receive(void *buffer, size_t capacity) override;
    int LastError() const override;
    String LastErrorText() const override;

  private:
    // The ciphertext path: the layer below, with its failure code kept.
    class Below final : public pal::TlsStream {
      public:
        explicit Below(clsByteLayer &layer) : layer_(layer) {}
        long Send(const void *data, size_t length) override;
        long Receive(void *buffer, size_t capacity) override;
        int error = 0;

      private:
        clsByteLayer &layer_;
    };

    String FailureText() const;

    String host_;
    Below below_;
    std::unique_ptr<pal::TlsSession> session_;
};

// What a refused certificate means, in the words every back-end shares.
String CertificateProblemText(pal::TlsCertProblem problem, const String &host, const String &detail);

} // namespace kv
