// clsPOP3MailConnection: the receive connection of the internet provider.
#pragma once

#include <map>
#include <vector>

#include "connection/connection_base.h"
#include "providers/internet/security_options.h"
#include "net/text_socket.h"

namespace kv {

class clsPOP3MailConnection : public clsConnectionBase {
  public:
    clsPOP3MailConnection();
    ~clsPOP3MailConnection() override;

    HRESULT OnConnect() override;
    HRESULT OnDisconnect() override;
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override;
    HRESULT OnSend(IKvMail *mail) override;
    HRESULT OnQueryMailbox(BYTE flag) override;
    HRESULT OnDeleteMail(const String &id) override;
    String GetProviderName() const override { return "POP3"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override;
    bool IsProviderAvailable() override { return true; }
    bool AnswersSelector(REFIID riid) const override;

  protected:
    // A new received mail (Listed) with this identifier, one reference held by the caller.
    virtual IKvMail *CreateReceivedMail(const String &id);
    // Hands a message's text (each line ended by CR LF) to the mail's reader, which may take it over.
    virtual void ReadMailText(IKvMail *mail, clsReceivedText &text, bool complete);
    // Marks a mail deleted.
    virtual void MarkDeleted(IKvMail *mail);

  private:
    std::vector<String> TakeLines();
    // STAT, then LIST: the numbers of the messages there are, their sizes kept.
    std::vector<uint32_t> ListMessages();
    // Bounds the next reply by the message's announced size.
    void ExpectMessage(uint32_t number);
    // The CAPA listing without its status line; empty when the server has no CAPA.
    std::vector<String> Capabilities();
    // Lists the messages numbers[first, last): UIDL and TOP or RETR for each,
    // in one write when the server pipelines.
    void ListBatch(const std::vector<uint32_t> &numbers, size_t first, size_t last, bool complete);
    // RETR of message n into text; with PIPELINING the messages listed after
    // it come along into ahead_.
    void LoadAhead(uint32_t n, clsReceivedText &text);
    // STLS as the mode asks; throws when TLS is required but impossible.
    void StartTlsIfAsked(TlsMode mode, const String &host, std::vector<String> &capabilities);
    clsPOP3Socket socket_;
    std::map<uint32_t, uint64_t> sizes_; // by LIST
    bool capabilitiesAsked_ = false;     // after logon, once per connection
    bool pipelining_ = false;            // CAPA lists PIPELINING (RFC 2449)
    std::map<uint32_t, clsReceivedText> ahead_; // loaded along with an earlier message
};

// The message number at the start of a mail identifier ("3 " -> 3); 0 when there is none.
uint32_t MessageNumberOf(const String &id);

} // namespace kv
