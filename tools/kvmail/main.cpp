// kvmail: a command-line host of the orkv14 component, built on its public
// interface only.
#include <unistd.h>
#include <sys/stat.h>

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cli.h"
#include "host.h"
#include "text.h"

using namespace kvmail;

namespace {

// Prints the log lines it receives to standard error; they carry server replies.
class StderrSink : public IKvLogSlot {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvLogSlot)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE WriteLine(BSTR line) override {
        last = Utf8(line);
        if (echo) std::fprintf(stderr, "%s\n", EscapeText(last).c_str());
        return S_OK;
    }
    bool echo = false;
    std::string last;
};

// Draws a progress bar from the send events when standard error is a terminal,
// and notes whether the mail's text went out at all.
class Progress : public IKvMailStateNotificationSlot {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvMailStateNotificationSlot)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG event, LONG detail) override {
        if (event != 8) return S_OK;
        // (8, 0) opens every send and (8, 100) ends it; (8, 1) comes only when DATA
        // was accepted and the text begins.
        textStarted = textStarted || detail == 1;
        if (!isatty(2)) return S_OK;
        int percent = detail <= 1 ? 0 : detail > 100 ? 100 : int(detail);
        int filled = percent * 30 / 100;
        std::fprintf(stderr, "\r  sending [%.*s%*s] %3d%%", filled, "##############################", 30 - filled, "",
                     percent);
        if (detail == 100) std::fputc('\n', stderr);
        std::fflush(stderr);
        return S_OK;
    }
    bool textStarted = false;
};

int Fail(const char *what, IKvMailConnection2 *c) {
    std::fprintf(stderr, "kvmail: %s failed\n  %s\n", what, ErrorRecord(c).c_str());
    return kExitFailed;
}

// A provider that does not do what was asked may still leave a record.
int NotDone(const char *what, const char *provider, IKvMailConnection2 *c) {
    std::fprintf(stderr, "kvmail: %s failed: the %s provider does not do that (E_NOTIMPL)\n", what, provider);
    LONG code = 0;
    bool recorded = !ErrorLines(c, code).empty() || code != 0;
    if (recorded) std::fprintf(stderr, "  %s\n", ErrorRecord(c).c_str());
    return kExitFailed;
}

int Usage(const std::string &message) {
    std::fprintf(stderr, "kvmail: %s\nTry 'kvmail --help' for more information.\n", message.c_str());
    return kExitUsage;
}

void SetOption(IKvMailConnection2 *c, const std::string &name, const std::string &value) {
    c->SetOption(Bstr(name).get(), Variant(value).get());
}

// Options from a settings file first, then the command line's.
bool Configure(IKvMailConnection2 *c, const Args &args) {
    if (args.Has("settings")) {
        std::string text, error;
        if (!ReadFile(args.One("settings"), text, error)) {
            std::fprintf(stderr, "kvmail: %s\n", error.c_str());
            return false;
        }
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        c->SetOption(nullptr, Variant(text).get());
    }
    const std::pair<const char *, const char *> named[] = {
        {"server", "ServerAddress"}, {"port", "ServerPort"}, {"user", "ServerUser"}, {"timeout", "SocketTimeout"},
        {"folder", "Folder"}};
    for (const auto &n : named)
        if (args.Has(n.first)) SetOption(c, n.second, args.One(n.first));
    for (const std::string &o : args.All("option")) {
        size_t eq = o.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr, "kvmail: --option wants Name=Value, not '%s'\n", o.c_str());
            return false;
        }
        SetOption(c, o.substr(0, eq), o.substr(eq + 1));
    }
    if (args.password) SetOption(c, "ServerPassword", *args.password);
    if (args.token) SetOption(c, "OAuth2Token", *args.token);
    return true;
}

bool Create(IClassFactory *factory, const IID &selector, Ptr<IKvMailConnection2> &c) {
    HRESULT hr = factory->CreateInstance(nullptr, selector, c.put_void());
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvmail: the connection cannot be created (0x%08x)\n", unsigned(hr));
        return false;
    }
    return true;
}

std::string Join(const std::vector<std::string> &list) {
    std::string r;
    for (const auto &s : list) r += (r.empty() ? "" : "\t") + s;
    return r;
}

