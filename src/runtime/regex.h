// clsRegEx: Perl-compatible regular expressions over UTF-16 text (pcre2-16).
// Compiled once, matched any number of times; matching never hangs: a pattern
// that backtracks without end stops at a fixed limit and counts as no match.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/kvstring.h"

struct pcre2_real_code_16;
struct pcre2_real_match_context_16;

namespace kv {

// One capture group of a match; group 0 is the whole match. Offsets are in
// UTF-16 code units of the subject. An unset group (one that took no part in
// the match) has set == false, unlike a group that matched the empty string.
struct clsRegExGroup {
    bool set = false;
    size_t start = 0;
    size_t end = 0;
    WString text;
};

struct clsRegExMatch {
    std::vector<clsRegExGroup> groups;
    size_t Start() const { return groups.empty() ? 0 : groups[0].start; }
    size_t End() const { return groups.empty() ? 0 : groups[0].end; }
    bool IsSet(size_t group) const { return group < groups.size() && groups[group].set; }
    // Text of a group; empty for an unset or missing group.
    const WString &Text(size_t group) const;
};

// The same for 8-bit text: group texts converted back to the caller's code page.
struct clsRegExMatchA {
    std::vector<bool> set;
    std::vector<String> text;
    bool IsSet(size_t group) const { return group < set.size() && set[group]; }
};

class clsRegEx {
  public:
    enum Option : uint32_t {
        None = 0,
        Caseless = 1,  // (?i)
        DotAll = 2,    // (?s): "." also matches line breaks
        Ungreedy = 4,  // (?U): quantifiers are lazy unless followed by "?"
        Multiline = 8, // (?m): "^" and "$" at every line
        Extended = 16, // (?x): white space and # comments in the pattern are ignored
    };

    // Limits of one match attempt; hitting one is "no match".
    static constexpr uint32_t kMatchLimit = 10000000;
    static constexpr uint32_t kDepthLimit = 10000000;
    static constexpr uint32_t kHeapLimitKiB = 128 * 1024;

    clsRegEx() = default; // matches nothing until a pattern is assigned
    // Compiles; a bad pattern throws clsExcept (code -5) naming the error and its offset.
    explicit clsRegEx(std::u16string_view pattern, uint32_t options = None);
    // An 8-bit pattern in the given code page (0: the ANSI code page).
    explicit clsRegEx(std::string_view pattern, uint32_t options = None, uint32_t codepage = 0);
    ~clsRegEx();
    clsRegEx(clsRegEx &&other) noexcept;
    clsRegEx &operator=(clsRegEx &&other) noexcept;
    clsRegEx(const clsRegEx &) = delete;
    clsRegEx &operator=(const clsRegEx &) = delete;

    bool IsCompiled() const { return code_ != nullptr; }
    const WString &Pattern() const { return pattern_; }
    // Number of capture groups, not counting the whole match.
    uint32_t GroupCount() const;

    // Finds the first match that starts at or after offset (anchored: exactly
    // at offset). False for no match, an offset past the end, or a limit hit.
    bool Match(std::u16string_view subject, size_t offset, clsRegExMatch &match, bool anchored = false) const;
    bool IsMatch(std::u16string_view subject) const;
    // Every match from left to right; after an empty match the search goes on
    // one character further, so it always ends.
    std::vector<clsRegExMatch> MatchAll(std::u16string_view subject) const;

    // 8-bit subjects, converted with the code page (0: the ANSI code page).
    bool Match(std::string_view subject, clsRegExMatchA &match, uint32_t codepage = 0) const;
    bool IsMatch(std::string_view subject, uint32_t codepage = 0) const;
    std::vector<clsRegExMatchA> MatchAll(std::string_view subject, uint32_t codepage = 0) const;

  private:
    void Compile(std::u16string_view pattern, uint32_t options);
    // >0: matched; 0: no match (a limit or other failure already logged).
    int Run(std::u16string_view subject, size_t offset, uint32_t flags, clsRegExMatch &match) const;

    WString pattern_;
    pcre2_real_code_16 *code_ = nullptr;
    pcre2_real_match_context_16 *context_ = nullptr;
};

} // namespace kv
