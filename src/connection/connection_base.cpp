#include "connection/connection_base.h"

#include <exception>
#include <new>

#include "connection/enum_mail.h"
#include "runtime/kvlog.h"
#include "runtime/com_util.h"
#include "settings/settings_string.h"

namespace kv {

clsConnectionBase::clsConnectionBase(bool sendRole) : sendRole_(sendRole) {}

namespace {
// Marks the span of a send or receive, in which the host may cancel.
struct Cancellable {
    bool &flag;
    explicit Cancellable(bool &f) : flag(f) { flag = true; }
    ~Cancellable() { flag = false; }
};
} // namespace

clsConnectionBase::~clsConnectionBase() {
    if (slot_) slot_->Release();
    slot_ = nullptr;
    ReleaseMails();
}

HRESULT clsConnectionBase::QueryInterface(REFIID riid, void **ppv) {
    // The provider's selectors are answered as its connection interface.
    return QueryInterfaceOf<IKvMailConnection2, IKvMailConnection>(
        this, AnswersSelector(riid) ? IID_IKvMailConnection2 : riid, ppv);
}

ULONG clsConnectionBase::Release() {
    LONG n = DropReference();
    if (n == 0) {
        delete this;
        return 0;
    }
    // Only mails hold it now: when those are the ones in its own list, nobody can
    // reach the list any more, so it lets them go and the mails let it go.
    if (n == mailRefs_ && !mails_.empty()) {
        AddRef();
        ReleaseMails();
        return Release();
    }
    return ULONG(n);
}

void clsConnectionBase::AttachMail() {
    ++mailRefs_;
    AddRef();
}

void clsConnectionBase::DetachMail() {
    --mailRefs_;
    Release();
}

void clsConnectionBase::ClearRecord() {
    messages_.clear();
    errorCode_ = 0;
}

HRESULT clsConnectionBase::Guard(const String &message, int32_t code, HRESULT hr) {
    messages_.push_back(message);
    errorCode_ = code;
    return hr;
}

HRESULT clsConnectionBase::Fail(HRESULT hr, int32_t code, const String &message) {
    clsExcept e(code, message); // logs the line like any other failure
    messages_ = e.Messages();
    errorCode_ = code;
    return hr;
}

HRESULT clsConnectionBase::Fail(HRESULT hr, const clsExcept &e) {
    messages_ = e.Messages();
    errorCode_ = e.Code();
    return hr;
}

HRESULT clsConnectionBase::NotAvailable(const char *operation) {
    return Fail(E_NOTIMPL, kErrGeneral,
                Format("%s::%s(): not available in this build of the component",
                       ("cls" + GetProviderName() + "MailConnection").c_str(), operation));
}

HRESULT clsConnectionBase::Call(const std::function<HRESULT()> &hook, bool *thrown, int32_t *thrownCode) {
    if (thrown) *thrown = false;
    try {
        return hook();
    } catch (const clsExcept &e) {
        messages_ = e.Messages();
        errorCode_ = e.Code();
        if (thrown) *thrown = true;
        if (thrownCode) *thrownCode = e.Code();
        return E_ABORT;
    } catch (const std::bad_alloc &) {
        Fail(E_OUTOFMEMORY, kErrGeneral, "out of memory");
        if (thrown) *thrown = true;
        if (thrownCode) *thrownCode = kErrGeneral;
        return E_OUTOFMEMORY;
    } catch (const std::exception &e) {
        Fail(E_FAIL, kErrGeneral, Format("internal failure: %s", e.what()));
        if (thrown) *thrown = true;
        if (thrownCode) *thrownCode = kErrGeneral;
        return E_FAIL;
    }
}

void clsConnectionBase::ReleaseMails() {
    std::vector<IKvMail *> mails;
    mails.swap(mails_);
    for (IKvMail *m : mails) m->Release();
}

void clsConnectionBase::AppendMail(IKvMail *mail) {
    if (!mail) return;
    mails_.push_back(mail);
    mail->AddRef();
}

void clsConnectionBase::SendEvent(LONG event, LONG detail) {
    if (!slot_) return;
    HRESULT answer = S_OK;
    {
        // A slot that lets itself go inside its call must live until the call returns.
        clsAutoRelease<IKvMailStateNotificationSlot> slot(slot_, true);
        answer = slot->NotifyConnectionState(event, detail);
    }
    // Only E_ABORT cancels: other failures were always ignored. The end of a
    // listing comes from destructors and cancels nothing.
    if (answer == E_ABORT && cancellable_ && event != kEventMailboxEnd && std::uncaught_exceptions() == 0)
        throw clsExcept(kErrCancelled, "cancelled by the host");
}

void clsConnectionBase::NtfyConnectionState(LONG event, LONG detail) {
    if (!slot_) return;
    LogWriteF(kLogCalls, "NtfyConnectionState(%d,%d)", int(event), int(detail));
    SendEvent(event, detail);
}

clsVariant clsConnectionBase::ReadOption(const String &name) { return options_.Get(OptionKey(name)); }

WString clsConnectionBase::ReadTextOption(const String &name, std::u16string_view defaultValue) const {
    return options_.ReadText(OptionKey(name), defaultValue);
}

String clsConnectionBase::ReadTextOptionA(const String &name, std::u16string_view defaultValue) const {
    return Narrow(ReadTextOption(name, defaultValue));
}

int32_t clsConnectionBase::ReadIntOption(const String &name, int32_t defaultValue) const {
    return options_.ReadInt(OptionKey(name), defaultValue);
}

bool clsConnectionBase::ReadBoolOption(const String &name) const { return options_.ReadBool(OptionKey(name)); }

void clsConnectionBase::WriteTextOption(const String &name, std::u16string_view value) {
    options_.SetText(OptionKey(name), value);
}
void clsConnectionBase::WriteIntOption(const String &name, int32_t value) { options_.SetInt(OptionKey(name), value); }
void clsConnectionBase::WriteBoolOption(const String &name, bool value) { options_.SetBool(OptionKey(name), value); }

namespace {
// Passwords (the proxy's too) and access tokens ("OAuth2Token"), named in any
// letter case as the option list accepts them.
bool IsSecretOption(std::string_view name) {
    constexpr std::string_view kPassword = "password", kToken = "token";
    for (size_t at = 0; at + kPassword.size() <= name.size(); ++at)
        if (EqualsNoCase(name.substr(at, kPassword.size()), kPassword)) return true;
    return name.size() >= kToken.size() && EqualsNoCase(name.substr(name.size() - kToken.size()), kToken);
}
} // namespace

HRESULT clsConnectionBase::SetOption(LPCWSTR name, VARIANT *value) {
    HRESULT hr = S_OK;
    clsVariant local = value ? clsVariant(*value) : clsVariant();
    String shown;
    if (!name) shown = "<...>";
    else if (IsSecretOption(Narrow(WideView(name)))) shown = "*****";
    else shown = Narrow(local.Text());
    clsTraceScope trace(&hr, "clsConnectionBase::SetOption('%ws','%s')", name, shown.c_str());
    if (!value) return hr = E_INVALIDARG;
    if (state_ != kDisconnected) return hr = E_UNEXPECTED;
    if (name) {
        options_.Set(OptionKey(Narrow(WideView(name))), local);
    } else {
        WString text;
        if (local.ToText(text)) ReadSettingsString(text, options_);
    }
    return hr = S_OK;
}

HRESULT clsConnectionBase::SetMailStateNotificationSlot(IKvMailStateNotificationSlot *slot) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::SetMailStateNotificationSlot(%p)", (void *)slot);
    if (slot != slot_) {
        if (slot) slot->AddRef();
        if (slot_) slot_->Release();
        slot_ = slot;
    }
    return hr;
}

