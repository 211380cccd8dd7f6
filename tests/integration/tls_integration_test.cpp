// TLS against real servers on loopback: aiosmtpd with STARTTLS and implicit
// TLS, dovecot with STLS and TLS from the first byte, certificates from a
// throw-away CA made by the test; refused certificates, SOCKS proxies, IPv6.
#include <gtest/gtest.h>

#include <pwd.h>

#include "clients.h"
#include "fixtures.h"
#include "peers.h"

namespace kv {
namespace {

using testsupport::Configure;
using testsupport::Held;
using testsupport::RecordingPop3;
using testsupport::Transfer;
std::string ErrorOf(IKvMailConnection2 *c, LONG *code = nullptr) { return testsupport::ErrorText(c, code); }

const std::string kMessage = "From: me@example.org\r\nTo: you@example.org\r\nSubject: tls\r\n\r\nover TLS\r\n";

class TlsIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        KV_NEED_PEER(fixtures::TestPki::Available(), "the openssl command");
        ASSERT_TRUE(pki.Make());
    }
    std::vector<std::string> Tls(const std::string &mode, const char *cert) {
        if (mode.empty()) return {};
        return {"--tls", mode, pki.Cert(cert), pki.Key(cert)};
    }
    fixtures::TestPki pki;
};

TEST_F(TlsIntegration, SmtpSendsOnlyAfterAVerifiedHandshake) {
    struct Case {
        std::string mode, server, host, cert;
        bool caFile;
        std::string verify; // "" leaves the option unset
        LONG code;          // 0: connects
        std::string error;
    };
    std::vector<Case> cases = {
        {"starttls", "starttls", "127.0.0.1", "good", true, "", 0, ""},
        {"implicit", "implicit", "localhost", "good", true, "", 0, ""},
        {"auto", "starttls", "localhost", "good", true, "", 0, ""},
        // "auto" goes on in clear with a server that offers no STARTTLS; "starttls" sends no password.
        {"auto", "", "127.0.0.1", "", false, "", 0, ""},
        {"starttls", "", "127.0.0.1", "", false, "", -5, "TLS required, but the server does not offer STARTTLS"},
    };
    const std::string handshake = "TLS handshake with '127.0.0.1' failed: the server's certificate ";
    for (const char *mode : {"starttls", "implicit"}) {
        const Case refusals[] = {
            {mode, mode, "127.0.0.1", "wrong", true, "", -2, handshake + "is not for the host name '127.0.0.1'"},
            {mode, mode, "localhost", "wrong", true, "", -2,
             "TLS handshake with 'localhost' failed: the server's certificate is not for the host name 'localhost'"},
            {mode, mode, "127.0.0.1", "expired", true, "", -2, handshake + "has expired"},
            {mode, mode, "127.0.0.1", "good", false, "", -2, handshake + "was issued by an unknown authority"},
            {mode, mode, "127.0.0.1", "self", true, "", -2, handshake + "was issued by an unknown authority"},
            {mode, mode, "127.0.0.1", "expired", true, "true", -2, handshake + "has expired"},
            {mode, mode, "127.0.0.1", "wrong", false, "false", 0, ""},
            {mode, mode, "127.0.0.1", "expired", false, "0", 0, ""},
        };
        cases.insert(cases.end(), std::begin(refusals), std::end(refusals));
    }
    for (const Case &t : cases) {
        std::string name = t.mode + " " + t.server + " " + t.cert + " " + t.verify;
        fixtures::SmtpSink sink;
        // With STARTTLS the sink refuses AUTH before TLS, so a logon proves the upgrade.
        ASSERT_TRUE(sink.Start("tim", "tanstaaf", Tls(t.server, t.cert.c_str()))) << name;
        Held<clsSMTPMailConnection> smtp(sink.Port(), "tim", "tanstaaf");
        Configure(smtp.c, {{u"ServerAddress", t.host}, {u"TLSMode", t.mode}});
        if (t.caFile) Configure(smtp.c, {{u"TLSCAFile", pki.CaFile()}});
        if (!t.verify.empty()) Configure(smtp.c, {{u"TLSVerify", t.verify}});
        HRESULT hr = smtp->Connect();
        if (t.code == 0) {
            ASSERT_EQ(hr, S_OK) << name << ": " << ErrorOf(smtp.c);
            EXPECT_EQ(smtp->Socket().IsTls(), !t.server.empty()) << name;
            EXPECT_EQ(Transfer(smtp.c, kMessage), "") << name;
            EXPECT_EQ(smtp->Disconnect(), S_OK);
            EXPECT_EQ(sink.Message(1), kMessage) << name;
            EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5") << name;
            continue;
        }
        LONG code = 0;
        EXPECT_EQ(hr, E_ABORT) << name;
        EXPECT_EQ(ErrorOf(smtp.c, &code), t.error + "\r\n[clsSMTPMailConnection::OnConnect]\r\n") << name;
        EXPECT_EQ(code, t.code) << name;
        EXPECT_EQ(smtp->State(), kDisconnected);
        EXPECT_FALSE(smtp->Socket().HasSocket());
        EXPECT_EQ(sink.AuthMechanism(), "") << name << ": no logon over a refused connection";
    }
}

