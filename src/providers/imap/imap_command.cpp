#include "providers/imap/imap_command.h"

namespace kv {

clsImapCommand &clsImapCommand::Add(std::string_view text) {
    pieces_.back().text.append(text);
    return *this;
}

clsImapCommand &clsImapCommand::AddString(std::string_view value, bool eightBitQuoted) {
    bool literal = false;
    for (char c : value) {
        unsigned char u = (unsigned char)c;
        if (u == '\r' || u == '\n' || u == 0 || (u >= 0x80 && !eightBitQuoted)) literal = true;
    }
    if (literal) {
        pieces_.back().hasLiteral = true;
        pieces_.back().literal.assign(value);
        pieces_.emplace_back();
        return *this;
    }
    String &text = pieces_.back().text;
    text.push_back('"');
    for (char c : value) {
        if (c == '"' || c == '\\') text.push_back('\\');
        text.push_back(c);
    }
    text.push_back('"');
    return *this;
}

String EncodeModifiedUtf7(std::u16string_view name) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    String out;
    size_t i = 0;
    while (i < name.size()) {
        char16_t c = name[i];
        if (c >= 0x20 && c <= 0x7E) {
            out += c == u'&' ? "&-" : String(1, char(c));
            ++i;
            continue;
        }
        // A run of other characters, as base64 of their UTF-16 big-endian bytes.
        out.push_back('&');
        uint32_t bits = 0;
        int count = 0;
        for (; i < name.size() && !(name[i] >= 0x20 && name[i] <= 0x7E); ++i) {
            for (int shift : {8, 0}) {
                bits = (bits << 8) | ((name[i] >> shift) & 0xFF);
                count += 8;
                while (count >= 6) {
                    count -= 6;
                    out.push_back(kAlphabet[(bits >> count) & 0x3F]);
                }
            }
        }
        if (count > 0) out.push_back(kAlphabet[(bits << (6 - count)) & 0x3F]);
        out.push_back('-');
    }
    return out;
}

} // namespace kv
