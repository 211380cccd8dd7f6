// clsIMAPSocket: the IMAP dialogue over clsSocket (directly, through SOCKS,
// under TLS): tagged commands out, whole responses in. Literals are bytes
// that the line splitting of the other protocols would change, so the
// responses are read through the IMAP parser, not as lines.
#pragma once

#include <functional>
#include <memory>

#include "providers/imap/imap_command.h"
#include "providers/imap/imap_response.h"
#include "net/socket.h"

namespace kv {

class clsIMAPSocket : public clsSocket {
  public:
    using Untagged = std::function<void(clsImapResponse &)>;

    clsIMAPSocket();
    ~clsIMAPSocket() override;

    String NextTag() { return Format("a%u", ++tags_); }
    // One line with CR LF; a secret one shows "*****" in the trace. Throws
    // clsExcept (kErrSocket) when the connection is gone.
    void SendLine(const String &line, Secrecy secrecy);
    // The next response. Throws clsExcept (kErrSocket) when the connection ends or
    // the responses cannot be followed any more (it is then closed).
    clsImapResponse Read();
    // Sends a command with a new tag and reads up to its tagged response,
    // handing every other response to `untagged`. A literal waits for the
    // server's go-ahead unless the server takes LITERAL+; a command refused
    // before its literal ends there. The tagged response comes back as it is
    // (OK, NO, BAD, or Broken).
    clsImapResponse Command(const clsImapCommand &command, const Untagged &untagged, Secrecy secrecy = Secrecy::Shown);
    // The same, and a reply other than OK throws clsExcept (kErrUnexpectedReply) "unexpected reply '%s'".
    clsImapResponse Query(const clsImapCommand &command, const Untagged &untagged, Secrecy secrecy = Secrecy::Shown);
    // Literal bytes of one response, from the next response on.
    void SetLiteralBudget(uint64_t bytes) { parser_.SetLiteralBudget(bytes); }
    // Non-synchronizing literals (LITERAL+).
    void SetLiteralPlus(bool on) { literalPlus_ = on; }
    // Refuses to start while response bytes wait unread: the server sent them
    // in clear, and they must not pass for protected ones.
    void StartTls(const pal::TlsOptions &options) override;

  protected:
    void OnClosed() override;

  private:
    void Send(const String &bytes, Secrecy secrecy);
    void Trace(std::string_view bytes);

    clsImapParser parser_;
    std::unique_ptr<char[]> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    unsigned tags_ = 0;
    bool literalPlus_ = false;
    String traceLine_;
    int traceCount_ = 0;
};

// "unexpected reply '%s'" with the response's first line.
String UnexpectedReply(const clsImapResponse &response);

} // namespace kv
