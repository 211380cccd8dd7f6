// The tokenizer for address and header fields, its queries, and the encoder
// of address fields.
#pragma once

#include <list>
#include <string_view>

#include "runtime/kvstring.h"

namespace kv {

// One token of a parsed address or header field.
struct clsParseItem {
    enum : int32_t { kText = 1, kComment = 3, kAddress = 4, kBlank = 5 };
    int32_t kind = kText;
    String text;
};
using clsParseList = std::list<clsParseItem>;

// Decodes encoded words (into the code page, 0: ANSI), then splits the field
// into tokens.
clsParseList ParseAddressField(std::string_view text, uint32_t codepage = 0);
// All tokens' texts: the field with blank runs reduced to one space.
String GetFieldText(const clsParseList &items);
// The first address without angle brackets and, unless raw, without an
// address-type prefix ("smtp:", "SMTP::"); empty when there is none.
String GetFieldAddress(const clsParseList &items, bool raw = false);
// The tokens before the address, trimmed; the address when that is empty.
String GetFieldDisplayName(const clsParseList &items);
// A display name in double quotes without its quotes and backslash escapes
// (for systems that show the name as given); other text unchanged.
String UnquotedDisplayName(const String &name);
bool HasFieldAddress(const clsParseList &items);

// An address field up to its address, encoded where needed and folded;
// throws "no address found in '%s'" when it has none.
String EncodeAddressField(std::u16string_view text, std::string_view charset);

} // namespace kv
