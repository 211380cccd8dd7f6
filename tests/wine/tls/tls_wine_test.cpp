// The DLL sending over TLS with Schannel (Wine's, over GnuTLS) to aiosmtpd
// on loopback. run.sh starts the servers and passes them in the environment:
// KV_TLS_DIR (their spool directories and the test CA, as a Windows path) and
// KV_TLS_PORT_<NAME> for the servers "starttls", "implicit", "wrong" (STARTTLS,
// certificate for another host) and "expired" (implicit TLS, expired certificate).
// A peer that is not TLS or drops the session: Schannel's part is the session test's.
#include <cstdlib>

#include "host_fixture.h"
#include "test_files.h"

namespace {

using orkv14::Ptr;
using testsupport::Env;
using testsupport::ReadFile;

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The connection's last failure: its code, then its text.
std::string Failure(IKvMailConnection *c) {
    orkv14::Error e = orkv14::LastError(c);
    return std::to_string(e.code) + " " + e.text;
}

class WineTls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty()) << "KV_TLS_DIR is not set: run through run.sh";
        ASSERT_NE(lib.handle, nullptr) << lib.error;
    }
    // An SMTP connection to one of the servers, logging on as the servers
    // expect; the CA file (in the test's directory) when one is named.
    Ptr<IKvMailConnection2> Connection(const std::string &server, const char *host, const char *mode, bool verify,
                                       const char *caFile) {
        Ptr<IKvMailConnection2> c;
        EXPECT_EQ(lib.Create(CLSID_KvComponent, IID_IKvSMTPSendConnection, c.put()), S_OK);
        const std::string port = Env(("KV_TLS_PORT_" + server).c_str());
        EXPECT_FALSE(port.empty()) << server;
        auto set = [&c](const wchar_t *name, orkv14::Variant &&value) {
            EXPECT_EQ(c ? c->SetOption(name, value.get()) : E_POINTER, S_OK) << host::Utf8(name);
        };
        set(L"ServerAddress", orkv14::Variant(host));
        set(L"ServerPort", orkv14::Variant(LONG(std::atoi(port.c_str()))));
        set(L"ServerUser", orkv14::Variant("tim"));
        set(L"ServerPassword", orkv14::Variant("tanstaaf"));
        set(L"SocketTimeout", orkv14::Variant(LONG(10000)));
        set(L"TLSMode", orkv14::Variant(mode));
        if (caFile) set(L"TLSCAFile", orkv14::Variant(dir + "\\" + caFile));
        if (!verify) set(L"TLSVerify", orkv14::Variant("false")); // verified unless told otherwise
        return c;
    }
    // Large data in records split and read back in pieces: the session test's.
    static Ptr<IKvMail> Mail(IKvMailConnection2 *c) {
        Ptr<IKvMail> mail;
        Ptr<IKvMailBody> body;
        if (c->CreateMail(65001, L"", mail.put()) != S_OK ||
            mail->SetSender(orkv14::Bstr("me@example.org").get()) != S_OK ||
            mail->AddRecipients(orkv14::Bstr("you@example.org").get()) != S_OK ||
            mail->CreateAndAddBody(body.put(), orkv14::Bstr("text/plain").get(), 65001) != S_OK ||
            body->SetContents(orkv14::MemoryStream(".over TLS\r\n").get()) != S_OK)
            ADD_FAILURE() << "the mail could not be made";
        return mail;
    }

    host::Library lib;
    const std::string dir = Env("KV_TLS_DIR");
};

TEST_F(WineTls, OnlyAnAcceptedHandshakeLogsOnAndSendsIntact) {
    struct Case {
        const char *name, *server, *host, *mode;
        bool verify;
        const char *caFile;
        const char *error; // after "TLS handshake with '<host>' failed: "; none: the mail arrives
    } cases[] = {
        {"STARTTLS, not verified, certificate for another host", "wrong", "127.0.0.1", "starttls", false, nullptr,
         nullptr},
        {"STARTTLS, verified by name", "starttls", "localhost", "starttls", true, "ca.pem", nullptr},
        {"STARTTLS, verified by address", "starttls", "127.0.0.1", "starttls", true, "ca.pem", nullptr},
        {"implicit, not verified, expired certificate", "expired", "localhost", "implicit", false, nullptr,
         nullptr},
        {"wrong host", "wrong", "localhost", "starttls", true, "ca.pem",
         "the server's certificate is not for the host name 'localhost'"},
        {"wrong address", "wrong", "127.0.0.1", "starttls", true, "ca.pem",
         "the server's certificate is not for the host name '127.0.0.1'"},
        {"expired", "expired", "localhost", "implicit", true, "ca.pem", "the server's certificate has expired"},
        {"unknown issuer", "implicit", "localhost", "implicit", true, nullptr,
         "the server's certificate was issued by an unknown authority"},
        {"CA file without the issuer", "starttls", "localhost", "starttls", true, "other.pem",
         "the server's certificate was issued by an unknown authority"},
        {"no such CA file", "starttls", "localhost", "starttls", true, "missing.pem",
         "TLS could not be set up: the CA file '<dir>\\missing.pem' could not be read"},
        {"a CA file without certificates", "starttls", "localhost", "starttls", true, "ca.key",
         "TLS could not be set up: the CA file '<dir>\\ca.key' could not be read (no certificate in it)"},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.name);
        Ptr<IKvMailConnection2> c = Connection(t.server, t.host, t.mode, t.verify, t.caFile);
        ASSERT_TRUE(c);
        const std::string spool = dir + "\\" + t.server, auth = spool + "\\auth";
        DeleteFileA(auth.c_str());
        if (t.error) {
            std::string error = t.error;
            if (size_t at = error.find("<dir>"); at != std::string::npos) error.replace(at, 5, dir);
            EXPECT_EQ(c->Connect(), E_ABORT);
            EXPECT_EQ(Failure(c.get()), "-2 TLS handshake with '" + std::string(t.host) + "' failed: " + error +
                                            "\r\n[clsSMTPMailConnection::OnConnect]\r\n");
            EXPECT_FALSE(Exists(auth)) << "no logon over a refused connection";
            continue;
        }
        int n = 1;
        while (Exists(spool + "\\" + std::to_string(n) + ".eml")) ++n;
        Ptr<IKvMail> mail = Mail(c.get());
        ASSERT_EQ(c->Connect(), S_OK) << Failure(c.get());
        // The servers offer AUTH only over TLS: a logon proves the upgrade.
        EXPECT_EQ(ReadFile(auth), "CRAM-MD5");
        EXPECT_EQ(c->Send(mail.get()), S_OK) << Failure(c.get());
        EXPECT_EQ(c->Disconnect(), S_OK) << Failure(c.get());
        Ptr<IStream> raw = orkv14::MemoryStream({});
        ASSERT_EQ(mail->GetRawText(raw.get()), S_OK);
        const std::string expected = testsupport::Unstuffed(orkv14::ReadAll(raw.get()));
        const std::string arrived = ReadFile(spool + "\\" + std::to_string(n) + ".eml");
        EXPECT_TRUE(arrived == expected) << "arrived " << arrived.size() << " bytes, sent " << expected.size();
    }
}

} // namespace