std::string DirectoryOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string FileNameOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Fills a new mail from the compose options; on failure prints why.
bool Compose(IKvMailConnection2 *c, const Args &args, Ptr<IKvMail2> &mail) {
    Ptr<IKvMail> first;
    if (FAILED(c->CreateMail(0, OLESTR("kvmail"), first.put()))) {
        std::fprintf(stderr, "kvmail: %s\n", ErrorRecord(c).c_str());
        return false;
    }
    mail = first.As<IKvMail2>();
    struct Step {
        const char *what;
        HRESULT hr;
    };
    std::vector<Step> steps;
    if (args.Has("from")) steps.push_back({"--from", mail->SetSender(Bstr(args.One("from")).get())});
    if (args.Has("to")) steps.push_back({"--to", mail->AddRecipients(Bstr(Join(args.All("to"))).get())});
    if (args.Has("cc")) steps.push_back({"--cc", mail->AddCCRecipients(Bstr(Join(args.All("cc"))).get())});
    if (args.Has("bcc")) steps.push_back({"--bcc", mail->AddBCCRecipients(Bstr(Join(args.All("bcc"))).get())});
    if (args.Has("subject")) steps.push_back({"--subject", mail->SetSubject(Bstr(args.One("subject")).get())});
    for (const Step &s : steps)
        if (FAILED(s.hr)) {
            std::fprintf(stderr, "kvmail: %s was refused (0x%08x): not an address?\n", s.what, unsigned(s.hr));
            return false;
        }
    const std::pair<const char *, const char *> bodies[] = {{"text", "text/plain"}, {"html", "text/html"}};
    for (const auto &b : bodies) {
        if (!args.Has(b.first)) continue;
        std::string path = args.One(b.first), error;
        Ptr<IStream> contents;
        if (!StreamFromFile(path, contents, error)) {
            std::fprintf(stderr, "kvmail: %s\n", error.c_str());
            return false;
        }
        Ptr<IKvMailBody> body;
        if (FAILED(mail->CreateAndAddBody(body.put(), Bstr(b.second).get(), 65001))) {
            std::fprintf(stderr, "kvmail: this provider takes no %s body\n", b.second);
            return false;
        }
        // Relative references in the HTML name files beside it.
        char cwd[4096];
        bool moved = getcwd(cwd, sizeof cwd) && chdir(DirectoryOf(path).c_str()) == 0;
        HRESULT hr = body->SetContents(contents.get());
        if (moved && chdir(cwd) != 0) return false;
        if (FAILED(hr)) {
            std::fprintf(stderr, "kvmail: the body of '%s' was refused (0x%08x)\n", path.c_str(), unsigned(hr));
            return false;
        }
    }
    for (const std::string &path : args.All("attach")) {
        std::string error;
        Ptr<IStream> contents;
        if (!StreamFromFile(path, contents, error)) {
            std::fprintf(stderr, "kvmail: %s\n", error.c_str());
            return false;
        }
        Ptr<IKvMailAttachment> attachment;
        mail->CreateAndAddAttachment(attachment.put());
        attachment->SetName(Bstr(FileNameOf(path)).get());
        attachment->SetContents(contents.get());
    }
    return true;
}

bool Render(IKvMail2 *mail, std::string &text) {
    Ptr<IStream> out = orkv14::MemoryStream({});
    if (!out || FAILED(mail->GetRawText(out.get()))) return false;
    text = ReadAll(out.get());
    return true;
}

// Writes the mail's text as a new file of the outbox directory; path is where.
bool ToOutbox(IKvMail2 *mail, const Args &args, std::string &path, std::string &error) {
    std::string text;
    if (!Render(mail, text)) {
        error = "the mail cannot be rendered";
        return false;
    }
    std::string dir = args.One("outbox", "outbox");
    mkdir(dir.c_str(), 0755);
    char stamp[64];
    std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    return WriteNewFile(dir, std::string(stamp) + "-" + std::to_string(getpid()) + ".eml", text, path, error);
}

// The address in a recipient entry such as "Name <smtp:a@b>".
std::string AddressOf(const std::string &entry) {
    std::string a = entry;
    size_t open = a.rfind('<');
    if (open != std::string::npos && a.find('>', open) != std::string::npos)
        a = a.substr(open + 1, a.find('>', open) - open - 1);
    size_t first = a.find_first_not_of(" \t"), last = a.find_last_not_of(" \t");
    a = first == std::string::npos ? "" : a.substr(first, last - first + 1);
    if (strncasecmp(a.c_str(), "smtp:", 5) == 0) a.erase(0, 5);
    return a;
}

