// Writing IMAP commands: string arguments as quoted strings or literals, and
// folder names in modified UTF-7.
#pragma once

#include <string_view>
#include <vector>

#include "runtime/kvstring.h"

namespace kv {

// A command's text and its literals: each piece's literal follows its text
// on the wire, and the next piece goes on after the literal.
class clsImapCommand {
  public:
    struct Piece {
        String text;
        bool hasLiteral = false;
        String literal;
    };

    explicit clsImapCommand(std::string_view text = {}) { Add(text); }
    clsImapCommand &Add(std::string_view text);
    // A string argument: quoted, or a literal when it holds CR, LF or NUL, or
    // 8-bit bytes where the server has not allowed them in quoted strings.
    clsImapCommand &AddString(std::string_view value, bool eightBitQuoted);
    const std::vector<Piece> &Pieces() const { return pieces_; }

  private:
    std::vector<Piece> pieces_{1};
};

// A folder name as IMAP4rev1 writes it (RFC 3501 5.1.3): printable ASCII as
// itself, "&" as "&-", everything else as "&" base64 of UTF-16 (with ","
// for "/") "-".
String EncodeModifiedUtf7(std::u16string_view name);

} // namespace kv