TEST_F(TlsIntegration, SmtpTlsFailureMidTransferIsAnError) {
    // Whether a reset surfaces while sending or at the next receive is the kernel's timing.
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"after-data", {"recv() failed: the server closed the connection without ending the TLS session"}},
        {"mid-data", {"send() failed: ", "recv() failed: "}},
    };
    for (const auto &[mode, starts] : cases) {
        fixtures::Process server;
        ASSERT_TRUE(server.Start(
            {"/usr/bin/python3", KV_SERVERS_DIR "/tls_drop.py", pki.Cert("good"), pki.Key("good"), mode}, true));
        Held<clsSMTPMailConnection> smtp(uint16_t(std::atoi(server.FirstLine().c_str())));
        Configure(smtp.c, {{u"ServerAddress", "localhost"}, {u"TLSMode", "implicit"}, {u"TLSCAFile", pki.CaFile()}});
        ASSERT_EQ(smtp->Connect(), S_OK) << mode << ": " << ErrorOf(smtp.c);
        std::string big = "Subject: big\r\n\r\n";
        while (big.size() < 4000000) big += std::string(998, 'x') + "\r\n";
        testsupport::StringText text(big);
        std::vector<String> messages;
        int32_t code = 0;
        try {
            smtp->Transfer({"me@example.org", {"you@example.org"}, {}, {}}, text);
        } catch (const clsExcept &e) {
            messages = e.Messages();
            code = e.Code();
        }
        ASSERT_FALSE(messages.empty()) << mode << ": a broken transfer must not pass for a sent mail";
        EXPECT_EQ(code, -2) << mode;
        bool expected = false;
        for (const std::string &start : starts) expected = expected || messages.front().rfind(start, 0) == 0;
        EXPECT_TRUE(expected) << mode << ": " << messages.front();
        EXPECT_EQ(messages.back(), "[clsArpaMail::Send()]");
        EXPECT_FALSE(smtp->Socket().HasSocket()) << mode;
        EXPECT_EQ(smtp->Disconnect(), S_OK);
    }
}

