// kvmail, the command-line host, as a user runs it: a real send, refused
// recipients, the outbox without a server, a mailbox with hostile names, an
// IMAP folder, and its exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "fixtures.h"

namespace {

// A run of kvmail: its arguments, its exit code and (a piece of) its output.
struct Result {
    std::string args;
    int code;
    std::string out;
};

Result Kvmail(const std::string &args, const std::string &dir) {
    Result r{args, 0, ""};
    r.code = testsupport::Run("cd '" + dir + "' && '" KV_KVMAIL_PATH "' " + args, r.out);
    return r;
}

class KvmailTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fixtures::TempDir("kvmail");
        std::ofstream(dir + "/page.html") << "<html><body><img src=\"pic.gif\"></body></html>";
        std::ofstream(dir + "/pic.gif", std::ios::binary) << std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 13);
        std::ofstream(dir + "/note.txt") << "plain body\n";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    void Expect(const std::vector<Result> &cases) {
        for (const Result &c : cases) {
            SCOPED_TRACE(c.args);
            Result r = Kvmail(c.args, dir);
            EXPECT_EQ(r.code, c.code) << r.out;
            EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        }
    }
    std::string dir;
    const std::string compose = "--from 'Me <me@example.org>' --to=you@example.org --subject='kvmail test' "
                                "--text note.txt --html page.html --attach note.txt";
};

TEST_F(KvmailTest, SendsToARealServerWithSecretsFromAFileOrTheEnvironment) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("me", "pw-from-file", {"--token", "tok-from-file"}));
    std::ofstream(dir + "/pw") << "pw-from-file\n";
    std::ofstream(dir + "/tok") << "tok-from-file\r\n";
    const std::string server = " --server 127.0.0.1 --port=" + std::to_string(sink.port) + " --user me";
    Result r = Kvmail("--trace send " + compose + server + " --password-file pw", dir);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.find("pw-from-file"), std::string::npos) << r.out;
    std::string arrived = sink.Message(1);
    EXPECT_NE(arrived.find("Subject: kvmail test"), std::string::npos);
    EXPECT_NE(arrived.find("Content-Type: image/gif"), std::string::npos);
    EXPECT_EQ(sink.Envelope(1), "me@example.org\nyou@example.org\n");

    setenv("KVMAIL_PASSWORD", "pw-from-file", 1);
    Result fromEnvironment = Kvmail("send " + compose + server, dir);
    unsetenv("KVMAIL_PASSWORD");
    EXPECT_EQ(fromEnvironment.code, 0) << fromEnvironment.out;
    EXPECT_NE(sink.Message(2), "");
    Result token = Kvmail("--trace send " + compose + server + " --token-file tok", dir);
    EXPECT_EQ(token.code, 0) << token.out;
    EXPECT_EQ(token.out.find("tok-from-file"), std::string::npos) << token.out;
    EXPECT_EQ(sink.AuthMechanism(), "OAUTHBEARER");
}

TEST_F(KvmailTest, RefusedRecipientsAreReportedAndAnUnsentMailIsKept) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start());
    const std::string server = " --server 127.0.0.1 --port " + std::to_string(sink.port);
    Result partly = Kvmail("send " + compose + server + " --to refused@example.org --cc 'Cee <cc@example.org>'", dir);
    EXPECT_EQ(partly.code, 3) << partly.out;
    EXPECT_NE(partly.out.find("delivered: you@example.org\ndelivered: cc@example.org\n"
                              "refused: refused@example.org: 550 no such user here\n"),
              std::string::npos)
        << partly.out;
    EXPECT_EQ(sink.Envelope(1), "me@example.org\nyou@example.org\ncc@example.org\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/outbox"));

    Result none = Kvmail("send --from me@example.org --to refused@example.org --outbox kept" + server, dir);
    EXPECT_EQ(none.code, 1) << none.out;
    EXPECT_NE(none.out.find("The Message has not been sent!"), std::string::npos) << none.out;
    size_t at = none.out.find("it is kept in kept/");
    ASSERT_NE(at, std::string::npos) << none.out;
    std::string kept = none.out.substr(at + 14, none.out.find('\n', at) - at - 14);
    EXPECT_NE(fixtures::ReadFile(dir + "/" + kept).find("To: refused@example.org"), std::string::npos) << kept;
    EXPECT_EQ(sink.Message(2), "");
}

