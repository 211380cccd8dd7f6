#include "providers/internet/sasl.h"

#include "runtime/except.h"
#include "mime/base64.h"
#include "providers/internet/md5.h"
#include "pal/codepage.h"
#include "providers/internet/security_options.h"

namespace kv {

const clsSaslProtocol kSaslSmtp = {"AUTH", "334 ", true, 0, true};
// A POP3 command has at most 255 octets (RFC 5034): a token never fits.
const clsSaslProtocol kSaslPop3 = {"AUTH", "+ ", false, 0, false};
// Beyond this the response waits for the server's "+": lines this long are
// where servers begin to refuse.
const clsSaslProtocol kSaslImap = {"AUTHENTICATE", "+ ", false, 8192, true};

namespace {

struct Mechanism {
    uint32_t bit;
    const char *name;
    bool token; // uses the access token
    bool clear; // sends the password itself
};

// Strongest first.
const Mechanism kMechanisms[] = {
    {kSaslOAuthBearer, "OAUTHBEARER", true, false},
    {kSaslXOAuth2, "XOAUTH2", true, false},
    {kSaslCramMd5, "CRAM-MD5", false, false},
    {kSaslLogin, "LOGIN", false, true},
    {kSaslPlain, "PLAIN", false, true},
};

constexpr uint32_t kFinal = kSaslExpectSuccess | kSaslExpectFailure;
// What a PLAIN message may hold (the two zero bytes, user and password).
constexpr size_t kLongestPlain = 2000;

class Run {
  public:
    Run(clsSaslChannel &channel, const clsSaslProtocol &protocol, uint32_t mechanism)
        : channel_(channel), protocol_(protocol) {
        outcome_.mechanism = mechanism;
        command_ = String(protocol.command) + " " + SaslMechanismName(mechanism);
    }

    // A response: secret. `strict`: this step's unexpected replies are errors
    // where the protocol says so.
    const clsSaslReply &Send(const String &text, uint32_t expect, bool strict) {
        return Exchange({text, false, Secrecy::Secret, expect, strict});
    }
    // The command alone; the server's challenge comes back.
    bool Begin(bool strict) {
        const clsSaslReply &reply = Exchange({command_, true, Secrecy::Shown, kSaslExpectChallenge, strict});
        return reply.kind == SaslReplyKind::Challenge;
    }
    // A mechanism whose client speaks first: the response goes with the
    // command where the protocol allows it, else after the server's "go on".
    // False when the server refused before the response was sent.
    bool BeginWith(const String &response, uint32_t expect, bool strict) {
        size_t longest = protocol_.longestInitialResponse;
        if (protocol_.initialResponse && (longest == 0 || response.size() <= longest)) {
            String line = command_ + " " + (response.empty() ? String("=") : response);
            Exchange({line, true, Secrecy::Secret, expect, strict});
            return true;
        }
        if (!Begin(strict)) return false;
        Send(response, expect, strict);
        return true;
    }
    // The answer that lets a server end an exchange it failed: nothing secret in it.
    void Abort(const String &text) { Exchange({text, false, Secrecy::Shown, kFinal, false}); }
    SaslReplyKind Kind() const { return reply_.kind; }
    String Challenge() const {
        size_t skip = String(protocol_.continuation).size();
        return reply_.line.size() > skip ? DecodeBase64(std::string_view(reply_.line).substr(skip)) : String();
    }
    clsSaslOutcome Result(SaslResult result) {
        outcome_.result = result;
        return outcome_;
    }
    clsSaslOutcome Ended() { return Result(reply_.kind == SaslReplyKind::Success ? SaslResult::Success : SaslResult::Refused); }

  private:
    const clsSaslReply &Exchange(clsSaslLine line) {
        line.strict = line.strict && protocol_.strictReplies;
        reply_ = channel_.Exchange(line);
        outcome_.reply = reply_.line;
        return reply_;
    }

