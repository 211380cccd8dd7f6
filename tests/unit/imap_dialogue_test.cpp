// The IMAP connection's dialogue against a scripted server, exact bytes on the
// wire: logon forms, the two-step listing, loading, flags, deletion, a NO or
// BAD to every command, folder names and a connection dropped inside a literal.
#include <gtest/gtest.h>

#include "dialled.h"
#include "log_lines.h"
#include "providers/imap/imap_connection.h"
#include "script_server.h"

namespace kv {
namespace {

using testsupport::B64;
using testsupport::LinesMail;
using testsupport::ScriptServer;

class TestImap : public testsupport::Receiving<clsIMAPMailConnection> {
    void ReadMailText(IKvMail *mail, String &text, bool complete) override {
        static_cast<LinesMail *>(mail)->lines = {text};
        static_cast<LinesMail *>(mail)->complete = complete;
    }
    bool IsListed(IKvMail *mail) override { return !static_cast<LinesMail *>(mail)->complete; }
};

using Imap = testsupport::Dialled<TestImap>;

struct Step {
    const char *op; // the host call that makes the client send this
    std::string client;
    std::string server;
};

// A whole session: logon with SASL-IR, the listing of one of two mails (the
// other is marked deleted), loading, read flag, deletion without UIDPLUS.
std::vector<Step> Session() {
    return {
        {"connect", "", "* OK ready\r\n"},
        {"connect", "a1 CAPABILITY\r\n", "* CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR\r\na1 OK done\r\n"},
        {"connect", "a2 AUTHENTICATE PLAIN " + B64(std::string("\0mrose\0tanstaaf", 15)) + "\r\n",
         "a2 OK [CAPABILITY IMAP4rev1 IDLE] in\r\n"},
        {"connect", "a3 SELECT \"INBOX\"\r\n", "* 2 EXISTS\r\n* OK [UIDVALIDITY 9] v\r\na3 OK [READ-WRITE] done\r\n"},
        {"query", "a4 UID FETCH 1:* (UID FLAGS RFC822.SIZE)\r\n",
         "* 1 FETCH (UID 3 FLAGS (\\Deleted) RFC822.SIZE 9)\r\n* 2 FETCH (UID 4 FLAGS (\\Seen) RFC822.SIZE 20)\r\n"
         "* 3 EXISTS\r\na4 OK\r\n"},
        {"query", "a5 UID FETCH 4 (UID BODY.PEEK[HEADER])\r\n",
         "* 2 FETCH (UID 4 BODY[HEADER] {12}\r\nSubject: x\r\n)\r\na5 OK\r\n"},
        {"load", "a6 UID FETCH 4 (UID BODY.PEEK[])\r\n",
         "* 2 FETCH (UID 4 BODY[] {20}\r\nSubject: x\r\n\r\nbody\r\n)\r\na6 OK\r\n"},
        {"read", "a7 UID STORE 4 +FLAGS.SILENT (\\Seen)\r\n", "a7 OK\r\n"},
        {"delete", "a8 UID STORE 4 +FLAGS.SILENT (\\Deleted)\r\n", "a8 OK\r\n"},
        {"disconnect", "a9 EXPUNGE\r\n", "* 2 EXPUNGE\r\na9 OK\r\n"},
        {"disconnect", "a10 LOGOUT\r\n", "* BYE bye\r\na10 OK\r\n"},
    };
}

// Runs one host call; its result.
HRESULT Call(Imap &imap, const std::string &op) {
    if (op == "connect") return imap.c->Connect();
    if (op == "query") return imap.c->QueryMailbox(0);
    if (op == "query whole") return imap.c->QueryMailbox(1);
    if (op == "load") return imap.c->LoadRestOfMail(imap.c->made.at(0));
    if (op == "read") return imap.c->MarkMailAsRead(u"9.4");
    if (op == "delete") return imap.c->DeleteMail(u"9.4");
    return imap.c->Disconnect();
}

// The session up to the selected folder: the greeting with these
// capabilities, then expect, send, expect, send...
std::vector<std::string> Connected(const std::string &capabilities, const std::string &select = "\"INBOX\"",
                                   const std::string &selected = "* OK [UIDVALIDITY 9] v\r\n") {
    return {"* OK [CAPABILITY IMAP4rev1 " + capabilities + "] ready\r\n", "a1 LOGIN \"mrose\" \"tanstaaf\"\r\n",
            "a1 OK [CAPABILITY IMAP4rev1 " + capabilities + "] in\r\n", "a2 SELECT " + select + "\r\n",
            selected + "a2 OK done\r\n"};
}

using V = std::vector<std::string>;
V operator+(V a, const V &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

struct Case {
    std::string name;
    std::vector<std::pair<const char16_t *, std::string>> options;
    V script;                                       // send, expect, send...
    std::string error;                              // "code:text"
    std::vector<const char *> ops = {"connect"};    // host calls, up to the first that fails
    HRESULT result = E_ABORT;                       // when it fails
    V mails = {};                                   // id, whether whole or deleted, text
    std::vector<std::pair<LONG, LONG>> events = {}; // when checked
    std::pair<LONG, LONG> cancel = {};              // the event the host answers with E_ABORT
};

// Session() with a refusal at one step: the host calls up to the one that fails, and LOGOUT.
Case Refused(size_t step, const char *status, HRESULT result, LONG code, const std::string &before,
             const std::string &after, V mails = {}) {
    const std::vector<Step> session = Session();
    const std::string line = Format("a%u %s [X] refused %u", unsigned(step), status, unsigned(step));
    Case c{line, {}, {session[0].server}, std::to_string(code) + ":", {session[0].op}, result, mails};
    if (result != S_OK) c.error += before + "unexpected reply '" + line + "'\r\n" + after;
    for (size_t i = 1; i <= step; ++i) {
        c.script.insert(c.script.end(), {session[i].client, i == step ? line + "\r\n" : session[i].server});
        if (std::string(session[i].op) != c.ops.back()) c.ops.push_back(session[i].op);
    }
    if (step < 10)
        c.script = c.script + V{Format("a%u LOGOUT\r\n", unsigned(step + 1)), Format("a%u OK\r\n", unsigned(step + 1))};
    return c;
}

TEST(ImapDialogue, NamesEdgeCasesAndEveryRefusal) {
    EXPECT_EQ(EncodeModifiedUtf7(u"INBOX"), "INBOX");
    EXPECT_EQ(EncodeModifiedUtf7(u"~peter/mail/\u53F0\u5317/\u65E5\u672C\u8A9E"), "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
    EXPECT_EQ(EncodeModifiedUtf7(u"A&B \u00E9\u00E8x\U0001F600"), "A&-B &AOkA6A-x&2D3eAA-");
    uint32_t validity = 0, uid = 0;
    EXPECT_TRUE(ParseImapMailId("4294967295.1:<a.b@c>", validity, uid));
    EXPECT_EQ(std::to_string(validity) + "." + std::to_string(uid), "4294967295.1");
    for (const char *bad : {"4294967296.1", "0.1", "1.0", "1.", ".1", "1 2", "1.2.3", "", "12", "1.2x:", ":1.2"})
        EXPECT_FALSE(ParseImapMailId(bad, validity, uid)) << bad;
    const std::string one = "* 1 EXISTS\r\n* OK [UIDVALIDITY 9] v\r\n",
                      listOne = "a3 UID FETCH 1:* (UID FLAGS RFC822.SIZE)\r\n",
                      head4 = "a4 UID FETCH 4 (UID BODY.PEEK[HEADER])\r\n",
                      load5 = "a5 UID FETCH 4 (UID BODY.PEEK[])\r\n",
                      onConnect = "[clsIMAPMailConnection::OnConnect]\r\n",
                      loaded = "9.4 whole Subject: x\r\n\r\nbody\r\n";
    const V inbox1 = Connected("", "\"INBOX\"", one);
    const std::vector<const char *> load = {"connect", "query", "load"};
    const Case cases[] = {
        // clang-format off
        Refused(1, "NO", E_ABORT, -6, "", onConnect),
        Refused(2, "NO", E_ABORT, -8, "", "authentication failed!\r\n" + onConnect),
        Refused(2, "BAD", E_ABORT, -6, "", onConnect),
        Refused(5, "NO", E_ABORT, -6, "", "[clsIMAPMailConnection::OnQueryMailbox]\r\n"),
        Refused(6, "NO", E_FAIL, -6, "", "[clsIMAPMailConnection::LoadRestOfMail]\r\n", {"9.4 head Subject: x\r\n"}),
        Refused(7, "NO", E_ABORT, -6, "", "[clsIMAPMailConnection::OnMarkMailAsRead]\r\n", {loaded}),
        Refused(8, "BAD", E_ABORT, -6, "", "[clsIMAPMailConnection::OnDeleteMail]\r\n", {loaded}),
        Refused(9, "NO", E_ABORT, -6, "clsIMAPMailConnection::OnDisconnect(): the deleted mails were not removed: ", "",
                {"9.4 whole deleted Subject: x\r\n\r\nbody\r\n"}),
        Refused(10, "NO", S_OK, 0, "", "", {"9.4 whole deleted Subject: x\r\n\r\nbody\r\n"}),
        {"the connection dropped inside a literal", {}, inbox1 + V{listOne, "* 1 FETCH (UID 4 FLAGS ())\r\na3 OK\r\n",
          head4, "* 1 FETCH (UID 4 BODY[HEADER] {3}\r\nA:b)\r\na4 OK\r\n", load5,
          "* 1 FETCH (UID 4 BODY[] {100}\r\ncut"},
         "-2:recv() failed: socket was disconnected\r\n[clsIMAPMailConnection::LoadRestOfMail]\r\n", load, E_FAIL,
         {"9.4 head A:b"}},
        // A complete listing with BODY[], which sets \Seen.
        {"QueryMarksMailsAsRead", {{u"QueryMarksMailsAsRead", "1"}}, inbox1 + V{listOne,
          "* 1 FETCH (UID 4 FLAGS ())\r\na3 OK\r\n", "a4 UID FETCH 4 (UID BODY[])\r\n",
          "* 1 FETCH (UID 4 BODY[] {3}\r\nA:b FLAGS (\\Seen))\r\na4 OK\r\n"}, "0:", {"connect", "query whole"}, S_OK,
         {"9.4 whole A:b"}},
        {"loading reads the listed mails after it ahead while they fit (8 MiB together)", {},
         Connected("", "\"INBOX\"", "* 3 EXISTS\r\n* OK [UIDVALIDITY 9] v\r\n") + V{listOne,
          "* 1 FETCH (UID 4 FLAGS () RFC822.SIZE 3)\r\n* 2 FETCH (UID 5 FLAGS () RFC822.SIZE 3)\r\n"
          "* 3 FETCH (UID 9 FLAGS () RFC822.SIZE 8388606)\r\na3 OK\r\n",
          "a4 UID FETCH 4:5,9 (UID BODY.PEEK[HEADER])\r\n",
          "* 1 FETCH (UID 4 BODY[HEADER] {0}\r\n)\r\n* 2 FETCH (UID 5 BODY[HEADER] {0}\r\n)\r\n"
          "* 3 FETCH (UID 9 BODY[HEADER] {0}\r\n)\r\na4 OK\r\n", "a5 UID FETCH 4:5 (UID BODY.PEEK[])\r\n",
          "* 1 FETCH (UID 4 BODY[] {3}\r\nA:b)\r\n* 2 FETCH (UID 5 BODY[] {3}\r\nA:c)\r\na5 OK\r\n"},
         "0:", load, S_OK, {"9.4 whole A:b", "9.5 whole A:c", "9.9 head "}},
        // Refused, and the stream stays in step: LOGOUT follows.
        {"a literal over the listed size", {}, inbox1 + V{listOne,
          "* 1 FETCH (UID 4 FLAGS () RFC822.SIZE 1)\r\na3 OK\r\n", head4,
          "* 1 FETCH (UID 4 BODY[HEADER] {0}\r\n)\r\na4 OK\r\n", load5,
          "* 1 FETCH (UID 4 BODY[] {1048578}\r\n" + std::string(1048578, 'x') + ")\r\na5 OK\r\n", "a6 LOGOUT\r\n",
          "a6 OK\r\n"}, "-6:IMAP response not understood (a literal of 1048578 bytes, more than the 1048577 bytes "
         "allowed): '* 1 FETCH (UID 4 BODY[] {1048578}'\r\n[clsIMAPMailConnection::LoadRestOfMail]\r\n", load, E_FAIL,
         {"9.4 head "}},
        {"a non-ASCII folder in modified UTF-7", {{u"Folder", "Gr\xC3\xBC\xC3\x9F" "e & \"x\""}},
         Connected("", "\"Gr&APwA3w-e &- \\\"x\\\"\""), "0:"},
        {"a non-ASCII folder in UTF-8 once UTF8=ACCEPT is enabled", {{u"Folder", "Gr\xC3\xBC\xC3\x9F" "e"}},
         {"* OK [CAPABILITY IMAP4rev1 UTF8=ACCEPT] ready\r\n", "a1 LOGIN \"mrose\" \"tanstaaf\"\r\n", "a1 OK in\r\n",
          "a2 CAPABILITY\r\n", "* CAPABILITY IMAP4rev1 UTF8=ACCEPT ENABLE\r\na2 OK\r\n", "a3 ENABLE UTF8=ACCEPT\r\n",
          "* ENABLED UTF8=ACCEPT\r\na3 OK\r\n", "a4 SELECT \"Gr\xC3\xBC\xC3\x9F" "e\"\r\n",
          "* OK [UIDVALIDITY 9] v\r\na4 OK\r\n"}, "0:"},
        {"LITERAL+: the literal follows at once", {{u"ServerPassword", "p\xC3\xA4\r"}},
         {"* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\n", "a1 LOGIN \"mrose\" {4+}\r\np\xC3\xA4\r\r\n",
          "a1 OK in\r\n", "a2 CAPABILITY\r\n", "* CAPABILITY IMAP4rev1\r\na2 OK\r\n", "a3 SELECT \"INBOX\"\r\n",
          "* OK [UIDVALIDITY 9] v\r\na3 OK\r\n"}, "0:"},
        {"PREAUTH: no logon", {{u"ReadOnly", "1"}}, {"* PREAUTH [CAPABILITY IMAP4rev1] welcome\r\n",
          "a1 EXAMINE \"INBOX\"\r\n", "* OK [UIDVALIDITY 9] v\r\na1 OK [READ-ONLY] ok\r\n"}, "0:"},
        {"no UIDVALIDITY", {}, Connected("", "\"INBOX\"", "") + V{"a3 LOGOUT\r\n", "a3 OK\r\n"},
         "-6:the server named no UIDVALIDITY for the folder 'INBOX'\r\n" + onConnect},
        {"BYE for a greeting", {}, {"* BYE [UNAVAILABLE] busy\r\n"},
         "-6:unexpected reply '* BYE [UNAVAILABLE] busy'\r\n" + onConnect},
        // An 8-bit password waits for the server's go-ahead.
        {"a password as a literal", {{u"ServerPassword", "s3cr\xC3\xABt!\""}},
         {"* OK [CAPABILITY IMAP4rev1] ready\r\n", "a1 LOGIN \"mrose\" {9}\r\n", "+ go on\r\n", "s3cr\xC3\xABt!\"\r\n",
          "a1 NO [AUTHENTICATIONFAILED] wrong\r\n", "a2 LOGOUT\r\n", "* BYE\r\na2 OK\r\n"},
         "-8:unexpected reply 'a1 NO [AUTHENTICATIONFAILED] wrong'\r\nauthentication failed!\r\n" + onConnect,
         {"connect"}, E_ABORT, {}, {{2, 0}, {3, 1}, {4, 0}, {5, 0}, {3, 0}, {3, 0}}},
        {"LOGINDISABLED and no mechanism", {}, {"* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] ready\r\n", "a1 LOGOUT\r\n",
          "a1 OK\r\n"}, "-8:the server takes no LOGIN on this connection (LOGINDISABLED) and no mechanism this client "
         "has\r\n" + onConnect},
        // The rest of the FETCH is read: the next command finds the stream in step.
        {"cancelled inside a fetch", {}, Connected("", "\"INBOX\"", "* 2 EXISTS\r\n* OK [UIDVALIDITY 9] v\r\n") +
         V{listOne,
          "* 1 FETCH (UID 4 FLAGS () RFC822.SIZE 3)\r\n* 2 FETCH (UID 5 FLAGS () RFC822.SIZE 3)\r\na3 OK\r\n",
          "a4 UID FETCH 4:5 (UID BODY.PEEK[HEADER])\r\n",
          "* 1 FETCH (UID 4 BODY[HEADER] {3}\r\nA:b)\r\n* 2 FETCH (UID 5 BODY[HEADER] {3}\r\nC:d)\r\na4 OK\r\n",
          "a5 LOGOUT\r\n", "a5 OK\r\n"}, "-15:cancelled by the host\r\n[clsIMAPMailConnection::OnQueryMailbox]\r\n",
         {"connect", "query"}, E_ABORT, {"9.4 head A:b"}, {}, {11, 2}},
        // clang-format on
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Serve(c.script, true);
        testsupport::LogLines log(128);
        Imap imap(server.Port());
        imap.events.at = c.cancel, imap.events.answer = E_ABORT;
        std::string password = "tanstaaf";
        for (const auto &o : c.options)
            imap.Set(o.first, o.first == std::u16string_view(u"ServerPassword") ? password = o.second : o.second);
        HRESULT hr = S_OK;
        for (const char *op : c.ops)
            if ((hr = Call(imap, op)) != S_OK) break;
        EXPECT_EQ(hr, c.error == "0:" ? S_OK : c.result) << c.name;
        EXPECT_EQ(imap.Coded(), c.error) << c.name;
        std::vector<std::string> mails;
        for (LinesMail *m : imap.c->made)
            mails.push_back(m->cookie + (m->complete ? " whole " : " head ") + (m->deleted ? "deleted " : "") +
                            (m->lines.empty() ? "" : m->lines[0]));
        EXPECT_EQ(mails, c.mails) << c.name;
        EXPECT_EQ(c.events.empty() ? c.events : imap.events.seen, c.events) << c.name;
        imap.c->Disconnect();
        for (const std::string &line : log.lines) EXPECT_EQ(line.find(password), std::string::npos) << c.name << line;
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

} // namespace
} // namespace kv
