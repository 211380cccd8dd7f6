// Our side of the transport benchmark, through the public interface only:
//   kv_bench_smtp_client big PORT FILE   one mail with FILE attached
//   kv_bench_smtp_client many PORT N     N small mails over one connection
//   kv_bench_smtp_client pop3 PORT USER PASSWORD   list and load every message
//   kv_bench_smtp_client imap PORT USER PASSWORD   the same over IMAP (INBOX)
//   kv_bench_smtp_client imap-memory PORT USER PASSWORD   lists, then loads the
//       first message and prints first what loading it added to the peak
//       resident size (MB)
// A last argument tls=CAFILE sends over STARTTLS, checking the server against that CA.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "orkv14.h"

namespace {

IClassFactory *g_factory = nullptr;

void Set(IKvMailConnection2 *c, const char16_t *name, const std::u16string &value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(value.data()), UINT(value.size()));
    c->SetOption(name, &v);
    VariantClear(&v);
}

std::u16string Ascii(const std::string &s) { return std::u16string(s.begin(), s.end()); }

IKvMailConnection2 *Connection(const IID &selector, const char *port) {
    IKvMailConnection2 *c = nullptr;
    g_factory->CreateInstance(nullptr, selector, reinterpret_cast<void **>(&c));
    Set(c, u"ServerAddress", u"127.0.0.1");
    Set(c, u"ServerPort", Ascii(port));
    Set(c, u"SocketTimeout", u"60000");
    return c;
}

int Check(HRESULT hr, IKvMailConnection2 *c, const char *what) {
    if (SUCCEEDED(hr)) return 0;
    LONG code = 0;
    BSTR text = nullptr;
    c->GetErrorInformation(&code, &text);
    std::string t;
    for (UINT i = 0; text && i < SysStringLen(text); ++i) t.push_back(char(text[i]));
    SysFreeString(text);
    std::fprintf(stderr, "%s failed: %d %s\n", what, int(code), t.c_str());
    return 1;
}

IKvMail *Compose(IKvMailConnection2 *c, const std::string &attachment) {
    IKvMail *mail = nullptr;
    c->CreateMail(0, u"", &mail);
    BSTR from = SysAllocString(u"bench@example.org"), to = SysAllocString(u"sink@example.org"),
         subject = SysAllocString(u"benchmark"), type = SysAllocString(u"text/plain");
    mail->SetSender(from);
    mail->AddRecipients(to);
    mail->SetSubject(subject);
    IKvMailBody *body = nullptr;
    mail->CreateAndAddBody(&body, type, 0);
    IStream *s = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &s);
    const char text[] = "A short benchmark mail.\r\nIt has two lines.\r\n";
    s->Write(text, sizeof text - 1, nullptr);
    body->SetContents(s);
    s->Release();
    body->Release();
    if (!attachment.empty()) {
        IKvMailAttachment *a = nullptr;
        mail->CreateAndAddAttachment(&a);
        BSTR name = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(Ascii(attachment).data()), UINT(attachment.size()));
        a->SetName(name); // contents come from the named file
        SysFreeString(name);
        a->Release();
    }
    for (BSTR b : {from, to, subject, type}) SysFreeString(b);
    return mail;
}

// A field of /proc/self/status ("VmRSS:", "VmHWM:") in MB.
double StatusMb(const char *field) {
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field))) / 1024.0;
    return 0;
}

// Lists the mailbox and loads every mail (or with `memory` only the first,
// printing what loading it added to the peak resident size).
int Receive(const IID &selector, char **argv, bool memory) {
    IKvMailConnection2 *c = Connection(selector, argv[2]);
    Set(c, u"ServerUser", Ascii(argv[3]));
    Set(c, u"ServerPassword", Ascii(argv[4]));
    int rc = Check(c->Connect(), c, "connect");
    if (rc == 0) rc = Check(c->QueryMailbox(0), c, "list");
    IKvEnumMail *e = nullptr;
    if (rc == 0) c->EnumMails(&e);
    IKvMail *m = nullptr;
    ULONG got = 0;
    int loaded = 0;
    double start = 0;
    if (memory) {
        // The peak is reset here (Linux 4.0 and later): what counts is what loading adds.
        std::ofstream("/proc/self/clear_refs") << "5";
        start = StatusMb("VmRSS:");
    }
    while (e && e->Next(1, &m, &got) == S_OK && got == 1) {
        IKvEnumMailBody *bodies = nullptr;
        if (SUCCEEDED(m->EnumBodies(&bodies)) && bodies) bodies->Release(), ++loaded;
        if (memory) {
            std::printf("%.1f\n", StatusMb("VmHWM:") - start);
            m->Release();
            break;
        }
        m->Release();
    }
    if (e) e->Release();
    c->Disconnect();
    c->Release();
    std::fprintf(stderr, "%d loaded\n", loaded);
    return rc;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) return 2;
    DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&g_factory));
    std::string mode = argv[1];
    int rc = 0;
    // Timed from here, as the peers are timed inside their already running interpreter.
    auto start = std::chrono::steady_clock::now();
    if (mode == "big" || mode == "many") {
        IKvMailConnection2 *c = Connection(IID_IKvSMTPSendConnection, argv[2]);
        if (argc >= 5 && std::strncmp(argv[argc - 1], "tls=", 4) == 0) {
            Set(c, u"TLSMode", u"starttls");
            Set(c, u"TLSCAFile", Ascii(argv[argc - 1] + 4));
        }
        rc = Check(c->Connect(), c, "connect");
        int count = mode == "many" ? std::atoi(argv[3]) : 1;
        for (int i = 0; rc == 0 && i < count; ++i) {
            IKvMail *mail = Compose(c, mode == "big" ? argv[3] : "");
            rc = Check(c->Send(mail), c, "send");
            mail->Release();
        }
        c->Disconnect();
        c->Release();
    } else if (mode == "pop3" && argc >= 5) {
        rc = Receive(IID_IKvPOP3RecvConnection, argv, false);
    } else if ((mode == "imap" || mode == "imap-memory") && argc >= 5) {
        rc = Receive(IID_IKvIMAPRecvConnection, argv, mode == "imap-memory");
    }
    g_factory->Release();
    std::printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return rc;
}
