// TLS against real servers on loopback: aiosmtpd with STARTTLS and implicit
// TLS, dovecot with STLS and TLS from the first byte, certificates from a
// throw-away CA made by the test; refused certificates and OAuth tokens.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_mail.h"
#include "fixtures.h"
#include "test_text.h"
#include "providers/pop3/pop3_connection.h"
#include "providers/smtp/smtp_connection.h"

namespace kv {
namespace {

void SetText(IKvMailConnection2 *c, const char16_t *name, const std::string &value) {
    testsupport::SetTextOption(c, name, value);
}
void SetInt(IKvMailConnection2 *c, const char16_t *name, int32_t value) { testsupport::SetIntOption(c, name, value); }
std::string ErrorOf(IKvMailConnection2 *c, LONG *code = nullptr) { return testsupport::ErrorText(c, code); }
using Text = testsupport::StringText;






template <class T> struct Held {
    T *c = new T();
    Held() { c->AddRef(); }
    ~Held() { c->Release(); }
    Held(const Held &) = delete;
};

const std::string kMessage = "From: me@example.org\r\nTo: you@example.org\r\nSubject: tls\r\n\r\nover TLS\r\n";

class TlsIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fixtures::TestPki::Available()) GTEST_SKIP() << "no openssl command";
        ASSERT_TRUE(pki.Make());
    }
    std::vector<std::string> Tls(const char *mode, const char *cert) {
        return {"--tls", mode, pki.Cert(cert), pki.Key(cert)};
    }
    fixtures::TestPki pki;
};

TEST_F(TlsIntegration, SmtpStartTlsImplicitAndAutoSendAfterVerifiedHandshake) {
    struct Case {
        const char *mode, *server, *host;
    } cases[] = {
        {"starttls", "starttls", "127.0.0.1"},
        {"implicit", "implicit", "localhost"},
        {"auto", "starttls", "localhost"},
    };
    for (const Case &t : cases) {
        fixtures::SmtpSink sink;
        // With STARTTLS the sink refuses AUTH before TLS, so a logon proves the upgrade.
        ASSERT_TRUE(sink.Start("tim", "tanstaaf", Tls(t.server, "good"))) << t.mode;
        Held<clsSMTPMailConnection> smtp;
        SetText(smtp.c, u"ServerAddress", t.host);
        SetInt(smtp.c, u"ServerPort", sink.Port());
        SetText(smtp.c, u"ServerUser", "tim");
        SetText(smtp.c, u"ServerPassword", "tanstaaf");
        SetInt(smtp.c, u"SocketTimeout", 5000);
        SetText(smtp.c, u"TLSMode", t.mode);
        SetText(smtp.c, u"TLSCAFile", pki.CaFile());
        ASSERT_EQ(smtp.c->Connect(), S_OK) << t.mode << ": " << ErrorOf(smtp.c);
        EXPECT_TRUE(smtp.c->Socket().IsTls()) << t.mode;
        Text text(kMessage);
        EXPECT_NO_THROW(smtp.c->Transfer({"me@example.org", {"you@example.org"}, {}, {}}, text)) << t.mode;
        EXPECT_EQ(smtp.c->Disconnect(), S_OK);
        EXPECT_EQ(sink.Message(1), kMessage) << t.mode;
        EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5") << t.mode;
    }
}

