// The structured header field parser: a main value and its parameters, with
// RFC 2231 parameter sections decoded and joined.
#pragma once

#include <map>
#include <string_view>
#include <vector>

#include "runtime/kvstring.h"

namespace kv {

struct clsHeaderField {
    IString value;
    // Parameter name -> value; names without regard to case, the first value of a name stays.
    std::map<IString, String> parameters;
};

// Pieces of the text between separators outside double-quoted strings, each
// trimmed of blanks; empty pieces are dropped.
std::vector<String> SplitList(std::string_view text, char separator);

// The members of an address list split at "," outside double quotes (as
// SplitList does); a group ("name: member, member;") gives its members and
// no recipient of its own, an empty group nothing.
std::vector<String> SplitAddressList(std::string_view text);

// Fields whose value is a list of addresses (From, To, Cc, Resent-To, ...).
bool IsAddressField(std::string_view name);
// Fields read as tokens (addresses, dates, MIME fields, message ids); the
// value of any other field is unstructured text (Subject, Comments, X-...).
bool IsStructuredField(std::string_view name);

// Main value (the text before the first ";" outside double quotes, trimmed)
// and the parameters after it. The text is in the code page given (0: ANSI);
// decoded RFC 2231 values are converted into it, so every value of the
// result is in that code page.
clsHeaderField ParseHeaderField(std::string_view text, uint32_t codepage = 0);

} // namespace kv
