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
        HRESULT hr = platform_->LogonEx(0, profile.empty() ? nullptr : profile.c_str(),
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

void clsXMAPI::Logoff() {
    inbox_.reset();
    if (session_) session_->Logoff(0);
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
