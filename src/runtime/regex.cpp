#define PCRE2_CODE_UNIT_WIDTH 16
#include "runtime/regex.h"

#include <pcre2.h>

#include <utility>

#include "runtime/except.h"
#include "runtime/kvlog.h"

namespace kv {

namespace {

String ErrorText(int code) {
    PCRE2_UCHAR buffer[256];
    int n = pcre2_get_error_message(code, buffer, sizeof buffer / sizeof buffer[0]);
    if (n < 0) return Format("PCRE2 error %d", code);
    return Narrow(std::u16string_view(reinterpret_cast<const char16_t *>(buffer), size_t(n)));
}

// Keeps log lines short when a subject or pattern is long.
String Excerpt(std::u16string_view text) {
    const size_t kMax = 80;
    if (text.size() <= kMax) return Narrow(text);
    return Narrow(text.substr(0, kMax)) + "...";
}

clsRegExMatchA ToNarrow(const clsRegExMatch &m, uint32_t codepage) {
    clsRegExMatchA out;
    for (const auto &g : m.groups) {
        out.set.push_back(g.set);
        out.text.push_back(g.set ? Narrow(g.text, codepage) : String());
    }
    return out;
}

} // namespace

const WString &clsRegExMatch::Text(size_t group) const {
    static const WString empty;
    return group < groups.size() ? groups[group].text : empty;
}

clsRegEx::clsRegEx(std::u16string_view pattern, uint32_t options) { Compile(pattern, options); }

clsRegEx::clsRegEx(std::string_view pattern, uint32_t options, uint32_t codepage) {
    Compile(Widen(pattern, codepage), options);
}

clsRegEx::~clsRegEx() {
    pcre2_code_free(code_);
    pcre2_match_context_free(context_);
}

clsRegEx::clsRegEx(clsRegEx &&other) noexcept
    : pattern_(std::move(other.pattern_)), code_(std::exchange(other.code_, nullptr)),
      context_(std::exchange(other.context_, nullptr)) {}

clsRegEx &clsRegEx::operator=(clsRegEx &&other) noexcept {
    if (this != &other) {
        pcre2_code_free(code_);
        pcre2_match_context_free(context_);
        pattern_ = std::move(other.pattern_);
        code_ = std::exchange(other.code_, nullptr);
        context_ = std::exchange(other.context_, nullptr);
    }
    return *this;
}

void clsRegEx::Compile(std::u16string_view pattern, uint32_t options) {
    uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
    if (options & Caseless) flags |= PCRE2_CASELESS;
    if (options & DotAll) flags |= PCRE2_DOTALL;
    if (options & Ungreedy) flags |= PCRE2_UNGREEDY;
    if (options & Multiline) flags |= PCRE2_MULTILINE;
    if (options & Extended) flags |= PCRE2_EXTENDED;
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code *code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags, &error,
                                     &errorOffset, nullptr);
    if (!code)
        throw clsExcept(kErrGeneral, Format("Regular expression error at offset %zu: %s (pattern '%s')",
                                            size_t(errorOffset), ErrorText(error).c_str(), Excerpt(pattern).c_str()));
    pcre2_match_context *context = pcre2_match_context_create(nullptr);
    if (!context) {
        pcre2_code_free(code);
        throw clsExcept(kErrGeneral, "Regular expression error: out of memory");
    }
    pcre2_set_match_limit(context, kMatchLimit);
    pcre2_set_depth_limit(context, kDepthLimit);
    pcre2_set_heap_limit(context, kHeapLimitKiB);
    pcre2_code_free(code_);
    pcre2_match_context_free(context_);
    code_ = code;
    context_ = context;
    pattern_.assign(pattern);
}

uint32_t clsRegEx::GroupCount() const {
    uint32_t n = 0;
    if (code_) pcre2_pattern_info(code_, PCRE2_INFO_CAPTURECOUNT, &n);
    return n;
}

