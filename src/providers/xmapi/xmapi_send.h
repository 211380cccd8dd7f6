// One mail written into the default store's outbox and submitted.
#pragma once

#include "providers/xmapi/xmapi_objects.h"

namespace kv {

class clsMail;

// The property helpers of the provider; strings go wide when `unicode`.
class clsXMAPIProps {
  public:
    explicit clsXMAPIProps(bool unicode) : unicode_(unicode) {}
    uint32_t StringType() const { return unicode_ ? xmapi::PT_UNICODE : xmapi::PT_STRING8; }
    // `text` is 8-bit in `codepage` (0: the system ANSI code page).
    xmapi::Prop Text(uint32_t id, const String &text, uint32_t codepage = 0) const;
    static xmapi::Prop Long(uint32_t id, int32_t value);
    static xmapi::Prop Bool(uint32_t id, bool value);
    static xmapi::Prop Binary(uint32_t id, const std::string &bytes);
    // Writes the values; a rejected character width is retried with the
    // other one. Throws clsExcept.
    void Set(xmapi::MapiProp &object, std::vector<xmapi::Prop> values) const;
    // Reads one property; a value refused for its character width is read
    // again with the other one.
    HRESULT Read(xmapi::MapiProp &object, uint32_t tag, xmapi::Prop &value) const;
    // As Read; throws clsExcept.
    xmapi::Prop Get(xmapi::MapiProp &object, uint32_t tag) const;

  private:
    bool unicode_;
};

// Throws clsExcept (code -5).
void XmapiSendMail(xmapi::SendSite &site, uint32_t supportMask, clsMail &mail, bool deleteAfterSend);

} // namespace kv
