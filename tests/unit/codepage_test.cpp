#include <gtest/gtest.h>

#include "mime/charset_table.h"
#include "pal/codepage.h"

using kv::pal::FromWide;
using kv::pal::ToWide;

namespace {

// One code page of each family the charset table names that neither the
// platform contract nor KnownBytes (932, 936, 866, ...) converts already, with
// text it can carry: a wrong converter name would pass the text on as UTF-8.
TEST(CodePage, EachFamilyRoundTripsAndKnownBytes) {
    const struct {
        uint32_t codepage;
        const char16_t *text;
    } families[] = {
        {65000, u"A+B \u00e9 \U0001F600 ~"},
        {50225, u"\ud55c\uad6d\uc5b4 ABC"},
        {51932, u"\u65e5\u672c\u8a9e"},
    };
    for (const auto &row : families) {
        SCOPED_TRACE(row.codepage);
        // The table's name for the code page is a real row (not the fallback).
        EXPECT_NE(kv::CharsetForCodePage(row.codepage), "US_ASCII");
        std::string bytes = FromWide(row.text, row.codepage);
        EXPECT_EQ(ToWide(bytes, row.codepage), row.text) << bytes;
        EXPECT_NE(bytes, FromWide(row.text, 65001)) << "converted as UTF-8";
    }
    // Both ways unless the row says which way: unmappable characters become "?", truncated or invalid
    // input U+FFFD.
    enum Way { kBoth, kToBytes, kToText };
    const std::u16string lone{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    struct {
        uint32_t codepage;
        std::u16string text;
        std::string bytes;
        Way way = kBoth;
    } rows[] = {
        {20866, u"\u041f", "\xF0"},
        {1200, u"A\u00e9\U0001F600", std::string("A\0\xE9\0\x3D\xD8\x00\xDE", 8)},
        {1201, u"A\u00e9\U0001F600", std::string("\0A\0\xE9\xD8\x3D\xDE\x00", 8)},
        // No byte order mark is written or swallowed.
        {1200, u"\uFEFFA", std::string("\xFF\xFE" "A\0", 4)},
        {1201, u"\uFEFFA", std::string("\xFE\xFF\0A", 4)},
        {20106, u"\u00c4\u00df", "[~"},
        {932, u"\u65e5\uff76", "\x93\xFA\xB6"},
        {50220, u"\u65e5A", "\x1B$B\x46\x7C\x1B(BA"},
        {20105, u"caf\u00e9", "caf?", kToBytes},
        {866, u"\u041f\u20ac\u041f", "\x8F?\x8F", kToBytes},
        // A stateful encoding must leave its two-byte mode before the '?'.
        {50220, u"\u65e5\u20ac\u65e5", "\x1B$B\x46\x7C\x1B(B?\x1B$B\x46\x7C\x1B(B", kToBytes},
        {932, u"\uFFFD", "\x93", kToText},
        {932, u"\u65e5\uFFFD", "\x93\xFA\x93", kToText},
        {936, u"\u4e2d\uFFFD", "\xD6\xD0\xD6", kToText},
        {1200, u"A\uFFFD", std::string("A\0B", 3), kToText},
        // An invalid byte inside DBCS text costs only itself.
        {932, u"\u65e5\uFFFD\u65e5", "\x93\xFA\xFF\x93\xFA", kToText},
        // Invalid UTF-8 costs only itself; an overlong "/" stays unreadable.
        {65001, u"a\uFFFD(b", "a\xC3(b", kToText},
        {65001, u"\uFFFD\uFFFD/", "\xC0\xAF/", kToText},
        {65001, u"\uFFFD\uFFFD\uFFFD\uFFFD!", "\xF4\x90\x80\x80!", kToText}, // beyond U+10FFFF
        {65001, u"\U0001F600", "\xF0\x9F\x98\x80"},
        {65001, u"\uFEFFx", "\xEF\xBB\xBFx", kToText},
        // Truncated sequences, in the middle and at the end: what follows survives.
        {65001, u"\uFFFD\uFFFDx", "\xE2\x82x", kToText},
        {65001, u"\uFFFD\uFFFD\uFFFDx", "\xF0\x9F\x98x", kToText},
        {65001, u"\uFFFDx", "\xE2x", kToText},
        {65001, u"\uFFFD\uFFFD\uFFFDx", "\xED\xA0\x80x", kToText},
        {65001, u"\uFFFD\uFFFD\uFFFD", "\xF0\x9F\x98", kToText},
        // A lone surrogate is not text and never leaks out as CESU bytes; UTF-16 keeps it, and the alignment.
        {65001, lone, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD", kToBytes},
        {1252, lone, "a?b?", kToBytes},
        {1201, lone, std::string("\0a\xD8\0\0b\xDC\0", 8)},
        {65001, std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD", kToBytes},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.codepage);
        if (row.way != kToText) {
            EXPECT_EQ(FromWide(row.text, row.codepage), row.bytes);
        }
        if (row.way != kToBytes) {
            EXPECT_EQ(ToWide(row.bytes, row.codepage), row.text);
        }
    }
}

} // namespace
