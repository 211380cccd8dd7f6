#include "providers/xmapi/xmapi_session.h"

#include "log/except.h"
#include "log/kvlog.h"
#include "pal/system.h"

namespace kv {

clsXMAPIDLL::clsXMAPIDLL(std::unique_ptr<xmapi::Platform> platform, bool visibleErrors,
                         std::function<void(const String &)> errorBox)
    : platform_(std::move(platform)) {
    if (!platform_ || !platform_->Loaded() || !platform_->Has("MAPIInitialize")) return;
    HRESULT hr = platform_->Initialize(0);
    if (hr == xmapi::kRpcChangedMode || hr == xmapi::MAPI_E_UNKNOWN_FLAGS)
        hr = platform_->Initialize(xmapi::MAPI_NO_COINIT);
    if (SUCCEEDED(hr)) {
        available_ = true;
        return;
    }
    if (!visibleErrors || !errorBox) return;
    if (hr == xmapi::MAPI_E_VERSION)
        errorBox("The version of OLE installed on the workstation is not compatible with this version of MAPI.");
    else
        errorBox(Format("MAPIInitialize() failed, reason '%s'", pal::SystemMessageText(hr).c_str()));
}

clsXMAPIDLL::~clsXMAPIDLL() {
    if (available_ && platform_->Has("MAPIUninitialize")) platform_->Uninitialize();
}

clsXMAPI::~clsXMAPI() { Logoff(); }

void clsXMAPI::Logon(const String &password, const String &profile, bool suppress) {
    try {
        if (!available_) throw clsExcept(-5, "MAPI is not available on this computer!");
        if (!platform_->Has("MAPILogonEx")) throw clsExcept(-5, "The MAPI-DLL does not support XMAPI!");
        if (session_) return;
        uint32_t flags = xmapi::MAPI_EXTENDED | (profile.empty() ? xmapi::MAPI_USE_DEFAULT : xmapi::MAPI_NEW_SESSION);
        if (password.empty()) flags |= profile.empty() ? xmapi::MAPI_LOGON_UI : xmapi::MAPI_PASSWORD_UI;
        std::unique_ptr<xmapi::Session> session;
        HRESULT hr = platform_->LogonEx(activeWindow ? activeWindow() : 0, profile.empty() ? nullptr : profile.c_str(),
                                        password.empty() ? nullptr : password.c_str(), flags, session);
        if (hr == xmapi::MAPI_E_LOGON_FAILED) {
            if (!suppress && errorBox) errorBox("LOGON failed - usually due to a bad profile name or password.");
            throw clsExcept(-4, "MAPI LOGON failed!");
        }
        if (hr == xmapi::MAPI_E_USER_CANCEL) throw clsExcept(-11, "MAPI LOGON cancelled!");
        if (FAILED(hr) || !session) {
            String text = Format("MAPILogonEx() failed, reason '%s'", pal::SystemMessageText(FAILED(hr) ? hr : E_POINTER).c_str());
            if (errorBox) errorBox(text);
            throw clsExcept(-4, text);
        }
        uint32_t mask = 0;
        hr = session->OpenDefaultStore(mask);
        if (FAILED(hr)) {
            String text = session->LastErrorText(hr);
            session->Logoff(0);
            throw clsExcept(-5, text);
        }
        session_ = std::move(session);
        supportMask_ = mask;
    } catch (clsExcept &e) {
        e.Push("[clsXMAPI::Logon]");
        throw;
    }
}

xmapi::Inbox *clsXMAPI::Inbox() {
    if (!inbox_) {
        xmapi::SendSite *site = Site();
        if (site && FAILED(site->OpenInbox(inbox_))) inbox_.reset();
    }
    return inbox_.get();
}

std::unique_ptr<xmapi::Status> clsXMAPI::GetMAPIStatus() {
    try {
        if (!available_) throw clsExcept(-5, "MAPI is not available!");
        xmapi::SendSite *site = Site();
        if (!session_ || !site) throw clsExcept(-5, "MAPI has not an active session!");
        auto text = [](HRESULT hr) { return pal::SystemMessageText(hr); };
        std::unique_ptr<xmapi::StatusTable> table;
        HRESULT hr = site->GetStatusTable(table);
        if (FAILED(hr) || !table)
            throw clsExcept(-5, Format("ISession::GetStatusTable() failed: '%s'", text(FAILED(hr) ? hr : E_POINTER).c_str()));
        std::vector<std::vector<xmapi::Prop>> rows;
        hr = table->QueryRows(xmapi::MAPI_SPOOLER, rows);
        if (FAILED(hr)) throw clsExcept(-5, Format("HrQueryAllRows() failed: '%s'", text(hr).c_str()));
        const xmapi::Prop *entry = nullptr;
        if (!rows.empty())
            for (const auto &p : rows.front())
                if (p.tag == xmapi::Tag(xmapi::ID_ENTRYID, xmapi::PT_BINARY)) entry = &p;
        if (!entry) throw clsExcept(-5, "MAPI_SPOOLER not found");
        uint32_t type = 0;
        std::unique_ptr<xmapi::Status> status;
        hr = site->OpenStatus(entry->bytes, type, status);
        if (hr == E_FAIL)
            throw clsExcept(-5, "MAPI_SPOOLER can not be opened due to a known MAPI bug. Ignore the error.");
        if (FAILED(hr) || !status)
            throw clsExcept(-5, Format("MAPI_SPOOLER can not be opened (1): '%s'", text(FAILED(hr) ? hr : E_POINTER).c_str()));
        if (type != xmapi::MAPI_STATUS) throw clsExcept(-5, "MAPI_SPOOLER can not be opened (2): no STATUS resource");
        return status;
    } catch (clsExcept &e) {
        e.Push("[clsXMAPI::GetMAPIStatus]");
        throw;
    }
}

void clsXMAPI::FlushSpooler() {
    std::unique_ptr<xmapi::Status> status;
    try {
        status = GetMAPIStatus();
    } catch (const clsExcept &e) {
        throw clsExcept(-5, Format("Status interface not found: '%s'", e.Messages().front().c_str()));
    }
    HRESULT hr = status->FlushQueues(xmapi::FLUSH_UPLOAD_NO_UI_ASYNC);
    if (FAILED(hr) && hr != xmapi::MAPI_E_BUSY)
        throw clsExcept(-5, Format("IMAPIStatus::FlushQueues() failed: '%s'", pal::SystemMessageText(hr).c_str()));
}

void clsXMAPI::Logoff() {
    inbox_.reset();
    if (session_) session_->Logoff(activeWindow ? activeWindow() : 0);
    session_.reset();
    supportMask_ = 0;
}

namespace {

bool Contains(const String &text, const char *marker) { return text.find(marker) != String::npos; }

bool ContainsAny(const String &text, std::initializer_list<const char *> markers) {
    for (const char *m : markers)
        if (Contains(text, m)) return true;
    return false;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

String AddressTypeOf(const String &address, const String &defaultType) {
    size_t slash = 0, at = 0, comma = 0, semicolon = 0, colon = 0, dash = 0, angle = 0, brace = 0;
    bool digit = false;
    for (char c : address) {
        switch (c) {
        case '/': ++slash; break;
        case '@': ++at; break;
        case ',': ++comma; break;
        case ';': ++semicolon; break;
        case ':': ++colon; break;
        case '-': ++dash; break;
        case '<': case '>': ++angle; break;
        case '{': case '}': ++brace; break;
        default: break;
        }
        if (c >= '0' && c <= '9') digit = true;
    }
    const bool lastNotLetter = address.empty() || !IsAsciiLetter(address.back());
    if (at) {
        if (lastNotLetter) return "FAX";
        if (angle) return "SMTP";
        if (brace) return "MHS";
        return defaultType.empty() ? String("SMTP") : defaultType;
    }
    String text = address.substr(std::min(address.find_first_not_of(' '), address.size()));
    if (slash) {
        if (ContainsAny(text, {"/C=", "/O=", "/OU=", "/CN="})) return "X500";
        if (ContainsAny(text, {"ATTMAIL!", "FAX!", "TELEX!", "PRINTER!"})) return "ATT";
        return "MS";
    }
    if (semicolon) {
        if (ContainsAny(text, {"MCI:", "EMS:", "MBX:"})) return "MCI";
        if (ContainsAny(text, {"C=", "G=", "I=", "S=", "Q=", "CN=", "X.121=", "N-ID=", "T-TY=", "T-ID=", "O=", "P=",
                               "A=", "DDA=", "OU="}))
            return "X400";
        if (colon || !lastNotLetter) return "3COM";
        return "MSN";
    }
    if (dash) return "FAX";
    if (comma == 1) return "COMPUSERVE";
    if (digit) return "FAX";
    return defaultType;
}

std::vector<String> MapiProfileNames(xmapi::Platform *platform) {
    std::vector<String> names;
    if (!platform || !platform->Loaded()) {
        pal::DebugOutput("no XMAPI DLL present");
        return names;
    }
    if (!platform->Has("MAPIAdminProfiles")) {
        pal::DebugOutput("'MAPIAdminProfiles' not found in XMAPI DLL");
        return names;
    }
    std::vector<xmapi::ProfileRow> rows;
    HRESULT hr = platform->ProfileTable(rows);
    if (FAILED(hr)) {
        pal::DebugOutput(Format("MAPIAdminProfiles() failed: %s", pal::SystemMessageText(hr).c_str()));
        return names;
    }
    for (const auto &row : rows) names.push_back(Format("%c%s", row.isDefault ? '*' : ' ', row.name.c_str()));
    return names;
}

} // namespace kv
