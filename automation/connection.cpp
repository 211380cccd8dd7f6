// The connection objects (Orkv14.SMTP, .POP3, .SMAPI, .XMAPI, .CDOSYS) over
// the core's IKvMailConnection2, and their events through a connection point.
//
// The core fixes a connection's role when it is made, so the core connection
// is made at first use, in the role chosen by then; the options given so far
// are kept and handed to it, and again to a new one when the role changes.
#include <cwchar>
#include <list>

#include <olectl.h>

#include "classes.h"
#include "enumerator.h"
#include "object.h"
#include "objects.h"
#include "values.h"

namespace kvauto {
namespace {

class ConnectionObject;

// The core's notification slot; the connection's events come from here.
class StateSlot final : public IKvMailStateNotificationSlot {
  public:
    explicit StateSlot(ConnectionObject *owner) : owner_(owner) { Lock(); }
    StateSlot(const StateSlot &) = delete;
    StateSlot &operator=(const StateSlot &) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IKvMailStateNotificationSlot) return E_NOINTERFACE;
        *out = static_cast<IKvMailStateNotificationSlot *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return ULONG(n);
    }
    STDMETHODIMP NotifyConnectionState(LONG event, LONG detail) override;

    // The connection goes before the core connection may.
    void Orphan() { owner_ = nullptr; }

  private:
    ~StateSlot() { Unlock(); }
    ConnectionObject *owner_;
    LONG refs_ = 1;
};

struct OptionEntry {
    std::wstring name; // empty: a settings string
    Variant value;
};

bool SameName(const std::wstring &a, BSTR b) {
    return a.size() == SysStringLen(b) && CompareStringOrdinal(a.c_str(), int(a.size()), b, int(a.size()), TRUE) ==
                                              CSTR_EQUAL;
}

