// kvmail: a command-line host of the orkv14 component, built on its public
// interface only.
#include <unistd.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "host.h"

using namespace kvmail;

namespace {

const char kUsage[] =
    "usage: kvmail [-v LEVEL] [--trace] COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  info                 the component's banner and which providers work here\n"
    "  send  COMPOSE SERVER compose a mail and send it; without a server it goes to the outbox\n"
    "  render COMPOSE       print the RFC 822 text of a composed mail\n"
    "  list  SERVER         list the POP3 mailbox\n"
    "  fetch N SERVER [--out DIR]  write message N as N.eml and its attachments into DIR\n"
    "  delete N SERVER      delete message N from the mailbox\n"
    "  show FILE.eml        print the structure of a message file\n"
    "  config export --app KEY | import --app KEY --settings FILE   settings strings and the registry\n"
    "\n"
    "COMPOSE: --from ADDR --to ADDR... [--cc ADDR]... [--bcc ADDR]... [--subject TEXT]\n"
    "         [--text FILE] [--html FILE] [--attach FILE]...\n"
    "         (files that the HTML refers to by relative name become inline images)\n"
    "SERVER:  [--provider smtp|cdosys] [--server HOST] [--port N] [--user NAME] [--password PW]\n"
    "         [--settings FILE] [--option Name=Value]... [--timeout MS] [--outbox DIR]\n"
    "\n"
    "options:\n"
    "  -v LEVEL   log to standard error: 1 exceptions, 2 calls, 3 details, 128 protocol only\n"
    "  --trace    the protocol dialogue (the same as -v 128)\n"
    "  --help     this text (also after a command)\n"
    "\n"
    "exit codes: 0 success, 1 the component reported a failure, 2 bad usage or files\n";

struct CommandHelp {
    const char *name;
    const char *text;
};

// What --help after a command prints.
const CommandHelp kCommandHelp[] = {
    {"info", "usage: kvmail info\n  Prints the component's banner and which providers can work on this system.\n"},
    {"send",
     "usage: kvmail send --from ADDR --to ADDR... [--cc ADDR]... [--bcc ADDR]... [--subject TEXT]\n"
     "                   [--text FILE] [--html FILE] [--attach FILE]...\n"
     "                   [--provider smtp|cdosys] [--server HOST] [--port N] [--user NAME] [--password PW]\n"
     "                   [--settings FILE] [--option Name=Value]... [--timeout MS] [--outbox DIR]\n"
     "  Composes a mail and sends it. Files that the HTML refers to by relative name become\n"
     "  inline pictures. Without --server or --settings the mail is rendered into the outbox\n"
     "  directory (default ./outbox) instead. A progress bar shows on a terminal.\n"},
    {"render", "usage: kvmail render COMPOSE-OPTIONS\n  Prints the RFC 822 text of the composed mail (the options of send).\n"},
    {"list", "usage: kvmail list --server HOST [--port N] --user NAME --password PW [--settings FILE]\n"
             "  Lists the POP3 mailbox: number, sender, subject.\n"},
    {"fetch", "usage: kvmail fetch N --server HOST ... [--out DIR]\n"
              "  Writes message N as DIR/N.eml and its attachments into DIR (default .).\n"},
    {"delete", "usage: kvmail delete N --server HOST ...\n"
               "  Deletes message N; the server removes it at the end of the session.\n"},
    {"show", "usage: kvmail show FILE.eml\n"
             "  Prints the headers, the bodies with their related parts, and the attachments with sizes.\n"},
    {"config", "usage: kvmail config export --app KEY\n       kvmail config import --app KEY --settings FILE\n"
               "  Prints the settings strings stored under an application key, or stores one there.\n"},
};

// Prints the log lines it receives to standard error.
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
        if (echo) std::fprintf(stderr, "%s\n", last.c_str());
        return S_OK;
    }
    bool echo = false;
    std::string last;
};

// Draws a progress bar from the send events when standard error is a terminal.
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
        if (event != 8 || !isatty(2)) return S_OK;
        int percent = detail <= 1 ? 0 : detail > 100 ? 100 : int(detail);
        int filled = percent * 30 / 100;
        std::fprintf(stderr, "\r  sending [%.*s%*s] %3d%%", filled, "##############################", 30 - filled, "",
                     percent);
        if (detail == 100) std::fputc('\n', stderr);
        std::fflush(stderr);
        return S_OK;
    }
};

struct Args {
    std::string command;
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> values;
    bool help = false;
    std::string One(const std::string &name, const std::string &fallback = "") const {
        auto it = values.find(name);
        return it == values.end() || it->second.empty() ? fallback : it->second.back();
    }
    const std::vector<std::string> &All(const std::string &name) const {
        static const std::vector<std::string> none;
        auto it = values.find(name);
        return it == values.end() ? none : it->second;
    }
    bool Has(const std::string &name) const { return values.count(name) != 0; }
};

