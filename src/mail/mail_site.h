// What a mail needs from above it: the connection that made it (the
// connection base is the one implementation) and the mail dialog.
#pragma once

#include <cstdint>
#include <string_view>

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv {

class clsMailSite {
  public:
    // A mail's reference on its connection, counted apart from the host's.
    virtual void AttachMail() = 0;
    virtual void DetachMail() = 0;
    // Makes the failure the connection's error record; answers hr.
    virtual HRESULT Fail(HRESULT hr, int32_t code, const String &message) = 0;
    // An option of the connection's provider by its short name ("SenderName").
    virtual String ReadTextOptionA(const String &name, std::u16string_view defaultValue = u"") const = 0;
    virtual String GetProviderName() const = 0;
    // Fetches the whole of a listed mail.
    virtual HRESULT LoadRestOfMail(IKvMail *mail) = 0;

  protected:
    ~clsMailSite() = default;
};

// The mail dialog for Edit: its result (1: closed with Send), or -1 when it
// could not be shown. The component installs it; without it Edit fails.
using MailEditorFn = int (*)(uintptr_t parent, IKvMail *mail, bool editable, uint32_t flags);
void SetMailEditor(MailEditorFn editor);

} // namespace kv
