// The IMAP response parser: bytes as they arrive in, whole responses out.
// It knows the response grammar (tags, status responses with their codes,
// continuation requests, atoms, numbers, quoted strings, literals, NIL and
// nested lists) and nothing of commands or mails. Memory stays bounded: the
// text of one response and its literals each have a limit, and a response
// that passes one is read to its end and handed out as Broken, so the
// responses after it are still understood.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "runtime/kvstring.h"

namespace kv {

struct clsImapValue {
    enum class Kind : uint8_t { Atom, Number, String, Nil, List };
    Kind kind = Kind::Atom;
    String text;                     // atom, the digits of a number, string contents
    std::vector<clsImapValue> items; // the members of a list
    uint64_t number = 0;

    // An atom equal to `word` without regard to case.
    bool Is(std::string_view word) const { return kind == Kind::Atom && EqualsNoCase(text, word); }
};

struct clsImapResponse {
    enum class Kind : uint8_t { Untagged, Tagged, Continuation, Broken };
    Kind kind = Kind::Broken;
    String tag;    // Tagged; for Broken the first word when there was one
    String status; // OK, NO, BAD, BYE or PREAUTH in upper case; empty for data responses
    String code;   // the response code's name in upper case ("UIDVALIDITY"); empty when none
    String codeText; // what follows the code's name inside its brackets
    String text;     // human-readable text (status responses, continuation requests)
    std::vector<clsImapValue> data; // untagged data after "*": "3 EXISTS" is {3, EXISTS}
    String error;   // Broken: what was wrong
    String line;    // the first line (without its line end), for error texts
};

class clsImapParser {
  public:
    // Text of one response (its lines, not its literals).
    static constexpr size_t kLongestText = 256 * 1024;
    // Literal bytes of one response unless the caller allows more.
    static constexpr uint64_t kDefaultLiteralBudget = 16u << 20;

    // Literal bytes one response may hold; applies from the next response on.
    void SetLiteralBudget(uint64_t bytes) { nextBudget_ = bytes; }
    // Sees every line as it completes, and the literal bytes as they arrive (for the trace).
    void SetObserver(std::function<void(std::string_view bytes, bool literal)> observer) {
        observer_ = std::move(observer);
    }

    // Takes bytes up to the end of the next complete response; returns how
    // many it took. Takes nothing while a response is Ready or the stream is Lost.
    size_t Feed(const char *data, size_t size);
    bool Ready() const { return ready_; }
    clsImapResponse Take();
    // Between responses: nothing of a next one has arrived.
    bool Idle() const { return !ready_ && !started_; }
    // A literal length that cannot be followed: the responses after it cannot be found.
    bool Lost() const { return !lost_.empty(); }
    const String &LostReason() const { return lost_; }

  private:
    struct Segment {
        String text;
        bool hasLiteral = false;
        String literal;
    };
    void TakeLineBytes(const char *data, size_t size);
    void EndLine();
    void Finish();
    void Skip(String reason);

    std::function<void(std::string_view, bool)> observer_;
    std::vector<Segment> segments_;
    String line_;
    String head_;       // the first bytes of the response's first line
    String tail_;       // the last bytes of the current line (found even while skipping)
    uint64_t budget_ = kDefaultLiteralBudget;
    uint64_t nextBudget_ = kDefaultLiteralBudget;
    size_t textUsed_ = 0;
    uint64_t literalUsed_ = 0;
    uint64_t literalLeft_ = 0;
    bool inLiteral_ = false;
    bool started_ = false;
    bool firstLine_ = true;
    bool literalsAllowed_ = true;
    bool inQuote_ = false;
    bool escaped_ = false;
    bool skipping_ = false;
    String skipReason_;
    bool ready_ = false;
    clsImapResponse response_;
    String lost_;
};

// Bytes of a server's text as a trace or error text shows them: control
// characters as \xNN, cut after `longest` bytes.
String PrintableText(std::string_view text, size_t longest = 1000);

} // namespace kv
