// The socket layer against a scripted peer: connect failures, the SOCKS
// handshakes byte by byte and TLS with peers that do not speak it.
#include <gtest/gtest.h>

#include "log_lines.h"
#include "net/socket.h"
#include "pal/tls.h"
#include "script_server.h"
#include "thrown.h"

namespace kv {
namespace {

using testsupport::ScriptServer;
using testsupport::Thrown;

TEST(Socket, ConnectFailures) {
    clsSocket s;
    int32_t code = 0;
    EXPECT_EQ(Thrown([&] { s.Connect("255.255.255.255", 25, 1000); }, &code).substr(0, 42),
              "gethostby[addr|name](255.255.255.255) fail");
    EXPECT_EQ(code, -2);
    EXPECT_FALSE(s.HasSocket());

    uint16_t port = testsupport::ClosedPort();
    std::string text = Thrown([&] { s.Connect("127.0.0.1", port, 1000); });
    EXPECT_EQ(text, Format("connect(127.0.0.1:%d) failed: Connection refused. (No connection could be made because "
                           "the target machine actively refused it.)|[Connect()]|",
                           int(port)));
    EXPECT_FALSE(s.HasSocket());

    // A listener whose queue is full lets the connect run into its timeout.
    int listener = testsupport::LoopbackSocket(port);
    listen(listener, 0);
    int queued = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    connect(queued, reinterpret_cast<sockaddr *>(&a), sizeof a);
    EXPECT_EQ(Thrown([&] { s.Connect("127.0.0.1", port, 300); }),
              Format("connect(127.0.0.1:%d) failed: %s|[Connect()]|", int(port),
                     clsSocket::GetSocketErrorText(10060).c_str()));
    close(queued);
    close(listener);
}

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int x : b) s.push_back(char(x));
    return s;
}

TEST(Socket, SocksHandshakes) {
    // Target 10.1.2.3:25 unless named (dotted: no lookup of any kind).
    const std::string socks4Request = Bytes({4, 1, 0, 25, 10, 1, 2, 3, 0});
    const std::string socks5Connect = Bytes({5, 1, 0, 1, 10, 1, 2, 3, 0, 25});
    const std::string ok5 = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x12, 0x34}), hello5 = Bytes({5, 1, 0}),
                      none5 = Bytes({5, 0});
    const std::string user5 = Bytes({1, 2, 'u', '1', 6}) + "s3cr3t", longName(256, 'a');
    auto socks4 = [&](int code) { return std::vector<std::string>{socks4Request, Bytes({0, code, 0, 0, 0, 0, 0, 0})}; };
    auto socks5 = [&](const std::string &connect, const std::string &reply) {
        return std::vector<std::string>{hello5, none5, connect, reply};
    };
    struct Case {
        const char *name;
        int32_t type;
        std::vector<std::string> script; // alternating: expect, send
        std::string error;               // empty: success, then the greeting is read
        std::string target = "10.1.2.3";
        bool remote = false; // the proxy resolves names
        const char *user = "";
    } cases[] = {
        // clang-format off
        {"socks4 granted", 1, socks4(0x5A), ""},
        {"socks4 rejected", 1, socks4(0x5B), "proxy connection request failed or rejected"},
        {"socks4 identd", 1, socks4(0x5C),
         "proxy connection request failed because SOCKS server cannot connect to IDENTD on the client"},
        {"socks4 unknown", 1, socks4(0x42), "proxy connection request failed, unknown error code 0x42"},
        {"socks4 short reply", 1, {socks4Request, Bytes({0, 0x5A, 0})}, "proxy connection failed"},
        {"socks5 no auth", 2, socks5(socks5Connect, ok5), ""},
        {"socks5 user", 2, {Bytes({5, 1, 2}), Bytes({5, 2}), user5, Bytes({1, 0}), socks5Connect, ok5}, "", "10.1.2.3",
         false, "u1"},
        {"socks5 bad password", 2, {Bytes({5, 1, 2}), Bytes({5, 2}), user5, Bytes({1, 1})},
         "proxy authorization failed", "10.1.2.3", false, "u1"},
        {"socks5 needs a user", 2, {hello5, Bytes({5, 0xFF})}, "proxy authorization required, but no user was given"},
        {"socks5 asks for a password without user", 2, {hello5, Bytes({5, 2})},
         "proxy authorization requested, but user name is empty"},
        {"socks5 odd method", 2, {hello5, Bytes({5, 1})}, "proxy authorization has unknown type"},
        {"socks5 refused", 2, socks5(socks5Connect, Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})),
         "SOCKS5 proxy: Connection refused"},
        {"socks5 unknown code", 2, socks5(socks5Connect, Bytes({5, 9, 0, 1, 0, 0, 0, 0, 0, 0})),
         "SOCKS5 proxy: request failed, unknown response code 0x09"},
        // Bound addresses of other types are read whole, so the greeting after them is intact.
        {"socks5 domain bound", 2, socks5(socks5Connect, Bytes({5, 0, 0, 3, 9}) + "proxy.lan" + Bytes({0, 25})), ""},
        {"socks5 ipv6 bound", 2, socks5(socks5Connect, Bytes({5, 0, 0, 4}) + std::string(16, '\1') + Bytes({0, 25})),
         ""},
        {"socks4a name", 1,
         {Bytes({4, 1, 0, 25, 0, 0, 0, 1, 0}) + "mail.example.org" + Bytes({0}), Bytes({0, 0x5A, 0, 0, 0, 0, 0, 0})},
         "", "mail.example.org", true},
        {"socks5 name", 2, socks5(Bytes({5, 1, 0, 3, 16}) + "mail.example.org" + Bytes({0, 25}), ok5), "",
         "mail.example.org", true},
        // A dotted target stays an address even when the proxy is to resolve names.
        {"socks5 remote, dotted", 2, socks5(socks5Connect, ok5), "", "10.1.2.3", true},
        {"socks5 ipv6 literal", 2,
         socks5(Bytes({5, 1, 0, 4, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 25}), ok5), "",
         "2001:db8::7"},
        // Locally resolved by default, as before: "localhost" goes out as 127.0.0.1.
        {"socks5 local", 2, socks5(Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0, 25}), ok5), "", "localhost"},
        {"socks4 ipv6 literal", 1, {}, "a SOCKS 4 proxy cannot reach the IPv6 address ::1", "::1", true},
        {"socks5 name too long", 2, {}, "the host name '" + longName + "' cannot be sent to the proxy", longName, true},
        // clang-format on
    };
    testsupport::LogLines log(128);
    for (const Case &c : cases) {
        ScriptServer proxy;
        proxy.Play(c.script);
        (c.error.empty() ? proxy.Send("220 ready\r\n").Pause(50) : proxy.Close()).Start(); // a short reply stays short
        clsSocket s;
        s.SetProxy("127.0.0.1", proxy.Port(), c.user, *c.user ? "s3cr3t" : "", c.type);
        s.SetProxyResolveRemote(c.remote);
        std::string error = Thrown([&] { s.Connect(c.target, 25, 3000); });
        EXPECT_EQ(error, c.error.empty() ? "(nothing thrown)" : c.error + "|[Connect()]|") << c.name;
        EXPECT_EQ(s.HasSocket(), c.error.empty()) << c.name;
        String greeting;
        EXPECT_EQ(c.error.empty() ? s.ReceiveText(greeting) : 0, 0) << c.name;
        EXPECT_EQ(greeting, c.error.empty() ? "220 ready\r\n" : "") << c.name;
        EXPECT_TRUE(proxy.Finish()) << c.name << ": " << proxy.Failure();
    }
    EXPECT_EQ(log.Text().find("s3cr3t"), std::string::npos) << "the proxy password shows";
    EXPECT_NE(log.Text().find("->'*****'"), std::string::npos);
}