const char *const kValueOptions[] = {"from", "to", "cc", "bcc", "subject", "text", "html", "attach",
                                     "provider", "server", "port", "user", "password", "settings",
                                     "option", "timeout", "outbox", "out", "app"};

bool Parse(int argc, char **argv, Args &args, int &level) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            args.help = true;
        } else if (a == "-v") {
            if (++i >= argc) return false;
            level = std::atoi(argv[i]);
        } else if (a == "--trace") {
            level = 128;
        } else if (a.rfind("--", 0) == 0) {
            std::string name = a.substr(2);
            bool known = false;
            for (const char *o : kValueOptions) known = known || name == o;
            if (!known || ++i >= argc) {
                std::fprintf(stderr, "kvmail: unknown option or missing value: %s\n", a.c_str());
                return false;
            }
            args.values[name].push_back(argv[i]);
        } else if (args.command.empty()) {
            args.command = a;
        } else {
            args.positional.push_back(a);
        }
    }
    return true;
}

int Fail(const char *what, IKvMailConnection2 *c) {
    std::fprintf(stderr, "kvmail: %s failed\n  %s\n", what, ErrorRecord(c).c_str());
    return 1;
}

int Usage(const char *message) {
    std::fprintf(stderr, "kvmail: %s\n\n%s", message, kUsage);
    return 2;
}

void SetOption(IKvMailConnection2 *c, const std::string &name, const std::string &value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    std::u16string w = Wide(value);
    v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(w.data()), UINT(w.size()));
    std::u16string n = Wide(name);
    c->SetOption(reinterpret_cast<LPCWSTR>(n.c_str()), &v);
    VariantClear(&v);
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
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        std::u16string w = Wide(text);
        v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(w.data()), UINT(w.size()));
        c->SetOption(nullptr, &v);
        VariantClear(&v);
    }
    const std::pair<const char *, const char *> named[] = {{"server", "ServerAddress"}, {"port", "ServerPort"},
                                                           {"user", "ServerUser"},      {"password", "ServerPassword"},
                                                           {"timeout", "SocketTimeout"}};
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
    if (FAILED(c->CreateMail(0, u"kvmail", first.put()))) {
        std::fprintf(stderr, "kvmail: %s\n", ErrorRecord(c).c_str());
        return false;
    }
    first->QueryInterface(IID_IKvMail2, mail.put_void());
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
    Ptr<IStream> out;
    CreateStreamOnHGlobal(nullptr, TRUE, out.put());
    if (FAILED(mail->GetRawText(out.get()))) return false;
    text = StreamBytes(out.get());
    return true;
}

const IID &SendSelector(const Args &args) {
    return args.One("provider", "smtp") == "cdosys" ? IID_IKvCDOSYSSendConnection : IID_IKvSMTPSendConnection;
}

int Send(IClassFactory *factory, const Args &args, bool renderOnly) {
    Ptr<IKvMailConnection2> c;
    if (!Create(factory, SendSelector(args), c) || !Configure(c.get(), args)) return 2;
    Ptr<IKvMail2> mail;
    if (!Compose(c.get(), args, mail)) return 2;
    bool noServer = !args.Has("server") && !args.Has("settings");
    if (renderOnly || noServer) {
        std::string text;
        if (!Render(mail.get(), text)) return Fail("rendering the mail", c.get());
        if (renderOnly) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            return 0;
        }
        std::string dir = args.One("outbox", "outbox"), error;
        mkdir(dir.c_str(), 0755);
        char name[64];
        std::time_t now = std::time(nullptr);
        std::strftime(name, sizeof name, "%Y%m%d-%H%M%S", std::localtime(&now));
        std::string path = dir + "/" + name + "-" + std::to_string(getpid()) + ".eml";
        if (!WriteFile(path, text, error)) {
            std::fprintf(stderr, "kvmail: %s\n", error.c_str());
            return 2;
        }
        std::printf("no server configured: the mail (%zu bytes) went to the outbox: %s\n", text.size(), path.c_str());
        return 0;
    }
    Progress progress;
    c->SetMailStateNotificationSlot(&progress);
    if (FAILED(c->Connect())) return Fail("connecting", c.get());
    Ptr<IKvMail> plain;
    mail->QueryInterface(IID_IKvMail, plain.put_void());
    HRESULT hr = c->Send(plain.get());
    int rc = FAILED(hr) ? Fail("sending", c.get()) : 0;
    c->Disconnect();
    c->SetMailStateNotificationSlot(nullptr);
    if (rc == 0) std::printf("sent\n");
    return rc;
}

std::string Header(IKvMail2 *mail, const char *name) {
    Bstr value;
    if (mail->GetHeaderEntry(Bstr(name).get(), value.put()) != S_OK) return "";
    return value.Utf8();
}