class ConnectionObject : public Dispatch<IKvAutoConnection>,
                         public IConnectionPointContainer,
                         public IProvideClassInfo2 {
  public:
    explicit ConnectionObject(const CreatableClass &cls)
        : Dispatch(cls.progId), cls_(cls), role_(cls.sendSelector ? kvRoleSend : kvRoleReceive),
          slot_(new StateSlot(this)) {}

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override { return Dispatch::QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return Dispatch::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return Dispatch::Release(); }

    // IKvAutoConnection
    STDMETHODIMP get_Provider(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = Bstr(cls_.name).release();
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_Role(KvRole *out) override {
        if (!out) return E_POINTER;
        *out = role_;
        return S_OK;
    }
    STDMETHODIMP put_Role(KvRole role) override {
        if (role != kvRoleSend && role != kvRoleReceive)
            return Fail(E_INVALIDARG, "The role is kvRoleSend (1) or kvRoleReceive (2)");
        if (!(role == kvRoleSend ? cls_.sendSelector : cls_.receiveSelector))
            return Fail(E_INVALIDARG, std::string("The ") + cls_.name + " provider only " +
                                          (cls_.sendSelector ? "sends" : "receives"));
        if (role == role_) return S_OK;
        if (connected_) return Fail(E_UNEXPECTED, "The role can only change while disconnected");
        DropCore();
        role_ = role;
        return S_OK;
    }
    STDMETHODIMP SetOption(BSTR name, VARIANT value) override {
        if (SysStringLen(name) == 0)
            return Fail(E_INVALIDARG, "No option name was given (settings strings go to ApplySettings)");
        return Guarded([&] {
            Variant v;
            HRESULT hr = ByValue(value, v.get());
            VARTYPE vt = (*v).vt;
            if (FAILED(hr) || (vt & (VT_ARRAY | VT_BYREF)) || vt == VT_DISPATCH || vt == VT_UNKNOWN ||
                vt == VT_NULL || vt == VT_ERROR || vt == VT_RECORD)
                return Fail(DISP_E_TYPEMISMATCH, "The value of the option " + Quoted(name) +
                                                     " must be a string, a number or a Boolean");
            return Store(name, v.get());
        });
    }
    STDMETHODIMP GetOption(BSTR name, VARIANT *out) override {
        if (!out) return E_POINTER;
        VariantInit(out);
        for (OptionEntry &o : options_)
            if (!o.name.empty() && SameName(o.name, name)) return VariantCopy(out, o.value.get());
        return S_OK;
    }
    STDMETHODIMP ApplySettings(BSTR settings) override {
        return Guarded([&] {
            Variant v;
            (*v.put()).vt = VT_BSTR;
            v.get()->bstrVal = SysAllocStringLen(settings, SysStringLen(settings));
            return Store(nullptr, v.get());
        });
    }
    STDMETHODIMP get_ServerAddress(BSTR *out) override { return TextOption(L"ServerAddress", out); }
    STDMETHODIMP put_ServerAddress(BSTR value) override { return PutText(L"ServerAddress", value); }
    STDMETHODIMP get_ServerPort(long *out) override { return NumberOption(L"ServerPort", out); }
    STDMETHODIMP put_ServerPort(long value) override { return PutNumber(L"ServerPort", value); }
    STDMETHODIMP get_ServerUser(BSTR *out) override { return TextOption(L"ServerUser", out); }
    STDMETHODIMP put_ServerUser(BSTR value) override { return PutText(L"ServerUser", value); }
    STDMETHODIMP put_ServerPassword(BSTR value) override { return PutText(L"ServerPassword", value); }
    STDMETHODIMP get_SenderName(BSTR *out) override { return TextOption(L"SenderName", out); }
    STDMETHODIMP put_SenderName(BSTR value) override { return PutText(L"SenderName", value); }
    STDMETHODIMP get_SenderAddress(BSTR *out) override { return TextOption(L"SenderAddress", out); }
    STDMETHODIMP put_SenderAddress(BSTR value) override { return PutText(L"SenderAddress", value); }
    STDMETHODIMP get_SocketTimeout(long *out) override { return NumberOption(L"SocketTimeout", out); }
    STDMETHODIMP put_SocketTimeout(long value) override { return PutNumber(L"SocketTimeout", value); }

    STDMETHODIMP Connect() override {
        HRESULT hr = Core();
        if (FAILED(hr)) return hr;
        lastEvent_ = 0;
        hr = core_->Connect();
        if (SUCCEEDED(hr)) {
            connected_ = true;
            return S_OK;
        }
        // A refused logon comes back without error text; the events tell it.
        if (lastEvent_ == 5 && lastDetail_ == 0 && RecordText(core_.get()).empty())
            return Fail(hr, "The server refused the logon (user name or password)");
        return FailCall(hr, core_.get(), "Connect");
    }
    STDMETHODIMP Disconnect() override {
        connected_ = false;
        if (!core_) return S_OK;
        HRESULT hr = core_->Disconnect(); // S_FALSE: it was not connected
        return FAILED(hr) ? FailCall(hr, core_.get(), "Disconnect") : S_OK;
    }
    STDMETHODIMP CreateMail(long codepage, IKvAutoMail **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (codepage != 0 && codepage != CP_UTF8 && !IsValidCodePage(UINT(codepage)))
            return Fail(E_INVALIDARG, "Code page " + std::to_string(codepage) + " is not known to this system");
        HRESULT hr = Core();
        if (FAILED(hr)) return hr;
        Ptr<IKvMail> mail;
        hr = core_->CreateMail(codepage, L"", mail.put());
        if (FAILED(hr)) return FailCall(hr, core_.get(), "CreateMail");
        Ptr<IKvMail2> mail2;
        hr = mail->QueryInterface(IID_IKvMail2, mail2.put_void());
        if (FAILED(hr)) return Fail(hr, "The component's mail lacks IKvMail2");
        return Guarded([&] { return NewMail(std::move(mail2), core_.get(), out); });
    }
    STDMETHODIMP Send(IKvAutoMail *mail) override {
        Ptr<IKvMail> core = CoreMailOf(mail);
        if (!core)
            return Fail(E_INVALIDARG, mail ? "The mail was not made by this component in this thread"
                                           : "Send needs a Mail object");
        HRESULT hr = Core();
        if (FAILED(hr)) return hr;
        hr = core_->Send(core.get());
        return FAILED(hr) ? FailCall(hr, core_.get(), "Send") : S_OK;
    }
    STDMETHODIMP QueryMailbox(VARIANT_BOOL complete) override {
        HRESULT hr = Core();
        if (FAILED(hr)) return hr;
        count_ = -1;
        hr = core_->QueryMailbox(complete != VARIANT_FALSE ? 1 : 0);
        return FAILED(hr) ? FailCall(hr, core_.get(), "QueryMailbox") : S_OK;
    }
    STDMETHODIMP get_Mails(IKvAutoMails **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        HRESULT hr = Core();
        if (FAILED(hr)) return hr;
        Ptr<IKvEnumMail> e;
        hr = core_->EnumMails(e.put());
        if (FAILED(hr)) return FailCall(hr, core_.get(), "Mails");
        return Guarded([&] {
            std::vector<Ptr<IKvMail2>> mails;
            for (;;) {
                Ptr<IKvMail> m;
                ULONG fetched = 0;
                if (e->Next(1, m.put(), &fetched) != S_OK || fetched != 1 || !m) break;
                Ptr<IKvMail2> m2;
                if (SUCCEEDED(m->QueryInterface(IID_IKvMail2, m2.put_void()))) mails.push_back(std::move(m2));
            }
            return NewMails(std::move(mails), core_.get(), out);
        });
    }
    STDMETHODIMP DeleteMail(VARIANT mail) override { return ByCookie(mail, "DeleteMail", &IKvMailConnection2::DeleteMail); }
    STDMETHODIMP MarkMailAsRead(VARIANT mail) override {
        return ByCookie(mail, "MarkMailAsRead", &IKvMailConnection2::MarkMailAsRead);
    }
    STDMETHODIMP get_LastError(long *out) override {
        if (!out) return E_POINTER;
        *out = 0;
        if (core_) RecordText(core_.get(), out);
        return S_OK;
    }
    STDMETHODIMP get_LastErrorText(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            *out = Bstr(core_ ? RecordText(core_.get()) : std::string()).release();
            return *out ? S_OK : Fail(E_OUTOFMEMORY, "Not enough memory");
        });
    }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints **out) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint **out) override;

    // IProvideClassInfo2: how script hosts find the events of the object.
    STDMETHODIMP GetClassInfo(ITypeInfo **out) override {
        if (!out) return E_POINTER;
        *out = TypeInfoOf(*cls_.clsid);
        if (!*out) return TYPE_E_CANTLOADLIBRARY;
        (*out)->AddRef();
        return S_OK;
    }
    STDMETHODIMP GetGUID(DWORD kind, GUID *out) override {
        if (!out) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
        *out = DIID__IKvAutoConnectionEvents;
        return S_OK;
    }

    // Called by the connection point.
    HRESULT Advise(IUnknown *sink, DWORD *cookie) {
        if (!sink || !cookie) return E_POINTER;
        *cookie = 0;
        Ptr<IDispatch> events;
        if (FAILED(sink->QueryInterface(DIID__IKvAutoConnectionEvents, events.put_void())) &&
            FAILED(sink->QueryInterface(IID_IDispatch, events.put_void())))
            return CONNECT_E_CANNOTCONNECT;
        try {
            sinks_.push_back({++lastCookie_, std::move(events)});
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        }
        *cookie = lastCookie_;
        return S_OK;
    }
    HRESULT Unadvise(DWORD cookie) {
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
            if (it->cookie == cookie) {
                sinks_.erase(it);
                return S_OK;
            }
        return CONNECT_E_NOCONNECTION;
    }
    HRESULT Connections(IEnumConnections **out) {
        std::vector<CONNECTDATA> items;
        try {
            items.reserve(sinks_.size());
            for (Sink &s : sinks_) {
                s.events->AddRef();
                items.push_back({s.events.get(), s.cookie});
            }
            *out = new Enumerator<IEnumConnections, ConnectionItems>(std::move(items));
        } catch (const std::bad_alloc &) {
            for (CONNECTDATA &c : items) c.pUnk->Release();
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    void Notify(LONG event, LONG detail) {
        lastEvent_ = event;
        lastDetail_ = detail;
        Fire(1, {event, detail});
        if (event == 8 && detail > 0) Fire(2, {detail});
        if (event == 10) count_ = detail;
        if (event == 11) Fire(3, {detail, count_});
    }

  protected:
    void *Other(REFIID iid) override {
        if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer *>(this);
        if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) return static_cast<IProvideClassInfo2 *>(this);
        return nullptr;
    }

  private:
    struct Sink {
        DWORD cookie;
        Ptr<IDispatch> events;
    };

    ~ConnectionObject() override {
        slot_->Orphan();
        DropCore();
    }

    void DropCore() {
        if (core_) core_->SetMailStateNotificationSlot(nullptr);
        core_.reset();
    }

    // The core connection in the present role, made with the options given so far.
    HRESULT Core() {
        if (core_) return S_OK;
        const IID *selector = role_ == kvRoleSend ? cls_.sendSelector : cls_.receiveSelector;
        Ptr<IClassFactory> factory;
        std::string why;
        HRESULT hr = CoreFactory(factory, why);
        if (FAILED(hr)) return Fail(hr, why);
        Ptr<IKvMailConnection2> core;
        hr = factory->CreateInstance(nullptr, *selector, core.put_void());
        if (hr == E_ACCESSDENIED)
            return Fail(hr, std::string("The ") + cls_.name +
                                " provider is not available on this machine (no messaging subsystem)");
        if (FAILED(hr)) return Fail(hr, std::string("The component makes no ") + cls_.name +
                                            " connection: " + SystemText(hr));
        core->SetMailStateNotificationSlot(slot_.get());
        for (OptionEntry &o : options_) {
            hr = core->SetOption(o.name.empty() ? nullptr : o.name.c_str(), o.value.get());
            if (FAILED(hr)) return FailCall(hr, core.get(), "Setting the options");
        }
        core_ = std::move(core);
        return S_OK;
    }

    // Hands an option (a settings string when `name` is null) to the core and keeps it.
    HRESULT Store(BSTR name, VARIANT *value) {
        HRESULT hr = Core();
        if (FAILED(hr)) return hr;
        hr = core_->SetOption(name, value);
        if (hr == E_UNEXPECTED) return Fail(hr, "Options can only be set while disconnected");
        if (FAILED(hr)) return FailCall(hr, core_.get(), "SetOption");
        OptionEntry *entry = nullptr;
        if (name)
            for (OptionEntry &o : options_)
                if (!o.name.empty() && SameName(o.name, name)) entry = &o;
        if (!entry) {
            options_.emplace_back();
            entry = &options_.back();
            entry->name.assign(name ? name : L"", SysStringLen(name));
        }
        return VariantCopy(entry->value.put(), value);
    }

    HRESULT PutText(const wchar_t *name, BSTR text) {
        Bstr key;
        *key.put() = SysAllocString(name);
        Variant v;
        (*v.put()).vt = VT_BSTR;
        v.get()->bstrVal = SysAllocStringLen(text, SysStringLen(text));
        return Guarded([&] { return Store(key.get(), v.get()); });
    }
    HRESULT PutNumber(const wchar_t *name, long number) {
        Bstr key;
        *key.put() = SysAllocString(name);
        Variant v(LONG{number});
        return Guarded([&] { return Store(key.get(), v.get()); });
    }
    HRESULT TextOption(const wchar_t *name, BSTR *out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        Variant v;
        Bstr key;
        *key.put() = SysAllocString(name);
        GetOption(key.get(), v.get());
        if ((*v).vt != VT_EMPTY && SUCCEEDED(VariantChangeType(v.get(), v.get(), 0, VT_BSTR))) {
            *out = (*v).bstrVal;
            v.get()->vt = VT_EMPTY;
        }
        if (!*out) *out = SysAllocString(L"");
        return S_OK;
    }
    HRESULT NumberOption(const wchar_t *name, long *out) {
        if (!out) return E_POINTER;
        *out = 0;
        Variant v;
        Bstr key;
        *key.put() = SysAllocString(name);
        GetOption(key.get(), v.get());
        if ((*v).vt != VT_EMPTY && SUCCEEDED(VariantChangeType(v.get(), v.get(), 0, VT_I4))) *out = (*v).lVal;
        return S_OK;
    }

    HRESULT ByCookie(const VARIANT &mail, const char *what, HRESULT (STDMETHODCALLTYPE IKvMailConnection2::*call)(LPCWSTR)) {
        Variant v;
        Bstr cookie;
        HRESULT hr = ByValue(mail, v.get());
        VARTYPE vt = SUCCEEDED(hr) ? (*v).vt : VARTYPE(VT_EMPTY);
        Ptr<IKvAutoMail> object;
        if (vt == VT_BSTR)
            *cookie.put() = SysAllocStringLen((*v).bstrVal, SysStringLen((*v).bstrVal));
        else if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && (*v).punkVal &&
                 SUCCEEDED((*v).punkVal->QueryInterface(IID_IKvAutoMail, object.put_void())))
            object->get_Cookie(cookie.put());
        else
            return Fail(DISP_E_TYPEMISMATCH, std::string(what) + " takes a Mail object or the cookie of a mail");
        if (cookie.size() == 0) return Fail(E_INVALIDARG, std::string(what) + ": the mail has no cookie");
        hr = Core();
        if (FAILED(hr)) return hr;
        hr = (core_.get()->*call)(cookie.get());
        return FAILED(hr) ? FailCall(hr, core_.get(), what) : S_OK;
    }

    void Fire(DISPID id, std::initializer_list<LONG> args) {
        if (sinks_.empty()) return;
        // A handler may Unadvise, or let go of this object, while the events go out.
        std::vector<Ptr<IDispatch>> targets;
        for (Sink &s : sinks_) targets.push_back(Share(s.events.get()));
        Ptr<IKvAutoConnection> self = Share(static_cast<IKvAutoConnection *>(this));
        VARIANTARG values[2];
        UINT n = 0;
        for (auto it = args.end(); it != args.begin() && n < 2;) { // the last argument comes first
            --it;
            VariantInit(&values[n]);
            values[n].vt = VT_I4;
            values[n].lVal = *it;
            ++n;
        }
        DISPPARAMS params = {values, nullptr, n, 0};
        for (Ptr<IDispatch> &t : targets)
            t->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }

    const CreatableClass &cls_;
    KvRole role_;
    Ptr<StateSlot> slot_;
    Ptr<IKvMailConnection2> core_;
    std::list<OptionEntry> options_;
    bool connected_ = false;
    std::vector<Sink> sinks_;
    DWORD lastCookie_ = 0;
    LONG lastEvent_ = 0, lastDetail_ = 0;
    LONG count_ = -1;
};

