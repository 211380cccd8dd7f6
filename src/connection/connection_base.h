// clsConnectionBase: the one implementation of the connection interface.
// Providers derive from it and supply the hooks.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "mail/mail_site.h"
#include "settings/option_list.h"
#include "runtime/except.h"
#include "pal/com.h"
#include "runtime/com_object.h"

namespace kv {

// Set by the hooks: opening while a connect starts, connecting while it logs
// on, connected, disconnected.
enum ConnectionState : int32_t { kOpening = 0, kConnecting = 1, kConnected = 2, kDisconnected = 3 };

// The events a connection sends to the host's slot; the detail each takes is in the comment.
enum ConnectionEvent : LONG {
    kEventConnecting = 2,    // 0: a connect begins
    kEventServer = 3,        // 1: connected to the server; 0: failed or lost
    kEventLogon = 4,         // 0: the logon begins
    kEventLoggedOn = 5,      // 1: logged on; 0: refused
    kEventDisconnecting = 6, // 0
    kEventDisconnected = 7,  // 1: ended well; 0: not
    kEventSend = 8,          // 0 a send begins, 100 it ended; the text's start (1) and progress in percent
    kEventSeekMail = 9,      // 0: before looking for the next message
    kEventMailbox = 10,      // -1: a mailbox query begins; else the number of messages found
    kEventMailboxItem = 11,  // the running number of the message read next
    kEventMailboxEnd = 12,   // 0: the mailbox query ended
};

class clsConnectionBase : public clsComObject<kModuleCounted, IKvMailConnection2>, public clsMailSite {
  public:
    explicit clsConnectionBase(bool sendRole);

    // IUnknown: also IKvMailConnection and the provider's selectors.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IKvMailConnection2
    HRESULT STDMETHODCALLTYPE SetOption(LPCWSTR name, VARIANT *value) override;
    HRESULT STDMETHODCALLTYPE SetMailStateNotificationSlot(IKvMailStateNotificationSlot *slot) override;
    HRESULT STDMETHODCALLTYPE GetErrorInformation(LONG *code, BSTR *text) override;
    HRESULT STDMETHODCALLTYPE Connect() override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE CreateMail(LONG codepage, LPCWSTR cookie, IKvMail **mail) override;
    HRESULT STDMETHODCALLTYPE Send(IKvMail *mail) override;
    HRESULT STDMETHODCALLTYPE QueryMailbox(BYTE flag) override;
    HRESULT STDMETHODCALLTYPE EnumMails(IKvEnumMail **mails) override;
    HRESULT STDMETHODCALLTYPE DeleteMail(LPCWSTR id) override;
    HRESULT STDMETHODCALLTYPE MarkMailAsRead(LPCWSTR id) override;

    // A mail's reference on its connection. Counted apart so that the host's
    // last Release can break the cycle with the mail list (see Release).
    void AttachMail() override;
    void DetachMail() override;

    // For providers that must connect on their own.
    virtual HRESULT ConnectWithNotifications();

    // Hooks.
    virtual HRESULT OnConnect() = 0;
    virtual HRESULT OnDisconnect() = 0;
    virtual HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) = 0;
    virtual HRESULT OnSend(IKvMail *mail) = 0;
    virtual HRESULT OnQueryMailbox(BYTE flag) = 0;
    virtual HRESULT OnDeleteMail(const String &id) = 0;
    virtual HRESULT OnMarkMailAsRead(const String &id);
    virtual ~clsConnectionBase();
    String GetProviderName() const override = 0;
    HRESULT LoadRestOfMail(IKvMail *mail) override = 0;
    virtual bool IsProviderAvailable() = 0;
    // Whether this connection answers a provider selector (its own roles).
    virtual bool AnswersSelector(REFIID riid) const = 0;

    // For providers.
    bool IsSendRole() const { return sendRole_; }
    ConnectionState State() const { return state_; }
    void SetState(ConnectionState state) { state_ = state; }
    void NtfyConnectionState(LONG event, LONG detail);
    // Option access by short name ("ServerPort" -> "<provider>.ServerPort").
    String OptionKey(const String &name) const { return GetProviderName() + "." + name; }
    clsVariant ReadOption(const String &name);
    WString ReadTextOption(const String &name, std::u16string_view defaultValue = u"") const;
    String ReadTextOptionA(const String &name, std::u16string_view defaultValue = u"") const override;
    int32_t ReadIntOption(const String &name, int32_t defaultValue) const;
    bool ReadBoolOption(const String &name) const;
    void WriteTextOption(const String &name, std::u16string_view value);
    void WriteIntOption(const String &name, int32_t value);
    void WriteBoolOption(const String &name, bool value);
    clsOptionList &Options() { return options_; }
    // The mail list that QueryMailbox fills; each entry holds one reference.
    void AppendMail(IKvMail *mail);
    const std::vector<IKvMail *> &Mails() const { return mails_; }
    // Sets the error record for a hook that answers a failure without throwing.
    HRESULT Fail(HRESULT hr, int32_t code, const String &message) override;
    // Makes a caught exception the record (for failures outside the hook calls).
    HRESULT Fail(HRESULT hr, const clsExcept &e);
    int32_t ErrorCode() const { return errorCode_; }
    const std::vector<String> &ErrorMessages() const { return messages_; }

  protected:
    // Answers E_NOTIMPL with a record saying that this operation is not available yet.
    HRESULT NotAvailable(const char *operation);
    // Straight to the slot, without the log line (send progress). While a send
    // or a receive runs, a slot answering E_ABORT cancels it: this throws
    // kErrCancelled (not for the closing events, which nothing follows).
    void SendEvent(LONG event, LONG detail);
    // The host cancelled a send at its first event, before OnSend ran: the
    // provider puts its server back in step.
    virtual void OnSendCancelled() {}

  private:
    void ClearRecord();
    HRESULT Guard(const String &message, int32_t code, HRESULT hr);
    // Runs a hook; a clsExcept becomes the record and E_ABORT. `thrownCode`
    // receives the exception's code when one was thrown.
    HRESULT Call(const std::function<HRESULT()> &hook, bool *thrown = nullptr, int32_t *thrownCode = nullptr);
    void ReleaseMails();

    std::vector<IKvMail *> mails_;
    ConnectionState state_ = kDisconnected;
    const bool sendRole_;
    int32_t errorCode_ = 0;
    std::vector<String> messages_; // oldest first; back() is the top
    clsOptionList options_;
    IKvMailStateNotificationSlot *slot_ = nullptr;
    bool cancellable_ = false; // a send or receive runs
    std::atomic<LONG> mailRefs_{0};
};

} // namespace kv
