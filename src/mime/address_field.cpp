// The tokenizer for address and header fields, its queries, and the encoder
// of address fields.
#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "runtime/except.h"
#include "mime/address_field.h"
#include "mime/header_words.h"

namespace kv {

namespace {

template <class C> uint32_t Code(C c) { return uint32_t(std::make_unsigned_t<C>(c)); }

// Characters of the "word" run of the bare-address pattern: no controls
// (NUL is allowed), no blank and none of ()<>@,;:\[]
bool IsWordRun(uint32_t u) {
    if ((u >= 0x01 && u <= 0x1F) || u == 0x7F) return false;
    switch (u) {
    case '(': case ')': case '<': case '>': case '@': case ',': case ';': case ':': case '\\': case '[': case ']':
    case ' ':
        return false;
    default:
        return true;
    }
}
// The "atom" run: the same without the period.
bool IsAtomRun(uint32_t u) { return u != '.' && IsWordRun(u); }

// Leftmost match of word@atom(.atom)+ where word is a run or a quoted string,
// with the preferences of a backtracking matcher: the longest run first, then
// the quoted string. Run ends are precomputed so the search stays linear.
template <class C> bool FindBareAddress(std::basic_string_view<C> s, size_t &begin, size_t &end) {
    const size_t n = s.size();
    std::vector<size_t> wordEnd(n + 1), atomEnd(n + 1), nextQuote(n + 1);
    wordEnd[n] = atomEnd[n] = nextQuote[n] = n;
    for (size_t i = n; i-- > 0;) {
        uint32_t u = Code(s[i]);
        wordEnd[i] = IsWordRun(u) ? wordEnd[i + 1] : i;
        atomEnd[i] = IsAtomRun(u) ? atomEnd[i + 1] : i;
        nextQuote[i] = u == '"' ? i : nextQuote[i + 1];
    }
    auto quotedEnd = [&](size_t at) -> size_t { // end of "[^"]*" at `at`, or 0
        if (at < n && s[at] == '"' && nextQuote[at + 1] < n) return nextQuote[at + 1] + 1;
        return 0;
    };
    auto domainEnd = [&](size_t at) -> size_t { // end of atom(.atom)+ at `at`, or 0
        size_t candidates[2] = {at < n && atomEnd[at] > at ? atomEnd[at] : 0, quotedEnd(at)};
        for (size_t a : candidates) {
            if (a == 0 || a + 1 >= n || s[a] != '.' || atomEnd[a + 1] == a + 1) continue;
            size_t p = atomEnd[a + 1];
            while (p + 1 < n && s[p] == '.' && atomEnd[p + 1] > p + 1) p = atomEnd[p + 1];
            return p;
        }
        return 0;
    };
    for (size_t i = 0; i < n; ++i) {
        size_t candidates[2] = {wordEnd[i] > i ? wordEnd[i] : 0, quotedEnd(i)};
        for (size_t w : candidates) {
            if (w == 0 || w >= n || s[w] != '@') continue;
            size_t d = domainEnd(w + 1);
            if (d) {
                begin = i;
                end = d;
                return true;
            }
        }
    }
    return false;
}

template <class C> struct Token {
    int32_t kind;
    std::basic_string<C> text;
};

template <class C> std::vector<Token<C>> Tokenize(std::basic_string_view<C> s) {
    enum { kPlain, kQuoted, kComment, kAngle } state = kPlain;
    std::vector<Token<C>> tokens;
    std::basic_string<C> pending;
    auto flush = [&](int32_t kind) {
        if (!pending.empty()) tokens.push_back({kind, std::move(pending)});
        pending.clear();
    };
    const size_t n = s.size();
    for (size_t i = 0; i < n; ++i) {
        C c = s[i];
        uint32_t u = Code(c);
        if (state == kQuoted || state == kComment || state == kAngle) {
            pending.push_back(c);
            // A quoted pair keeps its character, so an escaped quote or
            // parenthesis does not end the name ("Doe, \"J\"" <j@x.org>).
            if (u == '\\' && state != kAngle && i + 1 < n) {
                pending.push_back(s[++i]);
                continue;
            }
            if (state == kQuoted && u == '"') flush(clsParseItem::kText), state = kPlain;
            else if (state == kComment && u == ')') flush(clsParseItem::kComment), state = kPlain;
            else if (state == kAngle && u == '>') flush(clsParseItem::kAddress), state = kPlain;
            continue;
        }
        if (u == '"') {
            pending.push_back(c);
            state = kQuoted;
        } else if (u == '(') {
            pending.push_back(c);
            state = kComment;
        } else if (u == '<') {
            flush(clsParseItem::kText);
            pending.push_back(c);
            state = kAngle;
        } else if (u == '\\') {
            if (i + 1 < n) pending.push_back(s[++i]);
        } else if (u == ' ' || u == '\t') {
            flush(clsParseItem::kText);
            tokens.push_back({clsParseItem::kBlank, std::basic_string<C>(1, C(' '))});
            while (i + 1 < n && (s[i + 1] == C(' ') || s[i + 1] == C('\t'))) ++i;
        } else if (u < 0x20 || u == 0x7F) {
            // A control character voids the field; only what is pending counts.
            tokens.clear();
            break;
        } else {
            pending.push_back(c);
        }
    }
    if (!pending.empty()) {
        size_t begin = 0, end = 0;
        std::basic_string_view<C> view(pending);
        if (tokens.empty() && FindBareAddress(view, begin, end))
            tokens.push_back({clsParseItem::kAddress, std::basic_string<C>(view.substr(begin, end - begin))});
        else
            tokens.push_back({clsParseItem::kText, std::move(pending)});
    }
    return tokens;
}

const clsParseItem *FirstAddress(const clsParseList &items) {
    for (const auto &item : items)
        if (item.kind == clsParseItem::kAddress) return &item;
    return nullptr;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

} // namespace

clsParseList ParseAddressField(std::string_view text, uint32_t codepage) {
    String decoded = DecodeEncodedWords(text, codepage);
    clsParseList items;
    for (auto &token : Tokenize<char>(decoded)) items.push_back({token.kind, std::move(token.text)});
    return items;
}

String GetFieldText(const clsParseList &items) {
    String out;
    for (const auto &item : items) out += item.text;
    return out;
}

String GetFieldAddress(const clsParseList &items, bool raw) {
    const clsParseItem *address = FirstAddress(items);
    if (!address) return String();
    String text = address->text;
    if (text.size() >= 2 && text.front() == '<') text = text.substr(1, text.size() - 2);
    if (!raw) {
        size_t colon = text.find(':');
        if (colon != String::npos) {
            size_t from = colon + 1;
            if (from < text.size() && text[from] == ':') ++from;
            text.erase(0, from);
        }
    }
    return text;
}

String GetFieldDisplayName(const clsParseList &items) {
    String name;
    for (const auto &item : items) {
        if (item.kind == clsParseItem::kAddress) break;
        name += item.text;
    }
    size_t first = name.find_first_not_of(" \t");
    if (first == String::npos) return GetFieldAddress(items);
    size_t last = name.find_last_not_of(" \t");
    return name.substr(first, last - first + 1);
}

bool HasFieldAddress(const clsParseList &items) { return FirstAddress(items) != nullptr; }

String EncodeAddressField(std::u16string_view text, std::string_view charset) {
    WString decoded = DecodeEncodedWords(text);
    std::vector<Token<char16_t>> tokens = Tokenize<char16_t>(decoded);
    size_t count = 0;
    while (count < tokens.size() && tokens[count].kind != clsParseItem::kAddress) ++count;
    if (count == tokens.size()) throw clsExcept::Formatted("no address found in '%s'", Narrow(text, 0).c_str());
    ++count;

    constexpr size_t kPiece = 40, kLine = 75;
    String out, line;
    for (size_t t = 0; t < count; ++t) {
        std::u16string_view token = tokens[t].text;
        bool previousEncoded = false;
        for (size_t pos = 0; pos < token.size();) {
            size_t take = std::min(kPiece, token.size() - pos);
            if (take == kPiece && pos + take < token.size() && IsHighSurrogate(token[pos + take - 1])) --take;
            bool encoded = false;
            String piece = detail::EncodePiece(token.substr(pos, take), charset, &encoded);
            // A fold inside a token would put a blank into it, unless it
            // stands between two encoded words, where decoders drop it.
            bool mayFold = pos == 0 || (encoded && previousEncoded);
            if (!line.empty() && line.size() + piece.size() > kLine && mayFold) {
                out += line;
                out += "\r\n ";
                line.clear();
            }
            line += piece;
            previousEncoded = encoded;
            pos += take;
        }
    }
    return out + line;
}

String UnquotedDisplayName(const String &name) {
    if (name.size() < 2 || name.front() != '"' || name.back() != '"') return name;
    String out;
    for (size_t i = 1; i + 1 < name.size(); ++i) {
        if (name[i] == '\\' && i + 2 < name.size()) ++i;
        out += name[i];
    }
    return out;
}

} // namespace kv
