// Message text read line by line in place: the reader and the body decoders
// look at one block and never copy a line out of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kv {

// Lines end at CR LF, a lone CR or a lone LF. Text joined from lines that
// may hold a lone CR or LF of their own (the POP3 transport's) ends lines at
// CR LF only. The last line need not have a line end.
struct clsLineText {
    std::string_view text;
    bool crlfOnly = false;
};

// Where the next CR or LF stands, or end.
inline const char *FindLineBreak(const char *p, const char *end) {
    // Eight bytes at a time: most lines are long and have no CR or LF inside.
    while (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        auto has = [w](uint8_t b) {
            uint64_t x = w ^ (0x0101010101010101ull * b);
            return (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
        };
        if (has('\r') | has('\n')) break;
        p += 8;
    }
    while (p < end && *p != '\r' && *p != '\n') ++p;
    return p;
}

class clsLineCursor {
  public:
    explicit clsLineCursor(clsLineText lines, size_t position = 0) : lines_(lines), pos_(position) {}

    // The next line without its line end; false after the last.
    bool Next(std::string_view &line) {
        std::string_view text = lines_.text;
        if (pos_ >= text.size()) return false;
        if (lines_.crlfOnly) {
            size_t end = text.find("\r\n", pos_);
            if (end == std::string_view::npos) end = text.size();
            line = text.substr(pos_, end - pos_);
            pos_ = end == text.size() ? end : end + 2;
            return true;
        }
        const char *begin = text.data() + pos_, *end = text.data() + text.size();
        const char *stop = FindLineBreak(begin, end);
        line = std::string_view(begin, size_t(stop - begin));
        if (stop < end) stop += (*stop == '\r' && stop + 1 < end && stop[1] == '\n') ? 2 : 1;
        pos_ = size_t(stop - text.data());
        return true;
    }
    size_t Position() const { return pos_; }

  private:
    clsLineText lines_;
    size_t pos_;
};

// Whether a line starts at the offset.
inline bool IsLineStart(clsLineText lines, size_t at) {
    if (at == 0) return true;
    std::string_view t = lines.text;
    if (lines.crlfOnly) return at >= 2 && t[at - 2] == '\r' && t[at - 1] == '\n';
    char before = t[at - 1];
    return before == '\n' || (before == '\r' && (at == t.size() || t[at] != '\n'));
}

// Whether a line ends at the offset (at a line end or the end of the text).
inline bool IsLineEnd(clsLineText lines, size_t at) {
    std::string_view t = lines.text;
    if (at >= t.size()) return true;
    if (lines.crlfOnly) return t[at] == '\r' && at + 1 < t.size() && t[at + 1] == '\n';
    return t[at] == '\r' || t[at] == '\n';
}

// The offset after the line end that stands at the offset.
inline size_t SkipLineEnd(clsLineText lines, size_t at) {
    std::string_view t = lines.text;
    if (at >= t.size()) return t.size();
    if (t[at] == '\r' && at + 1 < t.size() && t[at + 1] == '\n') return at + 2;
    return at + 1;
}

// The last line without its line end; empty for an empty text.
inline std::string_view LastLine(clsLineText lines) {
    std::string_view t = lines.text;
    if (lines.crlfOnly) {
        if (t.size() >= 2 && t.substr(t.size() - 2) == "\r\n") t.remove_suffix(2);
        size_t from = t.rfind("\r\n");
        return from == std::string_view::npos ? t : t.substr(from + 2);
    }
    if (t.size() >= 2 && t.substr(t.size() - 2) == "\r\n") t.remove_suffix(2);
    else if (!t.empty() && (t.back() == '\r' || t.back() == '\n')) t.remove_suffix(1);
    size_t from = t.find_last_of("\r\n");
    return from == std::string_view::npos ? t : t.substr(from + 1);
}

// Hands out the lines, each followed by CR LF, in as few pieces as it can:
// runs of lines that already end in CR LF go as they stand.
template <typename Write> void ForEachCrLfRun(clsLineText lines, Write &&write) {
    std::string_view text = lines.text;
    const char *data = text.data(), *end = data + text.size();
    const char *p = data, *run = data;
    while (p < end) {
        const char *stop;
        if (lines.crlfOnly) {
            size_t at = text.find("\r\n", size_t(p - data));
            stop = at == std::string_view::npos ? end : data + at;
        } else {
            stop = FindLineBreak(p, end);
        }
        if (stop + 1 < end && stop[0] == '\r' && stop[1] == '\n') {
            p = stop + 2;
            continue;
        }
        // A lone CR or LF, or the last line without a line end.
        if (stop > run) write(run, size_t(stop - run));
        write("\r\n", size_t(2));
        p = stop < end ? stop + 1 : end;
        run = p;
    }
    if (p > run) write(run, size_t(p - run));
}

} // namespace kv