HRESULT StateSlot::NotifyConnectionState(LONG event, LONG detail) {
    if (owner_) {
        try {
            owner_->Notify(event, detail);
        } catch (const std::bad_alloc &) {
            // An event lost for want of memory: the call itself goes on.
        }
    }
    return S_OK;
}

class EventPoint final : public IConnectionPoint {
  public:
    explicit EventPoint(ConnectionObject *owner) : owner_(Share(owner)) { Lock(); }
    EventPoint(const EventPoint &) = delete;
    EventPoint &operator=(const EventPoint &) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
        *out = static_cast<IConnectionPoint *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return ULONG(n);
    }
    STDMETHODIMP GetConnectionInterface(IID *out) override {
        if (!out) return E_POINTER;
        *out = DIID__IKvAutoConnectionEvents;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer **out) override {
        if (!out) return E_POINTER;
        *out = static_cast<IConnectionPointContainer *>(owner_.get());
        (*out)->AddRef();
        return S_OK;
    }
    STDMETHODIMP Advise(IUnknown *sink, DWORD *cookie) override { return owner_->Advise(sink, cookie); }
    STDMETHODIMP Unadvise(DWORD cookie) override { return owner_->Unadvise(cookie); }
    STDMETHODIMP EnumConnections(IEnumConnections **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return owner_->Connections(out);
    }

  private:
    ~EventPoint() { Unlock(); }
    Ptr<ConnectionObject> owner_;
    LONG refs_ = 1;
};

HRESULT ConnectionObject::EnumConnectionPoints(IEnumConnectionPoints **out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        std::vector<IConnectionPoint *> points{new EventPoint(this)};
        *out = new Enumerator<IEnumConnectionPoints, PointItems>(std::move(points));
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT ConnectionObject::FindConnectionPoint(REFIID iid, IConnectionPoint **out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != DIID__IKvAutoConnectionEvents) return CONNECT_E_NOCONNECTION;
    *out = new (std::nothrow) EventPoint(this);
    return *out ? S_OK : E_OUTOFMEMORY;
}

} // namespace

HRESULT CreateConnection(const CreatableClass &cls, REFIID iid, void **out) {
    Ptr<IKvAutoConnection> connection(new ConnectionObject(cls));
    return connection->QueryInterface(iid, out);
}

} // namespace kvauto
