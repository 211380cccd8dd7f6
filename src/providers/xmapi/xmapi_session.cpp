#include "providers/xmapi/xmapi_session.h"

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "pal/system.h"
#include "providers/hook_scope.h"

namespace kv {

clsXMAPIDLL::clsXMAPIDLL(std::unique_ptr<xmapi::Platform> platform, bool visibleErrors,
                         std::function<void(const String &)> errorBox)
    : platform_(std::move(platform)) {
    if (!platform_) return;
    oleInitialized_ = SUCCEEDED(platform_->InitializeOle());
    if (!platform_->Loaded() || !platform_->Has("MAPIInitialize")) return;
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
        errorBox(Format("MAPIInitialize() failed, reason '%s'", HResultText(hr).c_str()));
}

clsXMAPIDLL::~clsXMAPIDLL() {
    if (available_ && platform_->Has("MAPIUninitialize")) platform_->Uninitialize();
    if (oleInitialized_) platform_->UninitializeOle();
}

clsXMAPI::~clsXMAPI() { Logoff(); }

void clsXMAPI::Logon(const String &password, const String &profile, bool suppress) {
    clsHookScope scope("[clsXMAPI::Logon]");
    try {
        if (!available_) throw clsExcept(kErrGeneral, "MAPI is not available on this computer!");
        if (!platform_->Has("MAPILogonEx")) throw clsExcept(kErrGeneral, "The MAPI-DLL does not support XMAPI!");
        if (session_) return;
        uint32_t flags = xmapi::MAPI_EXTENDED | (profile.empty() ? xmapi::MAPI_USE_DEFAULT : xmapi::MAPI_NEW_SESSION);
        if (password.empty()) flags |= profile.empty() ? xmapi::MAPI_LOGON_UI : xmapi::MAPI_PASSWORD_UI;
        std::unique_ptr<xmapi::Session> session;
        HRESULT hr = platform_->LogonEx(activeWindow ? activeWindow() : 0, profile.empty() ? nullptr : profile.c_str(),
                                        password.empty() ? nullptr : password.c_str(), flags, session);
        if (hr == xmapi::MAPI_E_LOGON_FAILED) {
            if (!suppress && errorBox) errorBox("LOGON failed - usually due to a bad profile name or password.");
            throw clsExcept(kErrLogonFailed, "MAPI LOGON failed!");
        }
        if (hr == xmapi::MAPI_E_USER_CANCEL) throw clsExcept(kErrLogonCancelled, "MAPI LOGON cancelled!");
        if (FAILED(hr) || !session) {
            String text = Format("MAPILogonEx() failed, reason '%s'", HResultText(FAILED(hr) ? hr : E_POINTER).c_str());
            if (errorBox) errorBox(text);
            throw clsExcept(kErrLogonFailed, text);
        }
        uint32_t mask = 0;
        hr = session->OpenDefaultStore(mask);
        if (FAILED(hr)) {
            String text = session->LastErrorText(hr);
            session->Logoff(0);
            throw clsExcept(kErrGeneral, text);
        }
        session_ = std::move(session);
        supportMask_ = mask;
    } catch (clsExcept &e) {
        scope.Attach(e);
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
    clsHookScope scope("[clsXMAPI::GetMAPIStatus]");
    try {
        if (!available_) throw clsExcept(kErrGeneral, "MAPI is not available!");
        xmapi::SendSite *site = Site();
        if (!session_ || !site) throw clsExcept(kErrGeneral, "MAPI has not an active session!");
        auto text = [](HRESULT hr) { return HResultText(hr); };
        std::unique_ptr<xmapi::StatusTable> table;
        HRESULT hr = site->GetStatusTable(table);
        if (FAILED(hr) || !table)
            throw clsExcept(kErrGeneral, Format("ISession::GetStatusTable() failed: '%s'",
                                                text(FAILED(hr) ? hr : E_POINTER).c_str()));
        std::vector<std::vector<xmapi::Prop>> rows;
        hr = table->QueryRows(xmapi::MAPI_SPOOLER, rows);
        if (FAILED(hr)) throw clsExcept(kErrGeneral, Format("HrQueryAllRows() failed: '%s'", text(hr).c_str()));
        const xmapi::Prop *entry = nullptr;
        if (!rows.empty())
            for (const auto &p : rows.front())
                if (p.tag == xmapi::Tag(xmapi::ID_ENTRYID, xmapi::PT_BINARY)) entry = &p;
        if (!entry) throw clsExcept(kErrGeneral, "MAPI_SPOOLER not found");
        uint32_t type = 0;
        std::unique_ptr<xmapi::Status> status;
        hr = site->OpenStatus(entry->bytes, type, status);
        if (hr == E_FAIL)
            throw clsExcept(kErrGeneral, "MAPI_SPOOLER can not be opened due to a known MAPI bug. Ignore the error.");
        if (FAILED(hr) || !status)
            throw clsExcept(kErrGeneral, Format("MAPI_SPOOLER can not be opened (1): '%s'",
                                                text(FAILED(hr) ? hr : E_POINTER).c_str()));
        if (type != xmapi::MAPI_STATUS)
            throw clsExcept(kErrGeneral, "MAPI_SPOOLER can not be opened (2): no STATUS resource");
        return status;
    } catch (clsExcept &e) {
        scope.Attach(e);
        throw;
    }
}

void clsXMAPI::FlushSpooler() {
    std::unique_ptr<xmapi::Status> status;
    try {
        status = GetMAPIStatus();
    } catch (const clsExcept &e) {
        throw clsExcept(kErrGeneral, Format("Status interface not found: '%s'", e.Messages().front().c_str()));
    }
    HRESULT hr = status->FlushQueues(xmapi::FLUSH_UPLOAD_NO_UI_ASYNC);
    if (FAILED(hr) && hr != xmapi::MAPI_E_BUSY)
        throw clsExcept(kErrGeneral, Format("IMAPIStatus::FlushQueues() failed: '%s'", HResultText(hr).c_str()));
}

void clsXMAPI::Logoff() {
    inbox_.reset();
    gal_.clear();
    galRead_ = false;
    if (session_) session_->Logoff(activeWindow ? activeWindow() : 0);
    session_.reset();
    supportMask_ = 0;
}

String clsXMAPI::GalSmtpAddress(const String &address) {
    xmapi::SendSite *site = Site();
    if (!site) return String();
    // Read once, also when it fails: the failure is in the log as it was
    // raised, and an address without its SMTP form is still an address.
    if (!galRead_) {
        galRead_ = true;
        try {
            gal_ = XmapiGalSmtpAddresses(
                *site, (supportMask_ & xmapi::STORE_UNICODE_OK) ? xmapi::PT_UNICODE : xmapi::PT_STRING8);
        } catch (const clsExcept &) {
        }
    }
    auto found = gal_.find(address);
    return found == gal_.end() ? String() : found->second;
}

namespace {

String TextColumn(const std::vector<xmapi::Prop> &row, uint32_t id) {
    for (const xmapi::Prop &p : row) {
        if (xmapi::IdOf(p.tag) != id) continue;
        if (xmapi::TypeOf(p.tag) == xmapi::PT_UNICODE) return Narrow(p.text);
        if (xmapi::TypeOf(p.tag) == xmapi::PT_STRING8) return p.text8;
    }
    return String();
}

} // namespace

std::map<String, String, NoCaseLess> XmapiGalSmtpAddresses(xmapi::SendSite &site, uint32_t stringType) {
    using namespace xmapi;
    auto fail = [](const char *format, HRESULT hr) {
        return clsExcept(kErrGeneral, Format(format, HResultText(FAILED(hr) ? hr : E_POINTER).c_str()));
    };
    std::unique_ptr<AddrBook> book;
    HRESULT hr = site.OpenAddressBook(book);
    if (FAILED(hr) || !book) throw fail("IMAPISession::OpenAddressBook() failed: '%s'", hr);
    std::unique_ptr<AbContainer> root;
    hr = book->OpenEntry(std::string(), root);
    if (FAILED(hr) || !root) throw fail("IAddrBook::OpenEntry() failed: '%s'", hr);
    std::unique_ptr<AbTable> hierarchy;
    hr = root->GetHierarchyTable(hierarchy);
    if (FAILED(hr) || !hierarchy) throw fail("ABRoot::GetHierarchyTable() failed: '%s'", hr);
    std::vector<std::vector<Prop>> rows;
    hr = hierarchy->QueryAllRows({Tag(ID_ENTRYID, PT_BINARY), Tag(ID_DISPLAY_TYPE, PT_LONG)}, rows);
    if (FAILED(hr)) throw fail("HrQueryAllRows(HierarchyTable) failed: '%s'", hr);
    const Prop *galId = nullptr;
    for (const auto &row : rows) {
        const Prop *id = nullptr;
        bool global = false;
        for (const Prop &p : row) {
            if (p.tag == Tag(ID_ENTRYID, PT_BINARY)) id = &p;
            if (p.tag == Tag(ID_DISPLAY_TYPE, PT_LONG) && p.number == DT_GLOBAL) global = true;
        }
        if (global && id) {
            galId = id;
            break;
        }
    }
    std::map<String, String, NoCaseLess> smtp;
    if (!galId) return smtp; // an address book without a global list
    std::unique_ptr<AbContainer> gal;
    hr = book->OpenEntry(galId->bytes, gal);
    if (FAILED(hr) || !gal) throw fail("IAddressBook::OpenEntry(GAL) failed: '%s'", hr);
    if (hr == MAPI_W_ERRORS_RETURNED) throw clsExcept(kErrGeneral, "IAddressBook::OpenEntry(GAL) returns errors");
    std::unique_ptr<AbTable> contents;
    hr = gal->GetContentsTable(contents);
    if (FAILED(hr) || !contents) throw fail("GAL::GetContentsTable() failed: '%s'", hr);
    rows.clear();
    hr = contents->QueryAllRows({Tag(ID_DISPLAY_NAME, stringType), Tag(ID_ADDRTYPE, stringType),
                                 Tag(ID_EMAIL_ADDRESS, stringType), Tag(ID_SMTP_ADDRESS, stringType),
                                 PR_EMS_AB_PROXY_ADDRESSES},
                                rows);
    if (FAILED(hr)) throw fail("GAL::QueryAllRows() failed: '%s'", hr);
    for (const auto &row : rows) {
        String address = TextColumn(row, ID_EMAIL_ADDRESS), found = TextColumn(row, ID_SMTP_ADDRESS);
        for (const Prop &p : row)
            if (found.empty() && p.tag == PR_EMS_AB_PROXY_ADDRESSES)
                // The primary address is the one written "SMTP:", the others "smtp:".
                for (const String &proxy : p.texts8)
                    if (proxy.rfind("SMTP:", 0) == 0) {
                        found = proxy.substr(5);
                        break;
                    }
        if (!address.empty() && !found.empty()) smtp.emplace(address, found);
    }
    return smtp;
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
        pal::DebugOutput(Format("MAPIAdminProfiles() failed: %s", HResultText(hr).c_str()));
        return names;
    }
    for (const auto &row : rows) names.push_back(Format("%c%s", row.isDefault ? '*' : ' ', row.name.c_str()));
    return names;
}

} // namespace kv
