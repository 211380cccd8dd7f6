#include "net/text_socket.h"

#include <algorithm>
#include <cstring>

#include "runtime/except.h"
#include "runtime/kvlog.h"

namespace kv {

namespace {
// Room for one receive: a whole POP3 message or DATA reply burst arrives in
// few calls instead of one per 512 bytes.
constexpr size_t kReceiveBlock = 64 * 1024;
// A server that never ends its line must not take all memory.
constexpr size_t kLongestLine = 64 * 1024 * 1024;
// A command reply is a greeting, an EHLO or CAPA list, a status line.
constexpr size_t kCommandReplyLines = 512;
constexpr size_t kCommandReplyBytes = 64 * 1024;
} // namespace

void clsTextSocket::Receive() {
    if (capacity_ - end_ < kReceiveBlock + 1) {
        size_t kept = end_ - begin_;
        if (begin_ > 0) {
            std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
            scanFrom_ -= begin_;
            begin_ = 0;
            end_ = kept;
        }
        if (capacity_ - end_ < kReceiveBlock + 1) {
            // A line longer than the buffer: it grows, by half at least, so a
            // long line costs amortised linear time.
            if (end_ > kLongestLine) {
                Disconnect();
                throw clsExcept(kErrSocket, Format("reply line longer than %u bytes", unsigned(kLongestLine)));
            }
            size_t grown = std::max(capacity_ + capacity_ / 2, end_ + kReceiveBlock + 1);
            std::unique_ptr<char[]> bigger(new char[grown]);
            if (end_) std::memcpy(bigger.get(), buffer_.get(), end_);
            buffer_ = std::move(bigger);
            capacity_ = grown;
        }
    }
    size_t length = capacity_ - end_ - 1;
    // Whatever one receive brings: waiting for a line end inside SocketRecv
    // would fail a line longer than the room left as a lost connection.
    int rc = SocketRecv(buffer_.get() + end_, length, false);
    if (rc != 0) throw clsExcept(rc, Format("SocketRecv() failed, code %d", rc));
    end_ += length;
}

// Only an LF ends a line (with a CR before it dropped); a CR elsewhere stays
// in its line, and a CR at the end waits for what follows like any other byte.
bool clsTextSocket::CutLine() {
    if (scanFrom_ >= end_) return false;
    char *data = buffer_.get();
    const char *lf = static_cast<const char *>(std::memchr(data + scanFrom_, '\n', end_ - scanFrom_));
    if (!lf) {
        scanFrom_ = end_;
        return false;
    }
    size_t next = size_t(lf - data) + 1;
    size_t stop = next - 1;
    if (stop > begin_ && data[stop - 1] == '\r') --stop;
    String line(data + begin_, stop - begin_);
    replyBytes_ += next - begin_;
    begin_ = scanFrom_ = next;
    if (begin_ == end_) begin_ = end_ = scanFrom_ = 0;
    LogWriteF(kLogProtocol, "<-[%d]'%hs'", int(replyLines_.size() + 1), line.c_str());
    AddReplyLine(std::move(line));
    return true;
}

void clsTextSocket::TooLong(const char *format, size_t limit) {
    // The rest of the reply would pass for the next one.
    Disconnect();
    throw clsExcept(kErrSocket, Format(format, (unsigned long long)limit));
}

// Lines after the end of a reply stay in the buffer for the next one.
void clsTextSocket::NextLine() {
    while (!CutLine()) {
        if (replyBytes_ + (end_ - begin_) > maxBytes_) TooLong("reply longer than %llu bytes", maxBytes_);
        Receive();
    }
    if (replyBytes_ > maxBytes_) TooLong("reply longer than %llu bytes", maxBytes_);
    if (replyLines_.size() > maxLines_) TooLong("reply longer than %llu lines", maxLines_);
}

int clsTextSocket::SocketQuery(const String &command, bool wait, bool force, Secrecy secrecy) {
    bool data = data_;
    data_ = false;
    maxLines_ = data ? dataLines_ : kCommandReplyLines;
    maxBytes_ = data ? dataBytes_ : kCommandReplyBytes;
    replyBytes_ = 0;
    try {
        replyLines_.clear();
        if (force || !command.empty()) {
            // A line break inside a command would smuggle in a second command.
            if (command.find_first_of("\r\n") != String::npos)
                throw clsExcept(kErrGeneral, "command refused: it contains a line break");
            int rc = secrecy == Secrecy::Secret ? SocketSendSecret(command + "\r\n") : SocketSend(command + "\r\n");
            if (rc != 0) return rc;
        }
        // Message data may take as long as it takes while it keeps coming.
        struct Deadline {
            clsSocket *socket;
            ~Deadline() {
                if (socket) socket->EndReplyDeadline();
            }
        } deadline{data ? nullptr : this};
        if (!data) StartReplyDeadline();
        NextLine();
        if (CheckReplyLine(replyLines_.front()) < 0) {
            clsExcept refused(kErrUnexpectedReply, Format("unexpected reply '%s'", replyLines_.front().c_str()));
            if (wait) SkipRefusedReply();
            throw refused;
        }
        if (wait)
            while (!SocketIsResponseComplete()) NextLine();
        return 0;
    } catch (clsExcept &e) {
        e.Push("[clsTextSocket::SocketQuery]");
        throw;
    }
}

void clsTextSocket::StartTls(const pal::TlsOptions &options) {
    if (end_ != begin_) {
        Disconnect();
        throw clsExcept(kErrSocket, "TLS not started: the server sent more than its reply before the handshake");
    }
    begin_ = end_ = scanFrom_ = 0;
    replyLines_.clear();
    clsSocket::StartTls(options);
}

namespace {
// Digits and a blank end an SMTP reply, and so do digits alone: the text after
// the code is optional (RFC 5321).
bool IsFinalLine(const String &line) {
    size_t i = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    return i > 0 && (i == line.size() || line[i] == ' ');
}

// Digits and a hyphen: more lines of the same reply follow.
bool IsContinuation(const String &line) {
    size_t i = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    return i > 0 && i < line.size() && line[i] == '-';
}
} // namespace

int32_t clsSMTPSocket::CodeOf(const String &line) {
    size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    int32_t code = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && code < 100000000) code = code * 10 + (line[i++] - '0');
    return code;
}