// The mail went out but some recipients were refused: the record holds one
// "Recipient Address 'ADDRESS': REPLY" line for each of them.
int ReportPartialDelivery(IKvMailConnection2 *c, IKvMail2 *mail) {
    LONG code = 0;
    std::vector<std::pair<std::string, std::string>> refused;
    const std::string prefix = "Recipient Address '";
    for (const std::string &line : ErrorLines(c, code)) {
        size_t end = line.rfind(prefix, 0) == 0 ? line.find("': ", prefix.size()) : std::string::npos;
        if (end != std::string::npos)
            refused.emplace_back(line.substr(prefix.size(), end - prefix.size()), line.substr(end + 3));
    }
    std::fprintf(stderr, "kvmail: some recipients were refused; the others have the mail\n");
    for (auto list : {&IKvMail2::EnumRecipients, &IKvMail2::EnumCCRecipients, &IKvMail2::EnumBCCRecipients}) {
        Ptr<IEnumString> e;
        (mail->*list)(e.put());
        for (const std::string &entry : Strings(e.get())) {
            std::string address = AddressOf(entry);
            bool wasRefused = false;
            for (const auto &r : refused) wasRefused = wasRefused || strcasecmp(r.first.c_str(), address.c_str()) == 0;
            if (!wasRefused) std::printf("delivered: %s\n", EscapeText(address).c_str());
        }
    }
    for (const auto &r : refused)
        std::printf("refused: %s: %s\n", EscapeText(r.first).c_str(), EscapeText(r.second).c_str());
    return kExitPartlyDelivered;
}

const IID &SendSelector(const Args &args) {
    return args.One("provider", "smtp") == "cdosys" ? IID_IKvCDOSYSSendConnection : IID_IKvSMTPSendConnection;
}

int Send(IClassFactory *factory, const Args &args, bool renderOnly) {
    Ptr<IKvMailConnection2> c;
    if (!Create(factory, SendSelector(args), c) || !Configure(c.get(), args)) return kExitUsage;
    Ptr<IKvMail2> mail;
    if (!Compose(c.get(), args, mail)) return kExitUsage;
    std::string path, error;
    if (renderOnly) {
        std::string text;
        if (!Render(mail.get(), text)) return Fail("rendering the mail", c.get());
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kExitOk;
    }
    if (!args.Has("server") && !args.Has("settings")) {
        if (!ToOutbox(mail.get(), args, path, error)) {
            std::fprintf(stderr, "kvmail: %s\n", error.c_str());
            return kExitFailed;
        }
        std::printf("no server configured: the mail went to the outbox: %s\n", path.c_str());
        return kExitOk;
    }
    Progress progress;
    c->SetMailStateNotificationSlot(&progress);
    int rc = kExitOk;
    if (FAILED(c->Connect())) {
        rc = Fail("connecting", c.get());
    } else {
        HRESULT hr = c->Send(mail.As<IKvMail>().get());
        LONG code = 0;
        ErrorLines(c.get(), code);
        if (SUCCEEDED(hr)) std::printf("sent\n");
        // -14 after the text went out can only be refused recipients.
        else if (code == -14 && progress.textStarted) rc = ReportPartialDelivery(c.get(), mail.get());
        else rc = Fail("sending", c.get());
        c->Disconnect();
    }
    c->SetMailStateNotificationSlot(nullptr);
    if (rc == kExitFailed) {
        if (ToOutbox(mail.get(), args, path, error))
            std::fprintf(stderr, "kvmail: the mail was not sent; it is kept in %s\n", path.c_str());
        else std::fprintf(stderr, "kvmail: the mail was not sent, and not kept either: %s\n", error.c_str());
    }
    return rc;
}

std::string Header(IKvMail2 *mail, const char *name) {
    Bstr value;
    if (mail->GetHeaderEntry(Bstr(name).get(), value.put()) != S_OK) return "";
    return EscapeText(value.Utf8());
}

