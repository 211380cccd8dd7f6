#include "ui/config/config_model.h"

#include <stdexcept>

#include "runtime/string_table.h"
#include "pal/registry.h"

namespace kv::ui {

namespace {

using P = ConfigPage;
using K = FieldKind;

const std::vector<FieldInfo> kFields = {
    {FieldId::Provider, P::Provider, K::Provider, "Send via...", "Provider"},
    {FieldId::ReceiveProvider, P::Provider, K::ReceiveProvider, "Receive via...", "ReceiveProvider", true},
    {FieldId::MapiProfile, P::MapiUser, K::Profile, "&Profile:", "@MAPI.ServerUser"},
    {FieldId::MapiPassword, P::MapiUser, K::Text, "&Password:", "@MAPI.ServerPassword"},
    {FieldId::SmtpServerAddress, P::SmtpServer, K::Text, "&URL or IP address:", "SMTP.ServerAddress"},
    {FieldId::SmtpServerPort, P::SmtpServer, K::Number, "&Port:", "SMTP.ServerPort"},
    {FieldId::SmtpPopBeforeSmtp, P::SmtpServer, K::Check, "&POP3 authentication required", "SMTP.POPBeforeSMTP"},
    {FieldId::SmtpSocketTimeout, P::SmtpServer, K::Number, "&Timeout (ms):", "SMTP.SocketTimeout"},
    {FieldId::SmtpTlsMode, P::SmtpServer, K::TlsMode, "&Encryption:", "SMTP.TLSMode", true},
    {FieldId::SmtpTlsVerify, P::SmtpServer, K::Bool, "&Verify the server's certificate", "SMTP.TLSVerify", true},
    {FieldId::SmtpTlsCaFile, P::SmtpServer, K::Text, "&CA certificates (PEM):", "SMTP.TLSCAFile", true},
    {FieldId::SmtpProxyType, P::SmtpServer, K::ProxyType, "T&ype:", "SMTP.ProxyType"},
    {FieldId::SmtpProxyAddress, P::SmtpServer, K::Text, "URL or &IP address:", "SMTP.ProxyAddress"},
    {FieldId::SmtpProxyPort, P::SmtpServer, K::Number, "P&ort:", "SMTP.ProxyPort"},
    {FieldId::SmtpProxyResolve, P::SmtpServer, K::ProxyResolve, "Proxy &resolves the server name",
     "SMTP.ProxyResolve", true},
    {FieldId::SmtpServerUser, P::SmtpUser, K::Text, "&Username:", "SMTP.ServerUser"},
    {FieldId::SmtpServerPassword, P::SmtpUser, K::Text, "&Password:", "SMTP.ServerPassword"},
    {FieldId::SmtpOAuth2Token, P::SmtpUser, K::Text, "Access &token (OAuth 2):", "SMTP.OAuth2Token", true},
    {FieldId::SmtpLogonName, P::SmtpUser, K::Text, "&Login domain:", "SMTP.LogonName"},
    {FieldId::SmtpSenderName, P::SmtpUser, K::Text, "&Name:", "SMTP.SenderName"},
    {FieldId::SmtpSenderAddress, P::SmtpUser, K::Text, "A&drress:", "SMTP.SenderAddress"},
    {FieldId::SmtpProxyUser, P::SmtpUser, K::Text, "Use&rname:", "SMTP.ProxyUser"},
    {FieldId::SmtpProxyPassword, P::SmtpUser, K::Text, "P&assword:", "SMTP.ProxyPassword"},
    {FieldId::Pop3ServerAddress, P::Pop3Server, K::Text, "&URL or IP address:", "POP3.ServerAddress"},
    {FieldId::Pop3ServerPort, P::Pop3Server, K::Number, "&Port:", "POP3.ServerPort"},
    {FieldId::Pop3SocketTimeout, P::Pop3Server, K::Number, "&Timeout (ms):", "POP3.SocketTimeout"},
    {FieldId::Pop3TlsMode, P::Pop3Server, K::TlsMode, "&Encryption:", "POP3.TLSMode", true},
    {FieldId::Pop3TlsVerify, P::Pop3Server, K::Bool, "&Verify the server's certificate", "POP3.TLSVerify", true},
    {FieldId::Pop3TlsCaFile, P::Pop3Server, K::Text, "&CA certificates (PEM):", "POP3.TLSCAFile", true},
    {FieldId::Pop3ProxyType, P::Pop3Server, K::ProxyType, "T&ype:", "POP3.ProxyType"},
    {FieldId::Pop3ProxyAddress, P::Pop3Server, K::Text, "URL or &IP address:", "POP3.ProxyAddress"},
    {FieldId::Pop3ProxyPort, P::Pop3Server, K::Number, "P&ort:", "POP3.ProxyPort"},
    {FieldId::Pop3ProxyResolve, P::Pop3Server, K::ProxyResolve, "Proxy &resolves the server name",
     "POP3.ProxyResolve", true},
    {FieldId::Pop3ServerUser, P::Pop3User, K::Text, "&Username:", "POP3.ServerUser"},
    {FieldId::Pop3ServerPassword, P::Pop3User, K::Text, "&Password:", "POP3.ServerPassword"},
    {FieldId::Pop3OAuth2Token, P::Pop3User, K::Text, "Access &token (OAuth 2):", "POP3.OAuth2Token", true},
    {FieldId::Pop3ProxyUser, P::Pop3User, K::Text, "Use&rname:", "POP3.ProxyUser"},
    {FieldId::Pop3ProxyPassword, P::Pop3User, K::Text, "P&assword:", "POP3.ProxyPassword"},
    {FieldId::ImapServerAddress, P::ImapServer, K::Text, "&URL or IP address:", "IMAP.ServerAddress"},
    {FieldId::ImapServerPort, P::ImapServer, K::Number, "&Port:", "IMAP.ServerPort"},
    {FieldId::ImapFolder, P::ImapServer, K::Text, "&Folder:", "IMAP.Folder"},
    {FieldId::ImapTlsMode, P::ImapServer, K::TlsMode, "&Encryption:", "IMAP.TLSMode", true},
    {FieldId::ImapTlsVerify, P::ImapServer, K::Bool, "&Verify the server's certificate", "IMAP.TLSVerify", true},
    {FieldId::ImapTlsCaFile, P::ImapServer, K::Text, "&CA certificates (PEM):", "IMAP.TLSCAFile", true},
    {FieldId::ImapServerUser, P::ImapServer, K::Text, "User &name:", "IMAP.ServerUser"},
    {FieldId::ImapServerPassword, P::ImapServer, K::Text, "Pass&word:", "IMAP.ServerPassword"},
    {FieldId::ImapOAuth2Token, P::ImapServer, K::Text, "Access &token (OAuth 2):", "IMAP.OAuth2Token", true},
    {FieldId::ImapSocketTimeout, P::ImapServer, K::Number, "Ti&meout (ms):", "IMAP.SocketTimeout"},
};

// Defaults of a field: the account value (texts, or numbers with a scale) and the fixed fallback.
struct Default {
    FieldId id;
    const char *accountValue;
    int scale; // 0: a text value
    int32_t fallback;
};

const Default kDefaults[] = {
    {FieldId::SmtpServerAddress, "SMTP Server", 0, 0},
    {FieldId::SmtpServerPort, "SMTP Port", 1, 25},
    {FieldId::SmtpSocketTimeout, "SMTP Timeout", 1000, 30000},
    {FieldId::SmtpProxyPort, nullptr, 1, 1080},
    {FieldId::SmtpLogonName, "SMTP LogonName", 0, 0},
    {FieldId::SmtpSenderName, "SMTP Display Name", 0, 0},
    {FieldId::SmtpSenderAddress, "SMTP EMail Address", 0, 0},
    {FieldId::Pop3ServerAddress, "POP3 Server", 0, 0},
    {FieldId::Pop3ServerPort, "POP3 Port", 1, 110},
    {FieldId::Pop3SocketTimeout, "POP3 Timeout", 1000, 30000},
    {FieldId::Pop3ProxyPort, nullptr, 1, 1080},
    {FieldId::ImapServerPort, nullptr, 1, 143},
    {FieldId::ImapSocketTimeout, nullptr, 1000, 30000},
};

WString Decimal(int64_t n) { return Widen(std::to_string(n), 65001); }

// What a number field holds as a 32-bit value; 0 when it holds no number, as an edit control reads it.
int32_t ParseNumber(const WString &text) {
    String s(TrimView(Narrow(text, 65001)));
    if (s.empty()) return 0;
    size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size()) return 0;
    int64_t n = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        n = n * 10 + (s[i] - '0');
        if (n > int64_t(0xFFFFFFFFu)) return 0;
    }
    if (s[0] == '-') n = -n;
    return int32_t(uint32_t(n));
}