TEST_F(TlsIntegration, SmtpRefusedCertificatesNameTheReasonAndSendNothing) {
    struct Case {
        const char *name, *cert;
        bool caFile;
        const char *verify; // "" leaves the option unset
        const char *error;  // "" for success
    } cases[] = {
        {"wrong host", "wrong", true, "", "the server's certificate is not for the host name '127.0.0.1'"},
        {"expired", "expired", true, "", "the server's certificate has expired"},
        {"unknown issuer", "good", false, "", "the server's certificate was issued by an unknown authority"},
        {"self-signed", "self", true, "", "the server's certificate was issued by an unknown authority"},
        {"verify on", "expired", true, "true", "the server's certificate has expired"},
        {"wrong host, no verify", "wrong", false, "false", ""},
        {"expired, no verify", "expired", false, "0", ""},
    };
    for (const char *mode : {"starttls", "implicit"}) {
        for (const Case &t : cases) {
            fixtures::SmtpSink sink;
            ASSERT_TRUE(sink.Start("tim", "tanstaaf", Tls(mode, t.cert)));
            Held<clsSMTPMailConnection> smtp;
            SetText(smtp.c, u"ServerAddress", "127.0.0.1");
            SetInt(smtp.c, u"ServerPort", sink.Port());
            SetText(smtp.c, u"ServerUser", "tim");
            SetText(smtp.c, u"ServerPassword", "tanstaaf");
            SetInt(smtp.c, u"SocketTimeout", 5000);
            SetText(smtp.c, u"TLSMode", mode);
            if (t.caFile) SetText(smtp.c, u"TLSCAFile", pki.CaFile());
            if (*t.verify) SetText(smtp.c, u"TLSVerify", t.verify);
            HRESULT hr = smtp.c->Connect();
            if (!*t.error) {
                EXPECT_EQ(hr, S_OK) << mode << " " << t.name << ": " << ErrorOf(smtp.c);
                EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5") << mode << " " << t.name;
                smtp.c->Disconnect();
                continue;
            }
            LONG code = 0;
            EXPECT_EQ(hr, E_ABORT) << mode << " " << t.name;
            EXPECT_EQ(ErrorOf(smtp.c, &code), std::string("TLS handshake with '127.0.0.1' failed: ") + t.error +
                                                  "\r\n[clsSMTPMailConnection::OnConnect]\r\n")
                << mode << " " << t.name;
            EXPECT_EQ(code, -2);
            EXPECT_EQ(smtp.c->State(), kDisconnected);
            EXPECT_FALSE(smtp.c->Socket().HasSocket());
            EXPECT_EQ(sink.AuthMechanism(), "") << "no logon over a refused connection";
        }
    }
}

TEST_F(TlsIntegration, SmtpStartTlsRequiredButNotOfferedSendsNoPassword) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("tim", "tanstaaf")); // AUTH offered in clear, STARTTLS not at all
    Held<clsSMTPMailConnection> smtp;
    SetText(smtp.c, u"ServerAddress", "127.0.0.1");
    SetInt(smtp.c, u"ServerPort", sink.Port());
    SetText(smtp.c, u"ServerUser", "tim");
    SetText(smtp.c, u"ServerPassword", "tanstaaf");
    SetText(smtp.c, u"TLSMode", "starttls");
    LONG code = 0;
    EXPECT_EQ(smtp.c->Connect(), E_ABORT);
    EXPECT_EQ(ErrorOf(smtp.c, &code),
              "TLS required, but the server does not offer STARTTLS\r\n[clsSMTPMailConnection::OnConnect]\r\n");
    EXPECT_EQ(code, -5);
    EXPECT_EQ(sink.AuthMechanism(), "");

    // "auto" goes on in clear with such a server.
    Held<clsSMTPMailConnection> opportunistic;
    SetText(opportunistic.c, u"ServerAddress", "127.0.0.1");
    SetInt(opportunistic.c, u"ServerPort", sink.Port());
    SetText(opportunistic.c, u"ServerUser", "tim");
    SetText(opportunistic.c, u"ServerPassword", "tanstaaf");
    SetText(opportunistic.c, u"TLSMode", "auto");
    EXPECT_EQ(opportunistic.c->Connect(), S_OK) << ErrorOf(opportunistic.c);
    EXPECT_FALSE(opportunistic.c->Socket().IsTls());
    opportunistic.c->Disconnect();
}

TEST_F(TlsIntegration, SmtpOAuthTokenOverStartTls) {
    // Real access tokens run to a few kilobytes.
    std::string good = "ya29.";
    while (good.size() < 2048) good += "a0-_Zq9";
    struct Case {
        std::string token;
        HRESULT result;
        const char *mechanism;
    } cases[] = {
        {good, S_OK, "OAUTHBEARER"},
        {"ya29.stale-token", E_ABORT, ""},
    };
    for (const Case &t : cases) {
        fixtures::SmtpSink sink;
        std::vector<std::string> extra = Tls("starttls", "good");
        extra.insert(extra.end(), {"--token", good, "--host", "localhost"});
        ASSERT_TRUE(sink.Start("tim@example.org", "unused-password", extra));
        Held<clsSMTPMailConnection> smtp;
        SetText(smtp.c, u"ServerAddress", "localhost");
        SetInt(smtp.c, u"ServerPort", sink.Port());
        SetText(smtp.c, u"ServerUser", "tim@example.org");
        SetText(smtp.c, u"OAuth2Token", t.token);
        SetText(smtp.c, u"TLSMode", "starttls");
        SetText(smtp.c, u"TLSCAFile", pki.CaFile());
        SetInt(smtp.c, u"SocketTimeout", 5000);
        EXPECT_EQ(smtp.c->Connect(), t.result) << t.token.substr(0, 16) << ": " << ErrorOf(smtp.c);
        if (t.result != S_OK) {
            EXPECT_EQ(ErrorOf(smtp.c), "authentication failed!\r\n[clsSMTPMailConnection::OnConnect]\r\n");
        }
        EXPECT_EQ(sink.AuthMechanism(), t.mechanism);
        smtp.c->Disconnect();
    }
}