TEST(Socket, ReceivesByTheLineRuleAndFailsClosed) {
    ScriptServer server;
    server.Send("abc\r\ndef").Pause(50).Send("gh").Pause(50).Send("ij\nrest").Pause(50).Send("0123456789").Pause(100).Close();
    server.Start();
    clsSocket s;
    s.Connect("127.0.0.1", server.Port(), 5000);
    // To the line end: a line end anywhere in a chunk ends the call; chunks without one are gathered; a full buffer
    // ends it with what fits.
    for (auto [room, line, got] : std::initializer_list<std::tuple<size_t, bool, const char *>>{
             {64, true, "abc\r\ndef"}, {64, true, "ghij\nrest"}, {4, true, "0123"}, {64, false, "456789"}}) {
        char buf[65];
        size_t len = room;
        EXPECT_EQ(s.SocketRecv(buf, len, line), 0);
        EXPECT_EQ(std::string(buf, len), got);
        EXPECT_EQ(line && len < room ? buf[len] : 0, 0) << "a zero byte behind the data";
    }
    char buf[64];
    size_t len = sizeof buf;
    int32_t code = 0;
    EXPECT_EQ(Thrown([&] { s.SocketRecv(buf, len, false); }, &code), "recv() failed: socket was disconnected|");
    EXPECT_EQ(code, -2);
    EXPECT_FALSE(s.HasSocket());
    EXPECT_EQ(s.SocketSend("x"), -2) << "no socket: -2 without an error";
    len = sizeof buf;
    EXPECT_EQ(s.SocketRecv(buf, len, true), -2);
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

// TLS against peers that do not speak it: every case ends in a clear error
// within the timeout, and the connection is closed.
TEST(Socket, TlsHandshakeWithBrokenPeers) {
    struct Case {
        const char *name;
        std::string send; // the client's hello is not checked
        int pauseMs;
        const char *caFile;
        const char *error; // the start of the message after "TLS handshake with '127.0.0.1' failed: "
    } cases[] = {
        {"plain text peer", "220 plain SMTP here\r\n", 200, "",
         "the server does not answer in TLS (is this its port for TLS?)|"},
        {"peer closes", "", 0, "", "the server closed the connection|"},
        {"silent peer", "", 1500, "", "Connection timed out."},
        {"fatal alert", std::string("\x15\x03\x03\x00\x02\x02\x28", 7), 200, "", "TLS error: "},
        {"unreadable CA file", "", 200, "/nonexistent/ca.pem",
         "TLS could not be set up: the CA file '/nonexistent/ca.pem' could not be read"},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        if (!c.send.empty()) server.Send(c.send);
        if (c.pauseMs) server.Pause(c.pauseMs);
        server.Close().Start();
        clsSocket s;
        s.Connect("127.0.0.1", server.Port(), 300);
        pal::TlsOptions options;
        options.host = "127.0.0.1";
        options.caFile = c.caFile;
        int32_t code = 0;
        std::string error = Thrown([&] { s.StartTls(options); }, &code);
        EXPECT_EQ(error.rfind("TLS handshake with '127.0.0.1' failed: " + std::string(c.error), 0), 0u)
            << c.name << ": " << error;
        EXPECT_EQ(code, -2) << c.name;
        EXPECT_FALSE(s.HasSocket() || s.IsTls()) << c.name;
        EXPECT_TRUE(server.Finish()) << server.Failure();
    }
}

} // namespace
} // namespace kv