TEST_F(KvmailTest, ExitCodesAndErrorRecords) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start());
    const std::string send = "send " + compose + " --server 127.0.0.1 --port " + std::to_string(sink.port);
    std::ofstream(dir + "/hostile.eml") << "Subject: names\r\nMIME-Version: 1.0\r\n"
                                            "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                                            "Content-Type: text/plain; name=\"=?utf-8?q?a=1B]0;x=07.txt?=\"\r\n"
                                            "Content-Disposition: attachment\r\n\r\nxx\r\n--b--\r\n";
    // Without UIDPLUS the server removes a deleted mail only when the session
    // ends; if it refuses then, the mail is still there and kvmail must say so.
    testsupport::ScriptServer imap;
    imap.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n")
        .Expect("a1 LOGIN \"me\" \"pw\"\r\n").Send("a1 OK [CAPABILITY IMAP4rev1] in\r\n")
        .Expect("a2 SELECT \"INBOX\"\r\n").Send("* 1 EXISTS\r\n* OK [UIDVALIDITY 5] v\r\na2 OK done\r\n")
        .Expect("a3 UID FETCH 1:* (UID FLAGS RFC822.SIZE)\r\n").Send("* 1 FETCH (UID 7 FLAGS () RFC822.SIZE 12)\r\na3 OK\r\n")
        .Expect("a4 UID FETCH 7 (UID BODY.PEEK[HEADER])\r\n").Send("* 1 FETCH (UID 7 BODY[HEADER] {12}\r\nSubject: x\r\n)\r\na4 OK\r\n")
        .Expect("a5 UID STORE 7 +FLAGS.SILENT (\\Deleted)\r\n").Send("a5 OK\r\n")
        .Expect("a6 EXPUNGE\r\n").Send("a6 NO [CANNOT] \x1b[2Jnot now\r\n")
        .Expect("a7 LOGOUT\r\n").Send("* BYE\r\na7 OK\r\n");
    imap.Start();
    Expect({
        {"delete 1 --imap --server 127.0.0.1 --user me --password pw --port " + std::to_string(imap.Port()), 1,
         "ending the session failed\n  error -6: clsIMAPMailConnection::OnDisconnect(): the deleted mails were not "
         "removed: unexpected reply 'a6 NO [CANNOT] \\x1B[2Jnot now'"},
        {"", 2, "Usage: kvmail"},
        {"--help", 0, "Commands:"},
        {"send --help", 0, "Usage: kvmail send"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"send --from nobody --to x@example.org", 2, "--from was refused"},
        {"send " + compose + " --text missing.txt", 2, "cannot open 'missing.txt'"},
        {"send " + compose + " --server 127.0.0.1 --port " + std::to_string(testsupport::ClosedPort()), 1,
         "connecting failed\n  error -2: connect(127.0.0.1:"},
        {"show -- -x.eml", 2, "cannot open '-x.eml'"},
        {"show hostile.eml", 0, "Subject: names\nattachment: a\\x1b]0;x\\x07.txt; 2 bytes\n"},
        // Without a server the mail goes to the outbox.
        {"send " + compose, 0, "no server configured: the mail went to the outbox: outbox/"},
        {"show outbox/*.eml", 0, "  related part: pic.gif; 13 bytes\nattachment: note.txt; 11 bytes\n"},
        // Bad input: the option named, nothing sent.
        {send + " --port=0", 2, "option '--port' wants a number from 1 to 65535, not '0'"},
        {send + " --timeout 12x", 2, "option '--timeout' wants a number from 1 to 2147483647, not '12x'"},
        {send + " --cc", 2, "option '--cc' wants a value"},
        {send + " --bcc --subject x", 2, "option '--bcc' wants a value"},
        {send + " --pasword=secret", 2, "unknown or ambiguous option '--pasword'\n"},
        {send + " -x", 2, "unknown option '-x'"},
        {send + " --password-file missing.pw", 2, "option '--password-file': cannot read 'missing.pw'"},
        {"fetch 1x --server 127.0.0.1", 2, "fetch wants a message number from 1, not '1x'"},
        {"--trace=1 info", 2, "option '--trace' takes no value"},
        {"list --folder Sent --server 127.0.0.1", 2, "option '--folder' wants --imap"},
    });
    EXPECT_EQ(sink.Message(1), "");
    EXPECT_TRUE(imap.Finish()) << imap.Failure();
}