TEST_F(TlsIntegration, SmtpThroughSocks) {
    KV_NEED_PEER(fixtures::Dante::Available(), "danted");
    // A system account that scripts/setup-test-accounts.sh creates for this test.
    KV_NEED_PEER(getpwnam("kvsocks") != nullptr, "the account kvsocks");
    fixtures::Dante open, guarded;
    ASSERT_TRUE(open.Start(false));
    ASSERT_TRUE(guarded.Start(true));
    struct Case {
        int type;
        const char *server, *tls, *password, *error;
    } cases[] = {
        {1, "127.0.0.1", "none", "", ""},
        {2, "127.0.0.1", "none", "", ""},
        // The proxy resolves the name. dante refuses SOCKS 4a name requests;
        // their bytes are checked against a scripted proxy.
        {2, "localhost", "none", "", ""},
        {2, "localhost", "starttls", "", ""},
        {2, "localhost", "implicit", "", ""},
        {2, "127.0.0.1", "none", "kvsocks-pw", ""},
        {2, "127.0.0.1", "none", "wrong", "proxy authorization failed\r\n"},
    };
    for (const Case &t : cases) {
        std::string name = std::to_string(t.type) + " " + t.server + " " + t.tls + " " + t.password;
        fixtures::SmtpSink sink;
        ASSERT_TRUE(sink.Start("tim", "tanstaaf", Tls(std::string(t.tls) == "none" ? "" : t.tls, "good")));
        fixtures::Dante &proxy = *t.password ? guarded : open;
        Held<clsSMTPMailConnection> smtp(sink.Port(), "tim", "tanstaaf");
        Configure(smtp.c, {{u"ServerAddress", t.server},
                           {u"ProxyType", t.type},
                           {u"ProxyAddress", "127.0.0.1"},
                           {u"ProxyPort", proxy.Port()},
                           {u"ProxyResolve", std::string(t.server) == "localhost" ? "remote" : "local"},
                           {u"TLSMode", t.tls},
                           {u"TLSCAFile", pki.CaFile()}});
        if (*t.password) Configure(smtp.c, {{u"ProxyUser", "kvsocks"}, {u"ProxyPassword", t.password}});
        HRESULT hr = smtp->Connect();
        if (*t.error) {
            EXPECT_EQ(hr, E_ABORT) << name;
            EXPECT_EQ(ErrorOf(smtp.c).rfind(t.error, 0), 0u) << name << ": " << ErrorOf(smtp.c);
            continue;
        }
        ASSERT_EQ(hr, S_OK) << name << ": " << ErrorOf(smtp.c) << proxy.Log();
        EXPECT_EQ(Transfer(smtp.c, kMessage), "") << name;
        smtp->Disconnect();
        EXPECT_EQ(sink.Message(1), kMessage) << name;
        EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5") << name;
    }
}

// dovecot's log lags behind the session a little: waits up to 2 s for `text`.
std::string LogWith(const fixtures::Dovecot &server, const char *text) {
    std::string log = server.Log();
    for (int i = 0; i < 40 && log.find(text) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        log = server.Log();
    }
    return log;
}

// The certificate checks themselves are the socket's, shown above for SMTP.
TEST_F(TlsIntegration, Pop3StlsImplicitAndRefusedCertificates) {
    KV_NEED_PEER(fixtures::Dovecot::Available(), "dovecot");
    struct Case {
        const char *name, *cert, *mode;
        bool tlsPort, caFile, verify;
        const char *error; // "" for success
    } cases[] = {
        {"stls", "good", "starttls", false, true, true, ""},
        {"auto", "good", "auto", false, true, true, ""},
        {"implicit", "good", "implicit", true, true, true, ""},
        {"stls, wrong host", "wrong", "starttls", false, true, true,
         "the server's certificate is not for the host name '127.0.0.1'"},
        {"implicit, expired", "expired", "implicit", true, true, true, "the server's certificate has expired"},
        {"implicit, wrong host, no verify", "wrong", "implicit", true, false, false, ""},
    };
    for (const Case &t : cases) {
        fixtures::Dovecot server;
        ASSERT_TRUE(server.Start("mrose", "tanstaaf", false, pki.Cert(t.cert), pki.Key(t.cert))) << server.Log();
        const std::string message = "Subject: over TLS\r\n\r\nbody\r\n";
        server.Deliver("mrose", "1000000000.M1P1.test", message);
        Held<RecordingPop3> pop(t.tlsPort ? server.TlsPort() : server.Port(), "mrose", "tanstaaf");
        Configure(pop.c, {{u"TLSMode", t.mode}});
        if (t.caFile) Configure(pop.c, {{u"TLSCAFile", pki.CaFile()}});
        if (!t.verify) Configure(pop.c, {{u"TLSVerify", "false"}});
        HRESULT hr = pop->Connect();
        if (*t.error) {
            EXPECT_EQ(hr, E_ABORT) << t.name;
            EXPECT_EQ(ErrorOf(pop.c), std::string("TLS handshake with '127.0.0.1' failed: ") + t.error +
                                          "\r\n[clsPOP3MailConnection::OnConnect]\r\n")
                << t.name;
            std::string log = LogWith(server, "Disconnected");
            EXPECT_NE(log.find("Disconnected"), std::string::npos) << log;
            EXPECT_EQ(log.find("user=<mrose>"), std::string::npos) << t.name << ": no logon";
            continue;
        }
        ASSERT_EQ(hr, S_OK) << t.name << ": " << ErrorOf(pop.c) << server.Log();
        ASSERT_EQ(pop->QueryMailbox(1), S_OK) << t.name << ": " << ErrorOf(pop.c);
        ASSERT_EQ(pop->made.size(), 1u);
        EXPECT_EQ(pop->Text(0), message) << t.name;
        EXPECT_EQ(pop->Disconnect(), S_OK);
        // dovecot marks logons over TLS in its log.
        std::string log = LogWith(server, "Login: user=<mrose>");
        size_t login = log.find("Login: user=<mrose>");
        ASSERT_NE(login, std::string::npos) << log;
        EXPECT_NE(log.find("TLS", login), std::string::npos) << t.name << ": " << log;
    }
}

