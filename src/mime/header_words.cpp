// RFC 2047 encoded words in both directions, RFC 2231 parameter values and
// percent escapes.
#include <string>

#include "runtime/except.h"
#include "mime/charset_table.h"
#include "mime/base64.h"
#include "mime/header_words.h"
#include "pal/channel.h"
#include "pal/codepage.h"

namespace kv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

template <class C> bool IsWordChar(C c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The value of a hex pair the way the header decoders (Q text, percent
// escapes) read it: any character is accepted, upper and lower case digits
// both work.
uint8_t HexPairValue(unsigned char hi, unsigned char lo) {
    auto digit = [](unsigned c) -> unsigned { return c < 'A' ? c - '0' : c < 'a' ? c - 'A' + 10 : c - 'a' + 10; };
    return uint8_t(digit(hi) * 16 + digit(lo));
}

uint32_t Effective(uint32_t codepage) { return codepage ? codepage : pal::AnsiCodePage(); }

// One match of "=\?([-\w]+)(?:\*\w+)?\?([QBqb])\?(.*?)\?=".
struct WordMatch {
    size_t begin, end;               // the whole word
    size_t charsetBegin, charsetEnd; // group 1
    size_t textBegin, textEnd;       // group 3
    char letter;                     // group 2
};

// Finds the leftmost match at or after `from`. The ends of the lazy text part
// are looked up through forward caches so that a text full of unfinished
// words still takes linear time.
template <class C> class clsWordFinder {
  public:
    explicit clsWordFinder(std::basic_string_view<C> s) : s_(s) {}

    bool Find(size_t from, WordMatch &m) {
        const size_t n = s_.size();
        for (size_t i = from; i + 1 < n; ++i) {
            if (s_[i] != '=' || s_[i + 1] != '?') continue;
            size_t j = i + 2;
            while (j < n && (IsWordChar(s_[j]) || s_[j] == '-')) ++j;
            if (j == i + 2) continue;
            m.charsetBegin = i + 2;
            m.charsetEnd = j;
            if (j < n && s_[j] == '*') {
                size_t k = j + 1;
                while (k < n && IsWordChar(s_[k])) ++k;
                if (k == j + 1) continue;
                j = k;
            }
            if (j + 2 >= n || s_[j] != '?' || s_[j + 2] != '?') continue;
            C letter = s_[j + 1];
            if (letter != 'Q' && letter != 'B' && letter != 'q' && letter != 'b') continue;
            size_t text = j + 3;
            size_t close = NextClose(text);
            if (close == npos || NextNewline(text) < close) continue;
            m.begin = i;
            m.end = close + 2;
            m.textBegin = text;
            m.textEnd = close;
            m.letter = char(letter);
            return true;
        }
        return false;
    }

  private:
    static constexpr size_t npos = size_t(-1);

    // First "?=" at or after pos.
    size_t NextClose(size_t pos) {
        if (closeFrom_ <= pos && (closeAt_ == npos || pos <= closeAt_)) return closeAt_;
        size_t k = pos;
        while (k + 1 < s_.size() && !(s_[k] == '?' && s_[k + 1] == '=')) ++k;
        closeFrom_ = pos;
        closeAt_ = k + 1 < s_.size() ? k : npos;
        return closeAt_;
    }
    // First line feed at or after pos (the end of the text when there is none).
    size_t NextNewline(size_t pos) {
        if (newlineFrom_ <= pos && pos <= newlineAt_) return newlineAt_;
        size_t k = pos;
        while (k < s_.size() && s_[k] != '\n') ++k;
        newlineFrom_ = pos;
        newlineAt_ = k;
        return k;
    }

    std::basic_string_view<C> s_;
    size_t closeFrom_ = npos, closeAt_ = npos;
    size_t newlineFrom_ = npos, newlineAt_ = npos;
};

String Utf16ToBytes(std::u16string_view text) {
    // Encoded text is ASCII; anything else goes through the ANSI code page.
    for (char16_t c : text)
        if (c >= 0x80) return Narrow(text, 0);
    return String(text.begin(), text.end());
}

template <class C> String AsciiOf(std::basic_string_view<C> text) { return String(text.begin(), text.end()); }

// A word's encoded text, and the text being decoded as its error message shows it.
String BytesOf(std::string_view text) { return String(text); }
String BytesOf(std::u16string_view text) { return Utf16ToBytes(text); }
String ShownText(std::string_view text) { return String(text); }
String ShownText(std::u16string_view text) { return Narrow(text, 0); }

} // namespace

// Decodes one encoded word; holds the text being decoded for its error message.
class clsRFC822Decoder {
  public:
    explicit clsRFC822Decoder(String text) : text_(std::move(text)) {}

    // The word's bytes and the code page they are in.
    String Replace(const String &charset, char letter, const String &encoded, uint32_t &codepage) const {
        codepage = CodePageForCharset(charset);
        if (letter == 'B' || letter == 'b') return DecodeBase64(encoded);
        if (letter == 'Q' || letter == 'q') return DecodeQText(encoded);
        throw clsExcept::Formatted("Bad encoding '%s' in word '%s'", String(1, letter).c_str(), text_.c_str());
    }

  private:
    String text_;
};

String ConvertCodePage(const String &bytes, uint32_t from, uint32_t to) {
    from = Effective(from);
    to = Effective(to);
    if (from == to) return bytes;
    return Narrow(Widen(bytes, from), to);
}

namespace {

template <class C> bool IsLinearBlank(std::basic_string_view<C> gap) {
    for (C c : gap)
        if (c != C(' ') && c != C('\t') && c != C('\r') && c != C('\n')) return false;
    return true;
}

// Calls text(view) for the text around the words and bytes(bytes, code page)
// for the words. Blanks between two words go (RFC 2047), and the bytes of
// neighbouring words in one code page are joined before they are handed on,
// so a character split between two words comes out whole.
template <class C, class Text, class Bytes>
bool ForEachDecodedPiece(std::basic_string_view<C> text, Text &&onText, Bytes &&onBytes) {
    clsWordFinder<C> finder(text);
    WordMatch m;
    if (!finder.Find(0, m)) return false;
    clsRFC822Decoder decoder{ShownText(text)};
    String pending;
    uint32_t pendingCodepage = 0;
    bool open = false; // a word's bytes wait in pending
    size_t pos = 0;
    do {
        std::basic_string_view<C> gap = text.substr(pos, m.begin - pos);
        if (!open || !IsLinearBlank(gap)) {
            if (open) onBytes(pending, pendingCodepage);
            open = false;
            onText(gap);
        }
        uint32_t wordCodepage = 0;
        String bytes = decoder.Replace(AsciiOf(text.substr(m.charsetBegin, m.charsetEnd - m.charsetBegin)), m.letter,
                                       BytesOf(text.substr(m.textBegin, m.textEnd - m.textBegin)), wordCodepage);
        if (open && Effective(wordCodepage) != Effective(pendingCodepage)) {
            onBytes(pending, pendingCodepage);
            open = false;
        }
        if (!open) {
            pending.clear();
            pendingCodepage = wordCodepage;
            open = true;
        }
        pending += bytes;
        pos = m.end;
    } while (finder.Find(pos, m));
    onBytes(pending, pendingCodepage);
    onText(text.substr(pos));
    return true;
}

} // namespace

// A CR or LF decoded from a word would end the header line: it reads as a blank.
template <class S> S LineEndsAsBlanks(S text) {
    for (auto &c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

String DecodeEncodedWords(std::string_view text, uint32_t codepage) {
    String out;
    bool found = ForEachDecodedPiece<char>(
        text, [&](std::string_view piece) { out.append(piece); },
        [&](const String &bytes, uint32_t from) { out += LineEndsAsBlanks(ConvertCodePage(bytes, from, codepage)); });
    return found ? out : String(text);
}

WString DecodeEncodedWords(std::u16string_view text) {
    WString out;
    bool found = ForEachDecodedPiece<char16_t>(
        text, [&](std::u16string_view piece) { out.append(piece); },
        [&](const String &bytes, uint32_t from) { out += LineEndsAsBlanks(Widen(bytes, from)); });
    return found ? out : WString(text);
}

String DecodeQText(std::string_view text) {
    String out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char c = text[i];
        if (c == '_') {
            out.push_back(' ');
            ++i;
        } else if (c == '=') {
            if (text.size() - i < 3) break;
            out.push_back(char(HexPairValue(uint8_t(text[i + 1]), uint8_t(text[i + 2]))));
            i += 3;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

namespace detail {

String EncodeWord(std::u16string_view text, std::string_view charset, bool base64) {
    String bytes = Narrow(text, CodePageForCharset(charset));
    String out = "=?";
    out += charset;
    if (base64) {
        out += "?B?";
        out += EncodeBase64(bytes.data(), bytes.size());
    } else {
        out += "?Q?";
        for (char ch : bytes) {
            uint8_t c = uint8_t(ch);
            if (c == ' ') {
                out.push_back('_');
            } else if (c < 0x21 || c > 0x7E || c == '=' || c == '?' || c == '_') {
                out.push_back('=');
                out.push_back(kHexDigits[c >> 4]);
                out.push_back(kHexDigits[c & 15]);
            } else {
                out.push_back(char(c));
            }
        }
    }
    out += "?=";
    return out;
}

String EncodePiece(std::u16string_view piece, std::string_view charset, bool *encoded) {
    size_t count = 0;
    for (char16_t c : piece)
        if (c < 0x20 || c >= 0x80) ++count;
    if (encoded) *encoded = false;
    if (count == 0) return AsciiOf(piece);
    size_t n = piece.size();
    if (n >= 2 && piece.front() == '<' && piece.back() == '>') return Narrow(piece, CodePageForCharset(charset));
    if (n >= 2 && ((piece.front() == '"' && piece.back() == '"') || (piece.front() == '(' && piece.back() == ')'))) {
        std::u16string_view inner = piece.substr(1, n - 2);
        String word = EncodeWord(inner, charset, count > inner.size() / 3);
        if (encoded) *encoded = true;
        return char(piece.front()) + word + char(piece.back());
    }
    if (encoded) *encoded = true;
    return EncodeWord(piece, charset, count > n / 3);
}

} // namespace detail

String EncodeHeaderWord(std::u16string_view text, std::string_view charset) {
    size_t count = 0;
    for (char16_t c : text)
        if (c <= 0x20 || c >= 0x80) ++count;
    if (count == 0) return AsciiOf(text);
    return detail::EncodeWord(text, charset, count > text.size() / 3);
}

String EncodeHeaderText(std::u16string_view text, std::string_view charset) {
    // A chunk runs to the first blank at or after its 40th character; that
    // blank becomes the fold.
    // Between two encoded words RFC 2047 readers drop the folding blank, so
    // there the dropped blank travels inside the second word.
    String out;
    size_t start = 0;
    bool previousEncoded = false;
    do {
        size_t blank = start + 40 < text.size() ? text.find(u' ', start + 40) : std::u16string_view::npos;
        size_t end = blank == std::u16string_view::npos ? text.size() : blank;
        if (start > 0) out += "\r\n ";
        bool encoded = false;
        String piece = detail::EncodePiece(text.substr(start, end - start), charset, &encoded);
        if (encoded && previousEncoded) piece = detail::EncodePiece(text.substr(start - 1, end - start + 1), charset, &encoded);
        out += piece;
        previousEncoded = encoded;
        start = end + 1;
    } while (start < text.size());
    return out;
}

String DecodePercentText(std::string_view text, uint32_t codepage) {
    String bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] != '%') {
            bytes.push_back(text[i++]);
            continue;
        }
        if (text.size() - i < 3) break;
        bytes.push_back(char(HexPairValue(uint8_t(text[i + 1]), uint8_t(text[i + 2]))));
        i += 3;
    }
    return ConvertCodePage(bytes, codepage, 0);
}

namespace {

// "^" and "$" of a pattern without multi-line mode: the end, or a last line feed.
std::string_view WithoutFinalNewline(std::string_view value) {
    return (!value.empty() && value.back() == '\n') ? value.substr(0, value.size() - 1) : value;
}

// "^([-\w.:+]*)'([-\w]*)'(.*)$": charset names may hold periods, colons and
// plus signs (ANSI_X3.4-1968); without them such a value stayed undecoded.
bool MatchExtendedValue(std::string_view value, std::string_view &charset, std::string_view &language,
                        std::string_view &rest) {
    auto span = [&](size_t from, bool charsetName) {
        size_t k = from;
        while (k < value.size() && (IsWordChar(value[k]) || value[k] == '-' ||
                                    (charsetName && (value[k] == '.' || value[k] == ':' || value[k] == '+'))))
            ++k;
        return k;
    };
    size_t a = span(0, true);
    if (a >= value.size() || value[a] != '\'') return false;
    size_t b = span(a + 1, false);
    if (b >= value.size() || value[b] != '\'') return false;
    std::string_view tail = WithoutFinalNewline(value.substr(b + 1));
    if (tail.find('\n') != std::string_view::npos) return false;
    charset = value.substr(0, a);
    language = value.substr(a + 1, b - a - 1);
    rest = tail;
    return true;
}

// "^\"(.*)\"$"
bool MatchQuoted(std::string_view value, std::string_view &inner) {
    std::string_view v = WithoutFinalNewline(value);
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') return false;
    inner = v.substr(1, v.size() - 2);
    return inner.find('\n') == std::string_view::npos;
}

} // namespace

String DecodeParameterValue(std::string_view value, bool extended, uint32_t &codepage) {
    std::string_view charset, language, rest;
    if (extended && MatchExtendedValue(value, charset, language, rest)) {
        if (!charset.empty()) {
            codepage = CodePageForCharset(charset);
        } else if (!language.empty()) {
            pal::ChannelSend("cannot yet interpret a language identifier for RFC2231, sorry. I assume CP_ACP.");
            codepage = 0;
        }
        return DecodePercentText(rest, codepage);
    }
    std::string_view inner;
    if (MatchQuoted(value, inner)) return ConvertCodePage(String(inner), codepage, 0);
    return DecodePercentText(value, codepage);
}

} // namespace kv
