#include "mail/arpa_mail.h"

#include "mime/address_field.h"

namespace kv {

bool clsArpaMail::IsValidAddress(const String &address) {
    clsParseList items = ParseAddressField(address);
    if (!HasFieldAddress(items)) return false;
    String raw = GetFieldAddress(items, true);
    size_t colon = raw.find(':');
    return colon == String::npos || EqualsNoCase(std::string_view(raw).substr(0, colon), "smtp");
}

} // namespace kv
