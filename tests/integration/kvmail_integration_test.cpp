// kvmail, the command-line host, as a user runs it: the outbox without a
// server, a real send, a mailbox, and its exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fixtures.h"

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
    const std::string compose = "--from 'Me <me@example.org>' --to you@example.org --subject 'kvmail test' "
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

TEST_F(KvmailTest, SendsToARealServer) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start());
    Result r = Kvmail("send " + compose + " --server 127.0.0.1 --port " + std::to_string(sink.Port()), dir);
    ASSERT_EQ(r.code, 0) << r.out;
    std::string arrived = sink.Message(1);
    EXPECT_NE(arrived.find("Subject: kvmail test"), std::string::npos);
    EXPECT_NE(arrived.find("Content-Type: image/gif"), std::string::npos);
    EXPECT_EQ(sink.Envelope(1), "me@example.org\nyou@example.org\n");
}

TEST_F(KvmailTest, ExitCodesAndErrorRecords) {
    struct Case {
        std::string args;
        int code;
        const char *says;
    } cases[] = {
        {"", 2, "usage: kvmail"},
        {"--help", 0, "commands:"},
        {"send --help", 0, "usage: kvmail send"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"send --from nobody --to x@example.org", 2, "--from was refused"},
        {"send " + compose + " --text missing.txt", 2, "cannot open 'missing.txt'"},
        {"send " + compose + " --server 127.0.0.1 --port " + std::to_string(fixtures::FreePort()), 1,
         "connecting failed\n  error -2: connect(127.0.0.1:"},
        {"show missing.eml", 2, "cannot open 'missing.eml'"},
    };
    for (const Case &c : cases) {
        Result r = Kvmail(c.args, dir);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
    }
}

TEST_F(KvmailTest, MailboxListFetchDelete) {
    if (!fixtures::Dovecot::Available()) GTEST_SKIP() << "dovecot is not installed";
    fixtures::Dovecot server;
    ASSERT_TRUE(server.Start("reader", "pw", false));
    server.Deliver("reader", "1000000001.M1P1.test",
                   "From: Alice <alice@example.org>\r\nSubject: first\r\n\r\nhello\r\n");
    server.Deliver("reader", "1000000002.M2P1.test",
                   "From: Bob <bob@example.org>\r\nSubject: second\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
                   "--b\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n--b--\r\n");
    std::string server_args = "--server 127.0.0.1 --port " + std::to_string(server.Port()) + " --user reader --password pw";
    Result list = Kvmail("list " + server_args, dir);
    ASSERT_EQ(list.code, 0) << list.out;
    EXPECT_NE(list.out.find("2 message(s)"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("second"), std::string::npos) << list.out;

    Result fetch = Kvmail("fetch 2 " + server_args + " --out got", dir);
    ASSERT_EQ(fetch.code, 0) << fetch.out;
    EXPECT_EQ(fixtures::ReadFile(dir + "/got/data.bin"), std::string("\x00\x01\x02\x03", 4));
    EXPECT_NE(fixtures::ReadFile(dir + "/got/2.eml").find("Subject: second"), std::string::npos);

    Result del = Kvmail("delete 1 " + server_args, dir);
    EXPECT_EQ(del.code, 0) << del.out;
    EXPECT_EQ(server.MessagesLeft("reader"), 1u);
    Result wrong = Kvmail("fetch 9 " + server_args, dir);
    EXPECT_EQ(wrong.code, 2) << wrong.out;
}

} // namespace