HRESULT clsConnectionBase::GetErrorInformation(LONG *code, BSTR *text) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::GetErrorInformation(%p,%p)", (void *)code, (void *)text);
    String all;
    for (const String &m : messages_) all += m + "\r\n";
    if (code) *code = errorCode_;
    if (text) hr = AssignBstr(text, all, 0);
    if (trace.Active()) trace.SetDetail(Format("%d='%s'", int(errorCode_), all.c_str()));
    return hr;
}

HRESULT clsConnectionBase::Connect() {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::Connect()");
    if (state_ != kDisconnected)
        return hr = Guard("clsConnectionBase::Connect(): still connected", kErrStillConnected, E_UNEXPECTED);
    ClearRecord();
    ReleaseMails();
    NtfyConnectionState(kEventConnecting, 0);
    bool thrown = false;
    int32_t code = 0;
    hr = Call([this] { return OnConnect(); }, &thrown, &code);
    if (thrown) NtfyConnectionState(kEventServer, code == 0 ? 1 : 0);
    return hr;
}

HRESULT clsConnectionBase::Disconnect() {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::Disconnect()");
    if (state_ == kDisconnected) {
        Guard("clsConnectionBase::Disconnect(): not connected", kErrNotConnected, S_FALSE);
        NtfyConnectionState(kEventDisconnected, 0);
        return hr = S_FALSE;
    }
    ReleaseMails();
    ClearRecord();
    NtfyConnectionState(kEventDisconnecting, 0);
    bool thrown = false;
    int32_t code = 0;
    hr = Call([this] { return OnDisconnect(); }, &thrown, &code);
    // The host learns how every disconnect ended, not only a failed one.
    if (thrown) NtfyConnectionState(kEventDisconnected, code == 0 ? 1 : 0);
    else NtfyConnectionState(kEventDisconnected, SUCCEEDED(hr) ? 1 : 0);
    return hr;
}

