#include <gtest/gtest.h>

#include <algorithm>

#include "log_lines.h"
#include "runtime/kvlog.h"
#include "runtime/regex.h"
#include "thrown.h"

using kv::clsRegEx;
using kv::clsRegExMatch;
using kv::clsRegExMatchA;

namespace {

TEST(RegEx, EachOptionChangesTheResult) {
    const std::u16string none = u"(no match)";
    const struct {
        const char16_t *pattern, *subject;
        uint32_t option;
        std::u16string without, with; // the whole match
    } cases[] = {
        {u"abc", u"xABCx", clsRegEx::Caseless, none, u"ABC"},
        {u"\u00e4\u00f6", u"\u00c4\u00d6", clsRegEx::Caseless, none, u"\u00c4\u00d6"},
        {u"a.b", u"a\nb", clsRegEx::DotAll, none, u"a\nb"},
        {u"a+", u"aaa", clsRegEx::Ungreedy, u"aaa", u"a"},
    };
    for (const auto &c : cases) {
        for (bool on : {false, true}) {
            clsRegExMatch m;
            bool found =
                clsRegEx(std::u16string_view(c.pattern), on ? c.option : clsRegEx::None).Match(c.subject, 0, m);
            EXPECT_EQ(found ? m.Text(0) : none, on ? c.with : c.without) << kv::Narrow(c.pattern) << " " << on;
        }
    }
}

TEST(RegEx, GroupsAndCharacters) {
    clsRegEx re(u"(a)|(b)()(x)?");
    clsRegExMatch m;
    ASSERT_TRUE(re.Match(u"b", 0, m));
    ASSERT_EQ(m.groups.size(), 5u) << "trailing unset groups are still listed";
    EXPECT_EQ(m.groups[3].start, 1u);
    EXPECT_FALSE(m.IsSet(9));
    EXPECT_EQ(m.Text(9), u"");
    // A character beyond the BMP is one character.
    EXPECT_TRUE(clsRegEx(u"^.$").IsMatch(u"\U0001F600"));
    // 8-bit text goes through the code page both ways.
    clsRegExMatchA a;
    ASSERT_TRUE(clsRegEx(u"gr(\u00fc)\u00dfe", clsRegEx::Caseless).Match(std::string_view("GR\xC3\x9C\xC3\x9F" "E"), a));
    EXPECT_EQ(a.text[1], "\xC3\x9C");
}

TEST(RegEx, MatchAllAdvancesPastEmptyMatches) {
    struct {
        const char16_t *pattern, *subject;
        std::vector<std::string> matches; // start:text
    } cases[] = {
        {u"\\d+", u"a1b22c333", {"1:1", "3:22", "6:333"}},
        {u"q", u"", {}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> matches;
        for (const auto &m : clsRegEx(std::u16string_view(c.pattern)).MatchAll(c.subject))
            matches.push_back(std::to_string(m.Start()) + ":" + kv::Narrow(m.Text(0)));
        EXPECT_EQ(matches, c.matches) << kv::Narrow(c.pattern);
    }
}

// Every pattern is the code's own: a bad one is a programming error, told with PCRE's text and offset.
TEST(RegEx, BadPatternThrowsRunawayBacktrackingIsNoMatch) {
    testsupport::Caught e = testsupport::Catch([] { clsRegEx re{std::u16string_view(u"x{2,1}")}; });
    EXPECT_EQ(e.code, -5);
    EXPECT_NE(e.Back().find("numbers out of order"), kv::String::npos) << e.Back();
    EXPECT_NE(e.Back().find("offset 5"), kv::String::npos) << e.Back();
    {
        testsupport::LogLines log(KVLOG_LEVEL_DETAILS);
        EXPECT_FALSE(clsRegEx(u"(a+)+$").IsMatch(std::u16string(40, u'a') + u"b"));
        EXPECT_TRUE(std::any_of(log.lines.begin(), log.lines.end(),
                                [](const std::string &line) { return line.find("match limit") != std::string::npos; }));
    }
    // The limit does not hurt ordinary work on long text.
    std::u16string longText(200000, u'x');
    longText += u"\r\n";
    EXPECT_TRUE(clsRegEx(u"^(?:x|y)*\\r\\n$").IsMatch(longText));
    EXPECT_TRUE(clsRegEx(u"^.*?\\r\\n").IsMatch(longText));
}

} // namespace
