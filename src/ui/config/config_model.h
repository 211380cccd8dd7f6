// clsConfigModel: what the configuration dialog shows and edits, without any
// window. A view reads and writes fields by id, asks which pages are visible
// and calls the actions; the tests drive it the same way.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "settings/option_list.h"
#include "runtime/kvstring.h"

namespace kv::ui {

enum ConfigFlags : uint32_t {
    kConfigSmtp = 0x0001,
    kConfigPop3 = 0x0010,
    kConfigProvider = 0x1000,
    kConfigNoServerPages = 0x4000,
    kConfigNoUserPages = 0x8000,
};

// ImapServer: the IMAP page (server, security, folder and logon), offered with
// the receive pages and shown instead of the POP3 pages when IMAP receives.
enum class ConfigPage { Provider, MapiUser, SmtpServer, SmtpUser, Pop3Server, Pop3User, ImapServer };

// Check: a check box stored as a 32-bit number; Bool: one stored as a boolean.
// TlsMode: the option's own text ("none", "starttls", "implicit", "auto").
// ProxyResolve: a check box stored as "remote" (ticked) or "local".
// ReceiveProvider: "POP3" or "IMAP", the provider that reads the mailbox.
enum class FieldKind { Text, Number, Check, ProxyType, Provider, Profile, Bool, TlsMode, ProxyResolve, ReceiveProvider };

enum class FieldId {
    Provider,
    MapiProfile,
    MapiPassword,
    SmtpServerAddress,
    SmtpServerPort,
    SmtpPopBeforeSmtp,
    SmtpSocketTimeout,
    SmtpProxyType,
    SmtpProxyAddress,
    SmtpProxyPort,
    SmtpServerUser,
    SmtpServerPassword,
    SmtpLogonName,
    SmtpSenderName,
    SmtpSenderAddress,
    SmtpProxyUser,
    SmtpProxyPassword,
    Pop3ServerAddress,
    Pop3ServerPort,
    Pop3SocketTimeout,
    Pop3ProxyType,
    Pop3ProxyAddress,
    Pop3ProxyPort,
    Pop3ServerUser,
    Pop3ServerPassword,
    Pop3ProxyUser,
    Pop3ProxyPassword,
    // The connection security options; their place in the table is on their pages.
    SmtpTlsMode,
    SmtpTlsVerify,
    SmtpTlsCaFile,
    SmtpOAuth2Token,
    Pop3TlsMode,
    Pop3TlsVerify,
    Pop3TlsCaFile,
    Pop3OAuth2Token,
    SmtpProxyResolve,
    Pop3ProxyResolve,
    ReceiveProvider,
    ImapServerAddress,
    ImapServerPort,
    ImapFolder,
    ImapSocketTimeout,
    ImapTlsMode,
    ImapTlsVerify,
    ImapTlsCaFile,
    ImapServerUser,
    ImapServerPassword,
    ImapOAuth2Token,
};

struct FieldInfo {
    FieldId id;
    ConfigPage page;
    FieldKind kind;
    const char *label;
    const char *key;
    // The option stays as it was (absent stays absent) while the field shows
    // what it showed when the dialog opened: a host that never set it keeps
    // the connection's own default.
    bool keepUnchanged = false;
};

// Every field of the dialog in page order.
const std::vector<FieldInfo> &ConfigFields();
const FieldInfo &ConfigField(FieldId id);

// The proxy type list, index = stored value.
const std::vector<String> &ProxyTypeNames();

// The "ReceiveProvider" values in the order of their list.
const std::vector<String> &ReceiveProviderValues();

// The "TLSMode" values in the order of the encryption list, and their display
// texts in the user interface language.
const std::vector<String> &TlsModeValues();
std::vector<String> TlsModeNamesFromResources();

// The port field that follows a TLS mode field (SMTP: 25 and 465, POP3: 110 and 995,
// IMAP: 143 and 993).
struct StandardPorts {
    FieldId mode;
    FieldId port;
    int32_t plain;
    int32_t implicit;
};
const std::vector<StandardPorts> &StandardPortTable();

// Values of the mail client's default account: texts and 32-bit numbers by value name.
struct MailClientAccount {
    std::map<IString, WString> texts;
    std::map<IString, uint32_t> numbers;
};
// HKEY_CURRENT_USER\Software\Microsoft\Internet Account Manager\Accounts\0000000a;
// empty when the key is missing.
MailClientAccount ReadMailClientAccount();

struct ProviderEntry {
    String code;
    String display;
};
// Codes separated by ";", code i shown as text(first + i); a "---" text leaves its code out.
std::vector<ProviderEntry> BuildProviderList(const String &codes, const std::function<String(int)> &text,
                                             int firstTextId);
// The list from the component's string table.
std::vector<ProviderEntry> ProviderListFromResources();

class clsConfigModel {
  public:
    // The lists are copies; nothing reaches the caller's lists before Confirm.
    clsConfigModel(uint32_t flags, const clsOptionList &global, const clsOptionList &user,
                   const MailClientAccount &account, std::vector<WString> profiles, WString computerName);

    uint32_t Flags() const { return flags_; }
    bool PageOffered(ConfigPage page) const;
    bool PageVisible(ConfigPage page) const;
    const std::vector<WString> &Profiles() const { return profiles_; }

    // Fields as the view shows them: texts as they are, numbers in decimal,
    // the check box and the proxy type as "0"/"1"/"2", the provider as its code.
    const WString &Field(FieldId id) const { return fields_.at(id); }
    // A view's edit; the provider and the check box change page visibility at once.
    // A TLS mode that turns implicit TLS on or off moves its port field between
    // the two standard ports, when it holds the other one (a view shows the
    // port again after a mode change).
    void SetField(FieldId id, const WString &value);

    bool TestMailEnabled() const;
    String Provider() const { return Narrow(fields_.at(FieldId::Provider), 65001); }
    // The provider that pages and the test mail follow: without a provider page
    // there is no choice, and the internet pages are the dialog ("SMTP").
    String EffectiveProvider() const { return (flags_ & kConfigProvider) ? Provider() : String("SMTP"); }

    // Stores every field of the offered pages into the lists (OK, and before a test mail).
    void StoreFields();
    const clsOptionList &Global() const { return global_; }
    const clsOptionList &User() const { return user_; }

  private:
    WString Initial(const FieldInfo &f, const MailClientAccount &account) const;
    const clsVariant *Lookup(const String &key) const;
    clsOptionList &ProviderList();

    uint32_t flags_;
    clsOptionList global_;
    clsOptionList user_;
    const clsOptionList originalUser_;
    std::vector<WString> profiles_;
    WString computerName_;
    std::map<FieldId, WString> fields_;
    std::map<FieldId, WString> initial_;
};

// Entries of `from` replace entries of the same key in `to`; others stay.
void MergeOptions(clsOptionList &to, const clsOptionList &from);

} // namespace kv::ui