    clsSaslChannel &channel_;
    const clsSaslProtocol &protocol_;
    String command_;
    clsSaslReply reply_;
    clsSaslOutcome outcome_;
};

} // namespace

uint32_t SaslMechanismsIn(std::string_view names) {
    uint32_t found = 0;
    size_t at = 0;
    while (at < names.size()) {
        size_t end = names.find(' ', at);
        if (end == std::string_view::npos) end = names.size();
        std::string_view word = TrimView(names.substr(at, end - at));
        for (const Mechanism &m : kMechanisms)
            if (EqualsNoCase(word, m.name)) found |= m.bit;
        at = end + 1;
    }
    return found;
}

const char *SaslMechanismName(uint32_t mechanism) {
    for (const Mechanism &m : kMechanisms)
        if (m.bit == mechanism) return m.name;
    return "";
}

clsSaslOutcome SaslExchange(clsSaslChannel &channel, const clsSaslProtocol &protocol, uint32_t mechanism,
                            const clsSaslCredentials &credentials) {
    Run run(channel, protocol, mechanism);
    switch (mechanism) {
    case kSaslPlain: {
        String bytes;
        bytes.push_back('\0');
        bytes += credentials.user;
        bytes.push_back('\0');
        bytes += credentials.password;
        if (bytes.size() > kLongestPlain)
            throw clsExcept(kErrAuthRefused, "user name and password too long for AUTH PLAIN");
        if (!run.BeginWith(EncodeBase64(bytes.data(), bytes.size()), kFinal, true)) return run.Result(SaslResult::Refused);
        return run.Ended();
    }
    case kSaslLogin: {
        if (!run.Begin(true)) return run.Result(SaslResult::Refused);
        if (run.Send(EncodeBase64(credentials.user, pal::AnsiCodePage()), kSaslExpectChallenge, true).kind !=
            SaslReplyKind::Challenge)
            return run.Result(SaslResult::Refused);
        run.Send(EncodeBase64(credentials.password, pal::AnsiCodePage()), kFinal, true);
        return run.Ended();
    }
    case kSaslCramMd5: {
        if (!run.Begin(true)) return run.Result(SaslResult::Refused);
        String response = credentials.user + " " + HmacMd5Hex(credentials.password, run.Challenge());
        SaslReplyKind kind = run.Send(EncodeBase64(response, pal::AnsiCodePage()), kFinal, false).kind;
        if (kind == SaslReplyKind::Other) return run.Result(SaslResult::Unexpected);
        return run.Ended();
    }
    case kSaslXOAuth2:
    case kSaslOAuthBearer: {
        bool bearer = mechanism == kSaslOAuthBearer;
        String message = bearer ? OAuthBearerMessage(credentials.user, credentials.host, credentials.port, credentials.token)
                                : XOAuth2Message(credentials.user, credentials.token);
        if (!run.BeginWith(EncodeBase64(message.data(), message.size()), kSaslExpectChallenge | kFinal, false))
            return run.Result(SaslResult::Refused);
        if (run.Kind() == SaslReplyKind::Challenge) {
            // The server's error report; this answer lets it end the exchange.
            run.Abort(bearer ? kOAuthBearerAbort : "");
            return run.Result(SaslResult::Refused);
        }
        return run.Ended();
    }
    default: return run.Result(SaslResult::NotOffered);
    }
}

clsSaslOutcome SaslAuthenticate(clsSaslChannel &channel, const clsSaslProtocol &protocol, uint32_t offered,
                                const clsSaslCredentials &credentials) {
    if (!credentials.token.empty()) {
        uint32_t tokens = offered & (kSaslOAuthBearer | kSaslXOAuth2);
        if (tokens) {
            clsSaslOutcome outcome =
                SaslExchange(channel, protocol, (tokens & kSaslOAuthBearer) ? kSaslOAuthBearer : kSaslXOAuth2, credentials);
            if (outcome.result != SaslResult::Success) outcome.result = SaslResult::Refused;
            return outcome;
        }
        if (credentials.password.empty())
            throw clsExcept(kErrAuthRefused, "the server offers neither OAUTHBEARER nor XOAUTH2 for the access token");
    }
    clsSaslOutcome outcome;
    for (const Mechanism &m : kMechanisms) {
        if (m.token || !(offered & m.bit)) continue;
        outcome = SaslExchange(channel, protocol, m.bit, credentials);
        if (outcome.result != SaslResult::Refused || m.clear) return outcome;
    }
    return outcome;
}

} // namespace kv
