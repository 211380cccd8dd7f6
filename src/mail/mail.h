// clsMail: the one mail object a host sees, whatever provider lies beneath.
// Provider mail classes derive from it and change only its virtual operations.
#pragma once

#include <map>
#include <vector>

#include "mail/attachment_list.h"
#include "mail/body_list.h"
#include "mail/header_item.h"
#include "mail/mail_site.h"
#include "pal/com.h"
#include "runtime/com_object.h"
#include "runtime/com_util.h"
#include "runtime/file_rw_temp.h"
#include "runtime/kvstring.h"

namespace kv {

class clsExcept;

enum MailState : int32_t { kMailNew = 0, kMailListed = 1, kMailLoaded = 2, kMailDeleted = 3 };
enum BodyTypeMask : uint32_t { kBodyPlain = 1, kBodyHtml = 2, kBodyRtf = 4 };

// Success code of the enumerations of a deleted mail.
constexpr HRESULT kMailDeletedResult = HRESULT(0x000003EE);

class clsMail : public clsComObject<kModuleCounted, IKvMail, IKvMail2, IKvMail3> {
  public:
    // A mail for sending (state New): the charset of the code page (0: ANSI).
    clsMail(clsMailSite *site, const String &cookie, uint32_t codepage, uint32_t bodyTypes);
    // A mail for a mailbox entry (state Listed, empty charset, no body types);
    // its content is loaded through the connection on first enumeration.
    clsMail(clsMailSite *site, const String &cookie);