// Connects to the mailbox and lists it; the mails stay in the connection.
bool OpenMailbox(IClassFactory *factory, const Args &args, Ptr<IKvMailConnection2> &c, std::vector<Ptr<IKvMail2>> &mails) {
    const IID &selector = args.Has("imap") ? IID_IKvIMAPRecvConnection : IID_IKvPOP3RecvConnection;
    if (!Create(factory, selector, c) || !Configure(c.get(), args)) return false;
    if (FAILED(c->Connect())) {
        Fail("connecting", c.get());
        return false;
    }
    if (FAILED(c->QueryMailbox(0))) {
        Fail("listing the mailbox", c.get());
        return false;
    }
    Ptr<IKvEnumMail> e;
    c->EnumMails(e.put());
    IKvMail *m = nullptr;
    ULONG fetched = 0;
    while (e && e->Next(1, &m, &fetched) == S_OK && fetched == 1) mails.push_back(Ptr<IKvMail>(m).As<IKvMail2>());
    return true;
}

// Writes message n and its attachments into --out, each as a new file.
int Fetch(IKvMailConnection2 *c, IKvMail2 *mail, size_t n, const Args &args) {
    std::string dir = args.One("out", "."), path, error;
    mkdir(dir.c_str(), 0755);
    Ptr<IKvEnumMailAttachment> attachments;
    if (FAILED(mail->EnumAttachments(attachments.put()))) return Fail("loading the message", c);
    // Straight into the files: the text and the attachments are not held a second time here.
    auto write = [&](const std::string &name, const std::function<HRESULT(IStream *)> &fill, const char *what) {
        HRESULT hr = S_OK;
        uint64_t size = 0;
        if (WriteNewFile(
                dir, name, [&](IStream *s) { return hr = fill(s); }, path, size, error)) {
            std::printf("%s (%llu bytes)\n", EscapeText(path).c_str(), (unsigned long long)size);
            return kExitOk;
        }
        if (FAILED(hr)) return Fail(what, c);
        std::fprintf(stderr, "kvmail: %s\n", EscapeText(error).c_str());
        return kExitFailed;
    };
    int rc = write(
        std::to_string(n) + ".eml", [&](IStream *s) { return mail->GetRawText(s); }, "loading the message");
    IKvMailAttachment *raw = nullptr;
    ULONG fetched = 0;
    while (rc == kExitOk && attachments->Next(1, &raw, &fetched) == S_OK && fetched == 1) {
        Ptr<IKvMailAttachment> a(raw);
        Bstr name;
        a->GetName(name.put());
        rc = write(
            SafeFileName(name.Utf8()), [&](IStream *s) { return a->GetContents(s); }, "loading an attachment");
    }
    return rc;
}

int Mailbox(IClassFactory *factory, const Args &args) {
    Ptr<IKvMailConnection2> c;
    std::vector<Ptr<IKvMail2>> mails;
    if (!OpenMailbox(factory, args, c, mails)) return kExitFailed;
    int rc = kExitOk;
    const std::string &command = args.command;
    size_t wanted = args.positional.empty() ? 0 : size_t(std::strtoul(args.positional[0].c_str(), nullptr, 10));
    Bstr cookie;
    if (wanted > 0 && wanted <= mails.size()) mails[wanted - 1]->GetCookie(cookie.put());
    std::string done;
    if (command != "list" && (wanted == 0 || wanted > mails.size())) {
        std::fprintf(stderr, "kvmail: no message %zu in a mailbox of %zu\n", wanted, mails.size());
        rc = kExitUsage;
    } else if (command == "list") {
        std::printf("%zu message(s)\n", mails.size());
        for (size_t i = 0; i < mails.size(); ++i)
            std::printf("%4zu  %-30.30s  %s\n", i + 1, Header(mails[i].get(), "From").c_str(),
                        Header(mails[i].get(), "Subject").c_str());
    } else if (command == "delete") {
        if (FAILED(c->DeleteMail(cookie.get()))) rc = Fail("deleting", c.get());
        else done = "message " + std::to_string(wanted) + " deleted";
    } else if (command == "read") {
        HRESULT hr = c->MarkMailAsRead(cookie.get());
        if (hr == E_NOTIMPL) rc = NotDone("marking as read", args.Has("imap") ? "IMAP" : "POP3", c.get());
        else if (FAILED(hr)) rc = Fail("marking as read", c.get());
        else done = "message " + std::to_string(wanted) + " marked as read";
    } else {
        rc = Fetch(c.get(), mails[wanted - 1].get(), wanted, args);
    }
    mails.clear();
    // Without UIDPLUS an IMAP server removes deleted mails only now: a failure
    // here means the mail is still there.
    HRESULT ended = c->Disconnect();
    if (rc == kExitOk && FAILED(ended)) rc = Fail("ending the session", c.get());
    else if (rc == kExitOk && !done.empty()) std::printf("%s\n", done.c_str());
    return rc;
}