// The mode a stored "TLSMode" text means, as the transports read it; any other
// text is kept as it is (the list then shows no choice).
WString TlsModeField(const WString &stored) {
    String mode(TrimView(Narrow(stored, 65001)));
    if (mode.empty()) return u"none";
    for (const String &known : TlsModeValues())
        if (EqualsNoCase(mode, known)) return Widen(known, 65001);
    return stored;
}

bool IsMapi(const String &p) { return EqualsNoCase(p, "SMAPI") || EqualsNoCase(p, "XMAPI"); }

// Anything but IMAP receives through POP3, as before there was a choice.
WString ReceiveProviderField(const WString &text) {
    return EqualsNoCase(TrimView(Narrow(text, 65001)), "IMAP") ? u"IMAP" : u"POP3";
}

} // namespace

const std::vector<FieldInfo> &ConfigFields() { return kFields; }

const FieldInfo &ConfigField(FieldId id) {
    for (const FieldInfo &f : kFields)
        if (f.id == id) return f;
    throw std::out_of_range("field");
}

const std::vector<String> &ProxyTypeNames() {
    static const std::vector<String> names = {"No Proxy", "Socks 4", "Socks 5"};
    return names;
}

const std::vector<String> &ReceiveProviderValues() {
    static const std::vector<String> values = {"POP3", "IMAP"};
    return values;
}

