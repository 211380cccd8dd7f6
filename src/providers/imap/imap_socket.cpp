#include "providers/imap/imap_socket.h"

#include "runtime/except.h"
#include "runtime/kvlog.h"

namespace kv {

namespace {
constexpr size_t kReceiveBlock = 64 * 1024;
// A traced line is cut here; the rest of it is left out of the trace.
constexpr size_t kLongestTraceLine = 64 * 1024;
} // namespace

String UnexpectedReply(const clsImapResponse &response) {
    return Format("unexpected reply '%s'", PrintableText(response.line).c_str());
}

clsIMAPSocket::clsIMAPSocket() {
    parser_.SetObserver([this](std::string_view bytes, bool) { Trace(bytes); });
}

clsIMAPSocket::~clsIMAPSocket() = default;

// Received bytes as the line protocols trace them: one trace line per line,
// numbered within its response.
void clsIMAPSocket::Trace(std::string_view bytes) {
    if (!clsKvLog::Passes(kLogProtocol)) return;
    while (!bytes.empty()) {
        size_t lf = bytes.find('\n');
        std::string_view part = bytes.substr(0, lf == std::string_view::npos ? bytes.size() : lf);
        if (traceLine_.size() < kLongestTraceLine)
            traceLine_.append(part.substr(0, kLongestTraceLine - traceLine_.size()));
        if (lf == std::string_view::npos) return;
        if (!traceLine_.empty() && traceLine_.back() == '\r') traceLine_.pop_back();
        LogWriteF(kLogProtocol, "<-[%d]'%hs'", ++traceCount_, traceLine_.c_str());
        traceLine_.clear();
        bytes.remove_prefix(lf + 1);
    }
}

void clsIMAPSocket::SendLine(const String &line, Secrecy secrecy) {
    // A line break inside would smuggle in a second command.
    if (line.find_first_of("\r\n") != String::npos)
        throw clsExcept(kErrGeneral, "command refused: it contains a line break");
    Send(line + "\r\n", secrecy);
}

void clsIMAPSocket::Send(const String &bytes, Secrecy secrecy) {
    int rc = secrecy == Secrecy::Secret ? SocketSendSecret(bytes) : SocketSend(bytes);
    if (rc != 0) throw clsExcept(kErrSocket, "the connection to the server was lost");
}

clsImapResponse clsIMAPSocket::Read() {
    for (;;) {
        if (begin_ < end_) begin_ += parser_.Feed(buffer_.get() + begin_, end_ - begin_);
        if (parser_.Ready()) {
            traceCount_ = 0;
            return parser_.Take();
        }
        if (parser_.Lost()) {
            String why = parser_.LostReason();
            Disconnect();
            throw clsExcept(kErrSocket, "the server's responses cannot be followed: " + why);
        }
        if (!buffer_) buffer_.reset(new char[kReceiveBlock + 1]);
        begin_ = end_ = 0;
        size_t length = kReceiveBlock;
        int rc = SocketRecv(buffer_.get(), length, false);
        if (rc != 0) throw clsExcept(rc, Format("SocketRecv() failed, code %d", rc));
        end_ = length;
    }
}

clsImapResponse clsIMAPSocket::Command(const clsImapCommand &command, const Untagged &untagged, Secrecy secrecy) {
    String tag = NextTag();
    const auto &pieces = command.Pieces();
    // A literal leaves with the text that follows it.
    String out;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const clsImapCommand::Piece &p = pieces[i];
        if (p.text.find_first_of("\r\n") != String::npos)
            throw clsExcept(kErrGeneral, "command refused: it contains a line break");
        if (i == 0) out += tag + " ";
        out += p.text;
        if (!p.hasLiteral) break;
        out += Format("{%u%s}\r\n", unsigned(p.literal.size()), literalPlus_ ? "+" : "");
        if (!literalPlus_) {
            Send(out, secrecy);
            out.clear();
            for (;;) {
                clsImapResponse r = Read();
                if (r.kind == clsImapResponse::Kind::Continuation) break;
                if (r.tag == tag) return r;
                untagged(r);
            }
        }
        out += p.literal;
    }
    Send(out + "\r\n", secrecy);
    for (;;) {
        clsImapResponse r = Read();
        if (r.tag == tag && r.kind != clsImapResponse::Kind::Untagged) return r;
        if (r.kind == clsImapResponse::Kind::Continuation) {
            // The server waits for data this client never meant to send.
            Disconnect();
            throw clsExcept(kErrUnexpectedReply, UnexpectedReply(r));
        }
        if (r.kind == clsImapResponse::Kind::Tagged) continue; // another command's, long over
        untagged(r);
    }
}

clsImapResponse clsIMAPSocket::Query(const clsImapCommand &command, const Untagged &untagged, Secrecy secrecy) {
    clsImapResponse r = Command(command, untagged, secrecy);
    if (r.status != "OK") throw clsExcept(kErrUnexpectedReply, UnexpectedReply(r));
    return r;
}

void clsIMAPSocket::StartTls(const pal::TlsOptions &options) {
    if (begin_ != end_ || !parser_.Idle()) {
        Disconnect();
        throw clsExcept(kErrSocket, "TLS not started: the server sent more than its reply before the handshake");
    }
    clsSocket::StartTls(options);
}

void clsIMAPSocket::OnClosed() {
    buffer_.reset();
    begin_ = end_ = 0;
    parser_ = clsImapParser();
    parser_.SetObserver([this](std::string_view bytes, bool) { Trace(bytes); });
    traceLine_.clear();
    traceCount_ = 0;
}

} // namespace kv
