#include "providers/xmapi/xmapi_connection.h"

#include <new>

#include "runtime/kvlog.h"
#include "runtime/com_util.h"

#include "pal/system.h"
#include "pal/window.h"
#include "providers/hook_scope.h"
#include "providers/smapi/mapi_library.h"
#include "providers/xmapi/xmapi_mail.h"
#include "providers/xmapi/xmapi_read.h"
#include "providers/xmapi/xmapi_send.h"

namespace kv {

clsXMAPIMailConnection::clsXMAPIMailConnection(bool sendRole)
    : clsXMAPIMailConnection(sendRole, xmapi::SystemPlatform()) {
    session_->errorBox = [](const String &text) { pal::ShowErrorBox(pal::ActiveWindow(), text, "orkv14"); };
    session_->activeWindow = pal::ActiveWindow;
}

clsXMAPIMailConnection::clsXMAPIMailConnection(bool sendRole, std::unique_ptr<xmapi::Platform> platform)
    : clsConnectionBase(sendRole), session_(std::make_unique<clsXMAPI>(std::move(platform), false)) {}

bool clsXMAPIMailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvXMAPISendConnection) || IsEqualIID(riid, IID_IKvXMAPIRecvConnection);
}

bool clsXMAPIMailConnection::IsProviderAvailable() { return IsMapiAvailable() != nullptr; }

void clsXMAPIMailConnection::Logon() {
    bool suppress = ReadBoolOption("SuppressLogonFailure");
    String password = ReadTextOptionA("ServerPassword");
    String user = ReadTextOptionA("ServerUser");
    session_->Logon(password, user, suppress);
}

DWORD clsXMAPIMailConnection::GetMailCapabilities() {
    if (!session_->Available()) return 1;
    bool temporary = !session_->LoggedOn();
    if (temporary) Logon();
    uint32_t mask = session_->SupportMask();
    if (temporary) session_->Logoff();
    if (!(mask & xmapi::STORE_CREATE_OK))
        throw clsExcept(kErrGeneral, "XMAPI store does not allow to create any message");
    return 7;
}

HRESULT clsXMAPIMailConnection::OnConnect() {
    clsHookScope scope("[clsXMAPIMailConnection::OnConnect]");
    try {
        Logon();
    } catch (clsExcept &e) {
        scope.Attach(e);
        throw;
    }
    SetState(kConnected);
    return S_OK;
}

HRESULT clsXMAPIMailConnection::OnDisconnect() {
    clsHookScope scope("[clsXMAPIMailConnection::OnDisconnect]");
    if (State() != kConnecting) {
        if (session_->Available()) {
            try {
                session_->FlushSpooler();
            } catch (const clsExcept &) {
                // What the spooler does not take now it sends on its own schedule.
            }
        }
        session_->Logoff();
    }
    SetState(kDisconnected);
    return S_OK;
}

HRESULT clsXMAPIMailConnection::OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) {
    DWORD mask = GetMailCapabilities();
    auto *created = new (std::nothrow) clsXMAPIMail(this, cookie, uint32_t(codepage), mask);
    if (!created) return E_OUTOFMEMORY;
    created->AddRef();
    HRESULT hr = created->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(mail));
    created->Release();
    return hr;
}

HRESULT clsXMAPIMailConnection::OnSend(IKvMail *mail) {
    clsAutoRelease<clsXMAPIMail> ours = clsXMAPIMail::Of(mail);
    if (!ours) return E_NOINTERFACE;
    if (!session_->Available()) throw clsExcept(kErrGeneral, "MAPI is not available!");
    xmapi::SendSite *site = session_->Site();
    if (!site) return NotAvailable("OnSend");
    XmapiSendMail(*site, session_->SupportMask(), *ours, ReadBoolOption("DeleteAfterSend"));
    return S_OK;
}

clsXMAPIMail *clsXMAPIMailConnection::ReadMail(const String &id, bool markAsRead, clsXMAPIMail *mail,
                                               bool envelopeOnly) {
    xmapi::Inbox *inbox = session_->Inbox();
    if (!inbox) throw clsExcept(kErrNotConnected, "No inbox folder found in default message store, or store not open!");
    std::unique_ptr<xmapi::ReadMessage> message;
    HRESULT hr = inbox->OpenMessage(EntryIdBytes(id), message);
    if (FAILED(hr) || !message)
        throw clsExcept(kErrNotConnected, Format("XMAPI item '%s' not found in inbox: %s", id.c_str(),
                                                 HResultText(FAILED(hr) ? hr : E_POINTER).c_str()));
    clsAutoRelease<clsXMAPIMail> created;
    if (!mail) {
        mail = new (std::nothrow) clsXMAPIMail(this, id);
        if (!mail) throw clsExcept(kErrGeneral, "out of memory");
        mail->AddRef();
        created = clsAutoRelease<clsXMAPIMail>(mail);
    }
    clsXMAPIProps props((session_->SupportMask() & xmapi::STORE_UNICODE_OK) != 0);
    XmapiFillMail(*mail, *message, envelopeOnly, props,
                  [this](const String &address) { return session_->GalSmtpAddress(address); });
    if (markAsRead) message->SetReadFlag(0);
    if (created) created.get()->AddRef();
    return mail;
}

