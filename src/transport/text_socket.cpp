#include "transport/text_socket.h"

#include <algorithm>
#include <cstring>

#include "log/except.h"
#include "log/kvlog.h"

namespace kv {

namespace {
// Room for one receive: a whole POP3 message or DATA reply burst arrives in
// few calls instead of one per 512 bytes.
constexpr size_t kReceiveBlock = 64 * 1024;
// A server that never ends its line must not take all memory.
constexpr size_t kLongestLine = 64 * 1024 * 1024;
} // namespace

void clsTextSocket::ReceiveAndSplit() {
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
                throw clsExcept(-2, Format("reply line longer than %u bytes", unsigned(kLongestLine)));
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
    SplitPending();
}

// Only an LF ends a line (with a CR before it dropped); a CR elsewhere stays
// in its line, and a CR at the end waits for what follows like any other byte.
void clsTextSocket::SplitPending() {
    char *data = buffer_.get();
    while (scanFrom_ < end_) {
        const char *lf = static_cast<const char *>(std::memchr(data + scanFrom_, '\n', end_ - scanFrom_));
        if (!lf) {
            scanFrom_ = end_;
            return;
        }
        size_t next = size_t(lf - data) + 1;
        size_t stop = next - 1;
        if (stop > begin_ && data[stop - 1] == '\r') --stop;
        String line(data + begin_, stop - begin_);
        begin_ = scanFrom_ = next;
        LogWriteF(kLogProtocol, "<-[%d]'%hs'", int(replyLines_.size() + 1), line.c_str());
        AddReplyLine(std::move(line));
    }
    if (begin_ == end_) begin_ = end_ = scanFrom_ = 0;
}

int clsTextSocket::SocketQuery(const String &command, bool wait, bool force) {
    try {
        replyLines_.clear();
        bool secret = nextSecret_;
        nextSecret_ = false;
        if (force || !command.empty()) {
            // A line break inside a command would smuggle in a second command.
            if (command.find_first_of("\r\n") != String::npos)
                throw clsExcept(-5, "command refused: it contains a line break");
            int rc = secret ? SocketSendSecret(command + "\r\n") : SocketSend(command + "\r\n");
            if (rc != 0) return rc;
        }
        ReceiveAndSplit();
        // A line end split across two receives is not yet a reply.
        while (replyLines_.empty()) ReceiveAndSplit();
        const String first = replyLines_.front();
        if (CheckReplyLine(first) < 0) throw clsExcept(-6, Format("unexpected reply '%s'", first.c_str()));
        if (wait)
            while (!SocketIsResponseComplete()) ReceiveAndSplit();
        return 0;
    } catch (clsExcept &e) {
        e.Push("[clsTextSocket::SocketQuery]");
        throw;
    }
}

void clsTextSocket::StartTls(const pal::TlsOptions &options) {
    if (end_ != begin_ || replyLines_.size() > 1) {
        Disconnect();
        throw clsExcept(-2, "TLS not started: the server sent more than its reply before the handshake");
    }
    begin_ = end_ = scanFrom_ = 0;
    replyLines_.clear();
    clsSocket::StartTls(options);
}

namespace {
// "^\d+ (.*)$": digits and a blank end an SMTP reply. Lines hold no LF, so
// the rest always matches.
bool IsFinalLine(const String &line) {
    size_t i = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    return i > 0 && i < line.size() && line[i] == ' ';
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
        if (a == code) return true;
    return false;
}

int clsSMTPSocket::CheckReplyLine(const String &line) {
    if (line.size() < 3) return -6;
    return Allowed(CodeOf(line)) ? 0 : -7;
}

bool clsSMTPSocket::SocketIsResponseComplete() {
    LogWrite(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete");
    lastReplyCode_ = 0;
    const String *final = nullptr;
    for (const String &line : replyLines_) {
        LogWriteF(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete: test '%s'", line.c_str());
        if (IsFinalLine(line)) {
            final = &line;
            break;
        }
        LogWrite(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete: RegEx does not match");
    }
    if (!final) return false;
    lastReplyCode_ = CodeOf(*final);
    LogWriteF(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete: RegEx matches, code=%d", int(lastReplyCode_));
    if (!Allowed(lastReplyCode_)) throw clsExcept(-6, Format("unexpected reply '%s'", final->c_str()));
    LogWrite(kLogDetails, "clsSMTPSocket::SocketIsResponseComplete: response is in allowed list -> OK");
    return true;
}

int clsSMTPSocket::SocketQuery(const String &command, std::initializer_list<int32_t> allowed) {
    allowed_.assign(allowed);
    try {
        return clsTextSocket::SocketQuery(command, true, true);
    } catch (clsExcept &e) {
        e.Push("[clsSMTPSocket::SocketQuery]");
        throw;
    }
}

int clsSMTPSocket::SocketQueryWithUnexpected(const String &command, std::initializer_list<int32_t> allowed) {
    return SocketQueryWithUnexpected(command, std::vector<int32_t>(allowed));
}

int clsSMTPSocket::SocketQueryWithUnexpected(const String &command, const std::vector<int32_t> &allowed) {
    allowed_ = allowed;
    try {
        return clsTextSocket::SocketQuery(command, true, true);
    } catch (clsExcept &e) {
        if (e.Code() == -6) return -6;
        e.Push("[clsSMTPSocket::SocketQueryWithUnexpected]");
        throw;
    }
}

int clsSMTPSocket::SocketWaitReply(std::initializer_list<int32_t> allowed) {
    allowed_.assign(allowed);
    try {
        return clsTextSocket::SocketQuery(String(), true, false);
    } catch (clsExcept &e) {
        if (e.Code() == -6) return -6;
        e.Push("[clsSMTPSocket::SocketQueryWithUnexpected]");
        throw;
    }
}

int clsPOP3Socket::CheckReplyLine(const String &line) {
    if (StartsWithNoCase(line, "+OK")) return 0;
    if (stepping_ && (StartsWithNoCase(line, "-ERR") || line == "+" || StartsWithNoCase(line, "+ "))) return 0;
    if (StartsWithNoCase(line, "-ERR")) return -7;
    throw clsExcept(-6, Format("Server response '%s' unexpected from a POP3 server", line.c_str()));
}

bool clsPOP3Socket::SocketIsResponseComplete() {
    if (replyLines_.empty() || CheckReplyLine(replyLines_.front()) != 0) return false;
    if (replyLines_.size() < 2 || replyLines_.back() != ".") return false;
    replyLines_.pop_back();
    // Data lines arrive dot-stuffed; one leading period is the server's, not the mail's.
    for (size_t i = 1; i < replyLines_.size(); ++i)
        if (!replyLines_[i].empty() && replyLines_[i][0] == '.') replyLines_[i].erase(0, 1);
    return true;
}

int clsPOP3Socket::SocketQuerySingle(const String &command) { return clsTextSocket::SocketQuery(command, false, true); }

int clsPOP3Socket::SocketQueryMulti(const String &command) { return clsTextSocket::SocketQuery(command, true, true); }

int clsPOP3Socket::SocketQueryStep(const String &command) {
    stepping_ = true;
    try {
        int rc = clsTextSocket::SocketQuery(command, false, true);
        stepping_ = false;
        return rc;
    } catch (...) {
        stepping_ = false;
        throw;
    }
}

} // namespace kv
