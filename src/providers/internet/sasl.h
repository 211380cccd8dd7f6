// The SASL engine the internet providers share: one table of mechanisms
// (PLAIN, LOGIN, CRAM-MD5, XOAUTH2, OAUTHBEARER), one small table per
// protocol, and the choice of mechanism. The protocol supplies a channel
// that sends a line and classifies the reply; the engine decides what is
// sent and whether the trace may show it: every line it sends is secret
// unless it says otherwise.
#pragma once

#include <cstdint>
#include <string_view>

#include "net/socket.h"
#include "runtime/kvstring.h"

namespace kv {

enum SaslMechanism : uint32_t {
    kSaslPlain = 1,
    kSaslLogin = 2,
    kSaslCramMd5 = 4,
    kSaslXOAuth2 = 8,
    kSaslOAuthBearer = 16,
};

// The mechanisms named in a capability text ("LOGIN PLAIN CRAM-MD5"): names
// apart by blanks, compared without regard to case; unknown names are left out.
uint32_t SaslMechanismsIn(std::string_view names);
// "PLAIN", "CRAM-MD5", ...; "" for anything else.
const char *SaslMechanismName(uint32_t mechanism);

// How a protocol carries an exchange.
struct clsSaslProtocol {
    const char *command;           // "AUTH", "AUTHENTICATE"
    const char *continuation;      // what comes before a challenge: "334 ", "+ "
    bool initialResponse;          // the first response may go with the command
    size_t longestInitialResponse; // of the encoded response; 0: no limit
    // A reply that a step does not expect is an error the channel throws
    // (for the steps where the dialogue always made it one); otherwise it
    // ends the exchange as a refusal.
    bool strictReplies;
};
extern const clsSaslProtocol kSaslSmtp; // AUTH, "334 ", initial response without limit, strict
extern const clsSaslProtocol kSaslPop3; // AUTH, "+ ", no initial response, lenient
// AUTHENTICATE, "+ ", strict; the initial response only with SASL-IR, which
// the caller sets from the server's capabilities.
extern const clsSaslProtocol kSaslImap;

enum class SaslReplyKind { Challenge, Success, Failure, Other };
enum SaslExpect : uint32_t { kSaslExpectChallenge = 1, kSaslExpectSuccess = 2, kSaslExpectFailure = 4 };

struct clsSaslReply {
    SaslReplyKind kind = SaslReplyKind::Other;
    String line; // the reply line as the server sent it (a challenge with its marker)
};

// One line the engine sends, and what it takes back.
struct clsSaslLine {
    String text;
    bool command = false; // begins the exchange (IMAP puts its tag before it)
    // Every line is secret unless the engine says otherwise: the trace shows
    // "*****" instead of it.
    Secrecy secrecy = Secrecy::Secret;
    uint32_t expect = 0; // SaslExpect: the reply kinds this step takes
    // Any other reply is an error the channel throws (clsExcept); otherwise
    // it comes back as what it is.
    bool strict = false;
};

// The protocol's side of an exchange.
class clsSaslChannel {
  public:
    virtual ~clsSaslChannel() = default;
    // Sends the line with the secrecy it carries and reads the reply to it.
    virtual clsSaslReply Exchange(const clsSaslLine &line) = 0;
};

struct clsSaslCredentials {
    String user;
    String password;
    String token; // OAuth 2.0 access token; empty when none
    String host;  // for OAUTHBEARER
    uint16_t port = 0;
};

enum class SaslResult {
    Success,
    Refused,    // the server said no
    Unexpected, // a reply that no step expected (only where replies are not strict)
    NotOffered, // no mechanism for these credentials among those offered
};

struct clsSaslOutcome {
    SaslResult result = SaslResult::NotOffered;
    uint32_t mechanism = 0; // the last one tried
    String reply;           // the last reply line
};

// Logs on with what the server offers, strongest first. With a token: the
// token mechanisms only (OAUTHBEARER, then XOAUTH2), and a refusal ends it,
// for a password would not be what was asked; a token and neither offered
// without a password throws clsExcept (kErrAuthRefused). Otherwise CRAM-MD5, then LOGIN,
// then PLAIN, and after a mechanism that sent the password itself was
// refused no other is tried: the same password again would not help.
clsSaslOutcome SaslAuthenticate(clsSaslChannel &channel, const clsSaslProtocol &protocol, uint32_t offered,
                                const clsSaslCredentials &credentials);
// One mechanism's exchange.
clsSaslOutcome SaslExchange(clsSaslChannel &channel, const clsSaslProtocol &protocol, uint32_t mechanism,
                            const clsSaslCredentials &credentials);

} // namespace kv