std::string NameOf(IKvMailAttachment *a) {
    Bstr name;
    a->GetName(name.put());
    return EscapeText(name.Utf8());
}

// Counted as they pass: a large attachment is not held a second time to be measured.
size_t SizeOf(IKvMailAttachment *a) {
    bool ok = false;
    return size_t(CountWritten([&](IStream *s) { return a->GetContents(s); }, ok));
}

int Show(IClassFactory *factory, const Args &args) {
    if (args.positional.empty()) return Usage("show wants a message file");
    Ptr<IKvMailConnection2> c;
    if (!Create(factory, IID_IKvSMTPSendConnection, c)) return kExitUsage;
    Ptr<IKvMail> first;
    c->CreateMail(0, OLESTR("show"), first.put());
    Ptr<IKvMail2> mail = first.As<IKvMail2>();
    Ptr<IStream> source;
    std::string error;
    if (!StreamFromFile(args.positional[0], source, error)) {
        std::fprintf(stderr, "kvmail: %s\n", error.c_str());
        return kExitUsage;
    }
    if (FAILED(mail->SetRawText(source.get()))) return Fail("reading the message", c.get());
    for (const char *h : {"From", "To", "CC", "Subject", "Date"}) {
        std::string v = Header(mail.get(), h);
        if (!v.empty()) std::printf("%s: %s\n", h, v.c_str());
    }
    Ptr<IKvEnumMailBody> bodies;
    mail->EnumBodies(bodies.put());
    IKvMailBody *raw = nullptr;
    ULONG fetched = 0;
    while (bodies && bodies->Next(1, &raw, &fetched) == S_OK && fetched == 1) {
        Ptr<IKvMailBody> b(raw);
        Bstr type, charset;
        b->GetType(type.put());
        b->GetCharset(charset.put(), nullptr, nullptr);
        bool ok = false;
        uint64_t size = CountWritten([&](IStream *s) { return b->GetContents(s); }, ok);
        std::printf("body: %s; charset=%s; %llu bytes\n", EscapeText(type.Utf8()).c_str(),
                    EscapeText(charset.Utf8()).c_str(), (unsigned long long)size);
        Ptr<IKvEnumMailAttachment> related;
        b->EnumAttachments(related.put());
        IKvMailAttachment *part = nullptr;
        ULONG got = 0;
        while (related && related->Next(1, &part, &got) == S_OK && got == 1) {
            Ptr<IKvMailAttachment> p(part);
            std::printf("  related part: %s; %zu bytes\n", NameOf(p.get()).c_str(), SizeOf(p.get()));
        }
    }
    Ptr<IKvEnumMailAttachment> attachments;
    mail->EnumAttachments(attachments.put());
    IKvMailAttachment *a = nullptr;
    while (attachments && attachments->Next(1, &a, &fetched) == S_OK && fetched == 1) {
        Ptr<IKvMailAttachment> owned(a);
        std::printf("attachment: %s; %zu bytes\n", NameOf(a).c_str(), SizeOf(a));
    }
    return kExitOk;
}

int Config(IClassFactory *factory, const Args &args) {
    std::string action = args.positional.empty() ? "" : args.positional[0];
    if (!args.Has("app") || (action != "export" && action != "import"))
        return Usage("config wants export or import and --app KEY");
    Ptr<IKvConfiguration2> config;
    factory->CreateInstance(nullptr, IID_IKvConfiguration2, config.put_void());
    Bstr app(args.One("app"));
    if (action == "export") {
        HRESULT hr = config->GetParametersFromRegistry(app.get(), 3);
        Bstr user, global;
        config->GetUserParameters(user.put());
        config->GetGlobalParameters(global.put());
        std::printf("user: %s\nglobal: %s\n", EscapeText(user.Utf8()).c_str(), EscapeText(global.Utf8()).c_str());
        return FAILED(hr) ? kExitFailed : kExitOk;
    }
    std::string text, error;
    if (!args.Has("settings") || !ReadFile(args.One("settings"), text, error))
        return Usage("config import wants --settings FILE");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    config->SetUserParameters(Bstr(text).get());
    HRESULT hr = config->SetParametersToRegistry(app.get(), 1);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvmail: the registry refused the settings (0x%08x)\n", unsigned(hr));
        return kExitFailed;
    }
    std::printf("stored under '%s'\n", args.One("app").c_str());
    return kExitOk;
}

