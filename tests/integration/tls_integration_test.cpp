// TLS against real servers on loopback: aiosmtpd with STARTTLS and implicit
// TLS, certificates from a throw-away CA made by the test; refused
// certificates, SOCKS proxies. dovecot over TLS: imap_integration_test. A
// session dropped without close_notify: the tls-session (OpenSSL) and wine-tls tests.
#include <gtest/gtest.h>

#include <pwd.h>

#include "clients.h"
#include "fixtures.h"
#include "peers.h"

namespace kv {
namespace {

using testsupport::Configure;
using testsupport::Held;
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
        if (mode == "none") return {};
        return {"--tls", mode, pki.Cert(cert), pki.Key(cert)};
    }
    fixtures::TestPki pki;
};

// The certificate checks are OpenSSL's as the socket asks for them; either mode reaches the same ones.
TEST_F(TlsIntegration, SmtpSendsOnlyAfterAVerifiedHandshake) {
    const std::string handshake = "TLS handshake with '127.0.0.1' failed: the server's certificate ";
    struct Case {
        std::string mode, host, cert;
        bool caFile;
        std::string verify; // "" leaves the option unset
        std::string error;  // "" connects
    } cases[] = {
        // "auto" takes the STARTTLS offered.
        {"auto", "127.0.0.1", "good", true, "", ""},
        {"implicit", "localhost", "good", true, "", ""},
        {"starttls", "127.0.0.1", "wrong", true, "", handshake + "is not for the host name '127.0.0.1'"},
        {"implicit", "127.0.0.1", "expired", true, "true", handshake + "has expired"},
        {"starttls", "127.0.0.1", "good", false, "", handshake + "was issued by an unknown authority"},
        {"implicit", "127.0.0.1", "wrong", false, "false", ""},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.mode + " " + t.cert + " " + t.verify);
        fixtures::SmtpSink sink;
        // With STARTTLS the sink refuses AUTH before TLS, so a logon proves the upgrade.
        ASSERT_TRUE(sink.Start("tim", "tanstaaf", Tls(t.mode == "auto" ? "starttls" : t.mode, t.cert.c_str())));
        Held<clsSMTPMailConnection> smtp(sink.Port(), "tim", "tanstaaf");
        Configure(smtp.c, {{u"ServerAddress", t.host}, {u"TLSMode", t.mode}});
        if (t.caFile) Configure(smtp.c, {{u"TLSCAFile", pki.CaFile()}});
        if (!t.verify.empty()) Configure(smtp.c, {{u"TLSVerify", t.verify}});
        HRESULT hr = smtp->Connect();
        if (t.error.empty()) {
            ASSERT_EQ(hr, S_OK) << ErrorOf(smtp.c);
            EXPECT_TRUE(smtp->Socket().IsTls());
            EXPECT_EQ(Transfer(smtp.c, kMessage), "");
            EXPECT_EQ(smtp->Disconnect(), S_OK);
            EXPECT_EQ(sink.Message(1), kMessage);
            EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5");
            continue;
        }
        LONG code = 0;
        EXPECT_EQ(hr, E_ABORT);
        EXPECT_EQ(ErrorOf(smtp.c, &code), t.error + "\r\n[clsSMTPMailConnection::OnConnect]\r\n");
        EXPECT_EQ(code, -2);
        EXPECT_EQ(smtp->State(), kDisconnected);
        EXPECT_FALSE(smtp->Socket().HasSocket());
        EXPECT_EQ(sink.AuthMechanism(), "") << "no logon over a refused connection";
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
        const char *server, *tls, *password;
    } cases[] = {
        {1, "127.0.0.1", "none", ""},
        // The proxy resolves the name. dante refuses SOCKS 4a name requests;
        // their bytes are checked against a scripted proxy.
        {2, "localhost", "implicit", ""},
        {2, "127.0.0.1", "starttls", "kvsocks-pw"},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(std::to_string(t.type) + " " + t.server + " " + t.tls + " " + t.password);
        fixtures::SmtpSink sink;
        ASSERT_TRUE(sink.Start("tim", "tanstaaf", Tls(t.tls, "good")));
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
        ASSERT_EQ(smtp->Connect(), S_OK) << ErrorOf(smtp.c) << proxy.Log();
        EXPECT_EQ(Transfer(smtp.c, kMessage), "");
        smtp->Disconnect();
        EXPECT_EQ(sink.Message(1), kMessage);
        EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5");
    }
}

} // namespace
} // namespace kv
