// Encoded words, header text encoders, parameter values and percent escapes.
// The ANSI code page here is 65001, so decoded text comes out as UTF-8.
#include <gtest/gtest.h>

#include "runtime/except.h"
#include "mime/header_words.h"

using namespace kv;

TEST(HeaderWords, DecodesAndEncodesWords) {
    const struct {
        const char *in, *out;
    } decoded[] = {
        {"=?iso-8859-1?Q?Gr=FC=DFe?=", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"=?utf-8?B?w6k=?=", "\xC3\xA9"},
        // RFC 2047 makes the encoding letter case-insensitive.
        {"=?iso-8859-1?q?x?=", "x"},
        // Blanks between two words go; one character split between two words of a charset stays whole.
        {"a =?utf-8?Q?x?= =?utf-8?Q?y?= b", "a xy b"},
        {"=?UTF-8?B?4oI=?=\r\n =?UTF-8?B?rA==?= =?iso-8859-1?Q?=E9?=\t=?utf-8?Q?x?= y", "\xE2\x82\xAC\xC3\xA9x y"},
        {"=?iso-8859-1*de?Q?a_b?=", "a b"},
        {"=?no-such-charset?Q?=41?=", "A"},
        {"=?utf-8?Q?a=0D=0Ab?=", "a  b"},
        {"=?utf-8?Q?a?b?=", "a?b"},
        {"==?utf-8?Q?a?=", "=a"},
        {"=?utf-8?Q?=4?=", ""},
        {"=?utf-8?Q?=4a=4?=", "J"},
        // Not words: the text stays.
        {"=??Q?a?=", "=??Q?a?="},
        {"=?utf-8?X?a?=", "=?utf-8?X?a?="},
        {"=?utf-8?Q?a\nb?=", "=?utf-8?Q?a\nb?="},
        {"=?a?Q?x?= y ?=", "x y ?="},
    };
    for (const auto &c : decoded) EXPECT_EQ(DecodeEncodedWords(c.in), c.out) << c.in;
    // Into another code page, and as wide text.
    EXPECT_EQ(DecodeEncodedWords("x=?utf-8?B?w6k=?=", 1252), "x\xE9");
    EXPECT_EQ(DecodeEncodedWords(u"Gr=?iso-8859-1?Q?=FC?=n"), u"Gr\u00fcn");
    EXPECT_EQ(DecodeEncodedWords(u"=?utf-8?q?=E2=82?= =?utf-8?q?=AC?= \u00e9"), u"\u20ac \u00e9");
    const std::u16string a40(40, u'a'), a45(45, u'a');
    const std::string n40(40, 'a'), n45(45, 'a');
    const struct {
        std::u16string in;
        std::string out;
    } cases[] = {
        {u"Gr\u00fc\u00dfe", "=?iso-8859-1?B?R3L832U=?="},
        {u"Caf\u00e9 au lait", "=?iso-8859-1?Q?Caf=E9_au_lait?="},
        // Chunks end at the first blank from the 40th character on.
        {a45 + u" b c", n45 + "\r\n b c"},
        {a40 + u" x", n40 + "\r\n x"},
        {std::u16string(39, u'a') + u" " + std::u16string(10, u'b'), std::string(39, 'a') + " " + std::string(10, 'b')},
        {a40 + u" Caf\u00e9", n40 + "\r\n =?iso-8859-1?Q?Caf=E9?="},
        // Between two encoded words the blank goes inside the second one.
        {u"\u00e9" + a40 + u" Caf\u00e9 x", "=?iso-8859-1?Q?=E9" + n40 + "?=\r\n =?iso-8859-1?Q?_Caf=E9_x?="},
        {u"\u00e9" + a40 + u" x", "=?iso-8859-1?Q?=E9" + n40 + "?=\r\n x"},
        // Quotes and parentheses stay around the word; angle addresses stay as they are.
        {u"\u00e9=?_", "=?iso-8859-1?Q?=E9=3D=3F=5F?="},
        {u"\"Caf\u00e9s\"", "\"=?iso-8859-1?Q?Caf=E9s?=\""},
        {u"(Caf\u00e9s)", "(=?iso-8859-1?Q?Caf=E9s?=)"},
        {u"<\u00e9>", "<\xE9>"},
    };
    for (const auto &c : cases) EXPECT_EQ(EncodeHeaderText(c.in, "iso-8859-1"), c.out);
}

TEST(HeaderWords, DecodesParameterValues) {
    const struct {
        const char *in;
        bool extended;
        uint32_t codepageIn;
        const char *out;
        uint32_t codepageOut;
    } cases[] = {
        {"iso-8859-1'en'%E9t%E9", true, 0, "\xC3\xA9t\xC3\xA9", 1252},
        {"utf-8''%C3%A9", true, 1252, "\xC3\xA9", 65001},
        {"''%E9", true, 1252, "\xC3\xA9", 1252},        // no charset: the one carried over
        {"'en'abc", true, 1252, "abc", 0},              // a language alone: the ANSI code page
        {"no-quote'x", true, 1252, "no-quote'x", 1252}, // not an extended value
        {"\"a b\"", false, 0, "a b", 0},
        {"a%20b", false, 0, "a b", 0},
        {"%E9", false, 1252, "\xC3\xA9", 1252},
        {"iso-8859-1'en'%E9", false, 0, "iso-8859-1'en'\xE9", 0},
        {"us-ascii'en.x'a%20b", true, 1252, "us-ascii'en.x'a b", 1252}, // a language has no period
        {"ANSI_X3.4-1968''a%20b.txt", true, 1252, "a b.txt", 65001},    // a charset may have one
    };
    for (const auto &c : cases) {
        uint32_t cp = c.codepageIn;
        EXPECT_EQ(DecodeParameterValue(c.in, c.extended, cp), c.out) << c.in;
        EXPECT_EQ(cp, c.codepageOut) << c.in;
    }
    EXPECT_EQ(DecodePercentText("a%41%4a%4", 0), "aAJ");
    EXPECT_EQ(DecodePercentText("%FC", 28591), "\xC3\xBC");
}