// Connects to the mailbox and lists it; the mails stay in the connection.
bool OpenMailbox(IClassFactory *factory, const Args &args, Ptr<IKvMailConnection2> &c, std::vector<IKvMail2 *> &mails) {
    if (!Create(factory, IID_IKvPOP3RecvConnection, c) || !Configure(c.get(), args)) return false;
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
    while (e->Next(1, &m, &fetched) == S_OK && fetched == 1) {
        IKvMail2 *m2 = nullptr;
        m->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(&m2));
        m->Release();
        mails.push_back(m2);
    }
    return true;
}

void ReleaseAll(std::vector<IKvMail2 *> &mails) {
    for (IKvMail2 *m : mails) m->Release();
    mails.clear();
}

int Mailbox(IClassFactory *factory, const Args &args) {
    Ptr<IKvMailConnection2> c;
    std::vector<IKvMail2 *> mails;
    if (!OpenMailbox(factory, args, c, mails)) {
        ReleaseAll(mails);
        return 1;
    }
    int rc = 0;
    size_t wanted = args.positional.empty() ? 0 : size_t(std::atoi(args.positional[0].c_str()));
    if (args.command != "list" && (wanted == 0 || wanted > mails.size())) {
        std::fprintf(stderr, "kvmail: no message %zu in a mailbox of %zu\n", wanted, mails.size());
        rc = 2;
    } else if (args.command == "list") {
        std::printf("%zu message(s)\n", mails.size());
        for (size_t i = 0; i < mails.size(); ++i)
            std::printf("%4zu  %-30.30s  %s\n", i + 1, Header(mails[i], "From").c_str(), Header(mails[i], "Subject").c_str());
    } else if (args.command == "delete") {
        Bstr cookie;
        mails[wanted - 1]->GetCookie(cookie.put());
        std::u16string id = Wide(cookie.Utf8());
        if (FAILED(c->DeleteMail(reinterpret_cast<LPCWSTR>(id.c_str())))) rc = Fail("deleting", c.get());
        else std::printf("message %zu deleted\n", wanted);
    } else {
        IKvMail2 *mail = mails[wanted - 1];
        std::string dir = args.One("out", "."), error;
        mkdir(dir.c_str(), 0755);
        Ptr<IKvEnumMailAttachment> attachments;
        if (FAILED(mail->EnumAttachments(attachments.put()))) {
            rc = Fail("loading the message", c.get());
        } else {
            std::string text;
            Render(mail, text);
            std::string path = dir + "/" + std::to_string(wanted) + ".eml";
            if (!WriteFile(path, text, error)) std::fprintf(stderr, "kvmail: %s\n", error.c_str()), rc = 2;
            else std::printf("%s (%zu bytes)\n", path.c_str(), text.size());
            IKvMailAttachment *a = nullptr;
            ULONG fetched = 0;
            while (rc == 0 && attachments->Next(1, &a, &fetched) == S_OK && fetched == 1) {
                Bstr name;
                a->GetName(name.put());
                Ptr<IStream> contents;
                CreateStreamOnHGlobal(nullptr, TRUE, contents.put());
                a->GetContents(contents.get());
                a->Release();
                std::string file = FileNameOf(name.Utf8());
                if (file.empty() || file == "." || file == "..") file = "attachment";
                std::string bytes = StreamBytes(contents.get());
                if (WriteFile(dir + "/" + file, bytes, error)) std::printf("%s/%s (%zu bytes)\n", dir.c_str(), file.c_str(), bytes.size());
            }
        }
    }
    ReleaseAll(mails);
    c->Disconnect();
    return rc;
}

