// kvmail, the command-line host, as a user runs it: the outbox without a
// server, a real send, refused recipients, a mailbox with hostile names, and
// its exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "fixtures.h"
#include "orkv14.h"

namespace {

struct Result {
    int code;
    std::string out;
};

Result Kvmail(const std::string &args, const std::string &dir) {
    std::string command = "cd '" + dir + "' && '" KV_KVMAIL_PATH "' " + args + " 2>&1";
    Result r{-1, {}};
    FILE *p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    std::string dir;
    const std::string compose = "--from 'Me <me@example.org>' --to=you@example.org --subject='kvmail test' "
                                "--text note.txt --html page.html --attach note.txt";
};

TEST_F(KvmailTest, WithoutAServerTheMailGoesToTheOutbox) {
    Result r = Kvmail("send " + compose, dir);
    ASSERT_EQ(r.code, 0) << r.out;
    ASSERT_NE(r.out.find("went to the outbox: outbox/"), std::string::npos) << r.out;
    std::string path;
    for (auto &e : std::filesystem::directory_iterator(dir + "/outbox")) path = e.path();
    ASSERT_FALSE(path.empty());
    Result shown = Kvmail("show '" + path + "'", dir);
    EXPECT_EQ(shown.code, 0) << shown.out;
    EXPECT_NE(shown.out.find("Subject: kvmail test"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("related part: pic.gif; 13 bytes"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("attachment: note.txt; 11 bytes"), std::string::npos) << shown.out;
}

TEST_F(KvmailTest, SendsToARealServerWithSecretsFromAFileOrTheEnvironment) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("me", "pw-from-file", {"--token", "tok-from-file"}));
    std::ofstream(dir + "/pw") << "pw-from-file\n";
    std::ofstream(dir + "/tok") << "tok-from-file\r\n";
    const std::string server = " --server 127.0.0.1 --port=" + std::to_string(sink.Port()) + " --user me";
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
    const std::string server = " --server 127.0.0.1 --port " + std::to_string(sink.Port());
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
    const std::string send = "send " + compose + " --server 127.0.0.1 --port " + std::to_string(sink.Port());
    std::ofstream(dir + "/hostile.eml") << "Subject: names\r\nMIME-Version: 1.0\r\n"
                                            "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                                            "Content-Type: text/plain; name=\"=?utf-8?q?a=1B]0;x=07.txt?=\"\r\n"
                                            "Content-Disposition: attachment\r\n\r\nxx\r\n--b--\r\n";
    struct Case {
        std::string args;
        int code;
        const char *says;
    } cases[] = {
        {"", 2, "Usage: kvmail"},
        {"--help", 0, "Commands:"},
        {"send --help", 0, "Usage: kvmail send"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"send --from nobody --to x@example.org", 2, "--from was refused"},
        {"send " + compose + " --text missing.txt", 2, "cannot open 'missing.txt'"},
        {"send " + compose + " --server 127.0.0.1 --port " + std::to_string(fixtures::FreePort()), 1,
         "connecting failed\n  error -2: connect(127.0.0.1:"},
        {"show missing.eml", 2, "cannot open 'missing.eml'"},
        {"show -- -x.eml", 2, "cannot open '-x.eml'"},
        {"show hostile.eml", 0, "attachment: a\\x1b]0;x\\x07.txt; 2 bytes"},
        {"--version", 0, "kvmail (orkv14) " ORKV14_VERSION_STRING "\n"},
        // Bad input: the option named, nothing sent.
        {send + " --port=0", 2, "option '--port' wants a number from 1 to 65535, not '0'"},
        {send + " --timeout 12x", 2, "option '--timeout' wants a number from 1 to 2147483647, not '12x'"},
        {"-v 256 " + send, 2, "option '-v' wants a number from 0 to 255, not '256'"},
        {send + " --cc", 2, "option '--cc' wants a value"},
        {send + " --bcc --subject x", 2, "option '--bcc' wants a value"},
        {send + " --pasword=secret", 2, "unknown or ambiguous option '--pasword'\n"},
        {send + " -x", 2, "unknown option '-x'"},
        {send + " --password-file missing.pw", 2, "option '--password-file': cannot read 'missing.pw'"},
        {"fetch 1x --server 127.0.0.1", 2, "fetch wants a message number from 1, not '1x'"},
        {"--trace=1 info", 2, "option '--trace' takes no value"},
    };
    for (const Case &c : cases) {
        Result r = Kvmail(c.args, dir);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
    }
    EXPECT_EQ(sink.Message(1), "");
}

TEST_F(KvmailTest, MailboxListFetchDelete) {
    if (!fixtures::Dovecot::Available()) GTEST_SKIP() << "dovecot is not installed";
    fixtures::Dovecot server;
    ASSERT_TRUE(server.Start("reader", "pw", false));
    server.Deliver("reader", "1000000001.M1P1.test",
                   "From: Alice <alice@example.org>\r\nSubject: first\r\n\r\nhello\r\n");
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
    std::string server_args = "--server 127.0.0.1 --port " + std::to_string(server.Port()) + " --user reader --password pw";
    Result list = Kvmail("list " + server_args, dir);
    ASSERT_EQ(list.code, 0) << list.out;
    EXPECT_NE(list.out.find("2 message(s)"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("second\n"), std::string::npos) << list.out;

    std::filesystem::create_directory(dir + "/got");
    std::ofstream(dir + "/got/bashrc") << "mine";
    Result fetch = Kvmail("fetch 2 " + server_args + " --out got", dir);
    ASSERT_EQ(fetch.code, 0) << fetch.out;
    EXPECT_NE(fixtures::ReadFile(dir + "/got/2.eml").find("Subject: second"), std::string::npos);
    EXPECT_EQ(fixtures::ReadFile(dir + "/got/bashrc"), "mine");
    std::set<std::string> written;
    for (auto &e : std::filesystem::directory_iterator(dir + "/got")) written.insert(e.path().filename());
    EXPECT_EQ(written, (std::set<std::string>{"2.eml", "data.bin", "bashrc", "bashrc-1", "2-1.eml", "same.txt",
                                              "same-1.txt", "attachment"}));
    EXPECT_EQ(fixtures::ReadFile(dir + "/got/same-1.txt"), std::string("\x00\x01\x02\x03", 4));
    EXPECT_FALSE(std::filesystem::exists(dir + "/data.bin"));
    Result unwritable = Kvmail("fetch 2 " + server_args + " --out note.txt/got", dir);
    EXPECT_EQ(unwritable.code, 1) << unwritable.out;
    EXPECT_NE(unwritable.out.find("cannot write 'note.txt/got/2.eml'"), std::string::npos) << unwritable.out;

    Result del = Kvmail("delete 1 " + server_args, dir);
    EXPECT_EQ(del.code, 0) << del.out;
    EXPECT_EQ(server.MessagesLeft("reader"), 1u);
    Result wrong = Kvmail("fetch 9 " + server_args, dir);
    EXPECT_EQ(wrong.code, 2) << wrong.out;
}

} // namespace
