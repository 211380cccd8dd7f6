// The Simple MAPI function table, the session on it, and the provider's
// platform-independent helpers (error names, temporary attachment files).
#pragma once

#include <functional>
#include <vector>

#include "providers/smapi/smapi_types.h"
#include "runtime/kvstring.h"

namespace kv {

// One entry per platform function; an entry the library lacks stays empty.
struct SmapiFunctions {
    smapi::PFN_MAPILogon MAPILogon = nullptr;
    smapi::PFN_MAPILogoff MAPILogoff = nullptr;
    smapi::PFN_MAPISendMail MAPISendMail = nullptr;
    smapi::PFN_MAPIFindNext MAPIFindNext = nullptr;
    smapi::PFN_MAPIReadMail MAPIReadMail = nullptr;
    smapi::PFN_MAPIDeleteMail MAPIDeleteMail = nullptr;
    smapi::PFN_MAPIFreeBuffer MAPIFreeBuffer = nullptr;
};

class clsSMAPIDLL {
  public:
    // From the library IsMapiAvailable loaded (null: every entry stays empty).
    explicit clsSMAPIDLL(void *library);
    // From a given table (a substitute of the platform).
    explicit clsSMAPIDLL(const SmapiFunctions &functions) : f_(functions) {}
    const SmapiFunctions &Functions() const { return f_; }

  protected:
    SmapiFunctions f_;
};

class clsSMAPI : public clsSMAPIDLL {
  public:
    using clsSMAPIDLL::clsSMAPIDLL;
    ~clsSMAPI();
    clsSMAPI(const clsSMAPI &) = delete;
    clsSMAPI &operator=(const clsSMAPI &) = delete;

    // Throws clsExcept.
    void Logon(const String &profile, const String &password, bool suppress);
    void Logoff();
    bool LoggedOn() const { return loggedOn_; }
    smapi::LHANDLE Session() const { return session_; }
    // The window that was active at logon, or 0 once it is gone.
    uintptr_t Parent();
    // Throws clsExcept (codes -14 and -6).
    void SendMail(smapi::MapiMessage &message);

    // The window services (tests replace them).
    std::function<uintptr_t()> activeWindow;
    std::function<bool(uintptr_t)> isWindow;
    // The modal error box of the logon, owned by the parent window.
    std::function<void(uintptr_t owner, const String &text)> errorBox;

  private:
    bool loggedOn_ = false;
    smapi::LHANDLE session_ = 0;
    uintptr_t parent_ = 0;
};

// "(MAPI_E_... (n))" for the published codes 1 to 26, else empty.
String MapiErrorName(uint32_t code);

// Creates a new empty file in `directory` (with its trailing separator) named
// after `name`, numbered when taken; returns its path. Throws clsExcept.
String UniqueTempFileName(const String &directory, const String &name);

// The file that carries one attachment during a send; a temporary copy is
// deleted with this object.
class clsAttachmentFile {
  public:
    clsAttachmentFile() = default;
    ~clsAttachmentFile();
    clsAttachmentFile(const clsAttachmentFile &) = delete;
    clsAttachmentFile &operator=(const clsAttachmentFile &) = delete;
    // The attachment's own file, which must exist. Throws clsExcept.
    void UseFile(const String &path);
    // A copy of in-memory content in `directory`. Throws clsExcept.
    void WriteCopy(const String &directory, const String &name, const std::string &bytes);
    const String &Path() const { return path_; }

  private:
    String path_;
    bool temporary_ = false;
};

} // namespace kv
