#include "providers/smapi/smapi_connection.h"

#include <cstring>
#include <new>

#include "pal/system.h"
#include "pal/window.h"
#include "providers/hook_scope.h"
#include "providers/smapi/mapi_library.h"
#include "providers/smapi/smapi_mail.h"
#include "runtime/com_util.h"

namespace kv {

namespace {

[[noreturn]] void Unavailable() { throw clsExcept(kErrGeneral, "MAPI is not available!"); }

} // namespace

clsSMAPIMailConnection::clsSMAPIMailConnection(bool sendRole)
    : clsConnectionBase(sendRole), session_(std::make_unique<clsSMAPI>(IsMapiAvailable())) {
    session_->activeWindow = pal::ActiveWindow;
    session_->isWindow = pal::IsWindowHandle;
    session_->errorBox = [](uintptr_t owner, const String &text) { pal::ShowErrorBox(owner, text, "orkv14"); };
}

clsSMAPIMailConnection::clsSMAPIMailConnection(bool sendRole, const SmapiFunctions &functions)
    : clsConnectionBase(sendRole), session_(std::make_unique<clsSMAPI>(functions)) {}

bool clsSMAPIMailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvSMAPISendConnection) || IsEqualIID(riid, IID_IKvSMAPIRecvConnection);
}

bool clsSMAPIMailConnection::IsProviderAvailable() { return IsMapiAvailable() != nullptr; }
DWORD clsSMAPIMailConnection::GetMailCapabilities() { return 1; }

HRESULT clsSMAPIMailConnection::OnConnect() {
    bool suppress = ReadBoolOption("SuppressLogonFailure");
    String password = ReadTextOptionA("ServerPassword");
    String user = ReadTextOptionA("ServerUser");
    clsHookScope scope("[clsSMAPIMailConnection::OnConnect(user:'%s')]", user.c_str());
    try {
        session_->Logon(user, password, suppress);
    } catch (clsExcept &e) {
        scope.Attach(e);
        throw;
    }
    SetState(kConnected);
    return S_OK;
}

HRESULT clsSMAPIMailConnection::OnDisconnect() {
    clsHookScope scope("[clsSMAPIMailConnection::OnDisconnect]");
    session_->Logoff();
    SetState(kDisconnected);
    return S_OK;
}

HRESULT clsSMAPIMailConnection::OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) {
    auto *created = new (std::nothrow) clsSMAPIMail(this, cookie, uint32_t(codepage), GetMailCapabilities());
    if (!created) return E_OUTOFMEMORY;
    created->AddRef();
    HRESULT hr = created->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(mail));
    created->Release();
    return hr;
}

HRESULT clsSMAPIMailConnection::OnSend(IKvMail *mail) {
    clsHookScope scope("[clsSMAPIMailConnection::OnSend]");
    clsAutoRelease<clsSMAPIMail> ours = clsSMAPIMail::Of(mail);
    if (!ours) return scope.Return(E_NOINTERFACE);
    try {
        ours->Send(*session_, *this);
    } catch (clsExcept &e) {
        scope.Attach(e);
        throw;
    }
    return S_OK;
}

void clsSMAPIMailConnection::ReadMail(const String &id, bool markAsRead, clsSMAPIMail &mail, bool envelopeOnly) {
    const SmapiFunctions &f = session_->Functions();
    if (!f.MAPIReadMail || !f.MAPIFreeBuffer) Unavailable();
    smapi::FLAGS flags = (markAsRead ? 0 : smapi::MAPI_PEEK) | (envelopeOnly ? smapi::MAPI_ENVELOPE_ONLY : 0);
    String messageId = id;
    smapi::MapiMessage *record = nullptr;
    uint32_t rc = f.MAPIReadMail(session_->Session(), 0, messageId.data(), flags, 0, &record);
    if (rc != 0)
        throw clsExcept(kErrUnexpectedReply, Format("MAPIReadMail() failed, reason '%s'", MapiErrorName(rc).c_str()));
    struct Free {
        const SmapiFunctions &f;
        smapi::MapiMessage *record;
        ~Free() {
            if (record) f.MAPIFreeBuffer(record);
        }
    } free{f, record};
    if (record) mail.Fill(*record, envelopeOnly);
}