struct Provider {
    const char *name;
    const char *role;
    const IID *selector;
};

int Info(IClassFactory *factory, IKvLog *log, StderrSink &sink) {
    bool echo = sink.echo;
    sink.echo = false;
    log->SetOutputMode(KVLOG_MODE_SINK);
    log->SetLogLevel(KVLOG_LEVEL_CALLS);
    std::string banner = sink.last;
    size_t open = banner.find('[');
    std::printf("component: %s\n", open == std::string::npos ? banner.c_str() : banner.c_str() + open);
    sink.echo = echo;
    if (!echo) log->SetOutputMode(KVLOG_MODE_OFF);
    static const Provider providers[] = {
        {"SMTP", "send", &IID_IKvSMTPSendConnection},     {"POP3", "receive", &IID_IKvPOP3RecvConnection},
        {"IMAP", "receive", &IID_IKvIMAPRecvConnection},
        {"SMAPI", "send", &IID_IKvSMAPISendConnection},   {"SMAPI", "receive", &IID_IKvSMAPIRecvConnection},
        {"XMAPI", "send", &IID_IKvXMAPISendConnection},   {"XMAPI", "receive", &IID_IKvXMAPIRecvConnection},
        {"CDOSYS", "send", &IID_IKvCDOSYSSendConnection}, {"CDOSYS", "receive", &IID_IKvCDOSYSRecvConnection},
    };
    std::printf("providers:\n");
    int failures = 0;
    for (const Provider &p : providers) {
        Ptr<IKvMailConnection2> c;
        HRESULT hr = factory->CreateInstance(nullptr, *p.selector, c.put_void());
        if (SUCCEEDED(hr)) std::printf("  %-7s %-8s available\n", p.name, p.role);
        else if (hr == E_ACCESSDENIED) std::printf("  %-7s %-8s not available on this system (no messaging library)\n", p.name, p.role);
        else std::printf("  %-7s %-8s failed: 0x%08x\n", p.name, p.role, unsigned(hr)), ++failures;
    }
    return failures ? kExitFailed : kExitOk;
}

} // namespace

int main(int argc, char **argv) {
    Args args;
    std::string error;
    if (!ParseArguments(argc, argv, args, error)) return Usage(error);
    if (args.version) {
        std::printf("kvmail (orkv14) %s\n", ORKV14_VERSION_STRING);
        return kExitOk;
    }
    if (args.help) {
        const char *text = CommandUsage(args.command);
        std::fputs(*text ? text : UsageText(), stdout);
        return kExitOk;
    }
    if (args.command.empty()) {
        std::fputs(UsageText(), stderr);
        return kExitUsage;
    }

    Ptr<IClassFactory> factory;
    HRESULT hr = DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvmail: the component's class object is not available (0x%08x)\n", unsigned(hr));
        return kExitFailed;
    }
    Ptr<IKvLog> log;
    factory->CreateInstance(nullptr, IID_IKvLog, log.put_void());
    StderrSink sink;
    log->SetLogSlot(&sink);
    if (args.level > 0) {
        sink.echo = true;
        log->SetOutputMode(KVLOG_MODE_SINK);
        log->SetLogLevel(args.level);
    }

    int rc;
    const std::string &cmd = args.command;
    if (cmd == "info") rc = Info(factory.get(), log.get(), sink);
    else if (cmd == "send") rc = Send(factory.get(), args, false);
    else if (cmd == "render") rc = Send(factory.get(), args, true);
    else if (cmd == "list" || cmd == "fetch" || cmd == "delete" || cmd == "read") rc = Mailbox(factory.get(), args);
    else if (cmd == "show") rc = Show(factory.get(), args);
    else if (cmd == "config") rc = Config(factory.get(), args);
    else rc = Usage("unknown command '" + EscapeText(cmd) + "'");

    log->SetOutputMode(KVLOG_MODE_OFF);
    log->SetLogSlot(nullptr);
    return rc;
}
