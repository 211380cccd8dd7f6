// clsIMAPMailConnection: the receive connection over IMAP (RFC 3501, and
// what servers use of RFC 9051): one folder, mails named by the folder's
// UIDVALIDITY and their UID so that the names stay valid across sessions.
#pragma once

#include <map>
#include <set>

#include "connection/connection_base.h"
#include "providers/imap/imap_socket.h"
#include "providers/internet/security_options.h"

namespace kv {

// The mail identifier "<UIDVALIDITY>.<UID>" (to which the reader adds ":" and the Message-ID).
String ImapMailId(uint32_t uidValidity, uint32_t uid);
// False when the text does not begin with such an identifier.
bool ParseImapMailId(std::string_view id, uint32_t &uidValidity, uint32_t &uid);

class clsIMAPMailConnection : public clsConnectionBase {
  public:
    clsIMAPMailConnection();
    ~clsIMAPMailConnection() override;

    HRESULT OnConnect() override;
    HRESULT OnDisconnect() override;
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override;
    HRESULT OnSend(IKvMail *mail) override;
    HRESULT OnQueryMailbox(BYTE flag) override;
    HRESULT OnDeleteMail(const String &id) override;
    HRESULT OnMarkMailAsRead(const String &id) override;
    String GetProviderName() const override { return "IMAP"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override;
    bool IsProviderAvailable() override { return true; }
    bool AnswersSelector(REFIID riid) const override;

    // A loaded mail's literal may be this long.
    static constexpr uint64_t kLargestMail = uint64_t(1) << 30;

  protected:
    // A new received mail (Listed) with this identifier, one reference held by the caller.
    virtual IKvMail *CreateReceivedMail(const String &id);
    // Hands a message's text (its header block, or all of it) to the mail's reader.
    virtual void ReadMailText(IKvMail *mail, String &text, bool complete);
    virtual void MarkDeleted(IKvMail *mail);
    // Whether a mail of the list still waits for its content.
    virtual bool IsListed(IKvMail *mail);

  private:
    void Untagged(clsImapResponse &response);
    bool Offers(std::string_view capability) const { return capabilities_.count(ToUpper(capability)) != 0; }
    void SetCapabilities(std::string_view words);
    void AskCapabilities();
    void StartTlsIfAsked(TlsMode mode, const String &host);
    void Logon(const String &host, uint16_t port);
    void SelectFolder();
    // The UID behind an identifier of this folder; throws when it names another folder state.
    uint32_t UidOf(const String &id, const char *operation);
    void StoreFlag(const String &id, const char *flag, const char *operation);
    // LOGOUT and close; the text of a failed EXPUNGE, "" when there was none.
    String Close();
    String FolderName() const;

    clsIMAPSocket socket_;
    std::set<String> capabilities_;
    String folder_; // as sent
    uint32_t uidValidity_ = 0;
    uint32_t exists_ = 0;
    std::map<uint32_t, uint64_t> sizes_; // RFC822.SIZE by UID, from the listing
    bool selecting_ = false;
    bool expungeAtLogout_ = false;
    String bye_;
};

} // namespace kv