// One dovecot for both providers: POP3 lists and answers read N with E_NOTIMPL;
// an IMAP folder lists, loads byte for byte, keeps read flags and deletions.
TEST_F(KvmailTest, MailboxListFetchReadDelete) {
    KV_NEED_PEER(fixtures::Dovecot::ImapAvailable(), "dovecot's IMAP server");
    fixtures::Dovecot server;
    server.imap = true;
    ASSERT_TRUE(server.Start("reader", "pw", false));
    const std::string first = "From: Alice <alice@example.org>\r\nSubject: first\r\n\r\nhello\r\n..\r\n";
    server.Deliver("reader", "1000000001.M1P1.test", first);
    // Hostile names: a path out of the directory, a dot file, the mail's own
    // file name, twice the same name, none at all.
    std::string parts;
    for (const char *name : {"../data.bin", ".bashrc", "2.eml", "same.txt", "same.txt", ""})
        parts += std::string("--b\r\nContent-Type: application/octet-stream") + (*name ? "; name=\"" : "") + name +
                 (*name ? "\"" : "") + "\r\nContent-Disposition: attachment\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n";
    server.Deliver("reader", "1000000002.M2P1.test",
                   "From: Bob <bob@example.org>\r\nSubject: second\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n" +
                       parts + "--b--\r\n");
    std::ofstream(dir + "/pw") << "pw\n";
    std::filesystem::create_directory(dir + "/got");
    std::ofstream(dir + "/got/bashrc") << "mine";
    const std::string user = " --server 127.0.0.1 --user reader --password-file pw --port ";
    const std::string pop3 = user + std::to_string(server.port), imap = " --imap" + user + std::to_string(server.imapPort);
    const std::string listed = "2 message(s)\n   1  Alice <alice@example.org>       first\n";
    Expect({
        {"list" + pop3, 0, listed},
        {"list" + imap, 0, listed},
        {"fetch 1" + imap, 0, "./1.eml (" + std::to_string(first.size()) + " bytes)\n"},
        {"fetch 2 --out got" + imap, 0, "got/2.eml ("},
        {"fetch 2 --out note.txt/got" + imap, 1, "cannot write 'note.txt/got/2.eml'"},
        {"read 2" + imap, 0, "message 2 marked as read\n"},
        // Left out as read: message 2 only; fetching message 1 did not mark it.
        {"list --option QueryUnreadMailsOnly=1" + imap, 0, "1 message(s)\n   1  Alice"},
        {"read 1" + pop3, 1, "marking as read failed: the POP3 provider does not do that (E_NOTIMPL)\n"},
        {"delete 1" + imap, 0, "message 1 deleted\n"},
        {"fetch 9" + imap, 2, "no message 9 in a mailbox of 1\n"},
        {"list --folder Nope" + imap, 1, "connecting failed\n  error -6: unexpected reply 'a2 NO Mailbox doesn't exist: Nope"},
    });
    EXPECT_EQ(fixtures::ReadFile(dir + "/1.eml"), first);
    EXPECT_EQ(fixtures::ReadFile(dir + "/got/bashrc"), "mine");
    std::set<std::string> written;
    for (auto &e : std::filesystem::directory_iterator(dir + "/got")) written.insert(e.path().filename());
    EXPECT_EQ(written, (std::set<std::string>{"2.eml", "data.bin", "bashrc", "bashrc-1", "2-1.eml", "same.txt",
                                              "same-1.txt", "attachment"}));
    EXPECT_EQ(fixtures::ReadFile(dir + "/got/same-1.txt"), std::string("\x00\x01\x02\x03", 4));
    EXPECT_FALSE(std::filesystem::exists(dir + "/data.bin"));
    EXPECT_EQ(server.MessagesLeft("reader"), 1u);
}


} // namespace