const std::vector<String> &TlsModeValues() {
    static const std::vector<String> values = {"none", "starttls", "implicit", "auto"};
    return values;
}

std::vector<String> TlsModeNamesFromResources() {
    std::vector<String> names;
    for (int i = 0; i < int(TlsModeValues().size()); ++i) names.push_back(LoadResourceString(IDS_TLS_MODE_FIRST + i));
    return names;
}

const std::vector<StandardPorts> &StandardPortTable() {
    static const std::vector<StandardPorts> table = {
        {FieldId::SmtpTlsMode, FieldId::SmtpServerPort, 25, 465},
        {FieldId::Pop3TlsMode, FieldId::Pop3ServerPort, 110, 995},
        {FieldId::ImapTlsMode, FieldId::ImapServerPort, 143, 993},
    };
    return table;
}

MailClientAccount ReadMailClientAccount() {
    MailClientAccount account;
    auto key = pal::RegOpen(pal::RegRoot::CurrentUser, u"Software\\Microsoft\\Internet Account Manager\\Accounts\\0000000a");
    if (!key) return account;
    for (const WString &name : key->ValueNames()) {
        pal::RegValue v;
        if (!key->GetValue(name, v)) continue;
        IString n(Narrow(name, 65001));
        if (v.type == pal::RegType::DWord && v.data.size() >= 4) {
            account.numbers[n] = uint32_t(v.data[0]) | uint32_t(v.data[1]) << 8 | uint32_t(v.data[2]) << 16 |
                                 uint32_t(v.data[3]) << 24;
        } else if (v.type == pal::RegType::String) {
            WString text;
            if (key->GetString(name, text)) account.texts[n] = text;
        }
    }
    return account;
}

std::vector<ProviderEntry> BuildProviderList(const String &codes, const std::function<String(int)> &text,
                                             int firstTextId) {
    std::vector<ProviderEntry> list;
    size_t start = 0;
    for (int i = 0; start <= codes.size(); ++i) {
        size_t end = codes.find(';', start);
        if (end == String::npos) end = codes.size();
        String code(TrimView(std::string_view(codes).substr(start, end - start)));
        start = end + 1;
        if (code.empty()) continue;
        String display = text(firstTextId + i);
        if (display == "---") continue;
        list.push_back({code, display});
    }
    return list;
}

std::vector<ProviderEntry> ProviderListFromResources() {
    return BuildProviderList(LoadResourceString(IDS_PROVIDER_CODES), [](int id) { return LoadResourceString(id); },
                             IDS_PROVIDER_NAME_FIRST);
}

void MergeOptions(clsOptionList &to, const clsOptionList &from) {
    for (const auto &[key, value] : from.Entries()) to.Set(key, value);
}