HRESULT clsSMAPIMailConnection::OnQueryMailbox(BYTE complete) {
    NtfyConnectionState(kEventMailbox, -1);
    struct End {
        clsSMAPIMailConnection *c;
        ~End() { c->NtfyConnectionState(kEventMailboxEnd, 0); }
    } end{this};
    const SmapiFunctions &f = session_->Functions();
    if (!f.MAPIFindNext) Unavailable();
    smapi::FLAGS flags = smapi::MAPI_LONG_MSGID | smapi::MAPI_GUARANTEE_FIFO;
    if (ReadBoolOption("QueryUnreadMailsOnly")) flags |= smapi::MAPI_UNREAD_ONLY;
    std::vector<String> ids;
    String seed;
    for (;;) {
        NtfyConnectionState(kEventSeekMail, 0);
        char next[smapi::kMessageIdSize] = {};
        uint32_t rc = f.MAPIFindNext(session_->Session(), 0, nullptr, seed.data(), flags, 0, next);
        if (rc == smapi::MAPI_E_NO_MESSAGES) break;
        if (rc != 0)
            throw clsExcept(kErrUnexpectedReply,
                            Format("MAPIFindNext() failed, reason '%s'", MapiErrorName(rc).c_str()));
        // The id is text in a fixed buffer; one that fills it is cut there.
        seed.assign(next, strnlen(next, sizeof next));
        ids.push_back(seed);
    }
    NtfyConnectionState(kEventMailbox, LONG(ids.size()));
    LONG counter = 0;
    for (const String &id : ids) {
        NtfyConnectionState(kEventMailboxItem, ++counter);
        bool mark = ReadBoolOption("QueryMarksMailsAsRead");
        auto *mail = new (std::nothrow) clsSMAPIMail(this, id);
        if (!mail) throw clsExcept(kErrGeneral, "out of memory");
        mail->AddRef();
        clsAutoRelease<clsSMAPIMail> hold(mail);
        try {
            ReadMail(id, mark, *mail, complete == 0);
        } catch (const clsExcept &) {
            // A message that was read but not taken whole is listed with what
            // it kept; the failure ends the listing.
            if (mail->State() == kMailLoaded) AppendMail(mail->Interface());
            throw;
        }
        AppendMail(mail->Interface());
    }
    return S_OK;
}

HRESULT clsSMAPIMailConnection::LoadRestOfMail(IKvMail *mail) {
    clsAutoRelease<clsSMAPIMail> ours = clsSMAPIMail::Of(mail);
    if (!ours) return E_NOINTERFACE;
    ReadMail(ours->MessageId(), ReadBoolOption("QueryMarksMailsAsRead"), *ours, false);
    return S_OK;
}

HRESULT clsSMAPIMailConnection::OnDeleteMail(const String &id) {
    clsHookScope scope("[clsSMAPIMailConnection::OnDeleteMail]");
    if (IsSendRole())
        return scope.Return(
            Fail(E_UNEXPECTED, kErrGeneral, "clsSMAPIMailConnection::OnDeleteMail(): not in RECV connection"));
    if (State() != kConnected)
        return scope.Return(
            Fail(E_UNEXPECTED, kErrNotConnected, "clsSMAPIMailConnection::OnDeleteMail(): not connected"));
    try {
        for (IKvMail *mail : Mails()) {
            clsAutoRelease<clsSMAPIMail> ours = clsSMAPIMail::Of(mail);
            if (!ours) continue;
            if (ours->MessageId() != id) continue;
            const SmapiFunctions &f = session_->Functions();
            if (!f.MAPIDeleteMail) Unavailable();
            String messageId = id;
            uint32_t rc = f.MAPIDeleteMail(session_->Session(), 0, messageId.data(), 0, 0);
            if (rc != 0)
                throw clsExcept(kErrUnexpectedReply,
                                Format("MAPIDeleteMail() failed, reason '%s'", MapiErrorName(rc).c_str()));
            ours->SetState(kMailDeleted);
        }
    } catch (clsExcept &e) {
        scope.Attach(e);
        return scope.Return(Fail(E_FAIL, e));
    }
    return S_OK;
}

HRESULT clsSMAPIMailConnection::OnMarkMailAsRead(const String &id) {
    clsHookScope scope("[clsSMAPIMailConnection::OnMarkMailAsRead]");
    if (IsSendRole())
        return scope.Return(
            Fail(E_UNEXPECTED, kErrGeneral, "clsSMAPIMailConnection::OnMarkMailAsRead(): not in RECV connection"));
    if (State() != kConnected)
        return scope.Return(
            Fail(E_UNEXPECTED, kErrNotConnected, "clsSMAPIMailConnection::OnMarkMailAsRead(): not connected"));
    try {
        const SmapiFunctions &f = session_->Functions();
        if (!f.MAPIReadMail || !f.MAPIFreeBuffer) Unavailable();
        String messageId = id;
        smapi::MapiMessage *record = nullptr;
        uint32_t rc = f.MAPIReadMail(session_->Session(), 0, messageId.data(), smapi::MAPI_ENVELOPE_ONLY, 0, &record);
        if (rc != 0)
            throw clsExcept(kErrUnexpectedReply,
                            Format("MAPIReadMail() failed, reason '%s'", MapiErrorName(rc).c_str()));
        if (record) f.MAPIFreeBuffer(record);
    } catch (clsExcept &e) {
        scope.Attach(e);
        return scope.Return(Fail(E_FAIL, e));
    }
    return S_OK;
}

} // namespace kv
