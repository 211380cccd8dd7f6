// The DLL sending over TLS with Schannel (Wine's, over GnuTLS) to aiosmtpd
// on loopback. run.sh starts the servers and passes them in the environment:
// KV_TLS_DIR (their spool directories and the test CA, as a Windows path) and
// KV_TLS_PORT_<NAME> for the servers "starttls", "implicit", "wrong" (STARTTLS,
// certificate for another host), "expired" (implicit TLS, expired certificate)
// and "drop" (implicit TLS, closed without close_notify after the mail text).
#include <cstdlib>

#include "host_fixture.h"
#include "test_files.h"

namespace {

using testsupport::Env;
using testsupport::ReadFile;
using testsupport::Unstuffed;

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class WineTls : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = Env("KV_TLS_DIR");
        ASSERT_FALSE(dir.empty()) << "KV_TLS_DIR is not set: run through run.sh";
        ASSERT_NE(lib.handle, nullptr) << lib.error;
        ASSERT_EQ(lib.getClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&factory)),
                  S_OK);
    }
    void TearDown() override {
        if (factory) factory->Release();
    }
    template <class V> static void Set(IKvMailConnection2 *c, const wchar_t *name, V value) {
        orkv14::Variant v(value);
        EXPECT_EQ(c->SetOption(name, v.get()), S_OK) << host::Utf8(name);
    }
    static std::string ErrorText(IKvMailConnection2 *c, LONG *code = nullptr) {
        orkv14::Error e = orkv14::LastError(c);
        if (code) *code = e.code;
        return e.text;
    }
    std::string Spool(const std::string &server) const { return dir + "\\" + server; }
    // The number the server gives the next message it stores.
    int NextMessage(const std::string &server) const {
        int n = 1;
        while (Exists(Spool(server) + "\\" + std::to_string(n) + ".eml")) ++n;
        return n;
    }
    // An SMTP connection to one of the servers, logging on as the servers expect.
    IKvMailConnection2 *Connection(const std::string &server, const std::string &host, const char *mode) {
        IKvMailConnection2 *c = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvSMTPSendConnection, reinterpret_cast<void **>(&c)), S_OK);
        if (!c) return nullptr;
        std::string port = Env(("KV_TLS_PORT_" + server).c_str());
        EXPECT_FALSE(port.empty()) << server;
        Set(c, L"ServerAddress", host);
        Set(c, L"ServerPort", LONG(std::atoi(port.c_str())));
        Set(c, L"ServerUser", "tim");
        Set(c, L"ServerPassword", "tanstaaf");
        Set(c, L"SocketTimeout", LONG(10000));
        Set(c, L"TLSMode", mode);
        return c;
    }

    host::Library lib;
    IClassFactory *factory = nullptr;
    std::string dir;
};

// Over 16 KB in every part, so records are split and read back in pieces.
IKvMail *BigMail(IKvMailConnection2 *c) {
    IKvMail *mail = nullptr;
    EXPECT_EQ(c->CreateMail(65001, L"", &mail), S_OK);
    if (!mail) return nullptr;
    BSTR from = SysAllocString(L"me@example.org"), to = SysAllocString(L"you@example.org"),
         subject = SysAllocString(L"over Schannel"), plain = SysAllocString(L"text/plain");
    EXPECT_EQ(mail->SetSender(from), S_OK);
    EXPECT_EQ(mail->AddRecipients(to), S_OK);
    EXPECT_EQ(mail->SetSubject(subject), S_OK);
    IKvMailBody *body = nullptr;
    EXPECT_EQ(mail->CreateAndAddBody(&body, plain, 65001), S_OK);
    std::string text;
    for (int i = 0; text.size() < 40000; ++i) text += (i % 7 == 0 ? "." : "") + std::string("line ") + std::to_string(i) + "\r\n";
    if (body) {
        EXPECT_EQ(body->SetContents(orkv14::MemoryStream(text).get()), S_OK);
        body->Release();
    }
    IKvMailAttachment *attachment = nullptr;
    EXPECT_EQ(mail->CreateAndAddAttachment(&attachment), S_OK);
    if (attachment) {
        BSTR name = SysAllocString(L"data.bin");
        attachment->SetName(name);
        SysFreeString(name);
        std::string binary(200000, '\0');
        for (size_t i = 0; i < binary.size(); ++i) binary[i] = char(i * 7 + i / 256);
        EXPECT_EQ(attachment->SetContents(orkv14::MemoryStream(binary).get()), S_OK);
        attachment->Release();
    }
    for (BSTR b : {from, to, subject, plain}) SysFreeString(b);
    return mail;
}