TEST_F(TlsIntegration, SmtpAndPop3OverIpv6Loopback) {
    if (!testsupport::Ipv6Loopback()) GTEST_SKIP() << "no socket can be bound to ::1";
    KV_NEED_PEER(fixtures::Dovecot::Available(), "dovecot");
    for (const char *mode : {"none", "implicit"}) {
        fixtures::SmtpSink sink;
        std::vector<std::string> extra = Tls(std::string(mode) == "none" ? "" : mode, "good");
        extra.insert(extra.end(), {"--listen", "::1"});
        ASSERT_TRUE(sink.Start("", "", extra)) << mode;
        Held<clsSMTPMailConnection> smtp(sink.Port());
        Configure(smtp.c, {{u"ServerAddress", "::1"}, {u"TLSMode", mode}, {u"TLSCAFile", pki.CaFile()}});
        ASSERT_EQ(smtp->Connect(), S_OK) << mode << ": " << ErrorOf(smtp.c);
        EXPECT_EQ(Transfer(smtp.c, kMessage), "") << mode;
        smtp->Disconnect();
        EXPECT_EQ(sink.Message(1), kMessage) << mode;
    }

    fixtures::Dovecot server;
    server.listen = "::1";
    ASSERT_TRUE(server.Start("mrose", "tanstaaf", false, pki.Cert("good"), pki.Key("good"))) << server.Log();
    server.Deliver("mrose", "1000000000.M1P1.test", "Subject: v6\r\n\r\nbody\r\n");
    Held<RecordingPop3> pop(server.Port(), "mrose", "tanstaaf");
    Configure(pop.c, {{u"ServerAddress", "::1"}, {u"TLSMode", "starttls"}, {u"TLSCAFile", pki.CaFile()}});
    EXPECT_EQ(pop->Connect(), S_OK) << ErrorOf(pop.c) << server.Log();
    EXPECT_EQ(pop->QueryMailbox(1), S_OK) << ErrorOf(pop.c);
    ASSERT_EQ(pop->made.size(), 1u);
    EXPECT_EQ(pop->Text(0), "Subject: v6\r\n\r\nbody\r\n");
    pop->Disconnect();
    std::string log = LogWith(server, "Login: ");
    EXPECT_NE(log.find("rip=::1"), std::string::npos) << log;
    EXPECT_NE(log.find("TLS", log.find("Login: ")), std::string::npos) << log;
}

} // namespace
} // namespace kv