int Show(IClassFactory *factory, const Args &args) {
    if (args.positional.empty()) return Usage("show wants a message file");
    Ptr<IKvMailConnection2> c;
    if (!Create(factory, IID_IKvSMTPSendConnection, c)) return 2;
    Ptr<IKvMail> first;
    c->CreateMail(0, u"show", first.put());
    Ptr<IKvMail2> mail;
    first->QueryInterface(IID_IKvMail2, mail.put_void());
    Ptr<IStream> source;
    std::string error;
    if (!StreamFromFile(args.positional[0], source, error)) {
        std::fprintf(stderr, "kvmail: %s\n", error.c_str());
        return 2;
    }
    if (FAILED(mail->SetRawText(source.get()))) return Fail("reading the message", c.get());
    for (const char *h : {"From", "To", "CC", "Subject", "Date"}) {
        std::string v = Header(mail.get(), h);
        if (!v.empty()) std::printf("%s: %s\n", h, v.c_str());
    }
    Ptr<IKvEnumMailBody> bodies;
    mail->EnumBodies(bodies.put());
    IKvMailBody *b = nullptr;
    ULONG fetched = 0;
    while (bodies && bodies->Next(1, &b, &fetched) == S_OK && fetched == 1) {
        Bstr type, charset;
        b->GetType(type.put());
        b->GetCharset(charset.put(), nullptr, nullptr);
        Ptr<IStream> contents;
        CreateStreamOnHGlobal(nullptr, TRUE, contents.put());
        b->GetContents(contents.get());
        std::printf("body: %s; charset=%s; %zu bytes\n", type.Utf8().c_str(), charset.Utf8().c_str(),
                    StreamBytes(contents.get()).size());
        Ptr<IKvEnumMailAttachment> related;
        b->EnumAttachments(related.put());
        IKvMailAttachment *part = nullptr;
        ULONG got = 0;
        while (related && related->Next(1, &part, &got) == S_OK && got == 1) {
            Bstr name;
            part->GetName(name.put());
            Ptr<IStream> bytes;
            CreateStreamOnHGlobal(nullptr, TRUE, bytes.put());
            part->GetContents(bytes.get());
            std::printf("  related part: %s; %zu bytes\n", name.Utf8().c_str(), StreamBytes(bytes.get()).size());
            part->Release();
        }
        b->Release();
    }
    Ptr<IKvEnumMailAttachment> attachments;
    mail->EnumAttachments(attachments.put());
    IKvMailAttachment *a = nullptr;
    while (attachments && attachments->Next(1, &a, &fetched) == S_OK && fetched == 1) {
        Bstr name;
        a->GetName(name.put());
        Ptr<IStream> contents;
        CreateStreamOnHGlobal(nullptr, TRUE, contents.put());
        a->GetContents(contents.get());
        std::printf("attachment: %s; %zu bytes\n", name.Utf8().c_str(), StreamBytes(contents.get()).size());
        a->Release();
    }
    return 0;
}

int Config(IClassFactory *factory, const Args &args) {
    std::string action = args.positional.empty() ? "" : args.positional[0];
    if (!args.Has("app") || (action != "export" && action != "import")) return Usage("config wants export or import and --app KEY");
    Ptr<IKvConfiguration2> config;
    factory->CreateInstance(nullptr, IID_IKvConfiguration2, config.put_void());
    std::u16string app = Wide(args.One("app"));
    if (action == "export") {
        HRESULT hr = config->GetParametersFromRegistry(reinterpret_cast<LPCWSTR>(app.c_str()), 3);
        Bstr user, global;
        config->GetUserParameters(user.put());
        config->GetGlobalParameters(global.put());
        std::printf("user: %s\nglobal: %s\n", user.Utf8().c_str(), global.Utf8().c_str());
        return FAILED(hr) ? 1 : 0;
    }
    std::string text, error;
    if (!args.Has("settings") || !ReadFile(args.One("settings"), text, error))
        return Usage("config import wants --settings FILE");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::u16string w = Wide(text);
    config->SetUserParameters(reinterpret_cast<LPCWSTR>(w.c_str()));
    HRESULT hr = config->SetParametersToRegistry(reinterpret_cast<LPCWSTR>(app.c_str()), 1);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvmail: the registry refused the settings (0x%08x)\n", unsigned(hr));
        return 1;
    }
    std::printf("stored under '%s'\n", args.One("app").c_str());
    return 0;
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
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char **argv) {
    Args args;
    int level = 0;
    if (!Parse(argc, argv, args, level)) return Usage("bad arguments");
    if (args.help) {
        for (const CommandHelp &h : kCommandHelp)
            if (args.command == h.name) {
                std::fputs(h.text, stdout);
                return 0;
            }
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.command.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    Ptr<IClassFactory> factory;
    HRESULT hr = DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvmail: the component's class object is not available (0x%08x)\n", unsigned(hr));
        return 1;
    }
    IKvLog *log = nullptr;
    factory->CreateInstance(nullptr, IID_IKvLog, reinterpret_cast<void **>(&log));
    StderrSink sink;
    log->SetLogSlot(&sink);
    if (level > 0) {
        sink.echo = true;
        log->SetOutputMode(KVLOG_MODE_SINK);
        log->SetLogLevel(level);
    }

    int rc;
    const std::string &cmd = args.command;
    if (cmd == "info") rc = Info(factory.get(), log, sink);
    else if (cmd == "send") rc = Send(factory.get(), args, false);
    else if (cmd == "render") rc = Send(factory.get(), args, true);
    else if (cmd == "list" || cmd == "fetch" || cmd == "delete") rc = Mailbox(factory.get(), args);
    else if (cmd == "show") rc = Show(factory.get(), args);
    else if (cmd == "config") rc = Config(factory.get(), args);
    else rc = Usage(("unknown command '" + cmd + "'").c_str());

    log->SetOutputMode(KVLOG_MODE_OFF);
    log->SetLogSlot(nullptr);
    return rc;
}