TEST_F(WineTls, SendsIntactOverTls) {
    const std::string ca = dir + "\\ca.pem";
    struct Case {
        const char *name, *server, *host, *mode;
        bool verify, caFile;
    } cases[] = {
        {"STARTTLS, not verified, certificate for another host", "wrong", "127.0.0.1", "starttls", false, false},
        {"STARTTLS, verified by name", "starttls", "localhost", "starttls", true, true},
        {"STARTTLS, verified by address", "starttls", "127.0.0.1", "starttls", true, true},
        {"auto picks STARTTLS", "starttls", "localhost", "auto", true, true},
        {"implicit, verified", "implicit", "localhost", "implicit", true, true},
        {"implicit, not verified, expired certificate", "expired", "localhost", "implicit", false, false},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.name);
        IKvMailConnection2 *c = Connection(t.server, t.host, t.mode);
        ASSERT_NE(c, nullptr);
        Set(c, L"TLSVerify", t.verify ? "true" : "false");
        if (t.caFile) Set(c, L"TLSCAFile", ca);
        DeleteFileA((Spool(t.server) + "\\auth").c_str());
        int n = NextMessage(t.server);
        IKvMail *mail = BigMail(c);
        ASSERT_NE(mail, nullptr);
        ASSERT_EQ(c->Connect(), S_OK) << ErrorText(c);
        // The servers offer AUTH only over TLS: a logon proves the upgrade.
        EXPECT_EQ(ReadFile(Spool(t.server) + "\\auth"), "CRAM-MD5");
        EXPECT_EQ(c->Send(mail), S_OK) << ErrorText(c);
        EXPECT_EQ(c->Disconnect(), S_OK) << ErrorText(c);
        orkv14::Ptr<IStream> raw = orkv14::MemoryStream({});
        ASSERT_EQ(mail->GetRawText(raw.get()), S_OK);
        std::string expected = Unstuffed(orkv14::ReadAll(raw.get()));
        std::string arrived = ReadFile(Spool(t.server) + "\\" + std::to_string(n) + ".eml");
        EXPECT_GT(arrived.size(), 250000u);
        EXPECT_TRUE(arrived == expected) << "arrived " << arrived.size() << " bytes, sent " << expected.size();
        mail->Release();
        c->Release();
    }
}

TEST_F(WineTls, RefusedHandshakesNameTheReasonAndLogOnToNothing) {
    struct Case {
        const char *name, *server, *host, *mode, *caFile;
        const char *error; // after "TLS handshake with '<host>' failed: "
    } cases[] = {
        {"wrong host", "wrong", "localhost", "starttls", "ca.pem",
         "the server's certificate is not for the host name 'localhost'"},
        {"wrong address", "wrong", "127.0.0.1", "starttls", "ca.pem",
         "the server's certificate is not for the host name '127.0.0.1'"},
        {"expired", "expired", "localhost", "implicit", "ca.pem", "the server's certificate has expired"},
        {"unknown issuer", "implicit", "localhost", "implicit", nullptr,
         "the server's certificate was issued by an unknown authority"},
        {"CA file without the issuer", "starttls", "localhost", "starttls", "other.pem",
         "the server's certificate was issued by an unknown authority"},
        {"no such CA file", "starttls", "localhost", "starttls", "missing.pem",
         "TLS could not be set up: the CA file '<dir>\\missing.pem' could not be read"},
        {"a CA file without certificates", "starttls", "localhost", "starttls", "ca.key",
         "TLS could not be set up: the CA file '<dir>\\ca.key' could not be read (no certificate in it)"},
        {"implicit TLS to a plain port", "starttls", "localhost", "implicit", nullptr,
         "the server does not answer in TLS (is this its port for TLS?)"},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.name);
        IKvMailConnection2 *c = Connection(t.server, t.host, t.mode);
        ASSERT_NE(c, nullptr);
        if (t.caFile) Set(c, L"TLSCAFile", dir + "\\" + t.caFile);
        DeleteFileA((Spool(t.server) + "\\auth").c_str());
        LONG code = 0;
        EXPECT_EQ(c->Connect(), E_ABORT);
        std::string error = t.error;
        if (size_t at = error.find("<dir>"); at != std::string::npos) error.replace(at, 5, dir);
        EXPECT_EQ(ErrorText(c, &code), "TLS handshake with '" + std::string(t.host) + "' failed: " + error +
                                           "\r\n[clsSMTPMailConnection::OnConnect]\r\n");
        EXPECT_EQ(code, -2);
        EXPECT_FALSE(Exists(Spool(t.server) + "\\auth")) << "no logon over a refused connection";
        c->Release();
    }
}

TEST_F(WineTls, ConnectionDroppedWithoutCloseNotifyIsNoSuccess) {
    IKvMailConnection2 *c = Connection("drop", "localhost", "implicit");
    ASSERT_NE(c, nullptr);
    Set(c, L"TLSCAFile", dir + "\\ca.pem");
    IKvMail *mail = BigMail(c);
    ASSERT_NE(mail, nullptr);
    ASSERT_EQ(c->Connect(), S_OK) << ErrorText(c);
    LONG code = 0;
    EXPECT_EQ(c->Send(mail), E_ABORT);
    const std::string expected = "recv() failed: the server closed the connection without ending the TLS session";
    std::string error = ErrorText(c, &code);
    EXPECT_EQ(error.substr(0, expected.size()), expected) << error;
    EXPECT_EQ(code, -2);
    c->Disconnect();
    mail->Release();
    c->Release();
}

} // namespace
