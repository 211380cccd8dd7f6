// The Extended MAPI subsystem (initialisation and session) and the address
// classification of the provider.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "providers/xmapi/xmapi_platform.h"

namespace kv {

class clsXMAPIDLL {
  public:
    // Initialises the subsystem once; `visibleErrors` shows its failure in the error box.
    clsXMAPIDLL(std::unique_ptr<xmapi::Platform> platform, bool visibleErrors,
                std::function<void(const String &)> errorBox = {});
    ~clsXMAPIDLL();
    clsXMAPIDLL(const clsXMAPIDLL &) = delete;
    clsXMAPIDLL &operator=(const clsXMAPIDLL &) = delete;
    bool Available() const { return available_; }
    xmapi::Platform &Platform() { return *platform_; }

  protected:
    std::unique_ptr<xmapi::Platform> platform_;
    bool oleInitialized_ = false;
    bool available_ = false;
};

class clsXMAPI : public clsXMAPIDLL {
  public:
    using clsXMAPIDLL::clsXMAPIDLL;
    ~clsXMAPI();

    // Throws clsExcept.
    void Logon(const String &password, const String &profile, bool suppress);
    void Logoff();
    // Asks the spooler to send what waits in the outbox; throws clsExcept.
    void FlushSpooler();
    bool LoggedOn() const { return session_ != nullptr; }
    uint32_t SupportMask() const { return supportMask_; }
    xmapi::SendSite *Site() { return session_ ? session_->Site() : nullptr; }
    // The receive folder, opened on first use and kept until logoff; null
    // when it cannot be opened.
    xmapi::Inbox *Inbox();
    // The SMTP address the global address list gives for an address of type
    // "EX"; empty when it has none. The list is read once per session.
    String GalSmtpAddress(const String &address);

    std::function<void(const String &text)> errorBox;
    // The window that owns the messaging system's dialogs (tests replace it).
    std::function<uintptr_t()> activeWindow;

  private:
    std::unique_ptr<xmapi::Status> GetMAPIStatus();
    std::unique_ptr<xmapi::Session> session_;
    std::unique_ptr<xmapi::Inbox> inbox_;
    uint32_t supportMask_ = 0;
    bool galRead_ = false;
    std::map<String, String, NoCaseLess> gal_;
};

// The SMTP addresses of the global address list's entries, by their address;
// strings are asked for wide when `stringType` says so. Throws clsExcept.
std::map<String, String, NoCaseLess> XmapiGalSmtpAddresses(xmapi::SendSite &site, uint32_t stringType);

// The address type of an address text by its characters and markers.
String AddressTypeOf(const String &address, const String &defaultType);

// The profile names, each led by '*' for the default profile or a blank.
std::vector<String> MapiProfileNames(xmapi::Platform *platform);

} // namespace kv
