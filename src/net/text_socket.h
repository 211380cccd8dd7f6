// Line protocols over clsSocket: send a command line, collect the reply lines,
// check them, and keep receiving until the protocol says the reply is complete.
#pragma once

#include <initializer_list>
#include <memory>
#include <vector>

#include "net/socket.h"
#include "runtime/memory_block.h"

namespace kv {

class clsTextSocket : public clsSocket {
  public:
    virtual int CheckReplyLine(const String &line) = 0;
    virtual bool SocketIsResponseComplete() = 0;
    virtual void AddReplyLine(String line) { replyLines_.push_back(std::move(line)); }
    // Sends the command (with CR LF) unless it is empty and `force` is not set,
    // reads the reply, checks its first line, and with `wait` reads on until complete.
    virtual int SocketQuery(const String &command, bool wait, bool force, Secrecy secrecy = Secrecy::Shown);

    // The next query's reply is message data of at most this many lines and
    // bytes. Any other reply is a command reply: small, and within the timeout
    // as a whole.
    void ExpectData(size_t maxLines, size_t maxBytes) {
        dataLines_ = maxLines;
        dataBytes_ = maxBytes;
        data_ = true;
    }

    const std::vector<String> &ReplyLines() const { return replyLines_; }
    // Hands the reply lines over without copying them; the list is left empty.
    std::vector<String> TakeReplyLines() {
        std::vector<String> lines;
        lines.swap(replyLines_);
        return lines;
    }
    // Whether bytes after the last reply have arrived and wait unread.
    bool HasUnreadReply() const { return end_ != begin_; }
    // Refuses to start while reply bytes wait unread: the server sent them in
    // clear, and they must not pass for protected ones.
    void StartTls(const pal::TlsOptions &options) override;

  protected:
    // The buffer goes too: a long reply may have grown it far.
    void OnClosed() override {
        buffer_.reset();
        capacity_ = begin_ = end_ = scanFrom_ = 0;
    }
    // Reads the rest of a reply whose first line was refused, so that it does
    // not pass for the next one.
    virtual void SkipRefusedReply() {}
    // The next line of the reply, received as needed and within its bounds.
    void NextLine();
    std::vector<String> replyLines_;

  private:
    void Receive();
    // Moves the next complete line into the reply; false when none has arrived.
    bool CutLine();
    [[noreturn]] void TooLong(const char *format, size_t limit);

    // Received bytes not yet split into lines: buffer_[begin_, end_). Lines
    // are cut out in place; the rest moves to the front only when room runs out.
    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0;
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t scanFrom_ = 0; // no LF before this point
    // The current reply's size and bounds.
    size_t replyBytes_ = 0;
    size_t maxLines_ = 0;
    size_t maxBytes_ = 0;
    bool data_ = false;
    size_t dataLines_ = 0;
    size_t dataBytes_ = 0;
};

// The SMTP reply codes (RFC 5321, 4954) that the dialogue names. An allowed
// code of one digit takes its whole class: kSmtpPositive is 200 to 299.
enum SmtpReply : int32_t {
    kSmtpPositive = 2,
    kSmtpPermanentFailure = 5,
    kSmtpReady = 220,
    kSmtpClosing = 221,
    kSmtpAuthenticated = 235,
    kSmtpOk = 250,
    kSmtpChallenge = 334,
    kSmtpStartData = 354,
    kSmtpUnknownCommand = 500,
    kSmtpAuthFailed = 535,
};

// The class of a reply code: 2 for 250.
constexpr int32_t SmtpClassOf(int32_t code) { return code / 100; }

class clsSMTPSocket : public clsTextSocket {
  public:
    int CheckReplyLine(const String &line) override;
    bool SocketIsResponseComplete() override;
    using clsTextSocket::SocketQuery;
    int SocketQuery(const String &command, std::initializer_list<int32_t> allowed, Secrecy secrecy = Secrecy::Shown);
    int SocketQuery(const String &command, const std::vector<int32_t> &allowed, Secrecy secrecy = Secrecy::Shown);
    int SocketQueryWithUnexpected(const String &command, std::initializer_list<int32_t> allowed,
                                  Secrecy secrecy = Secrecy::Shown);
    int SocketQueryWithUnexpected(const String &command, const std::vector<int32_t> &allowed,
                                  Secrecy secrecy = Secrecy::Shown);
    int SocketWaitReply(std::initializer_list<int32_t> allowed);
    int32_t LastReplyCode() const { return lastReplyCode_; }

  protected:
    void SkipRefusedReply() override;

  private:
    // `unexpectedReturns`: an unexpected reply returns -6 instead of throwing.
    int Query(const String &command, bool unexpectedReturns, Secrecy secrecy);
    static int32_t CodeOf(const String &line);
    bool Allowed(int32_t code) const;

    std::vector<int32_t> allowed_;
    int32_t lastReplyCode_ = 0;
};

// A message text received into one block, each line ended by CR LF: it grows
// by realloc, which moves a large block without copying it.
struct clsReceivedText {
    clsMemoryBlock data;
    size_t size = 0;
    size_t capacity = 0;
    void Append(const char *bytes, size_t n);
    std::string_view View() const { return {data.get(), size}; }
};

// How a POP3 reply line begins, compared without regard to case: "+OK",
// "-ERR", or a SASL continuation ("+" alone, or "+ " and a challenge).
enum class Pop3Status { Ok, Error, Continuation, Other };
Pop3Status Pop3StatusOf(std::string_view line);

class clsPOP3Socket : public clsTextSocket {
  public:
    int CheckReplyLine(const String &line) override;
    bool SocketIsResponseComplete() override;
    int SocketQuerySingle(const String &command);
    int SocketQueryMulti(const String &command);
    // The reply to a command already sent (pipelined): one line, or a listing.
    int ReadSingle() { return SocketQuery(String(), false, false); }
    int ReadMulti() { return SocketQuery(String(), true, false); }
    // A listing whose lines go, unstuffed, onto `text` instead of into the
    // reply lines, which keep the status line; without a command, the reply
    // to one already sent.
    int SocketQueryText(const String &command, clsReceivedText &text);
    // One step of a dialogue where "-ERR" and a "+ " continuation are answers,
    // not failures: the caller reads the first reply line.
    int SocketQueryStep(const String &command, Secrecy secrecy = Secrecy::Shown);

  protected:
    void AddReplyLine(String line) override;

  private:
    bool stepping_ = false;
    clsReceivedText *text_ = nullptr;
};

} // namespace kv
