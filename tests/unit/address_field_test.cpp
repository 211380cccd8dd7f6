#include <gtest/gtest.h>

#include "mime/address_field.h"
#include "thrown.h"

using namespace kv;

namespace {

std::string Tokens(const clsParseList &items) {
    std::string out;
    for (const auto &item : items) out += (out.empty() ? "" : "|") + std::to_string(item.kind) + ":" + item.text;
    return out;
}

} // namespace

TEST(AddressField, TokensAndQueries) {
    const struct {
        const char *in, *tokens;
    } tokens[] = {
        {"Hans Mueller <hans@example.com>", "1:Hans|5: |1:Mueller|5: |4:<hans@example.com>"},
        {"hans@example", "1:hans@example"},
        {"hans@example.com (Hans)", "1:hans@example.com|5: |3:(Hans)"},
        {"\"Mueller, Hans\" <h@x.de>", "1:\"Mueller, Hans\"|5: |4:<h@x.de>"},
        {"a  \t b", "1:a|5: |1:b"},
        {"a\\<b\\ c", "1:a<b c"},
        {"ab\"c d\"e", "1:ab\"c d\"|1:e"},
        {"ab(c d)e", "3:ab(c d)|1:e"},
        {"x<a b>y", "1:x|4:<a b>|1:y"},
        {"<a (b) \"c>", "4:<a (b) \"c>"},
        // Quoted pairs inside quoted strings and comments keep the next character.
        {"\"Doe, \\\"J\\\"\" <j@x.org>", "1:\"Doe, \\\"J\\\"\"|5: |4:<j@x.org>"},
        {"(a \\) b) c@d.e", "3:(a \\) b)|5: |1:c@d.e"},
        // Open quotes, comments and angles stay pending; a bare address is looked for in them.
        {"<a@b.c", "4:a@b.c"},
        {"(a\"b c\"@x.y", "4:\"b c\"@x.y"},
        {"\"Hans <h@x.de", "4:h@x.de"},
        {"Hans <h@x.de", "1:Hans|5: |1:<h@x.de"},
        // A bare address needs a period in its domain and is the longest match.
        {"junk:a.b@c.d.e;more", "4:a.b@c.d.e"},
        {"a@b.c.", "4:a@b.c"},
        {"a@.b", "1:a@.b"},
        {"\"x y\"z@b.c", "1:\"x y\"|1:z@b.c"},
        // A control character voids everything before it.
        {"Name <a@b.c>\r\n", ""},
        {"x\x01 a@b.c", "1:x"},
        {"a@b.c\x7f", "4:a@b.c"},
        // Encoded words are decoded first.
        {"=?iso-8859-1?Q?M=FCller?= <m@x.de>", "1:M\xC3\xBCller|5: |4:<m@x.de>"},
    };
    for (const auto &c : tokens) EXPECT_EQ(Tokens(ParseAddressField(c.in)), c.tokens) << c.in;
    const struct {
        const char *in, *text, *address, *raw, *name;
        bool has;
    } cases[] = {
        {"Hans  Mueller <hans@example.com>", "Hans Mueller <hans@example.com>", "hans@example.com", "hans@example.com",
         "Hans Mueller", true},
        {"hans@example", "hans@example", "", "", "hans@example", false},
        {"hans@example.com (Hans)", "hans@example.com (Hans)", "", "", "hans@example.com (Hans)", false},
        {"<smtp:a@b.c>", "<smtp:a@b.c>", "a@b.c", "smtp:a@b.c", "a@b.c", true},
        {"X <SMTP::a@b.c>", "X <SMTP::a@b.c>", "a@b.c", "SMTP::a@b.c", "X", true},
        {"X <EX:::a@b.c>", "X <EX:::a@b.c>", ":a@b.c", "EX:::a@b.c", "X", true},
        {" <a@b.c> tail", " <a@b.c> tail", "a@b.c", "a@b.c", "a@b.c", true},
        {"\"Mueller, Hans\" <h@x.de>", "\"Mueller, Hans\" <h@x.de>", "h@x.de", "h@x.de", "\"Mueller, Hans\"", true},
    };
    for (const auto &c : cases) {
        clsParseList items = ParseAddressField(c.in);
        EXPECT_EQ(GetFieldText(items), c.text) << c.in;
        EXPECT_EQ(GetFieldAddress(items), c.address) << c.in;
        EXPECT_EQ(GetFieldAddress(items, true), c.raw) << c.in;
        EXPECT_EQ(GetFieldDisplayName(items), c.name) << c.in;
        EXPECT_EQ(HasFieldAddress(items), c.has) << c.in;
    }
}

TEST(AddressField, Encodes) {
    const std::string b73 = "=?iso-8859-1?B?" + std::string("6enp") + "6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6Q==?=";
    const struct {
        std::u16string in;
        std::string out;
    } cases[] = {
        {u"Hans M\u00fcller <hans@example.com>", "Hans =?iso-8859-1?Q?M=FCller?= <hans@example.com>"},
        {u"x <a@b.c> trailing words", "x <a@b.c>"},
        {u"\"M\u00fcller, Hans\" <h@x.de>", "\"=?iso-8859-1?Q?M=FCller,_Hans?=\" <h@x.de>"},
        // Folded before a piece that would pass 75 characters.
        {std::u16string(30, u'a') + u" " + std::u16string(30, u'b') + u" <x@example.com>",
         std::string(30, 'a') + " " + std::string(30, 'b') + " \r\n <x@example.com>"},
        // Between two encoded words the fold is invisible once decoded...
        {std::u16string(50, u'\u00e9') + u" <a@b.c>", b73 + "\r\n =?iso-8859-1?B?6enp6enp6enp6Q==?= <a@b.c>"},
        // ...inside a plain token it would put a blank into it, so it is not made.
        {std::u16string(30, u'n') + u" <" + std::u16string(50, u'x') + u"@example.com>",
         std::string(30, 'n') + " <" + std::string(50, 'x') + "@example.com>"},
    };
    for (const auto &c : cases) EXPECT_EQ(EncodeAddressField(c.in, "iso-8859-1"), c.out);
    // A piece ends before a surrogate pair, not inside it: the emoji comes back whole.
    const std::u16string name = std::u16string(39, u'\u00e9') + u"\U0001F600";
    String encoded = EncodeAddressField(name + u" <a@b.c>", "utf-8");
    EXPECT_EQ(Widen(GetFieldDisplayName(ParseAddressField(encoded, 65001)), 65001), name) << encoded;
    // A field without address is refused.
    for (const char16_t *in : {u"a@b", u"a@b.c (comment)", u"", u"Name <a@b.c>\r\n"}) {
        testsupport::Caught e = testsupport::Catch([&] { EncodeAddressField(in, "iso-8859-1"); });
        EXPECT_EQ(e.code, -5);
        EXPECT_EQ(e.Back(), "no address found in '" + Narrow(in) + "'");
    }
}
