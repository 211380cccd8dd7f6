#include "mime/header_field.h"

#include <initializer_list>

#include "mime/header_words.h"

namespace kv {

namespace {

// Position of the first separator outside a double-quoted string, or npos.
size_t FindUnquoted(std::string_view text, char separator) {
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        else if (text[i] == separator && !quoted) return i;
    }
    return std::string_view::npos;
}

} // namespace

std::vector<String> SplitList(std::string_view text, char separator) {
    std::vector<String> pieces;
    while (!text.empty()) {
        size_t end = FindUnquoted(text, separator);
        std::string_view piece = TrimView(text.substr(0, end));
        if (!piece.empty()) pieces.emplace_back(piece);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return pieces;
}

std::vector<String> SplitAddressList(std::string_view text) {
    // Only a colon that a semicolon follows opens a group: "smtp:a@b.com"
    // stays one address.
    size_t lastSemicolon = std::string_view::npos;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        else if (text[i] == ';' && !quoted) lastSemicolon = i;
    }
    std::vector<String> members;
    auto take = [&](std::string_view piece) {
        piece = TrimView(piece);
        if (!piece.empty()) members.emplace_back(piece);
    };
    size_t start = 0;
    bool inGroup = false;
    quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (quoted) {
            continue;
        } else if (c == ',') {
            take(text.substr(start, i - start));
            start = i + 1;
        } else if (c == ':' && !inGroup && lastSemicolon != std::string_view::npos && i < lastSemicolon &&
                   text.substr(start, i - start).find_first_of("<@") == std::string_view::npos) {
            start = i + 1; // the group's name is no recipient
            inGroup = true;
        } else if (c == ';' && inGroup) {
            take(text.substr(start, i - start));
            start = i + 1;
            inGroup = false;
        }
    }
    take(text.substr(start));
    return members;
}

namespace {

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    for (std::string_view n : names)
        if (EqualsNoCase(name, n)) return true;
    return false;
}

} // namespace

bool IsAddressField(std::string_view name) {
    return IsOneOf(name, {"From", "Sender", "Reply-To", "To", "Cc", "Bcc", "Resent-From", "Resent-Sender",
                          "Resent-Reply-To", "Resent-To", "Resent-Cc", "Resent-Bcc"});
}

bool IsStructuredField(std::string_view name) {
    return IsAddressField(name) ||
           IsOneOf(name, {"Return-Path", "Date", "Resent-Date", "Message-ID", "Resent-Message-ID", "In-Reply-To",
                          "References", "MIME-Version", "Content-Type", "Content-Disposition",
                          "Content-Transfer-Encoding", "Content-ID"});
}

clsHeaderField ParseHeaderField(std::string_view text, uint32_t codepage) {
    clsHeaderField field;
    size_t end = FindUnquoted(text, ';');
    field.value = IString(String(TrimView(text.substr(0, end))));
    if (end == std::string_view::npos) return field;

    // Each RFC 2231 parameter carries its charset's code page from section to section.
    std::map<IString, uint32_t> codepages;
    for (const String &piece : SplitList(text.substr(end + 1), ';')) {
        size_t eq = piece.find('=');
        IString name(String(TrimView(std::string_view(piece).substr(0, eq))));
        String value = eq == String::npos ? String() : String(TrimView(std::string_view(piece).substr(eq + 1)));
        size_t star = name.find('*');
        if (star == String::npos || star == 0) {
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            field.parameters.emplace(name, value);
            continue;
        }
        bool extended = name.back() == '*';
        // Extended values are never quoted by RFC 2231, yet mailers quote
        // them; with the quotes the value would not be decoded at all.
        if (extended && value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        IString base(name.substr(0, star));
        auto cp = codepages.emplace(base, 0u).first;
        String decoded = DecodeParameterValue(value, extended, cp->second);
        if (codepage != 0) decoded = Narrow(Widen(decoded, 0), codepage);
        auto it = field.parameters.find(base);
        if (it == field.parameters.end()) field.parameters.emplace(base, decoded);
        else it->second += decoded;
    }
    return field;
}

} // namespace kv