TEST_F(TlsIntegration, SmtpTlsFailureMidTransferIsAnError) {
    struct Case {
        const char *mode;
        const char *error; // the start of the newest message
    } cases[] = {
        {"after-data", "recv() failed: the server closed the connection without ending the TLS session"},
        // Whether the drop surfaces while sending or at the next receive is the kernel's timing.
        {"mid-data", "send() failed: |recv() failed: "},
    };
    for (const Case &t : cases) {
        fixtures::Process server;
        ASSERT_TRUE(server.Start({"/usr/bin/python3", KV_SERVERS_DIR "/tls_drop.py", pki.Cert("good"), pki.Key("good"),
                                  t.mode},
                                 true));
        uint16_t port = uint16_t(std::atoi(server.FirstLine().c_str()));
        ASSERT_NE(port, 0);
        Held<clsSMTPMailConnection> smtp;
        SetText(smtp.c, u"ServerAddress", "localhost");
        SetInt(smtp.c, u"ServerPort", port);
        SetInt(smtp.c, u"SocketTimeout", 5000);
        SetText(smtp.c, u"TLSMode", "implicit");
        SetText(smtp.c, u"TLSCAFile", pki.CaFile());
        ASSERT_EQ(smtp.c->Connect(), S_OK) << t.mode << ": " << ErrorOf(smtp.c);
        std::string big = "Subject: big\r\n\r\n";
        while (big.size() < 4000000) big += std::string(998, 'x') + "\r\n";
        Text text(big);
        std::vector<String> messages;
        int32_t code = 0;
        try {
            smtp.c->Transfer({"me@example.org", {"you@example.org"}, {}, {}}, text);
        } catch (const clsExcept &e) {
            messages = e.Messages();
            code = e.Code();
        }
        ASSERT_FALSE(messages.empty()) << t.mode << ": a broken transfer must not pass for a sent mail";
        EXPECT_EQ(code, -2) << t.mode;
        bool expected = false;
        for (std::string_view rest = t.error; !rest.empty();) {
            size_t bar = rest.find('|');
            std::string_view one = rest.substr(0, bar);
            expected = expected || messages.front().rfind(std::string(one), 0) == 0;
            rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
        }
        EXPECT_TRUE(expected) << t.mode << ": " << messages.front();
        EXPECT_EQ(messages.back(), "[clsArpaMail::Send()]");
        EXPECT_FALSE(smtp.c->Socket().HasSocket()) << t.mode;
        EXPECT_EQ(smtp.c->Disconnect(), S_OK);
    }
}

TEST_F(TlsIntegration, SmtpOverIpv6Loopback) {
    for (const char *mode : {"none", "implicit"}) {
        fixtures::SmtpSink sink;
        std::vector<std::string> extra = {"--listen", "::1"};
        if (std::string(mode) == "implicit") {
            std::vector<std::string> tls = Tls("implicit", "good");
            extra.insert(extra.end(), tls.begin(), tls.end());
        }
        if (!sink.Start("", "", extra)) GTEST_SKIP() << "no IPv6 loopback";
        Held<clsSMTPMailConnection> smtp;
        SetText(smtp.c, u"ServerAddress", "::1");
        SetInt(smtp.c, u"ServerPort", sink.Port());
        SetInt(smtp.c, u"SocketTimeout", 5000);
        SetText(smtp.c, u"TLSMode", mode);
        SetText(smtp.c, u"TLSCAFile", pki.CaFile());
        ASSERT_EQ(smtp.c->Connect(), S_OK) << mode << ": " << ErrorOf(smtp.c);
        Text text(kMessage);
        EXPECT_NO_THROW(smtp.c->Transfer({"me@example.org", {"you@example.org"}, {}, {}}, text)) << mode;
        smtp.c->Disconnect();
        EXPECT_EQ(sink.Message(1), kMessage) << mode;
    }
}

