#include <gtest/gtest.h>

#include "mime/header_field.h"

namespace kv {
namespace {

struct FieldCase {
    const char *text;
    const char *value;
    std::vector<std::pair<std::string, std::string>> parameters; // in name order
    uint32_t codepage = 0;                                       // of the decoded values
};

TEST(MailHeaderField, MainValueAndParameters) {
    const FieldCase cases[] = {
        {"text/plain", "text/plain", {}},
        {"  text/plain ;charset = \"utf-8\" ", "text/plain", {{"charset", "utf-8"}}},
        {"attachment; filename=\"a;b.txt\"; size=3", "attachment", {{"filename", "a;b.txt"}, {"size", "3"}}},
        // The first value of a name stays; names compare without regard to case.
        {"x; Name=one; NAME=two", "x", {{"Name", "one"}}},
        {"x;;  ; flag", "x", {{"flag", ""}}},
        {"; a=1", "", {{"a", "1"}}},
        {"\"quoted;main\"; a=1", "\"quoted;main\"", {{"a", "1"}}},
        // A name beginning with "*" is not a section.
        {"x; *odd=\"v\"", "x", {{"*odd", "v"}}},
        // Sections join in the order they stand, not by number.
        {"x; t*1=\"b\"; t*0=a", "x", {{"t", "ba"}}},
        {"x; name*=iso-8859-1''caf%E9", "x", {{"name", "caf\xC3\xA9"}}},
        {"x; name*=iso-8859-1''caf%E9", "x", {{"name", "caf\xE9"}}, 1252},
        {"x; n*0*=iso-8859-1''%E9; n*1*=%E9", "x", {{"n", "\xC3\xA9\xC3\xA9"}}},
        // A quoted extended value is decoded all the same; a quoted plain section stays literal.
        {"x; boundary*=\"us-ascii''a%20b\"", "x", {{"boundary", "a b"}}},
        {"x; t*0=\"a%20b\"", "x", {{"t", "a%20b"}}},
    };
    for (const FieldCase &c : cases) {
        clsHeaderField f = ParseHeaderField(c.text, c.codepage);
        EXPECT_EQ(f.value.str(), c.value) << c.text;
        std::vector<std::pair<std::string, std::string>> got(f.parameters.begin(), f.parameters.end());
        EXPECT_EQ(got, c.parameters) << c.text;
    }
    EXPECT_TRUE(SplitList(" , ,", ',').empty());
    // An unclosed quote runs to the end.
    EXPECT_EQ(SplitList("a, \"b, c", ','), (std::vector<String>{"a", "\"b, c"}));
}

} // namespace
} // namespace kv
