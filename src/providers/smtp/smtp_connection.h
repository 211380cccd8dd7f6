// clsSMTPMailConnection: the send connection of the internet provider.
#pragma once

#include <vector>

#include "connection/connection_base.h"
#include "providers/internet/security_options.h"
#include "net/text_socket.h"

namespace kv {

// What the mail transfer needs of a mail: the sender text, the three
// recipient lists (each entry as the host gave it) and the rendered text.
struct clsSmtpEnvelope {
    String sender;
    std::vector<String> to, cc, bcc;
};

// What the server's EHLO reply offers of the extensions the transfer uses;
// nothing after HELO. A SIZE without a number is not used.
struct clsSmtpExtensions {
    bool eightBitMime = false;
    bool pipelining = false;
    bool dsn = false;
    bool smtpUtf8 = false;
    bool size = false;
    uint64_t sizeLimit = 0; // 0: no fixed limit
};
clsSmtpExtensions SmtpExtensionsOf(const std::vector<String> &ehlo);

class clsMailText {
  public:
    virtual ~clsMailText() = default;
    virtual uint64_t Size() = 0;
    // Fills up to `size` bytes from the current position; 0 at the end.
    virtual size_t Read(void *buffer, size_t size) = 0;
};

class clsSMTPMailConnection : public clsConnectionBase {
  public:
    clsSMTPMailConnection();
    ~clsSMTPMailConnection() override;

    HRESULT OnConnect() override;
    HRESULT OnDisconnect() override;
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override;
    HRESULT OnSend(IKvMail *mail) override;
    HRESULT OnQueryMailbox(BYTE flag) override;
    void OnSendCancelled() override;
    HRESULT OnDeleteMail(const String &id) override;
    String GetProviderName() const override { return "SMTP"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override;
    bool IsProviderAvailable() override { return true; }
    bool AnswersSelector(REFIID riid) const override;
    virtual DWORD GetMailCapabilities() { return 7; }

    // MAIL FROM, RCPT TO, DATA and the text, with what the EHLO reply
    // offers (pipelined when it can be); throws clsExcept, before anything
    // is sent when the mail cannot go to this server as it is.
    void Transfer(const clsSmtpEnvelope &envelope, clsMailText &text);
    clsSMTPSocket &Socket() { return socket_; }
    const clsSmtpExtensions &Extensions() const { return extensions_; }

  private:
    void PopBeforeSmtp();
    // EHLO, or HELO when EHLO is not known; keeps the reply's lines.
    void Hello(const String &name);
    // STARTTLS and a new EHLO as the mode asks; throws when TLS is required but impossible.
    void StartTlsIfAsked(TlsMode mode, const String &name);
    String LogonName();
    void Reset(); // RSET, failures ignored: the error that led here matters more
    void SendText(clsMailText &text);
    // The reply code of the next reply (0 when it has none), after sending the
    // command unless it went out with the others already.
    int32_t Answer(const String &command, bool pipelined);
    // Reads the replies still owed to pipelined commands; a server that waits
    // for the text after them loses the connection, so that no mail goes out.
    void Drain(size_t owed, bool dataOwed);
    [[noreturn]] void OutOfStep(const String &command);

    clsSMTPSocket socket_;
    std::vector<String> ehlo_; // the last EHLO (or HELO) reply
    clsSmtpExtensions extensions_;
};

} // namespace kv