TEST_F(TlsIntegration, SmtpThroughSocksWithTheProxyResolvingTheName) {
    if (!fixtures::Dante::Available()) GTEST_SKIP() << "danted is not installed";
    fixtures::Dante proxy;
    ASSERT_TRUE(proxy.Start(false));
    struct Case {
        int type;
        const char *tls;
    // dante refuses SOCKS 4a name requests; their bytes are checked against a scripted proxy.
    } cases[] = {{2, "none"}, {2, "starttls"}, {2, "implicit"}};
    for (const Case &t : cases) {
        fixtures::SmtpSink sink;
        std::vector<std::string> extra;
        if (std::string(t.tls) != "none") extra = Tls(t.tls, "good");
        ASSERT_TRUE(sink.Start("tim", "tanstaaf", extra));
        Held<clsSMTPMailConnection> smtp;
        // A name only the proxy resolves would be better still; "localhost" is what every host has.
        SetText(smtp.c, u"ServerAddress", "localhost");
        SetInt(smtp.c, u"ServerPort", sink.Port());
        SetText(smtp.c, u"ServerUser", "tim");
        SetText(smtp.c, u"ServerPassword", "tanstaaf");
        SetInt(smtp.c, u"SocketTimeout", 5000);
        SetInt(smtp.c, u"ProxyType", t.type);
        SetText(smtp.c, u"ProxyAddress", "127.0.0.1");
        SetInt(smtp.c, u"ProxyPort", proxy.Port());
        SetText(smtp.c, u"ProxyResolve", "remote");
        SetText(smtp.c, u"TLSMode", t.tls);
        SetText(smtp.c, u"TLSCAFile", pki.CaFile());
        HRESULT hr = smtp.c->Connect();
        ASSERT_EQ(hr, S_OK) << "SOCKS " << (t.type == 1 ? 4 : 5) << " " << t.tls << ": " << ErrorOf(smtp.c)
                            << proxy.Log();
        Text text(kMessage);
        EXPECT_NO_THROW(smtp.c->Transfer({"me@example.org", {"you@example.org"}, {}, {}}, text));
        smtp.c->Disconnect();
        EXPECT_EQ(sink.Message(1), kMessage);
        EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5");
    }
}

// Records the lines the connection hands to the reader.
class LinesMail final : public IKvMail {
  public:
    explicit LinesMail(String id) : id(std::move(id)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetCookie(BSTR *cookie) override {
        WString w = Widen(id);
        *cookie = SysAllocString(reinterpret_cast<const OLECHAR *>(w.c_str()));
        return S_OK;
    }
#define KV_NOT(name, ...) \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return E_NOTIMPL; }
    KV_NOT(SetSender, BSTR) KV_NOT(GetSender, BSTR *) KV_NOT(SetSubject, BSTR) KV_NOT(GetSubject, BSTR *)
    KV_NOT(GetCharset, BSTR *, ULONG *, ULONG *) KV_NOT(SetHeaderEntry, BSTR, BSTR) KV_NOT(GetHeaderEntry, BSTR, BSTR *)
    KV_NOT(IsValid) KV_NOT(AddRecipients, BSTR) KV_NOT(EnumRecipients, IEnumString **) KV_NOT(AddCCRecipients, BSTR)
    KV_NOT(EnumCCRecipients, IEnumString **) KV_NOT(CreateAndAddAttachment, IKvMailAttachment **)
    KV_NOT(EnumAttachments, IKvEnumMailAttachment **) KV_NOT(CreateAndAddBody, IKvMailBody **, BSTR, ULONG)
    KV_NOT(EnumBodies, IKvEnumMailBody **) KV_NOT(SetRawText, IStream *) KV_NOT(GetRawText, IStream *)
    KV_NOT(Edit, HWND, LONG, LONG, DWORD)
#undef KV_NOT
    ULONG refs = 0;
    String id;
    std::vector<String> lines;
};

// dovecot's log lags behind the session a little: waits up to 2 s for `text`.
std::string LogWith(const fixtures::Dovecot &server, const char *text) {
    std::string log = server.Log();
    for (int i = 0; i < 40 && log.find(text) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        log = server.Log();
    }
    return log;
}

class RecordingPop3 : public clsPOP3MailConnection {
  public:
    std::vector<LinesMail *> made;