bool clsSMTPSocket::Allowed(int32_t code) const {
    for (int32_t a : allowed_)
        if (a < 10 ? SmtpClassOf(code) == a : a == code) return true;
    return false;
}

int clsSMTPSocket::CheckReplyLine(const String &line) {
    if (line.size() < 3) return kErrUnexpectedReply;
    return Allowed(CodeOf(line)) ? 0 : kErrRejectedReply;
}

void clsSMTPSocket::SkipRefusedReply() {
    try {
        while (IsContinuation(replyLines_.back())) NextLine();
    } catch (const clsExcept &) {
        // The refusal is what the caller needs to hear; the connection is gone.
    }
}

// Asked once for every line that arrives: only the newest can be the first
// final one, so each line is tested once.
bool clsSMTPSocket::SocketIsResponseComplete() {
    LogWrite(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete");
    lastReplyCode_ = 0;
    if (replyLines_.empty()) return false;
    const String *final = &replyLines_.back();
    LogWriteF(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete: test '%s'", final->c_str());
    if (!IsFinalLine(*final)) {
        LogWrite(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete: RegEx does not match");
        return false;
    }
    lastReplyCode_ = CodeOf(*final);
    LogWriteF(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete: RegEx matches, code=%d", int(lastReplyCode_));
    if (!Allowed(lastReplyCode_)) throw clsExcept(kErrUnexpectedReply, Format("unexpected reply '%s'", final->c_str()));
    LogWrite(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete: response is in allowed list -> OK");
    return true;
}

int clsSMTPSocket::Query(const String &command, bool unexpectedReturns, Secrecy secrecy) {
    try {
        return clsTextSocket::SocketQuery(command, true, true, secrecy);
    } catch (clsExcept &e) {
        if (unexpectedReturns && e.Code() == kErrUnexpectedReply) return kErrUnexpectedReply;
        e.Push(unexpectedReturns ? "[clsSMTPSocket::SocketQueryWithUnexpected]" : "[clsSMTPSocket::SocketQuery]");
        throw;
    }
}

int clsSMTPSocket::SocketQuery(const String &command, std::initializer_list<int32_t> allowed, Secrecy secrecy) {
    allowed_.assign(allowed);
    return Query(command, false, secrecy);
}

int clsSMTPSocket::SocketQuery(const String &command, const std::vector<int32_t> &allowed, Secrecy secrecy) {
    allowed_ = allowed;
    return Query(command, false, secrecy);
}

int clsSMTPSocket::SocketQueryWithUnexpected(const String &command, std::initializer_list<int32_t> allowed,
                                             Secrecy secrecy) {
    allowed_.assign(allowed);
    return Query(command, true, secrecy);
}

int clsSMTPSocket::SocketQueryWithUnexpected(const String &command, const std::vector<int32_t> &allowed,
                                             Secrecy secrecy) {
    allowed_ = allowed;
    return Query(command, true, secrecy);
}

int clsSMTPSocket::SocketWaitReply(std::initializer_list<int32_t> allowed) {
    allowed_.assign(allowed);
    try {
        return clsTextSocket::SocketQuery(String(), true, false);
    } catch (clsExcept &e) {
        if (e.Code() == kErrUnexpectedReply) return kErrUnexpectedReply;
        e.Push("[clsSMTPSocket::SocketWaitReply]");
        throw;
    }
}

Pop3Status Pop3StatusOf(std::string_view line) {
    if (StartsWithNoCase(line, "+OK")) return Pop3Status::Ok;
    if (StartsWithNoCase(line, "-ERR")) return Pop3Status::Error;
    if (line == "+" || StartsWithNoCase(line, "+ ")) return Pop3Status::Continuation;
    return Pop3Status::Other;
}

int clsPOP3Socket::CheckReplyLine(const String &line) {
    switch (Pop3StatusOf(line)) {
    case Pop3Status::Ok: return 0;
    case Pop3Status::Error: return stepping_ ? 0 : kErrRejectedReply;
    case Pop3Status::Continuation:
        if (stepping_) return 0;
        break;
    case Pop3Status::Other: break;
    }
    throw clsExcept(kErrUnexpectedReply, Format("Server response '%s' unexpected from a POP3 server", line.c_str()));
}

bool clsPOP3Socket::SocketIsResponseComplete() {
    // Asked for every line: the cheap test first.
    if (replyLines_.size() < 2 || replyLines_.back().size() != 1 || replyLines_.back()[0] != '.') return false;
    if (CheckReplyLine(replyLines_.front()) != 0) return false;
    replyLines_.pop_back();
    // Data lines arrive dot-stuffed; one leading period is the server's, not the mail's.
    for (size_t i = 1; i < replyLines_.size(); ++i)
        if (!replyLines_[i].empty() && replyLines_[i][0] == '.') replyLines_[i].erase(0, 1);
    return true;
}

void clsReceivedText::Append(const char *bytes, size_t n) {
    if (n == 0) return; // an empty line's bytes, before any block exists
    if (size + n > capacity) {
        size_t grown = std::max({capacity * 2, size + n, size_t(64 * 1024)});
        ResizeBlock(data, grown);
        capacity = grown;
    }
    std::memcpy(data.get() + size, bytes, n);
    size += n;
}

// The status line and the newest line stay: the newest may be the end. The
// one before it is message text.
void clsPOP3Socket::AddReplyLine(String line) {
    if (!text_ || replyLines_.size() < 2) return clsTextSocket::AddReplyLine(std::move(line));
    String &held = replyLines_.back();
    size_t from = !held.empty() && held[0] == '.' ? 1 : 0;
    text_->Append(held.data() + from, held.size() - from);
    text_->Append("\r\n", 2);
    held = std::move(line);
}

int clsPOP3Socket::SocketQueryText(const String &command, clsReceivedText &text) {
    text_ = &text;
    struct Reset {
        clsReceivedText *&text;
        ~Reset() { text = nullptr; }
    } reset{text_};
    return clsTextSocket::SocketQuery(command, true, !command.empty());
}

int clsPOP3Socket::SocketQuerySingle(const String &command) { return clsTextSocket::SocketQuery(command, false, true); }

int clsPOP3Socket::SocketQueryMulti(const String &command) { return clsTextSocket::SocketQuery(command, true, true); }

int clsPOP3Socket::SocketQueryStep(const String &command, Secrecy secrecy) {
    stepping_ = true;
    try {
        int rc = clsTextSocket::SocketQuery(command, false, true, secrecy);
        stepping_ = false;
        return rc;
    } catch (...) {
        stepping_ = false;
        throw;
    }
}

} // namespace kv
