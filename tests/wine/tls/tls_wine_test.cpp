// The DLL sending over TLS with Schannel (Wine's, over GnuTLS) to aiosmtpd
// on loopback. run.sh starts the servers and passes them in the environment:
// KV_TLS_DIR (their spool directories and the test CA, as a Windows path) and
// KV_TLS_PORT_<NAME> for the servers "starttls", "implicit", "wrong" (STARTTLS,
// certificate for another host), "expired" (implicit TLS, expired certificate)
// and "drop" (implicit TLS, closed without close_notify after the mail text).
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host_fixture.h"

namespace {

std::string Env(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

std::wstring Wide(const std::string &s) { return std::wstring(s.begin(), s.end()); }

std::string ReadAll(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

IStream *StreamOf(const std::string &bytes) {
    IStream *s = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &s);
    ULONG written = 0;
    s->Write(bytes.data(), ULONG(bytes.size()), &written);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    return s;
}

std::string BytesOf(IStream *s) {
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string r;
    char buffer[65536];
    ULONG n = 0;
    while (SUCCEEDED(s->Read(buffer, sizeof buffer, &n)) && n > 0) r.append(buffer, n);
    return r;
}

// What the server stores: the rendered text with its dots unstuffed.
std::string Unstuffed(const std::string &rendered) {
    std::string r;
    for (size_t at = 0; at < rendered.size();) {
        size_t end = rendered.find("\r\n", at);
        end = end == std::string::npos ? rendered.size() : end + 2;
        std::string line = rendered.substr(at, end - at);
        if (line.compare(0, 2, "..") == 0) line.erase(0, 1);
        r += line;
        at = end;
    }
    return r;
}

class WineTls : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = Env("KV_TLS_DIR");
        if (dir.empty()) GTEST_SKIP() << "KV_TLS_DIR is not set: run through run.sh";
        ASSERT_NE(lib.handle, nullptr) << lib.error;
        ASSERT_EQ(lib.getClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&factory)),
                  S_OK);
    }
    void TearDown() override {
        if (factory) factory->Release();
    }
    static void SetText(IKvMailConnection2 *c, const wchar_t *name, const std::string &value) {
        std::wstring w = Wide(value);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(w.c_str());
        EXPECT_EQ(c->SetOption(name, &v), S_OK) << host::Utf8(name);
        VariantClear(&v);
    }
    static void SetInt(IKvMailConnection2 *c, const wchar_t *name, LONG value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        EXPECT_EQ(c->SetOption(name, &v), S_OK) << host::Utf8(name);
    }
    static std::string ErrorText(IKvMailConnection2 *c, LONG *code = nullptr) {
        BSTR text = nullptr;
        c->GetErrorInformation(code, &text);
        std::string r = host::Utf8(text);
        SysFreeString(text);
        return r;
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
        SetText(c, L"ServerAddress", host);
        SetInt(c, L"ServerPort", std::atoi(port.c_str()));
        SetText(c, L"ServerUser", "tim");
        SetText(c, L"ServerPassword", "tanstaaf");
        SetInt(c, L"SocketTimeout", 10000);
        SetText(c, L"TLSMode", mode);
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
        IStream *s = StreamOf(text);
        EXPECT_EQ(body->SetContents(s), S_OK);
        s->Release();
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
        IStream *s = StreamOf(binary);
        EXPECT_EQ(attachment->SetContents(s), S_OK);
        s->Release();
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
        SetText(c, L"TLSVerify", t.verify ? "true" : "false");
        if (t.caFile) SetText(c, L"TLSCAFile", ca);
        DeleteFileA((Spool(t.server) + "\\auth").c_str());
        int n = NextMessage(t.server);
        IKvMail *mail = BigMail(c);
        ASSERT_NE(mail, nullptr);
        ASSERT_EQ(c->Connect(), S_OK) << ErrorText(c);
        // The servers offer AUTH only over TLS: a logon proves the upgrade.
        EXPECT_EQ(ReadAll(Spool(t.server) + "\\auth"), "CRAM-MD5");
        EXPECT_EQ(c->Send(mail), S_OK) << ErrorText(c);
        EXPECT_EQ(c->Disconnect(), S_OK) << ErrorText(c);
        IStream *raw = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &raw);
        ASSERT_EQ(mail->GetRawText(raw), S_OK);
        std::string expected = Unstuffed(BytesOf(raw));
        raw->Release();
        std::string arrived = ReadAll(Spool(t.server) + "\\" + std::to_string(n) + ".eml");
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
        if (t.caFile) SetText(c, L"TLSCAFile", dir + "\\" + t.caFile);
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
    SetText(c, L"TLSCAFile", dir + "\\ca.pem");
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