  protected:
    IKvMail *CreateReceivedMail(const String &id) override {
        auto *m = new LinesMail(id);
        m->AddRef();
        made.push_back(m);
        return m;
    }
    void ReadMailText(IKvMail *mail, clsReceivedText &text, bool) override {
        auto &lines = static_cast<LinesMail *>(mail)->lines;
        lines.clear();
        std::string_view rest = text.View();
        for (size_t end; (end = rest.find("\r\n")) != std::string_view::npos; rest.remove_prefix(end + 2))
            lines.emplace_back(rest.substr(0, end));
    }
};

TEST_F(TlsIntegration, Pop3StlsImplicitAndRefusedCertificates) {
    if (!fixtures::Dovecot::Available()) GTEST_SKIP() << "dovecot is not installed";
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
        {"implicit, unknown issuer", "good", "implicit", true, false, true,
         "the server's certificate was issued by an unknown authority"},
        {"stls, expired, no verify", "expired", "starttls", false, false, false, ""},
        {"implicit, wrong host, no verify", "wrong", "implicit", true, false, false, ""},
    };
    for (const Case &t : cases) {
        fixtures::Dovecot server;
        ASSERT_TRUE(server.Start("mrose", "tanstaaf", false, pki.Cert(t.cert), pki.Key(t.cert))) << server.Log();
        const std::string message = "Subject: over TLS\r\n\r\nbody\r\n";
        server.Deliver("mrose", "1000000000.M1P1.test", message);
        auto *pop = new RecordingPop3();
        pop->AddRef();
        SetText(pop, u"ServerAddress", "127.0.0.1");
        SetInt(pop, u"ServerPort", t.tlsPort ? server.TlsPort() : server.Port());
        SetText(pop, u"ServerUser", "mrose");
        SetText(pop, u"ServerPassword", "tanstaaf");
        SetInt(pop, u"SocketTimeout", 5000);
        SetText(pop, u"TLSMode", t.mode);
        if (t.caFile) SetText(pop, u"TLSCAFile", pki.CaFile());
        if (!t.verify) SetText(pop, u"TLSVerify", "false");
        HRESULT hr = pop->Connect();
        if (*t.error) {
            EXPECT_EQ(hr, E_ABORT) << t.name;
            EXPECT_EQ(ErrorOf(pop), std::string("TLS handshake with '127.0.0.1' failed: ") + t.error +
                                        "\r\n[clsPOP3MailConnection::OnConnect]\r\n")
                << t.name;
            std::string log = LogWith(server, "Disconnected");
            EXPECT_NE(log.find("Disconnected"), std::string::npos) << log;
            EXPECT_EQ(log.find("user=<mrose>"), std::string::npos) << t.name << ": no logon";
        } else {
            ASSERT_EQ(hr, S_OK) << t.name << ": " << ErrorOf(pop) << server.Log();
            ASSERT_EQ(pop->QueryMailbox(1), S_OK) << t.name << ": " << ErrorOf(pop);
            ASSERT_EQ(pop->made.size(), 1u);
            std::string got;
            for (const auto &l : pop->made[0]->lines) got += l + "\r\n";
            EXPECT_EQ(got, message) << t.name;
            EXPECT_EQ(pop->Disconnect(), S_OK);
            // dovecot marks logons over TLS in its log.
            std::string log = LogWith(server, "Login: user=<mrose>");
            size_t login = log.find("Login: user=<mrose>");
            ASSERT_NE(login, std::string::npos) << log;
            EXPECT_NE(log.find("TLS", login), std::string::npos) << t.name << ": " << log;
        }
        pop->Release();
    }
}

TEST_F(TlsIntegration, Pop3OverIpv6LoopbackWithStls) {
    if (!fixtures::Dovecot::Available()) GTEST_SKIP() << "dovecot is not installed";
    fixtures::Dovecot server;
    server.listen = "::1";
    if (!server.Start("mrose", "tanstaaf", false, pki.Cert("good"), pki.Key("good"))) GTEST_SKIP() << "no IPv6 loopback";
    server.Deliver("mrose", "1000000000.M1P1.test", "Subject: v6\r\n\r\nbody\r\n");
    auto *pop = new RecordingPop3();
    pop->AddRef();
    SetText(pop, u"ServerAddress", "::1");
    SetInt(pop, u"ServerPort", server.Port());
    SetText(pop, u"ServerUser", "mrose");
    SetText(pop, u"ServerPassword", "tanstaaf");
    SetInt(pop, u"SocketTimeout", 5000);
    SetText(pop, u"TLSMode", "starttls");
    SetText(pop, u"TLSCAFile", pki.CaFile());
    EXPECT_EQ(pop->Connect(), S_OK) << ErrorOf(pop) << server.Log();
    EXPECT_EQ(pop->QueryMailbox(1), S_OK) << ErrorOf(pop);
    ASSERT_EQ(pop->made.size(), 1u);
    EXPECT_EQ(pop->made[0]->lines, std::vector<String>({"Subject: v6", "", "body"}));
    pop->Disconnect();
    pop->Release();
    std::string log = LogWith(server, "Login: ");
    EXPECT_NE(log.find("rip=::1"), std::string::npos) << log;
    EXPECT_NE(log.find("TLS", log.find("Login: ")), std::string::npos) << log;
}

} // namespace
} // namespace kv
