#include "providers/imap/imap_response.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kv {

namespace {

// Lists inside lists: FETCH nests BODYSTRUCTURE a few levels deep, never this deep.
constexpr int kDeepest = 64;
// Enough of the first line to tell its tag and kind, and to quote it.
constexpr size_t kHeadBytes = 1000;
// A literal marker is at most "~{" 20 digits "+}".
constexpr size_t kTailBytes = 32;

bool IsStatusWord(std::string_view word) {
    for (const char *status : {"OK", "NO", "BAD", "BYE", "PREAUTH"})
        if (EqualsNoCase(word, status)) return true;
    return false;
}

// The literal marker at the end of a line ("{12}", "{12+}", "~{12}"): where
// it begins and the length it announces; false when the line ends otherwise.
// `overflow` is set for a length that does not fit 64 bits.
bool LiteralMarker(std::string_view line, size_t &begin, uint64_t &length, bool &overflow) {
    overflow = false;
    if (line.empty() || line.back() != '}') return false;
    size_t open = line.rfind('{');
    if (open == std::string_view::npos) return false;
    std::string_view digits = line.substr(open + 1, line.size() - open - 2);
    if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
    if (digits.empty()) return false;
    length = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        if (length > (UINT64_MAX - uint64_t(c - '0')) / 10) overflow = true;
        length = length * 10 + uint64_t(c - '0');
    }
    begin = open > 0 && line[open - 1] == '~' ? open - 1 : open;
    return true;
}

// Whether a response beginning this way can carry literals: status responses
// and continuation requests end with free text, where "{5}" is just text.
bool MayHaveLiterals(std::string_view head) {
    if (!head.empty() && head[0] == '+') return false;
    size_t tagEnd = head.find(' ');
    if (tagEnd == std::string_view::npos) return true;
    std::string_view rest = head.substr(tagEnd + 1);
    return !IsStatusWord(rest.substr(0, rest.find(' ')));
}

class ValueReader {
  public:
    struct Piece {
        String *text;
        bool hasLiteral;
        String *literal;
    };
    ValueReader(std::vector<Piece> pieces, size_t start) : pieces_(std::move(pieces)), pos_(start) {}

    // Values up to the end of the response.
    bool ReadAll(std::vector<clsImapValue> &out) {
        for (;;) {
            SkipBlanks();
            if (AtEnd()) return true;
            clsImapValue v;
            if (!ReadValue(v, 0)) return false;
            out.push_back(std::move(v));
        }
    }
    const String &Error() const { return error_; }

  private:
    int Peek() const {
        const String &t = *pieces_[piece_].text;
        return pos_ < t.size() ? (unsigned char)t[pos_] : -1;
    }
    bool AtEnd() const { return Peek() < 0 && !pieces_[piece_].hasLiteral; }
    void SkipBlanks() {
        while (Peek() == ' ') ++pos_;
    }
    bool Fail(const char *what) {
        error_ = Format("%s at byte %u of line %u", what, unsigned(pos_ + 1), unsigned(piece_ + 1));
        return false;
    }

    bool ReadValue(clsImapValue &v, int depth) {
        int c = Peek();
        if (c < 0) return ReadLiteral(v);
        if (c == '(') {
            if (depth >= kDeepest) return Fail("lists nested too deep");
            ++pos_;
            v.kind = clsImapValue::Kind::List;
            for (;;) {
                SkipBlanks();
                c = Peek();
                if (c == ')') {
                    ++pos_;
                    return true;
                }
                if (AtEnd()) return Fail("list not closed");
                clsImapValue item;
                if (!ReadValue(item, depth + 1)) return false;
                v.items.push_back(std::move(item));
            }
        }
        if (c == ')') return Fail("')' without '('");
        if (c == '"') return ReadQuoted(v);
        if (c == '{' || c == '~') return ReadLiteral(v);
        return ReadAtom(v);
    }

    bool ReadQuoted(clsImapValue &v) {
        const String &t = *pieces_[piece_].text;
        v.kind = clsImapValue::Kind::String;
        size_t i = pos_ + 1;
        for (;;) {
            size_t stop = t.find_first_of("\"\\", i);
            if (stop == String::npos) return Fail("quoted string not closed");
            v.text.append(t, i, stop - i);
            if (t[stop] == '"') {
                pos_ = stop + 1;
                return true;
            }
            if (stop + 1 >= t.size()) return Fail("quoted string not closed");
            v.text.push_back(t[stop + 1]);
            i = stop + 2;
        }
    }

