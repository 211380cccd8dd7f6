// Orkv14.Configuration: settings strings, their registry store and dialog
// (the core's IKvConfiguration2), and the process-wide log (IKvLog).
#include "classes.h"
#include "object.h"
#include "objects.h"

namespace kvauto {
namespace {

class ConfigurationObject;

// The log is one per process, and so is what this DLL last told it.
SRWLOCK g_logLock = SRWLOCK_INIT;
LONG g_logOutput = KVLOG_MODE_OFF;
LONG g_logLevel = KVLOG_LEVEL_EXCEPTIONS;
ConfigurationObject *g_sinkOwner;
IDispatch *g_sink;

// Hands the log's lines to a script object's WriteLine. Lines of other
// threads are not delivered: a script object belongs to its own thread, and
// the log calls while it holds its lock.
class LogSlot final : public IKvLogSlot {
  public:
    LogSlot(IDispatch *sink, DISPID writeLine) : sink_(Share(sink)), writeLine_(writeLine) { Lock(); }
    LogSlot(const LogSlot &) = delete;
    LogSlot &operator=(const LogSlot &) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IKvLogSlot) return E_NOINTERFACE;
        *out = static_cast<IKvLogSlot *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return ULONG(n);
    }
    STDMETHODIMP WriteLine(BSTR line) override {
        // A sink that calls the component writes lines of its own: those stay out.
        if (GetCurrentThreadId() != thread_ || delivering_) return S_OK;
        delivering_ = true;
        VARIANTARG argument;
        argument.vt = VT_BSTR;
        argument.bstrVal = line;
        DISPPARAMS params = {&argument, nullptr, 1, 0};
        sink_->Invoke(writeLine_, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        delivering_ = false;
        return S_OK;
    }

  private:
    ~LogSlot() { Unlock(); }
    Ptr<IDispatch> sink_;
    DISPID writeLine_;
    DWORD thread_ = GetCurrentThreadId();
    bool delivering_ = false;
    LONG refs_ = 1;
};

class ConfigurationObject : public Dispatch<IKvAutoConfiguration> {
  public:
    ConfigurationObject(Ptr<IKvConfiguration2> configuration, Ptr<IKvLog> log)
        : Dispatch("Orkv14.Configuration"), configuration_(std::move(configuration)), log_(std::move(log)) {}

    STDMETHODIMP get_UserSettings(BSTR *out) override { return Settings(out, &IKvConfiguration2::GetUserParameters); }
    STDMETHODIMP put_UserSettings(BSTR settings) override {
        return SetSettings(settings, &IKvConfiguration2::SetUserParameters);
    }
    STDMETHODIMP get_GlobalSettings(BSTR *out) override {
        return Settings(out, &IKvConfiguration2::GetGlobalParameters);
    }
    STDMETHODIMP put_GlobalSettings(BSTR settings) override {
        return SetSettings(settings, &IKvConfiguration2::SetGlobalParameters);
    }
    STDMETHODIMP SaveToRegistry(BSTR key, long flags) override {
        HRESULT hr = configuration_->SetParametersToRegistry(SysStringLen(key) ? key : nullptr, DWORD(flags));
        return FAILED(hr) ? Fail(hr, "The settings cannot be stored in the registry: " + SystemText(hr)) : S_OK;
    }
    STDMETHODIMP LoadFromRegistry(BSTR key, long flags) override {
        HRESULT hr = configuration_->GetParametersFromRegistry(SysStringLen(key) ? key : nullptr, DWORD(flags));
        return FAILED(hr) ? Fail(hr, "The settings cannot be read from the registry: " + SystemText(hr)) : S_OK;
    }
    STDMETHODIMP ShowDialog(long parent, long flags, VARIANT_BOOL *confirmed) override {
        if (!confirmed) return E_POINTER;
        *confirmed = VARIANT_FALSE;
        HRESULT hr = configuration_->ConfigDlg(reinterpret_cast<HWND>(static_cast<LONG_PTR>(parent)), 0, DWORD(flags));
        if (FAILED(hr)) return Fail(hr, "The configuration dialog cannot be shown: " + SystemText(hr));
        *confirmed = hr == S_OK ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHODIMP get_LogOutput(KvLogOutput *out) override {
        if (!out) return E_POINTER;
        AcquireSRWLockShared(&g_logLock);
        *out = KvLogOutput(g_logOutput);
        ReleaseSRWLockShared(&g_logLock);
        return S_OK;
    }
    STDMETHODIMP put_LogOutput(KvLogOutput output) override {
        if (output < kvLogOff || output > kvLogChannel) return Fail(E_INVALIDARG, "The log output is 0 to 3");
        AcquireSRWLockExclusive(&g_logLock);
        g_logOutput = output;
        ReleaseSRWLockExclusive(&g_logLock);
        return log_->SetOutputMode(output);
    }
    STDMETHODIMP get_LogLevel(KvLogLevel *out) override {
        if (!out) return E_POINTER;
        AcquireSRWLockShared(&g_logLock);
        *out = KvLogLevel(g_logLevel);
        ReleaseSRWLockShared(&g_logLock);
        return S_OK;
    }
    STDMETHODIMP put_LogLevel(KvLogLevel level) override {
        AcquireSRWLockExclusive(&g_logLock);
        g_logLevel = level;
        ReleaseSRWLockExclusive(&g_logLock);
        return log_->SetLogLevel(level);
    }
    STDMETHODIMP get_LogSink(IDispatch **out) override {
        if (!out) return E_POINTER;
        AcquireSRWLockShared(&g_logLock);
        *out = g_sink;
        if (g_sink) g_sink->AddRef();
        ReleaseSRWLockShared(&g_logLock);
        return S_OK;
    }
    STDMETHODIMP putref_LogSink(IDispatch *sink) override {
        Ptr<LogSlot> slot;
        if (sink) {
            OLECHAR name[] = L"WriteLine";
            LPOLESTR names[] = {name};
            DISPID writeLine = DISPID_UNKNOWN;
            if (FAILED(sink->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &writeLine)))
                return Fail(E_INVALIDARG, "The log sink needs a method WriteLine(Line)");
            slot = Ptr<LogSlot>(new (std::nothrow) LogSlot(sink, writeLine));
            if (!slot) return Fail(E_OUTOFMEMORY, "Not enough memory");
        }
        Attach(sink ? this : nullptr, sink, slot.get());
        return S_OK;
    }
    STDMETHODIMP get_ObjectCount(long *out) override {
        if (!out) return E_POINTER;
        *out = Locks();
        return S_OK;
    }

