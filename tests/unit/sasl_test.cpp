// The shared SASL engine against a recording channel, in the framings of
// SMTP, POP3 and IMAP: which mechanism, which lines, which of them secret.
#include <gtest/gtest.h>

#include <deque>

#include "providers/internet/sasl.h"
#include "runtime/except.h"
#include "thrown.h"

namespace kv {
namespace {

// Replies as the protocols classify them (their forms do not overlap): SMTP by
// code, POP3 by "+OK"/"-ERR"/"+", IMAP by the tagged status (the tag left out here) or "+".
SaslReplyKind Classify(const String &line) {
    for (const char *success : {"235", "+OK", "OK"})
        if (line.rfind(success, 0) == 0) return SaslReplyKind::Success;
    for (const char *failure : {"535", "-ERR", "NO"})
        if (line.rfind(failure, 0) == 0) return SaslReplyKind::Failure;
    return line.rfind("334", 0) == 0 || line[0] == '+' ? SaslReplyKind::Challenge : SaslReplyKind::Other;
}

class Recorder : public clsSaslChannel {
  public:
    explicit Recorder(std::deque<String> replies) : replies(std::move(replies)) {}
    clsSaslReply Exchange(const clsSaslLine &line) override {
        sent.push_back((line.command ? "C " : "  ") + line.text + (line.secrecy == Secrecy::Secret ? " [secret]" : ""));
        if (replies.empty()) throw clsExcept(-2, "no reply scripted");
        clsSaslReply r{Classify(replies.front()), replies.front()};
        replies.pop_front();
        uint32_t bit = r.kind == SaslReplyKind::Challenge ? uint32_t(kSaslExpectChallenge)
                       : r.kind == SaslReplyKind::Success ? uint32_t(kSaslExpectSuccess)
                       : r.kind == SaslReplyKind::Failure ? uint32_t(kSaslExpectFailure)
                                                          : 0u;
        if (line.strict && !(line.expect & bit)) throw clsExcept(-6, Format("unexpected reply '%s'", r.line.c_str()));
        return r;
    }
    std::vector<String> sent;
    std::deque<String> replies;
};

const char *const kCramChallenge = "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
const char *const kCramResponse = "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"; // RFC 2195's example
const char *const kPlain = "AHRpbQB0YW5zdGFhZnRhbnN0YWFm";
const char *const kXOAuth2 = "dXNlcj10aW0BYXV0aD1CZWFyZXIgdG9rAQE=";
const char *const kBearer = "bixhPXRpbSwBaG9zdD1teC5leGFtcGxlAXBvcnQ9MTQzAWF1dGg9QmVhcmVyIHRvawEB";

String S(const char *a, const char *b = "", const char *c = "") { return String(a) + b + c; }

TEST(Sasl, ExchangesInEachFraming) {
    const uint32_t all = kSaslPlain | kSaslLogin | kSaslCramMd5 | kSaslXOAuth2 | kSaslOAuthBearer;
    struct Case {
        const char *name;
        const clsSaslProtocol &protocol;
        uint32_t offered;
        bool token;
        std::deque<String> replies;
        std::vector<String> sent;
        SaslResult result;
        uint32_t mechanism;
        const char *error = ""; // thrown
    } cases[] = {
        // clang-format off
        {"SMTP: CRAM-MD5 refused, LOGIN follows", kSaslSmtp, kSaslCramMd5 | kSaslLogin | kSaslPlain, false,
         {S("334 ", kCramChallenge), "535 no", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok"},
         {"C AUTH CRAM-MD5", S("  ", kCramResponse, " [secret]"), "C AUTH LOGIN", "  dGlt [secret]",
          "  dGFuc3RhYWZ0YW5zdGFhZg== [secret]"},
         SaslResult::Success, kSaslLogin},
        {"SMTP: a refused LOGIN is not followed by PLAIN", kSaslSmtp, kSaslLogin | kSaslPlain, false,
         {"334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "535 no"},
         {"C AUTH LOGIN", "  dGlt [secret]", "  dGFuc3RhYWZ0YW5zdGFhZg== [secret]"}, SaslResult::Refused, kSaslLogin},
        {"SMTP: CRAM-MD5 refused, PLAIN with its initial response", kSaslSmtp, kSaslCramMd5 | kSaslPlain, false,
         {"334 PDw+", "535 no", "235 ok"},
         {"C AUTH CRAM-MD5", "  dGltIDJmNmQ0YmUyMjlhZWM4MTRiZDk2NzY1YTk4ODhkMzUy [secret]",
          S("C AUTH PLAIN ", kPlain, " [secret]")},
         SaslResult::Success, kSaslPlain},
        {"SMTP: CRAM-MD5 answered with another code ends it", kSaslSmtp, kSaslCramMd5 | kSaslLogin, false,
         {S("334 ", kCramChallenge), "454 later"}, {"C AUTH CRAM-MD5", S("  ", kCramResponse, " [secret]")},
         SaslResult::Unexpected, kSaslCramMd5},
        {"SMTP: OAUTHBEARER before XOAUTH2; an error challenge is answered with %x01", kSaslSmtp, all, true,
         {"334 eyJzdGF0dXMiOiI0MDEifQ==", "535 no"},
         {S("C AUTH OAUTHBEARER ", kBearer, " [secret]"), "  AQ=="}, SaslResult::Refused, kSaslOAuthBearer},
        {"SMTP: a token, no token mechanism, a password: PLAIN", kSaslSmtp, kSaslPlain, true, {"235 ok"},
         {S("C AUTH PLAIN ", kPlain, " [secret]")}, SaslResult::Success, kSaslPlain},
        {"POP3: XOAUTH2 waits for the server's go-ahead", kSaslPop3, kSaslXOAuth2, true, {"+ ", "+OK welcome"},
         {"C AUTH XOAUTH2", S("  ", kXOAuth2, " [secret]")}, SaslResult::Success, kSaslXOAuth2},
        {"POP3: refused before the token is sent", kSaslPop3, kSaslOAuthBearer, true, {"-ERR no"},
         {"C AUTH OAUTHBEARER"}, SaslResult::Refused, kSaslOAuthBearer},
        {"POP3: +OK to the bare command is no go-ahead", kSaslPop3, kSaslXOAuth2, true, {"+OK"},
         {"C AUTH XOAUTH2"}, SaslResult::Refused, kSaslXOAuth2},
        {"IMAP without SASL-IR: PLAIN after '+'", kSaslImap, kSaslPlain, false,
         {"+ ", "NO [AUTHENTICATIONFAILED] Authentication failed."},
         {"C AUTHENTICATE PLAIN", S("  ", kPlain, " [secret]")}, SaslResult::Refused, kSaslPlain},
        {"IMAP: CRAM-MD5's challenge after '+ '", kSaslImap, kSaslCramMd5, false, {S("+ ", kCramChallenge), "OK"},
         {"C AUTHENTICATE CRAM-MD5", S("  ", kCramResponse, " [secret]")}, SaslResult::Success, kSaslCramMd5},
        {"SMTP: a reply no step expects", kSaslSmtp, kSaslCramMd5, false, {"504 unknown"}, {"C AUTH CRAM-MD5"},
         SaslResult::NotOffered, 0, "unexpected reply '504 unknown'"},
        {"IMAP: BAD to a LOGIN step", kSaslImap, kSaslLogin, false, {"+ VXNlcm5hbWU6", "BAD what"},
         {"C AUTHENTICATE LOGIN", "  dGlt [secret]"}, SaslResult::NotOffered, 0, "unexpected reply 'BAD what'"},
        // clang-format on
    };
    for (const Case &c : cases) {
        Recorder channel(c.replies);
        clsSaslCredentials credentials{"tim", "tanstaaftanstaaf", c.token ? "tok" : "", "mx.example", 143};
        clsSaslOutcome outcome{};
        testsupport::Caught thrown =
            testsupport::Catch([&] { outcome = SaslAuthenticate(channel, c.protocol, c.offered, credentials); });
        EXPECT_EQ(thrown.thrown ? thrown.Back() : "", c.error) << c.name;
        EXPECT_EQ(channel.sent, c.sent) << c.name;
        EXPECT_EQ(outcome.result, c.result) << c.name;
        EXPECT_EQ(outcome.mechanism, c.mechanism) << c.name;
        EXPECT_EQ(outcome.reply, c.replies.empty() || *c.error ? String() : c.replies.back()) << c.name;
    }
}

TEST(Sasl, MechanismsFromCapabilityTextsAndLimits) {
    EXPECT_EQ(SaslMechanismsIn("login  PLAIN CRAM-md5\t GSSAPI xoauth2 OAUTHBEARER"),
              uint32_t(kSaslLogin | kSaslPlain | kSaslCramMd5 | kSaslXOAuth2 | kSaslOAuthBearer));
    EXPECT_EQ(SaslMechanismsIn("PLAINX CRAM-MD5-PLUS"), 0u);
    // PLAIN: 2000 bytes with its two zero bytes, not one more.
    for (size_t extra : {0, 1}) {
        Recorder channel({"235 ok"});
        clsSaslCredentials plain{"u", String(2000 - 3 + extra, 'p'), "", "", 0};
        if (extra) EXPECT_THROW(SaslExchange(channel, kSaslSmtp, kSaslPlain, plain), clsExcept);
        else EXPECT_EQ(SaslExchange(channel, kSaslSmtp, kSaslPlain, plain).result, SaslResult::Success);
    }
    // An IMAP initial response of 8192 encoded bytes goes with the command, a
    // longer one after the server's '+' (the XOAUTH2 message is the token and 23 bytes).
    clsSaslProtocol imapIr = kSaslImap;
    imapIr.initialResponse = true;
    for (auto [length, lines] : {std::pair<size_t, size_t>{6121, 1}, {6122, 2}}) {
        Recorder channel(lines == 1 ? std::deque<String>{"OK"} : std::deque<String>{"+ ", "OK"});
        clsSaslCredentials big{"tim", "", String(length, 't'), "", 0};
        EXPECT_EQ(SaslExchange(channel, imapIr, kSaslXOAuth2, big).result, SaslResult::Success) << length;
        EXPECT_EQ(channel.sent.size(), lines) << length;
    }
}

} // namespace
} // namespace kv
