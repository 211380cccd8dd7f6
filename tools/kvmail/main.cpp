// kvmail: a command-line host of the orkv14 component, built on its public
// interface only.
#include <cstdio>
#include <cstring>
#include <string>

#include "orkv14.h"

namespace {

std::string Utf8(const OLECHAR *s) {
    std::string r;
    if (!s) return r;
    for (; *s; ++s) {
        unsigned c = *s;
        if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        }
        if (c < 0x80) r.push_back(char(c));
        else if (c < 0x800) r += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        else if (c < 0x10000) r += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        else
            r += {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)),
                  char(0x80 | (c & 0x3F))};
    }
    return r;
}

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
        lines++;
        last = Utf8(line);
        if (echo) std::fprintf(stderr, "%s\n", last.c_str());
        return S_OK;
    }
    bool echo = false;
    int lines = 0;
    std::string last;
};

void Usage(FILE *out) {
    std::fputs("usage: kvmail [-v LEVEL] COMMAND\n"
               "\n"
               "commands:\n"
               "  info     print the component's banner and which providers can work here\n"
               "\n"
               "options:\n"
               "  -v LEVEL log level: 1 exceptions, 2 calls, 3 details, 128 protocol only\n"
               "  --help   this text\n"
               "\n"
               "exit codes: 0 success, 1 the component reported a failure, 2 bad usage\n",
               out);
}

struct Provider {
    const char *name;
    const char *role;
    const IID *selector;
};

const Provider kProviders[] = {
    {"SMTP", "send", &IID_IKvSMTPSendConnection},       {"POP3", "receive", &IID_IKvPOP3RecvConnection},
    {"SMAPI", "send", &IID_IKvSMAPISendConnection},     {"SMAPI", "receive", &IID_IKvSMAPIRecvConnection},
    {"XMAPI", "send", &IID_IKvXMAPISendConnection},     {"XMAPI", "receive", &IID_IKvXMAPIRecvConnection},
    {"CDOSYS", "send", &IID_IKvCDOSYSSendConnection},   {"CDOSYS", "receive", &IID_IKvCDOSYSRecvConnection},
};

int Info(IClassFactory *factory, IKvLog *log, StderrSink &sink) {
    // The banner is the log's first line once calls are let through.
    bool echo = sink.echo;
    sink.echo = false;
    log->SetOutputMode(KVLOG_MODE_SINK);
    log->SetLogLevel(KVLOG_LEVEL_CALLS);
    std::string banner = sink.last;
    size_t open = banner.find('[');
    std::printf("component: %s\n", open == std::string::npos ? banner.c_str() : banner.c_str() + open);
    sink.echo = echo;
    if (!echo) log->SetOutputMode(KVLOG_MODE_OFF);

    std::printf("providers:\n");
    int failures = 0;
    for (const Provider &p : kProviders) {
        IKvMailConnection2 *c = nullptr;
        HRESULT hr = factory->CreateInstance(nullptr, *p.selector, reinterpret_cast<void **>(&c));
        if (SUCCEEDED(hr)) {
            std::printf("  %-7s %-8s available\n", p.name, p.role);
            c->Release();
        } else if (hr == E_ACCESSDENIED) {
            std::printf("  %-7s %-8s not available on this system (no messaging library)\n", p.name, p.role);
        } else {
            std::printf("  %-7s %-8s failed: 0x%08x\n", p.name, p.role, unsigned(hr));
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char **argv) {
    int level = 0;
    const char *command = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            Usage(stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "-v") && i + 1 < argc) {
            level = std::atoi(argv[++i]);
            continue;
        }
        if (!command) {
            command = argv[i];
            continue;
        }
        std::fprintf(stderr, "kvmail: unexpected argument '%s'\n", argv[i]);
        Usage(stderr);
        return 2;
    }
    if (!command) {
        Usage(stderr);
        return 2;
    }

    IClassFactory *factory = nullptr;
    HRESULT hr = DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&factory));
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvmail: the component's class object is not available (0x%08x)\n", unsigned(hr));
        return 1;
    }
    IKvLog *log = nullptr;
    factory->CreateInstance(nullptr, IID_IKvLog, reinterpret_cast<void **>(&log));
    StderrSink sink;
    if (log) {
        log->SetLogSlot(&sink);
        if (level > 0) {
            sink.echo = true;
            log->SetOutputMode(KVLOG_MODE_SINK);
            log->SetLogLevel(level);
        }
    }

    int rc;
    if (!std::strcmp(command, "info") && log) {
        rc = Info(factory, log, sink);
    } else {
        std::fprintf(stderr, "kvmail: unknown command '%s'\n", command);
        Usage(stderr);
        rc = 2;
    }
    if (log) {
        log->SetOutputMode(KVLOG_MODE_OFF);
        log->SetLogSlot(nullptr);
    }
    factory->Release();
    return rc;
}