HRESULT clsConnectionBase::CreateMail(LONG codepage, LPCWSTR cookie, IKvMail **mail) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::CreateMail(%d,'%ws',%p)", int(codepage), cookie, (void *)mail);
    ClearRecord();
    if (!sendRole_)
        return hr = Guard("clsConnectionBase::CreateMail(): not in SEND connection", kErrGeneral, E_UNEXPECTED);
    if (!mail) return hr = E_INVALIDARG;
    *mail = nullptr;
    String cookieText = Narrow(WideView(cookie));
    return hr = Call([&] { return OnCreateMail(codepage, cookieText, mail); });
}

HRESULT clsConnectionBase::Send(IKvMail *mail) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::Send(%p)", (void *)mail);
    if (state_ != kConnected)
        return hr = Guard("clsConnectionBase::Send(): not connected", kErrNotConnected, E_UNEXPECTED);
    if (!sendRole_) return hr = Guard("clsConnectionBase::Send(): not in SEND connection", kErrGeneral, E_UNEXPECTED);
    ClearRecord();
    {
        Cancellable scope(cancellable_);
        hr = Call([&] {
            try {
                SendEvent(kEventSend, 0);
            } catch (const clsExcept &) {
                OnSendCancelled();
                throw;
            }
            return OnSend(mail);
        });
    }
    SendEvent(kEventSend, 100);
    return hr;
}

HRESULT clsConnectionBase::QueryMailbox(BYTE flag) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::QueryMailbox(%d)", int(flag));
    ClearRecord();
    if (sendRole_)
        return hr = Guard("clsConnectionBase::QueryMailbox(): not in RECV connection", kErrGeneral, E_UNEXPECTED);
    Cancellable scope(cancellable_);
    return hr = Call([&] { return OnQueryMailbox(flag); });
}

HRESULT clsConnectionBase::EnumMails(IKvEnumMail **mails) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::EnumMails(%p)", (void *)mails);
    ClearRecord();
    if (sendRole_)
        return hr = Guard("clsConnectionBase::EnumMails(): not in RECV connection", kErrGeneral, E_UNEXPECTED);
    if (!mails) return hr = E_INVALIDARG;
    return hr = clsEnumMail::Create(mails_, mails);
}

HRESULT clsConnectionBase::DeleteMail(LPCWSTR id) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::DeleteMail('%ws')", id);
    ClearRecord();
    if (sendRole_)
        return hr = Guard("clsConnectionBase::DeleteMail(): not in RECV connection", kErrGeneral, E_UNEXPECTED);
    String text = Narrow(WideView(id));
    return hr = Call([&] { return OnDeleteMail(text); });
}

HRESULT clsConnectionBase::MarkMailAsRead(LPCWSTR id) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsConnectionBase::MarkMailAsRead('%ws')", id);
    ClearRecord();
    if (sendRole_)
        return hr = Guard("clsConnectionBase::MarkMailAsRead(): not in RECV connection", kErrGeneral, E_UNEXPECTED);
    String text = Narrow(WideView(id));
    return hr = Call([&] { return OnMarkMailAsRead(text); });
}

HRESULT clsConnectionBase::OnMarkMailAsRead(const String &) { return E_NOTIMPL; }

HRESULT clsConnectionBase::ConnectWithNotifications() {
    NtfyConnectionState(kEventConnecting, 0);
    try {
        HRESULT hr = OnConnect();
        if (FAILED(hr)) return hr;
        NtfyConnectionState(kEventServer, 1);
        return hr;
    } catch (const clsExcept &) {
        NtfyConnectionState(kEventServer, 0);
        return E_FAIL;
    } catch (const std::exception &) {
        NtfyConnectionState(kEventServer, 0);
        return E_FAIL;
    }
}

} // namespace kv
