// Reply collection and checks of the SMTP and POP3 line sockets against a scripted server.
#include <gtest/gtest.h>

#include "net/text_socket.h"
#include "script_server.h"
#include "thrown.h"

namespace kv {
namespace {

using testsupport::ScriptServer;
using testsupport::Thrown;

std::vector<String> Lines(std::initializer_list<const char *> l) { return std::vector<String>(l.begin(), l.end()); }

// A reply ends at its final line, and is read whole even when refused: the
// next one is the next reply.
TEST(SmtpSocket, RepliesEndAtTheirFinalLine) {
    const std::vector<String> three = Lines({"250-first", "250-second", "250 last"});
    struct Case {
        std::vector<std::string> chunks;
        std::vector<String> lines;
        const char *error = ""; // the reply or command refused
        std::string command = "EHLO me";
    } cases[] = {
        {{"250-first\r\n250-second\r\n250 last\r\n"}, three},
        {{"250-first\r\n", "250-second\r\n", "250 last\r\n"}, three},
        // The text after the code is optional.
        {{"250\r\n"}, Lines({"250"})},
        {{"250-a\r\n", "250\r\n"}, Lines({"250-a", "250"})},
        {{"250 a\rb\r\n"}, Lines({"250 a\rb"})}, // a CR inside a line stays
        {{"250-x\r\n550 y\r\n"}, {}, "unexpected reply '550 y'"},
        {{"4\r\n"}, {}, "unexpected reply '4'"},
        {{"554 no\r\n"}, {}, "unexpected reply '554 no'"},
        {{"hello\r\n"}, {}, "unexpected reply 'hello'"},
        {{"550-x\r\n", "550 y\r\n"}, {}, "unexpected reply '550-x'"},
        // A line break would smuggle in a second command: nothing is sent.
        {{}, {}, "command refused: it contains a line break", "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>"},
        {{}, {}, "command refused: it contains a line break", "MAIL FROM:<a@b>\nRCPT TO:<c@d>"},
        {{}, {}, "command refused: it contains a line break", "NOOP\r"},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        const bool sent = c.command == "EHLO me";
        if (sent) server.Expect("EHLO me\r\n");
        for (const std::string &chunk : c.chunks) server.Send(chunk).Pause(30);
        server.Expect("RSET\r\n").Send("250 reset\r\n").Pause(50).Start();
        clsSMTPSocket s;
        s.Connect("127.0.0.1", server.Port(), 3000);
        int32_t code = 0;
        EXPECT_EQ(Thrown([&] { s.SocketQuery(c.command, {250}); }, &code),
                  *c.error ? std::string(c.error) + "|[clsTextSocket::SocketQuery]|[clsSMTPSocket::SocketQuery]|"
                           : "(nothing thrown)")
            << c.command << c.lines.size();
        EXPECT_EQ(code, !*c.error ? 0 : sent ? -6 : -5) << c.command;
        EXPECT_EQ(*c.error ? c.lines : s.ReplyLines(), c.lines) << c.lines.size();
        EXPECT_EQ(s.SocketQuery("RSET", {250}), 0) << c.command;
        EXPECT_EQ(s.ReplyLines(), Lines({"250 reset"})) << c.command;
        EXPECT_EQ(s.LastReplyCode(), 250);
        EXPECT_TRUE(server.Finish()) << server.Failure();
    }
}

// Bounds of a command reply, and of a data reply by what the caller expects.
TEST(TextSockets, RepliesAreBounded) {
    std::string manyLines;
    for (int i = 0; i < 600; ++i) manyLines += "250-x\r\n";
    struct Case {
        bool pop3;
        size_t dataLines, dataBytes; // 0: a command reply
        std::string reply;
        std::string error;
        int dripMs = 0; // a byte at a time
    } cases[] = {
        {false, 0, 0, manyLines + "250 end\r\n", "reply longer than 512 lines"},
        {false, 0, 0, "250-" + std::string(70000, 'x'), "reply longer than 65536 bytes"},
        {true, 0, 0, "+OK\r\n" + std::string(70000, 'x') + "\r\n.\r\n", "reply longer than 65536 bytes"},
        {true, 10, 100000, "+OK\r\n" + std::string(30, '\n') + ".\r\n", "reply longer than 10 lines"},
        {true, 1000, 1000, "+OK\r\n" + std::string(2000, 'y') + "\r\n.\r\n", "reply longer than 1000 bytes"},
        // A trickled command reply must not hold the caller beyond the timeout.
        {false, 0, 0, "250 " + std::string(40, 'x') + "\r\n", "recv() failed: " + clsSocket::GetSocketErrorText(10060),
         50},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Expect("NOOP\r\n");
        (c.dripMs ? server.Drip(c.reply, c.dripMs) : server.Send(c.reply).Pause(100)).Start();
        clsSMTPSocket smtp;
        clsPOP3Socket pop3;
        int32_t code = 0;
        std::string error;
        if (c.pop3) {
            pop3.Connect("127.0.0.1", server.Port(), 1000);
            if (c.dataLines) pop3.ExpectData(c.dataLines, c.dataBytes);
            error = Thrown([&] { pop3.SocketQueryMulti("NOOP"); }, &code);
        } else {
            smtp.Connect("127.0.0.1", server.Port(), 1000);
            error = Thrown([&] { smtp.SocketQuery("NOOP", {250}); }, &code);
        }
        EXPECT_EQ(error, c.error + "|[clsTextSocket::SocketQuery]|" + (c.pop3 ? "" : "[clsSMTPSocket::SocketQuery]|"));
        EXPECT_EQ(code, -2);
        EXPECT_FALSE(pop3.HasSocket() || smtp.HasSocket()) << "the rest must not pass for the next reply";
        EXPECT_TRUE(server.Finish()) << server.Failure();
        if (c.pop3) continue;
        // Nothing of the lost connection's reply reaches the next one.
        ScriptServer next;
        next.Send("220 fresh\r\n").Pause(50).Start();
        smtp.Connect("127.0.0.1", next.Port(), 1000);
        EXPECT_EQ(smtp.SocketWaitReply({220}), 0);
        EXPECT_EQ(smtp.ReplyLines(), Lines({"220 fresh"}));
        EXPECT_TRUE(next.Finish()) << next.Failure();
    }
}

// Lines cut at every place a receive can end: inside CR LF, after a lone
// CR, lines longer than the receive buffer, and more lines than fit into it;
// dot-stuffing undone; data that keeps coming past the timeout. Read as
// lines, and as one text.
TEST(Pop3Socket, MultiLineRepliesSplitAnywhere) {
    const std::string longLine(200000, 'x');
    std::string manyText;
    std::vector<String> manyLines = {"+OK"};
    for (int i = 0; i < 5000; ++i) {
        String line = (i % 7 == 0 ? "..stuffed " : "line ") + std::to_string(i) + std::string(40, '-');
        manyText += line + "\r\n";
        manyLines.push_back(line.compare(0, 2, "..") == 0 ? line.substr(1) : line);
    }
    std::vector<std::string> dripped = {"+OK\r\n"}; // 1.6 s, the timeout 1 s
    for (int i = 0; i < 80; ++i) dripped.push_back(i < 79 ? "x" : "x\r\n.\r\n");
    struct Case {
        const char *name;
        std::vector<std::string> chunks;
        std::vector<String> lines;
    } cases[] = {
        {"CR LF split", {"+OK\r", "\na\r", "\n.\r", "\n"}, {"+OK", "a"}},
        {"stuffed",
         {"+OK 40 octets\r\nSubject: x\r\n\r\n..\r\n", "..leading period\r\n.\r\n"},
         {"+OK 40 octets", "Subject: x", "", ".", ".leading period"}},
        {"no lines", {"+OK\r\n.\r\n"}, {"+OK"}},
        {"lone CR stays, LF alone ends", {"+OK\r\na\rb\nc\r", "\r\n.\r\n"}, {"+OK", "a\rb", "c\r"}},
        {"line longer than the buffer",
         {"+OK\r\n" + longLine.substr(0, 70000), longLine.substr(70000) + "\r\nend\r\n.\r\n"},
         {"+OK", longLine, "end"}},
        {"more lines than the buffer holds",
         {"+OK\r\n" + manyText.substr(0, 100001), manyText.substr(100001) + ".\r\n"},
         manyLines},
        {"data taking longer than the timeout while it keeps coming", dripped, {"+OK", std::string(80, 'x').c_str()}},
    };
    for (const Case &c : cases)
        for (bool asText : {false, true}) {
            ScriptServer server;
            server.Expect("RETR 1\r\n");
            for (const std::string &chunk : c.chunks) server.Send(chunk).Pause(20);
            server.Expect("NOOP\r\n").Send("+ok after\r\n").Pause(50).Start(); // status in any case
            clsPOP3Socket s;
            s.Connect("127.0.0.1", server.Port(), 1000);
            s.ExpectData(10000, 1000000);
            clsReceivedText text;
            EXPECT_EQ(asText ? s.SocketQueryText("RETR 1", text) : s.SocketQueryMulti("RETR 1"), 0) << c.name;
            std::vector<String> got = s.ReplyLines();
            std::string_view rest = text.View();
            for (size_t end; (end = rest.find("\r\n")) != std::string_view::npos; rest.remove_prefix(end + 2))
                got.emplace_back(rest.substr(0, end));
            EXPECT_TRUE(rest.empty()) << c.name << ": the text ends in CR LF";
            EXPECT_TRUE(got == c.lines) << c.name << (asText ? " as text: " : ": ") << got.size() << " lines";
            // Nothing of the reply is left over for the next one.
            EXPECT_EQ(s.SocketQuerySingle("NOOP"), 0) << c.name;
            EXPECT_EQ(s.ReplyLines(), Lines({"+ok after"})) << c.name;
            EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure().substr(0, 200);
        }
}

} // namespace
} // namespace kv