    // IKvMail, IKvMail2, IKvMail3: one implementation serves all three.
    HRESULT STDMETHODCALLTYPE GetCookie(BSTR *cookie) override;
    HRESULT STDMETHODCALLTYPE SetSender(BSTR address) override;
    HRESULT STDMETHODCALLTYPE GetSender(BSTR *address) override;
    HRESULT STDMETHODCALLTYPE SetReplyAddress(BSTR address) override;
    HRESULT STDMETHODCALLTYPE GetReplyAddress(BSTR *address) override;
    HRESULT STDMETHODCALLTYPE SetSubject(BSTR subject) override;
    HRESULT STDMETHODCALLTYPE GetSubject(BSTR *subject) override;
    HRESULT STDMETHODCALLTYPE GetCharset(BSTR *charset, ULONG *codepage, ULONG *gdiCharset) override;
    HRESULT STDMETHODCALLTYPE SetHeaderEntry(BSTR name, BSTR value) override;
    HRESULT STDMETHODCALLTYPE GetHeaderEntry(BSTR name, BSTR *value) override;
    HRESULT STDMETHODCALLTYPE IsValid() override;
    HRESULT STDMETHODCALLTYPE AddRecipients(BSTR list) override;
    HRESULT STDMETHODCALLTYPE EnumRecipients(IEnumString **recipients) override;
    HRESULT STDMETHODCALLTYPE AddCCRecipients(BSTR list) override;
    HRESULT STDMETHODCALLTYPE EnumCCRecipients(IEnumString **recipients) override;
    HRESULT STDMETHODCALLTYPE AddBCCRecipients(BSTR list) override;
    HRESULT STDMETHODCALLTYPE EnumBCCRecipients(IEnumString **recipients) override;
    HRESULT STDMETHODCALLTYPE CreateAndAddAttachment(IKvMailAttachment **attachment) override;
    HRESULT STDMETHODCALLTYPE EnumAttachments(IKvEnumMailAttachment **attachments) override;
    HRESULT STDMETHODCALLTYPE CreateAndAddBody(IKvMailBody **body, BSTR mediaType, ULONG codepage) override;
    HRESULT STDMETHODCALLTYPE EnumBodies(IKvEnumMailBody **bodies) override;
    HRESULT STDMETHODCALLTYPE SetRawText(IStream *source) override;
    HRESULT STDMETHODCALLTYPE GetRawText(IStream *destination) override;
    HRESULT STDMETHODCALLTYPE Edit(HWND parent, LONG value, LONG editable, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetHeaderEntry2(BSTR name, BSTR *value, IEnumString **parameters) override;

    // The mail's own virtual operations.
    virtual HRESULT GetCodepage(ULONG *codepage);
    // Whether the address may be stored as sender, reply address or recipient.
    virtual bool IsValidAddress(const String &address);

    // For connections, the writer and the reader.
    IKvMail *Interface() { return static_cast<IKvMail *>(this); }
    const String &Cookie() const { return cookie_; }
    void SetCookie(const String &cookie) { cookie_ = cookie; }
    int32_t State() const { return state_; }
    void SetState(int32_t state) { state_ = state; }
    const String &Charset() const { return charset_; }
    void SetCharset(const String &charset) { charset_ = charset; }
    // The code page of the charset (empty or unknown: ANSI).
    uint32_t CodePage() const;
    const String &Sender() const { return sender_; }
    void SetSenderText(const String &sender) { sender_ = sender; }
    // The stored sender, else the one the connection's options give.
    String EffectiveSender() const;
    // The domain of generated addresses: the connection's SenderDomain, else
    // the computer's name.
    String SenderDomain() const;
    const String &Subject() const { return subject_; }
    void SetSubjectText(const String &subject) { subject_ = subject; }
    std::vector<String> &To() { return to_; }
    std::vector<String> &CC() { return cc_; }
    std::vector<String> &BCC() { return bcc_; }
    clsMailBodyList &Bodies() { return bodies_; }
    clsMailAttachmentList &Attachments() { return attachments_; }
    clsHeaderList &GeneratedHeaders() { return generated_; }
    // Empties what reading a text fills in by appending (recipients, bodies,
    // attachments, generated headers), so that a text read again replaces them.
    void ForgetReadContent();
    bool HeadersReusable() const { return headersReusable_; }
    void SetHeadersReusable(bool reusable) { headersReusable_ = reusable; }
    // Builds the generated header list unless a built one may be reused.
    // Throws clsExcept on failure.
    void BuildGeneratedHeaders();
    clsFileRWTemp &RawText() { return rawText_; }
    // Discards the generated headers and the raw text.
    void Invalidate();

  protected:
    virtual ~clsMail();

  private:
    HRESULT AddTo(std::vector<String> &list, BSTR text);
    HRESULT Enumerate(const std::vector<String> &list, IEnumString **out);
    // Loads a listed mail through its connection; S_OK when the content is present.
    HRESULT EnsureLoaded();
    String DateText();
    void KeepRecord(const clsExcept &e);

    String cookie_;
    int32_t state_;
    String charset_;
    uint32_t bodyTypes_;
    clsMailSite *site_;
    String sender_;
    String replyAddress_;
    std::vector<String> to_;
    std::vector<String> cc_;
    std::vector<String> bcc_;
    String subject_;
    std::map<IString, String> headerEntries_;
    clsMailBodyList bodies_;
    clsMailAttachmentList attachments_;
    clsHeaderList generated_;
    bool headersReusable_ = true;
    clsFileRWTemp rawText_{"chk", ".tmp"};
};

// A provider's mail class (`static const IID &ClassId()`): it also answers
// the identifier of its class with the object itself, a reference added, so
// that a connection can accept only mails of its class.
template <class Self> class clsProviderMail : public clsMail {
  public:
    using clsMail::clsMail;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (ppv && IsEqualIID(riid, Self::ClassId())) {
            *ppv = static_cast<Self *>(this);
            AddRef();
            return S_OK;
        }
        return clsMail::QueryInterface(riid, ppv);
    }
    // The mail as this class, held; empty for a mail of another class or none.
    static clsAutoRelease<Self> Of(IKvMail *mail) {
        clsAutoRelease<Self> ours;
        if (mail) mail->QueryInterface(Self::ClassId(), reinterpret_cast<void **>(ours.put()));
        return ours;
    }
};

} // namespace kv