clsConfigModel::clsConfigModel(uint32_t flags, const clsOptionList &global, const clsOptionList &user,
                               const MailClientAccount &account, std::vector<WString> profiles,
                               WString computerName)
    : flags_(flags), global_(global), user_(user), originalUser_(user), profiles_(std::move(profiles)),
      computerName_(std::move(computerName)) {
    for (const FieldInfo &f : kFields) fields_[f.id] = Initial(f, account);
    initial_ = fields_;
}

const clsVariant *clsConfigModel::Lookup(const String &key) const {
    if (const clsVariant *v = user_.Find(key); v && !v->IsEmpty()) return v;
    if (const clsVariant *v = global_.Find(key); v && !v->IsEmpty()) return v;
    return nullptr;
}

clsOptionList &clsConfigModel::ProviderList() {
    return (flags_ & kConfigProvider) && !(flags_ & kConfigNoUserPages) ? global_ : user_;
}

WString clsConfigModel::Initial(const FieldInfo &f, const MailClientAccount &account) const {
    const clsVariant *stored = nullptr;
    if (f.kind == FieldKind::Provider) {
        bool inGlobal = (flags_ & kConfigProvider) && !(flags_ & kConfigNoUserPages);
        const clsOptionList &first = inGlobal ? global_ : user_;
        const clsOptionList &second = inGlobal ? user_ : global_;
        stored = first.Find(f.key);
        if (!stored || stored->IsEmpty()) stored = second.Find(f.key);
        if (stored && stored->IsEmpty()) stored = nullptr;
    } else {
        stored = Lookup(f.key);
    }
    if (stored) {
        switch (f.kind) {
        case FieldKind::Number: {
            int32_t n = 0;
            return Decimal(stored->ToInt(n) ? n : 0);
        }
        case FieldKind::Check: {
            int32_t n = 0;
            return Decimal(stored->ToInt(n) && n != 0 ? 1 : 0);
        }
        case FieldKind::ProxyType: {
            int32_t n = 0;
            bool known = stored->ToInt(n) && n >= 0 && size_t(n) < ProxyTypeNames().size();
            return Decimal(known ? n : 0);
        }
        case FieldKind::Bool: {
            // As the transports read it: only a clear false turns the box off.
            bool on = true;
            return stored->ToBool(on) && !on ? u"0" : u"1";
        }
        case FieldKind::TlsMode: {
            WString text;
            return TlsModeField(stored->ToText(text) ? text : WString());
        }
        case FieldKind::ProxyResolve: {
            WString text;
            bool remote = stored->ToText(text) && EqualsNoCase(TrimView(Narrow(text, 65001)), "remote");
            return remote ? u"1" : u"0";
        }
        case FieldKind::ReceiveProvider: {
            WString text;
            return ReceiveProviderField(stored->ToText(text) ? text : WString());
        }
        default: {
            WString text;
            return stored->ToText(text) ? text : WString();
        }
        }
    }
    switch (f.kind) {
    case FieldKind::Check:
    case FieldKind::ProxyType:
    case FieldKind::ProxyResolve: return u"0";
    case FieldKind::Bool: return u"1";
    case FieldKind::TlsMode: return u"none";
    case FieldKind::ReceiveProvider: return u"POP3";
    default: break;
    }
    if (f.id == FieldId::ImapFolder) return u"INBOX";
    bool useAccount = (flags_ & kConfigSmtp) != 0;
    for (const Default &d : kDefaults) {
        if (d.id != f.id) continue;
        if (d.accountValue && useAccount) {
            IString name(d.accountValue);
            if (d.scale == 0) {
                auto it = account.texts.find(name);
                if (it != account.texts.end()) return it->second;
            } else {
                auto it = account.numbers.find(name);
                if (it != account.numbers.end()) return Decimal(int64_t(int32_t(it->second * uint32_t(d.scale))));
            }
        }
        if (f.id == FieldId::SmtpLogonName) return computerName_;
        return d.scale ? Decimal(d.fallback) : WString();
    }
    return WString();
}

bool clsConfigModel::PageOffered(ConfigPage page) const {
    bool servers = !(flags_ & kConfigNoServerPages), users = !(flags_ & kConfigNoUserPages);
    bool smtp = flags_ & kConfigSmtp, pop3 = flags_ & (kConfigSmtp | kConfigPop3);
    switch (page) {
    case ConfigPage::Provider:
    case ConfigPage::MapiUser: return flags_ & kConfigProvider;
    case ConfigPage::SmtpServer: return smtp && servers;
    case ConfigPage::SmtpUser: return smtp && users;
    case ConfigPage::Pop3Server: return pop3 && servers;
    case ConfigPage::Pop3User: return pop3 && users;
    case ConfigPage::ImapServer: return (flags_ & kConfigPop3) && servers;
    }
    return false;
}