  private:
    // The sink goes with the object that attached it, so nothing of this DLL outlives its objects.
    ~ConfigurationObject() override {
        bool mine = false;
        AcquireSRWLockShared(&g_logLock);
        mine = g_sinkOwner == this;
        ReleaseSRWLockShared(&g_logLock);
        if (mine) Attach(nullptr, nullptr, nullptr);
    }

    void Attach(ConfigurationObject *owner, IDispatch *sink, LogSlot *slot) {
        log_->SetLogSlot(slot);
        AcquireSRWLockExclusive(&g_logLock);
        IDispatch *old = g_sink;
        g_sink = sink;
        if (sink) sink->AddRef();
        g_sinkOwner = owner;
        ReleaseSRWLockExclusive(&g_logLock);
        if (old) old->Release();
    }

    HRESULT Settings(BSTR *out, HRESULT (STDMETHODCALLTYPE IKvConfiguration2::*get)(BSTR *)) {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr settings;
        HRESULT hr = (configuration_.get()->*get)(settings.put());
        if (FAILED(hr)) return Fail(hr, "The settings cannot be written: " + SystemText(hr));
        *out = settings.get() ? settings.release() : SysAllocString(L"");
        return S_OK;
    }
    HRESULT SetSettings(BSTR settings, HRESULT (STDMETHODCALLTYPE IKvConfiguration2::*set)(LPCWSTR)) {
        HRESULT hr = (configuration_.get()->*set)(settings ? settings : L"");
        return FAILED(hr) ? Fail(hr, "The settings string cannot be read: " + SystemText(hr)) : S_OK;
    }

    Ptr<IKvConfiguration2> configuration_;
    Ptr<IKvLog> log_;
};

} // namespace

HRESULT CreateConfiguration(const CreatableClass &cls, REFIID iid, void **out) {
    Ptr<IClassFactory> factory;
    std::string why;
    HRESULT hr = CoreFactory(factory, why);
    if (FAILED(hr)) return Raise(hr, IID_IKvAutoConfiguration, cls.progId, why);
    Ptr<IKvConfiguration2> configuration;
    Ptr<IKvLog> log;
    hr = factory->CreateInstance(nullptr, IID_IKvConfiguration2, configuration.put_void());
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_IKvLog, log.put_void());
    if (FAILED(hr)) return Raise(hr, IID_IKvAutoConfiguration, cls.progId, "The component makes no configuration: " + SystemText(hr));
    Ptr<IKvAutoConfiguration> object(new ConfigurationObject(std::move(configuration), std::move(log)));
    return object->QueryInterface(iid, out);
}

} // namespace kvauto
