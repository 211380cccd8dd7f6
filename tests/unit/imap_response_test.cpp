// The IMAP response parser: its grammar and its bounds, each input fed whole
// and byte by byte, which must give the same responses.
#include <gtest/gtest.h>

#include "providers/imap/imap_response.h"

namespace kv {
namespace {

using namespace std::string_literals;

String Render(const clsImapValue &v) {
    switch (v.kind) {
    case clsImapValue::Kind::Atom: return v.text;
    case clsImapValue::Kind::Number: return "#" + std::to_string(v.number);
    case clsImapValue::Kind::Nil: return "NIL";
    case clsImapValue::Kind::String: return "\"" + PrintableText(v.text) + "\"";
    case clsImapValue::Kind::List: {
        String out = "(";
        for (const clsImapValue &item : v.items) out += (out.size() > 1 ? " " : "") + Render(item);
        return out + ")";
    }
    }
    return "?";
}

String Render(const clsImapResponse &r) {
    using K = clsImapResponse::Kind;
    if (r.kind == K::Continuation) return "+ " + r.text;
    if (r.kind == K::Broken) return "broken '" + r.tag + "': " + r.error;
    String out = r.kind == K::Tagged ? r.tag : "*";
    if (!r.status.empty()) {
        out += " " + r.status;
        if (!r.code.empty()) out += " [" + r.code + "|" + r.codeText + "]";
        return out + " " + r.text;
    }
    for (const clsImapValue &v : r.data) out += " " + Render(v);
    return out;
}

std::vector<String> Parse(const std::string &input, size_t chunk, uint64_t budget = clsImapParser::kDefaultLiteralBudget,
                          String *lost = nullptr) {
    clsImapParser parser;
    parser.SetLiteralBudget(budget);
    std::vector<String> out;
    size_t at = 0;
    while (at < input.size()) {
        size_t n = std::min(chunk, input.size() - at);
        size_t used = parser.Feed(input.data() + at, n);
        at += used;
        if (parser.Ready()) out.push_back(Render(parser.Take()));
        else if (parser.Lost()) break;
        else EXPECT_EQ(used, n) << "took less without a response";
    }
    if (lost) *lost = parser.LostReason();
    if (!parser.Idle() && !parser.Lost()) out.push_back("(incomplete)");
    return out;
}

// The grammar, and bounds that keep the stream in step.
TEST(ImapResponse, GrammarAndBounds) {
    const size_t longest = clsImapParser::kLongestText;
    struct Case {
        const char *name;
        std::string input;
        std::vector<String> responses;
        uint64_t budget = clsImapParser::kDefaultLiteralBudget;
    } cases[] = {
        {"tagged status with a code", "a1 OK [READ-WRITE] SELECT completed\r\n",
         {"a1 OK [READ-WRITE|] SELECT completed"}},
        {"a ']' inside the code's parentheses", "* NO [BADCHARSET (UTF-8 a]b)] bad\r\n",
         {"* NO [BADCHARSET|(UTF-8 a]b)] bad"}},
        {"status without text, lower case", "a2 no\r\n", {"a2 NO "}},
        {"unclosed code is text", "* BYE [ALERT going\r\n", {"* BYE [ALERT going"}},
        {"fetch with a literal in a list",
         "* 12 FETCH (UID 7 BODY[HEADER.FIELDS (A B)] {12}\r\nSubject: x\r\n FLAGS (\\Seen $X))\r\n",
         {"* #12 FETCH (UID #7 BODY[HEADER.FIELDS (A B)] \"Subject: x\\x0D\\x0A\" FLAGS (\\Seen $X))"}},
        {"literal forms: {n+}, ~{n}, {0}, a literal holding CR LF and braces",
         "* 1 FETCH (A {3+}\r\nabc B ~{2}\r\n\x00\xFF C {0}\r\n D {6}\r\n{1}\r\n\n)\r\n"s,
         {"* #1 FETCH (A \"abc\" B \"\\x00\xFF\" C \"\" D \"{1}\\x0D\\x0A\\x0A\")"}},
        {"quoted strings with escapes, NIL in any case", "* LIST (\\HasNoChildren) \"/\" \"a \\\"b\\\\c\" nil NIL\r\n",
         {"* LIST (\\HasNoChildren) \"/\" \"a \"b\\c\" NIL NIL"}},
        {"nested and empty lists", "* 1 FETCH (BODY ((\"TEXT\" NIL) ()) X ())\r\n",
         {"* #1 FETCH (BODY ((\"TEXT\" NIL) ()) X ())"}},
        {"numbers and what only looks like one", "* 18446744073709551615 18446744073709551616 0 007\r\n",
         {"* #18446744073709551615 18446744073709551616 #0 #7"}},
        {"continuation requests", "+ \r\n+\r\n+ YmFzZTY0\r\n+ {5}\r\n", {"+ ", "+ ", "+ YmFzZTY0", "+ {5}"}},
        {"bare LF ends a line", "* 1 EXISTS\na1 OK done\n", {"* #1 EXISTS", "a1 OK done"}},
        {"\"{5}\" ending a status text is text", "a1 NO too big {5}\r\na2 OK x\r\n", {"a1 NO too big {5}", "a2 OK x"}},
        {"\"{5}\" inside a quoted string is text", "* X \"ab {5}\"\r\n", {"* X \"ab {5}\""}},
        {"unclosed quote ending in {5}: no literal", "* X \"ab {5}\r\na1 OK\r\n",
         {"broken '*': quoted string not closed at byte 5 of line 1", "a1 OK "}},
        {"tagged without status", "a1 FETCH x\r\n", {"broken 'a1': a tagged response without OK, NO or BAD"}},
        {"nothing after the tag", "*\r\n", {"broken '*': nothing after the tag"}},
        {"no tag", " OK\r\n", {"broken '': a response without a tag"}},
        {"list not closed", "* (a (b)\r\n", {"broken '*': list not closed at byte 9 of line 1"}},
        {"')' alone", "* a)\r\n", {"broken '*': ')' without '(' at byte 4 of line 1"}},
        {"'[' without ']'", "* BODY[x\r\n", {"broken '*': '[' without ']' at byte 7 of line 1"}},
        {"a '{' that is no literal", "* {5} x\r\n", {"broken '*': '{' that does not begin a literal at byte 3 of line 1"}},
        {"a control character", "* a\x01\r\n", {"broken '*': unexpected character at byte 4 of line 1"}},
        {"lists 64 deep", "* " + std::string(64, '(') + std::string(64, ')') + "\r\n",
         {"* " + std::string(64, '(') + std::string(64, ')')}},
        {"lists 65 deep", "* " + std::string(65, '(') + std::string(65, ')') + "\r\n",
         {"broken '*': lists nested too deep at byte 67 of line 1"}},
        {"an incomplete response stays pending", "* 1 FETCH (A {5}\r\nab", {"(incomplete)"}},
        // The text limit counts the line ends: "* " + atom + CR LF.
        {"text at the limit", "* " + std::string(longest - 4, 'x') + "\r\n", {"* " + std::string(longest - 4, 'x')}},
        {"text over the limit, then the next response", "a7 OK " + std::string(longest, 'x') + "\r\n* 1 EXISTS\r\n",
         {"broken 'a7': response longer than 262144 bytes", "* #1 EXISTS"}},
        {"an oversized response's literal is read past",
         "* 1 FETCH (X " + std::string(longest, 'y') + " {4}\r\nab)\n TAIL)\r\na1 OK\r\n",
         {"broken '*': response longer than 262144 bytes", "a1 OK "}, 100},
        {"literals at the budget", "* 1 FETCH (A {4}\r\nabcd B {6}\r\nefghij)\r\n",
         {"* #1 FETCH (A \"abcd\" B \"efghij\")"}, 10},
        {"literals over the budget", "* 1 FETCH (A {4}\r\nabcd B {7}\r\nefghijk)\r\na1 OK\r\n",
         {"broken '*': a literal of 7 bytes, more than the 6 bytes allowed", "a1 OK "}, 10},
    };
    for (const Case &c : cases)
        for (size_t chunk : {c.input.size(), size_t(1), size_t(7)})
            EXPECT_EQ(Parse(c.input, chunk, c.budget), c.responses) << c.name << " in pieces of " << chunk;
    String lost;
    EXPECT_EQ(Parse("* 1 FETCH (A {99999999999999999999}\r\nx", 64, 100, &lost), std::vector<String>{});
    EXPECT_EQ(lost, "a literal longer than can be counted");
}

} // namespace
} // namespace kv