HRESULT clsXMAPIMailConnection::OnQueryMailbox(BYTE complete) {
    NtfyConnectionState(kEventMailbox, -1);
    struct End {
        clsXMAPIMailConnection *c;
        ~End() { c->NtfyConnectionState(kEventMailboxEnd, 0); }
    } end{this};
    if (!session_->Site()) {
        // No store to read here: the session of this platform offers none.
        if (session_->LoggedOn()) return NotAvailable("OnQueryMailbox");
        throw clsExcept(kErrNotConnected, "No default message store found!");
    }
    xmapi::Inbox *inbox = session_->Inbox();
    if (!inbox) throw clsExcept(kErrNotConnected, "No inbox folder found in default message store!");
    std::vector<std::vector<xmapi::Prop>> rows;
    if (FAILED(inbox->ContentsRows(rows))) throw clsExcept(kErrNotConnected, "Cannot use inbox!");
    NtfyConnectionState(kEventSeekMail, 0);
    const bool unreadOnly = ReadBoolOption("QueryUnreadMailsOnly");
    std::vector<String> ids;
    for (const auto &row : rows) {
        const xmapi::Prop *entry = nullptr;
        int32_t flags = 0;
        for (const auto &p : row) {
            if (p.tag == xmapi::Tag(xmapi::ID_ENTRYID, xmapi::PT_BINARY)) entry = &p;
            if (p.tag == xmapi::Tag(xmapi::ID_MESSAGE_FLAGS, xmapi::PT_LONG)) flags = p.number;
        }
        if (!entry) continue;
        if (unreadOnly && (flags & xmapi::MSGFLAG_READ)) continue;
        ids.push_back(EntryIdText(entry->bytes));
    }
    NtfyConnectionState(kEventMailbox, LONG(ids.size()));
    LONG counter = 0;
    for (const String &id : ids) {
        NtfyConnectionState(kEventMailboxItem, ++counter);
        bool mark = ReadBoolOption("QueryMarksMailsAsRead");
        clsXMAPIMail *mail = nullptr;
        try {
            mail = ReadMail(id, mark, nullptr, complete == 0);
        } catch (const clsExcept &e) {
            return Fail(E_UNEXPECTED, e);
        }
        clsAutoRelease<clsXMAPIMail> hold(mail);
        AppendMail(mail->Interface());
    }
    return S_OK;
}

HRESULT clsXMAPIMailConnection::OnDeleteMail(const String &id) {
    if (IsSendRole())
        return Fail(E_UNEXPECTED, kErrGeneral, "clsXMAPIMailConnection::OnDeleteMail(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, kErrNotConnected, "clsXMAPIMailConnection::OnDeleteMail(): not connected");
    try {
        for (IKvMail *mail : Mails()) {
            clsAutoRelease<clsXMAPIMail> ours = clsXMAPIMail::Of(mail);
            if (!ours) continue;
            if (ours->Cookie() != id) continue;
            xmapi::Inbox *inbox = session_->Inbox();
            HRESULT hr = inbox ? inbox->DeleteMessage(EntryIdBytes(id)) : E_UNEXPECTED;
            if (FAILED(hr))
                throw clsExcept(kErrNotConnected, Format("XMAPI item '%s' cannot be deleted from inbox: %s", id.c_str(),
                                                         HResultText(hr).c_str()));
            ours->SetState(kMailDeleted);
        }
    } catch (clsExcept &e) {
        e.Push("[clsXMAPIMailConnection::OnDeleteMail]");
        return Fail(E_FAIL, e);
    }
    return S_OK;
}

HRESULT clsXMAPIMailConnection::OnMarkMailAsRead(const String &id) {
    if (IsSendRole())
        return Fail(E_UNEXPECTED, kErrGeneral, "clsXMAPIMailConnection::OnMarkMailAsRead(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, kErrNotConnected, "clsXMAPIMailConnection::OnMarkMailAsRead(): not connected");
    try {
        xmapi::Inbox *inbox = session_->Inbox();
        std::unique_ptr<xmapi::ReadMessage> message;
        HRESULT hr = inbox ? inbox->OpenMessage(EntryIdBytes(id), message) : E_UNEXPECTED;
        if (FAILED(hr) || !message)
            throw clsExcept(kErrNotConnected, Format("XMAPI item '%s' not found in inbox: %s", id.c_str(),
                                                     HResultText(FAILED(hr) ? hr : E_POINTER).c_str()));
        message->SetReadFlag(0);
    } catch (clsExcept &e) {
        e.Push("[clsXMAPIMailConnection::OnMarkMailAsRead]");
        return Fail(E_FAIL, e);
    }
    return S_OK;
}

HRESULT clsXMAPIMailConnection::LoadRestOfMail(IKvMail *mail) {
    clsAutoRelease<clsXMAPIMail> ours = clsXMAPIMail::Of(mail);
    if (!ours) return E_NOINTERFACE;
    ReadMail(ours->Cookie(), ReadBoolOption("QueryMarksMailsAsRead"), ours.get(), false);
    return S_OK;
}

} // namespace kv