    // The marker must end its line, and the literal follows that line.
    bool ReadLiteral(clsImapValue &v) {
        const Piece &p = pieces_[piece_];
        size_t begin = 0;
        uint64_t length = 0;
        bool overflow = false;
        std::string_view rest = std::string_view(*p.text).substr(pos_);
        if (!p.hasLiteral || !LiteralMarker(rest, begin, length, overflow) || begin != 0)
            return Fail("'{' that does not begin a literal");
        v.kind = clsImapValue::Kind::String;
        v.text = std::move(*p.literal);
        ++piece_;
        pos_ = 0;
        return true;
    }

    bool ReadAtom(clsImapValue &v) {
        const String &t = *pieces_[piece_].text;
        size_t i = pos_;
        while (i < t.size()) {
            unsigned char c = (unsigned char)t[i];
            if (c == '[') {
                // A section ("BODY[HEADER.FIELDS (FROM)]") holds blanks and parentheses.
                size_t close = t.find(']', i);
                if (close == String::npos) {
                    pos_ = i;
                    return Fail("'[' without ']'");
                }
                i = close + 1;
                continue;
            }
            if (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{' || c < 0x20 || c == 0x7F) break;
            ++i;
        }
        if (i == pos_) return Fail("unexpected character");
        v.text.assign(t, pos_, i - pos_);
        pos_ = i;
        if (EqualsNoCase(v.text, "NIL")) {
            v.kind = clsImapValue::Kind::Nil;
            v.text.clear();
            return true;
        }
        v.kind = clsImapValue::Kind::Atom;
        if (v.text.size() <= 20 && std::all_of(v.text.begin(), v.text.end(), [](char d) { return d >= '0' && d <= '9'; })) {
            uint64_t n = 0;
            for (char d : v.text) {
                if (n > (UINT64_MAX - uint64_t(d - '0')) / 10) return true; // stays an atom
                n = n * 10 + uint64_t(d - '0');
            }
            v.kind = clsImapValue::Kind::Number;
            v.number = n;
        }
        return true;
    }

    std::vector<Piece> pieces_;
    size_t piece_ = 0;
    size_t pos_;
    String error_;
};

// "[CODE text] text" after a status word.
void ReadStatusText(std::string_view rest, clsImapResponse &r) {
    if (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
    if (!rest.empty() && rest[0] == '[') {
        // The first ']' outside parentheses and quotes closes the code.
        int depth = 0;
        bool quoted = false;
        size_t close = std::string_view::npos;
        for (size_t i = 1; i < rest.size() && close == std::string_view::npos; ++i) {
            char c = rest[i];
            if (quoted) {
                if (c == '\\') ++i;
                else if (c == '"') quoted = false;
            } else if (c == '"') {
                quoted = true;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')') {
                if (depth > 0) --depth;
            } else if (c == ']' && depth == 0) {
                close = i;
            }
        }
        // An unclosed code is taken as text.
        if (close != std::string_view::npos) {
            std::string_view inside = rest.substr(1, close - 1);
            size_t blank = inside.find(' ');
            r.code = ToUpper(inside.substr(0, blank));
            if (blank != std::string_view::npos) r.codeText = String(TrimView(inside.substr(blank + 1)));
            rest.remove_prefix(close + 1);
            if (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
        }
    }
    r.text = String(rest);
}

} // namespace

String PrintableText(std::string_view text, size_t longest) {
    String out;
    size_t n = std::min(text.size(), longest);
    out.reserve(n + 8);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c < 0x20 || c == 0x7F) out += Format("\\x%02X", c);
        else out.push_back(char(c));
    }
    if (n < text.size()) out += "...";
    return out;
}

size_t clsImapParser::Feed(const char *data, size_t size) {
    size_t used = 0;
    while (used < size && !ready_ && lost_.empty()) {
        if (!started_) {
            started_ = true;
            budget_ = nextBudget_;
        }
        if (inLiteral_) {
            size_t n = size_t(std::min<uint64_t>(literalLeft_, size - used));
            if (!skipping_) segments_.back().literal.append(data + used, n);
            if (observer_) observer_(std::string_view(data + used, n), true);
            used += n;
            literalLeft_ -= n;
            if (literalLeft_ == 0) inLiteral_ = false;
            continue;
        }
        const char *lf = static_cast<const char *>(std::memchr(data + used, '\n', size - used));
        size_t n = lf ? size_t(lf - (data + used)) + 1 : size - used;
        TakeLineBytes(data + used, n);
        used += n;
        if (lf) EndLine();
    }
    return used;
}

void clsImapParser::TakeLineBytes(const char *data, size_t size) {
    if (observer_) observer_(std::string_view(data, size), false);
    if (firstLine_ && head_.size() < kHeadBytes) head_.append(data, std::min(size, kHeadBytes - head_.size()));
    if (size >= kTailBytes) {
        tail_.assign(data + size - kTailBytes, kTailBytes);
    } else {
        tail_.append(data, size);
        if (tail_.size() > kTailBytes) tail_.erase(0, tail_.size() - kTailBytes);
    }
    // A "{5}" inside a quoted string is text, not a literal.
    for (size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (escaped_) escaped_ = false;
        else if (inQuote_ && c == '\\') escaped_ = true;
        else if (c == '"') inQuote_ = !inQuote_;
    }
    if (skipping_) return;
    if (textUsed_ + size > kLongestText) {
        Skip(Format("response longer than %u bytes", unsigned(kLongestText)));
        return;
    }
    line_.append(data, size);
    textUsed_ += size;
}

void clsImapParser::Skip(String reason) {
    skipping_ = true;
    skipReason_ = std::move(reason);
    segments_.clear();
    line_.clear();
}

void clsImapParser::EndLine() {
    auto trimmed = [](std::string_view s) {
        if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
        if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
        return s;
    };
    if (firstLine_) literalsAllowed_ = MayHaveLiterals(trimmed(head_));
    std::string_view end = trimmed(skipping_ ? std::string_view(tail_) : std::string_view(line_));
    size_t begin = 0;
    uint64_t length = 0;
    bool overflow = false;
    bool literal = literalsAllowed_ && !inQuote_ && LiteralMarker(end, begin, length, overflow);
    inQuote_ = escaped_ = false;
    firstLine_ = false;
    tail_.clear();
    if (overflow) {
        lost_ = "a literal longer than can be counted";
        return;
    }
    if (!skipping_) {
        Segment s;
        s.text.assign(trimmed(line_));
        line_.clear();
        if (literal) {
            s.hasLiteral = true;
            if (length > budget_ - literalUsed_ || length > SIZE_MAX / 2) {
                Skip(Format("a literal of %llu bytes, more than the %llu bytes allowed", (unsigned long long)length,
                            (unsigned long long)(budget_ - literalUsed_)));
            } else {
                try {
                    s.literal.reserve(size_t(length));
                    literalUsed_ += length;
                } catch (const std::exception &) {
                    Skip(Format("no memory for a literal of %llu bytes", (unsigned long long)length));
                }
            }
        }
        if (!skipping_) segments_.push_back(std::move(s));
    }
    if (literal) {
        literalLeft_ = length;
        inLiteral_ = length > 0;
        return; // the response goes on after the literal
    }
    Finish();
}

void clsImapParser::Finish() {
    clsImapResponse r;
    std::string_view head = head_;
    size_t lineEnd = head.find_first_of("\r\n");
    r.line = String(head.substr(0, lineEnd));
    size_t tagEnd = r.line.find(' ');
    if (skipping_) {
        r.kind = clsImapResponse::Kind::Broken;
        r.tag = r.line.substr(0, tagEnd);
        r.error = skipReason_;
    } else {
        const String &first = segments_.front().text;
        r.tag = first.substr(0, first.find(' '));
        if (!first.empty() && first[0] == '+') {
            r.kind = clsImapResponse::Kind::Continuation;
            r.tag.clear();
            std::string_view rest = std::string_view(first).substr(1);
            if (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
            r.text = String(rest);
        } else if (r.tag.empty()) {
            r.error = "a response without a tag";
        } else if (tagEnd == String::npos) {
            r.error = "nothing after the tag";
        } else {
            std::string_view rest = std::string_view(first).substr(tagEnd + 1);
            std::string_view word = rest.substr(0, rest.find(' '));
            if (IsStatusWord(word)) {
                r.kind = r.tag == "*" ? clsImapResponse::Kind::Untagged : clsImapResponse::Kind::Tagged;
                r.status = ToUpper(word);
                ReadStatusText(rest.substr(word.size()), r);
            } else if (r.tag != "*") {
                r.error = "a tagged response without OK, NO or BAD";
            } else {
                std::vector<ValueReader::Piece> pieces;
                for (Segment &s : segments_) pieces.push_back({&s.text, s.hasLiteral, &s.literal});
                ValueReader reader(std::move(pieces), tagEnd + 1);
                if (reader.ReadAll(r.data)) r.kind = clsImapResponse::Kind::Untagged;
                else r.error = reader.Error();
            }
        }
        if (!r.error.empty()) {
            r.kind = clsImapResponse::Kind::Broken;
            r.data.clear();
        }
    }
    response_ = std::move(r);
    ready_ = true;
    segments_.clear();
    head_.clear();
    textUsed_ = 0;
    literalUsed_ = 0;
    started_ = false;
    firstLine_ = true;
    skipping_ = false;
    skipReason_.clear();
}

clsImapResponse clsImapParser::Take() {
    ready_ = false;
    return std::move(response_);
}

} // namespace kv