int clsRegEx::Run(std::u16string_view subject, size_t offset, uint32_t flags, clsRegExMatch &match) const {
    match.groups.clear();
    if (!code_ || offset > subject.size()) return 0;
    pcre2_match_data *data = pcre2_match_data_create_from_pattern(code_, nullptr);
    if (!data) {
        LogWrite(kLogDetails, "clsRegEx: out of memory for match data");
        return 0;
    }
    // An empty view may have no storage; PCRE2 wants a valid pointer.
    static const char16_t kEmpty[1] = {0};
    PCRE2_SPTR text = reinterpret_cast<PCRE2_SPTR>(subject.data() ? subject.data() : kEmpty);
    int rc = pcre2_match(code_, text, subject.size(), offset, flags, data, context_);
    if (rc < 0) {
        if (rc != PCRE2_ERROR_NOMATCH && rc != PCRE2_ERROR_PARTIAL)
            LogWrite(kLogDetails, Format("clsRegEx: no match, %s (pattern '%s', subject of %zu characters)",
                                         ErrorText(rc).c_str(), Excerpt(pattern_).c_str(), subject.size()));
        pcre2_match_data_free(data);
        return 0;
    }
    uint32_t pairs = pcre2_get_ovector_count(data);
    PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(data);
    uint32_t groups = GroupCount() + 1;
    match.groups.resize(groups);
    for (uint32_t i = 0; i < groups && i < pairs; ++i) {
        PCRE2_SIZE s = ovector[2 * i], e = ovector[2 * i + 1];
        if (s == PCRE2_UNSET || e == PCRE2_UNSET || s > subject.size() || e > subject.size()) continue;
        clsRegExGroup &g = match.groups[i];
        g.set = true;
        g.start = s;
        g.end = e;
        if (e > s) g.text.assign(subject.substr(s, e - s)); // \K can put the start after the end
    }
    pcre2_match_data_free(data);
    return 1;
}

bool clsRegEx::Match(std::u16string_view subject, size_t offset, clsRegExMatch &match, bool anchored) const {
    return Run(subject, offset, anchored ? PCRE2_ANCHORED : 0, match) > 0;
}

bool clsRegEx::IsMatch(std::u16string_view subject) const {
    clsRegExMatch m;
    return Run(subject, 0, 0, m) > 0;
}

std::vector<clsRegExMatch> clsRegEx::MatchAll(std::u16string_view subject) const {
    std::vector<clsRegExMatch> all;
    size_t offset = 0;
    uint32_t flags = 0;
    for (;;) {
        clsRegExMatch m;
        if (Run(subject, offset, flags, m) <= 0) break;
        size_t end = m.End();
        bool empty = end <= m.Start();
        bool stuck = end < offset || (empty && end == offset && flags != 0);
        all.push_back(std::move(m));
        if (stuck) break; // cannot happen with PCRE2's rules; never loop on it
        // After an empty match the next search must not match empty at the
        // same place again: it finds a non-empty match there or moves on.
        offset = end;
        flags = empty ? PCRE2_NOTEMPTY_ATSTART : 0;
        if (offset > subject.size()) break;
    }
    return all;
}

bool clsRegEx::Match(std::string_view subject, clsRegExMatchA &match, uint32_t codepage) const {
    clsRegExMatch m;
    match = clsRegExMatchA();
    if (!Match(Widen(subject, codepage), 0, m)) return false;
    match = ToNarrow(m, codepage);
    return true;
}

bool clsRegEx::IsMatch(std::string_view subject, uint32_t codepage) const {
    return IsMatch(Widen(subject, codepage));
}

std::vector<clsRegExMatchA> clsRegEx::MatchAll(std::string_view subject, uint32_t codepage) const {
    std::vector<clsRegExMatchA> out;
    for (const auto &m : MatchAll(Widen(subject, codepage))) out.push_back(ToNarrow(m, codepage));
    return out;
}

} // namespace kv
