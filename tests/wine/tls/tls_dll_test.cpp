// The library sending over TLS (Wine's Schannel for the DLL, OpenSSL for the
// shared library) to aiosmtpd through the public interface. run.sh passes
// KV_TLS_DIR (spools, test CA) and KV_TLS_PORT_<NAME> of "starttls", "implicit",
// "wrong" (STARTTLS, another host's certificate) and "expired" (implicit TLS).
#include <cstdio>
#include <cstdlib>

#include "host_fixture.h"
#include "test_files.h"

namespace {

using orkv14::Ptr;
using orkv14::Variant;
using testsupport::Env;
using testsupport::ReadFile;

TEST(LibraryTls, OnlyAnAcceptedHandshakeLogsOnAndSendsIntact) {
    host::Library lib;
    ASSERT_NE(lib.handle, nullptr) << lib.error;
    // Windows takes the forward slash too.
    const std::string dir = Env("KV_TLS_DIR") + "/";
    ASSERT_NE(dir, "/") << "KV_TLS_DIR is not set: run through run.sh";
    struct Case {
        const char *name, *server, *host, *mode;
        bool verify;
        const char *caFile;
        const char *error; // after "TLS handshake with '<host>' failed: "; none: the mail arrives
    } cases[] = {
        {"STARTTLS, not verified, certificate for another host", "wrong", "127.0.0.1", "starttls", false, nullptr,
         nullptr},
        {"STARTTLS, verified by name", "starttls", "localhost", "starttls", true, "ca.pem", nullptr},
        {"auto takes the STARTTLS offered, verified by address", "starttls", "127.0.0.1", "auto", true, "ca.pem",
         nullptr},
        {"implicit, not verified, expired certificate", "expired", "localhost", "implicit", false, nullptr, nullptr},
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
         "TLS could not be set up: the CA file '<dir>missing.pem' could not be read"},
        {"a CA file without certificates", "starttls", "localhost", "starttls", true, "ca.key",
#ifdef _WIN32
         "TLS could not be set up: the CA file '<dir>ca.key' could not be read (no certificate in it)"},
#else
         "TLS could not be set up: the CA file '<dir>ca.key' could not be read"},
#endif
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.name);
        Ptr<IKvMailConnection2> c;
        ASSERT_EQ(lib.Create(CLSID_KvComponent, IID_IKvSMTPSendConnection, c.put()), S_OK);
        auto set = [&c](const OLECHAR *name, Variant &&value) { EXPECT_EQ(c->SetOption(name, value.get()), S_OK); };
        set(OLESTR("ServerAddress"), Variant(t.host));
        set(OLESTR("ServerPort"), Variant(LONG(std::atoi(Env(("KV_TLS_PORT_" + std::string(t.server)).c_str()).c_str()))));
        set(OLESTR("ServerUser"), Variant("tim"));
        set(OLESTR("ServerPassword"), Variant("tanstaaf"));
        set(OLESTR("SocketTimeout"), Variant(LONG(10000)));
        set(OLESTR("TLSMode"), Variant(t.mode));
        if (t.caFile) set(OLESTR("TLSCAFile"), Variant(dir + t.caFile));
        if (!t.verify) set(OLESTR("TLSVerify"), Variant("false")); // verified unless told otherwise
        const std::string spool = dir + t.server + "/", auth = spool + "auth";
        std::remove(auth.c_str());
        if (t.error) {
            std::string error = t.error;
            if (size_t at = error.find("<dir>"); at != std::string::npos) error.replace(at, 5, dir);
            EXPECT_EQ(c->Connect(), E_ABORT);
            orkv14::Error e = orkv14::LastError(c.get());
            // OpenSSL's own words follow a set-up failure in parentheses.
            if (size_t at = e.text.find(" (error:"); at != std::string::npos) e.text.erase(at, e.text.find(")\r\n") + 1 - at);
            EXPECT_EQ(std::to_string(e.code) + " " + e.text, "-2 TLS handshake with '" + std::string(t.host) +
                                                                 "' failed: " + error +
                                                                 "\r\n[clsSMTPMailConnection::OnConnect]\r\n");
            EXPECT_EQ(c->Disconnect(), S_FALSE) << "left disconnected";
            EXPECT_EQ(ReadFile(auth), "") << "no logon over a refused connection";
            continue;
        }
        int n = 1;
        while (!ReadFile(spool + std::to_string(n) + ".eml").empty()) ++n;
        Ptr<IKvMail> mail;
        Ptr<IKvMailBody> body;
        ASSERT_EQ(c->CreateMail(65001, OLESTR(""), mail.put()), S_OK);
        mail->SetSender(orkv14::Bstr("me@example.org").get());
        mail->AddRecipients(orkv14::Bstr("you@example.org").get());
        ASSERT_EQ(mail->CreateAndAddBody(body.put(), orkv14::Bstr("text/plain").get(), 65001), S_OK);
        body->SetContents(orkv14::MemoryStream(".over TLS\r\n").get());
        ASSERT_EQ(c->Connect(), S_OK) << orkv14::LastError(c.get()).text;
        // The servers offer AUTH only over TLS: a logon proves the upgrade.
        EXPECT_EQ(ReadFile(auth), "CRAM-MD5");
        EXPECT_EQ(c->Send(mail.get()), S_OK) << orkv14::LastError(c.get()).text;
        EXPECT_EQ(c->Disconnect(), S_OK) << orkv14::LastError(c.get()).text;
        Ptr<IStream> raw = orkv14::MemoryStream({});
        ASSERT_EQ(mail->GetRawText(raw.get()), S_OK);
        const std::string expected = testsupport::Unstuffed(orkv14::ReadAll(raw.get()));
        const std::string arrived = ReadFile(spool + std::to_string(n) + ".eml");
        EXPECT_TRUE(arrived == expected) << "arrived " << arrived.size() << " bytes, sent " << expected.size();
    }
}

} // namespace
