// Texts that come from a mail or a server, made safe for kvmail's two
// outlets: the terminal and the file system. No dependency on the component,
// so the unit tests link it alone.
#pragma once

#include <string>
#include <string_view>

namespace kvmail {

// The text with every control character (C0, DEL, C1) written as an escape
// ("\x1b", "\u009b"), so that it cannot move the cursor, clear the screen or
// retitle the terminal. Bytes that are no UTF-8 are escaped as "\xHH".
std::string EscapeText(std::string_view text);

// A name from a mail reduced to a base name that is safe to create in a
// directory: no directory part, no leading dots or blanks, control and
// reserved characters replaced by '_', at most kMaxFileName bytes (the
// extension kept); "attachment" when nothing is left.
constexpr size_t kMaxFileName = 120;
std::string SafeFileName(std::string_view name);

// The k-th alternative of a file name that already exists: "data.bin",
// "data-1.bin", "data-2.bin", ...
std::string NumberedName(const std::string &name, unsigned k);

} // namespace kvmail