bool clsConfigModel::PageVisible(ConfigPage page) const {
    if (!PageOffered(page)) return false;
    String provider = EffectiveProvider();
    bool smtp = EqualsNoCase(provider, "SMTP");
    bool popBeforeSmtp = fields_.at(FieldId::SmtpPopBeforeSmtp) == u"1";
    bool imap = fields_.at(FieldId::ReceiveProvider) == u"IMAP";
    switch (page) {
    case ConfigPage::Provider: return true;
    case ConfigPage::MapiUser: return IsMapi(provider);
    case ConfigPage::SmtpServer:
    case ConfigPage::SmtpUser: return smtp;
    case ConfigPage::Pop3Server:
    case ConfigPage::Pop3User: return smtp && (popBeforeSmtp || ((flags_ & kConfigPop3) && !imap));
    case ConfigPage::ImapServer: return smtp && imap;
    }
    return false;
}

void clsConfigModel::SetField(FieldId id, const WString &value) {
    const FieldInfo &f = ConfigField(id);
    // What was entered is kept under the provider it was entered for.
    if (id == FieldId::Provider) StoreFields();
    if (f.kind == FieldKind::Check || f.kind == FieldKind::Bool || f.kind == FieldKind::ProxyResolve) {
        fields_[id] = ParseNumber(value) != 0 ? u"1" : u"0";
    } else if (f.kind == FieldKind::TlsMode) {
        bool wasImplicit = fields_[id] == u"implicit";
        fields_[id] = TlsModeField(value);
        bool implicit = fields_[id] == u"implicit";
        for (const StandardPorts &s : StandardPortTable()) {
            if (s.mode != id || wasImplicit == implicit) continue;
            // Only the other standard port moves: a port the user chose stays.
            WString &port = fields_[s.port];
            if (port == Decimal(implicit ? s.plain : s.implicit)) port = Decimal(implicit ? s.implicit : s.plain);
        }
    } else if (f.kind == FieldKind::ReceiveProvider) {
        fields_[id] = ReceiveProviderField(value);
    } else if (f.kind == FieldKind::ProxyType) {
        int32_t n = ParseNumber(value);
        fields_[id] = Decimal(n >= 0 && size_t(n) < ProxyTypeNames().size() ? n : 0);
    } else {
        fields_[id] = value;
    }
}

bool clsConfigModel::TestMailEnabled() const {
    String p = EffectiveProvider();
    return EqualsNoCase(p, "SMTP") || IsMapi(p);
}

void clsConfigModel::StoreFields() {
    String provider = Provider();
    for (const FieldInfo &f : kFields) {
        if (!PageOffered(f.page)) continue;
        const WString &value = fields_.at(f.id);
        if (f.keepUnchanged && value == initial_.at(f.id)) {
            // Undoes what an earlier store (a provider change, a test mail) wrote.
            if (const clsVariant *was = originalUser_.Find(f.key)) user_.Set(f.key, *was);
            else user_.Entries().erase(IString(f.key));
            continue;
        }
        switch (f.kind) {
        case FieldKind::Provider:
            if (!value.empty()) ProviderList().SetText(f.key, value);
            break;
        case FieldKind::Number:
        case FieldKind::Check:
        case FieldKind::ProxyType: user_.SetInt(f.key, ParseNumber(value)); break;
        case FieldKind::Bool: user_.SetBool(f.key, value == u"1"); break;
        case FieldKind::ProxyResolve: user_.SetText(f.key, value == u"1" ? u"remote" : u"local"); break;
        case FieldKind::ReceiveProvider:
        case FieldKind::Text:
        case FieldKind::TlsMode:
        case FieldKind::Profile: user_.SetText(f.key, value); break;
        }
        if (IsMapi(provider) && (f.id == FieldId::MapiProfile || f.id == FieldId::MapiPassword))
            user_.SetText(ToUpper(provider) + (f.id == FieldId::MapiProfile ? ".ServerUser" : ".ServerPassword"),
                          value);
    }
}

} // namespace kv::ui
