// The automation objects as compiled clients and script engines meet them.
// run.sh registers orkv14auto.dll (the MTA test needs that) and passes an SMTP
// sink's port and a refused one. After every test no object may be left.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dll_loader.h"
#include "orkv14.hpp"
#include "orkv14auto.h"
#include "stack_doubles.h"
#include "test_files.h"

using orkv14::Bstr;
using orkv14::Ptr;
using orkv14::Variant;

namespace {

// Kept until the process ends.
testsupport::Library &Dll() {
    static testsupport::Library &dll = *new testsupport::Library("orkv14auto.dll");
    return dll;
}

template <class I> Ptr<I> Create(const CLSID &clsid, const IID &iid = __uuidof(I)) {
    Ptr<I> object;
    Dll().Create(clsid, iid, object.put());
    return object;
}

class Automation : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Dll().handle, nullptr) << Dll().error;
        CoInitialize(nullptr);
    }
    void TearDown() override {
        EXPECT_EQ(Dll().canUnloadNow(), S_OK) << "an object was left behind";
        EXPECT_EQ(GetModuleHandleW(L"orkv14.dll"), nullptr) << "the core still holds objects";
        CoUninitialize();
    }
};

// Arguments of a late-bound call, in source order; cleared with the holder.
class Args {
  public:
    ~Args() {
        for (VARIANT &v : values_) VariantClear(&v);
    }
    Args &Text(std::string_view utf8) { return Add(VT_BSTR).bstrVal = Bstr(utf8).release(), *this; }
    Args &Number(LONG n) { return Add(VT_I4).lVal = n, *this; }
    Args &Object(IDispatch *d) {
        if (d) d->AddRef();
        return Add(VT_DISPATCH).pdispVal = d, *this;
    }
    Args &Bytes(std::vector<unsigned char> bytes, UINT dims = 1) {
        SAFEARRAYBOUND bounds[2] = {{ULONG(bytes.size()) / dims, 0}, {dims, 0}};
        SAFEARRAY *a = SafeArrayCreate(VT_UI1, dims, bounds);
        memcpy(a->pvData, bytes.data(), bytes.size());
        return Add(VARTYPE(VT_ARRAY | VT_UI1)).parray = a, *this;
    }
    // What VBScript's Array() makes.
    Args &Numbers(std::vector<LONG> numbers) {
        SAFEARRAY *a = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(numbers.size()));
        for (LONG i = 0; i < LONG(numbers.size()); ++i) SafeArrayPutElement(a, &i, Variant(numbers[size_t(i)]).get());
        return Add(VARTYPE(VT_ARRAY | VT_VARIANT)).parray = a, *this;
    }
    // Source order reversed, as DISPPARAMS holds them.
    std::vector<VARIANT> Reversed() const { return std::vector<VARIANT>(values_.rbegin(), values_.rend()); }

  private:
    VARIANT &Add(VARTYPE vt) {
        VARIANT &v = values_.emplace_back();
        return VariantInit(&v), v.vt = vt, v;
    }
    std::vector<VARIANT> values_;
};

struct Failure { SCODE scode = S_OK; std::string source, description; };

// One call by name (null: the default member, as VBScript's "mail.To(1)"), as a script engine makes it.
HRESULT Late(IDispatch *object, const wchar_t *name, WORD flags, const Args &args, VARIANT *result,
             Failure *failure = nullptr) {
    DISPID id = DISPID_VALUE;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = name ? object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id) : S_OK;
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> values = args.Reversed();
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {values.data(), nullptr, UINT(values.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) params.rgdispidNamedArgs = &put, params.cNamedArgs = 1;
    EXCEPINFO exception{};
    UINT argError = 0;
    if (result) VariantInit(result);
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, &argError);
    if (failure) {
        failure->scode = exception.scode;
        failure->source = orkv14::Utf8(exception.bstrSource);
        failure->description = orkv14::Utf8(exception.bstrDescription);
    }
    for (BSTR text : {exception.bstrSource, exception.bstrDescription, exception.bstrHelpFile}) SysFreeString(text);
    return hr;
}

const WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kCall = DISPATCH_METHOD;

Ptr<IDispatch> LateObject(IDispatch *object, const wchar_t *name, WORD flags, const Args &args = Args()) {
    Variant v;
    Ptr<IDispatch> d;
    if (SUCCEEDED(Late(object, name, flags, args, v.put())) && (*v).vt == VT_DISPATCH && (*v).pdispVal)
        (*v).pdispVal->QueryInterface(IID_IDispatch, d.put_void());
    return d;
}

std::string LateText(IDispatch *object, const wchar_t *name, const Args &args = Args()) {
    Variant v;
    if (FAILED(Late(object, name, kGet, args, v.put())) || FAILED(VariantChangeType(v.get(), v.get(), 0, VT_BSTR)))
        return "<failed>";
    return orkv14::Utf8((*v).bstrVal);
}

bool AutomationType(ITypeInfo *info, const TYPEDESC &type) {
    if (type.vt == VT_PTR || type.vt == VT_SAFEARRAY) return AutomationType(info, *type.lptdesc);
    Ptr<ITypeInfo> referred;
    TYPEATTR *a = nullptr;
    if (type.vt != VT_USERDEFINED) return (type.vt >= VT_I2 && type.vt <= VT_DECIMAL) || type.vt == VT_UI1;
    if (FAILED(info->GetRefTypeInfo(type.hreftype, referred.put())) || FAILED(referred->GetTypeAttr(&a))) return false;
    bool ok = a->typekind == TKIND_ENUM || (a->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
    referred->ReleaseTypeAttr(a);
    return ok;
}

std::string NameOf(ITypeInfo *info, MEMBERID id) {
    Bstr name;
    info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr);
    return name.Utf8();
}

TEST_F(Automation, TypeLibraryHoldsOnlyDualInterfacesOfAutomationTypes) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(static_cast<HMODULE>(Dll().handle), path, MAX_PATH);
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLib(path, library.put()), S_OK);
    int duals = 0;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        Ptr<ITypeInfo> table;
        TYPEATTR *a = nullptr;
        ASSERT_EQ(library->GetTypeInfo(i, table.put()), S_OK);
        ASSERT_EQ(table->GetTypeAttr(&a), S_OK);
        const std::string name = NameOf(table.get(), MEMBERID_NIL);
        const bool dual = a->typekind == TKIND_DISPATCH && (a->wTypeFlags & TYPEFLAG_FDUAL);
        const bool events = a->typekind == TKIND_DISPATCH && !dual;
        EXPECT_NE(a->typekind, TKIND_INTERFACE) << name << " is not dual";
        EXPECT_TRUE(!events || name == "_IKvAutoConnectionEvents") << name << ": only the events are a dispinterface";
        if (dual) { // its functions are described by its vtable part
            HREFTYPE ref = 0;
            Ptr<ITypeInfo> part;
            ASSERT_EQ(table->GetRefTypeOfImplType(UINT(-1), &ref), S_OK) << name;
            ASSERT_EQ(table->GetRefTypeInfo(ref, part.put()), S_OK) << name;
            table->ReleaseTypeAttr(a);
            table = std::move(part);
            ASSERT_EQ(table->GetTypeAttr(&a), S_OK);
            EXPECT_TRUE(a->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) << name;
            ++duals;
        }
        for (UINT f = 0; f < a->cFuncs; ++f) {
            FUNCDESC *d = nullptr;
            ASSERT_EQ(table->GetFuncDesc(f, &d), S_OK);
            std::string member = name + "." + NameOf(table.get(), d->memid);
            EXPECT_EQ(d->elemdescFunc.tdesc.vt, events ? VT_VOID : VT_HRESULT) << member;
            for (SHORT p = 0; p < d->cParams; ++p)
                EXPECT_TRUE(AutomationType(table.get(), d->lprgelemdescParam[p].tdesc)) << member << " parameter " << p;
            table->ReleaseFuncDesc(d);
        }
        table->ReleaseTypeAttr(a);
    }
    EXPECT_EQ(duals, 9);
    auto install = reinterpret_cast<HRESULT(STDAPICALLTYPE *)(BOOL, LPCWSTR)>(Dll().Symbol("DllInstall"));
    ASSERT_NE(install, nullptr);
    EXPECT_EQ(install(TRUE, L"everyone"), E_INVALIDARG);
}

TEST_F(Automation, LateBoundClientComposesReadsAndWalksAMail) {
    Ptr<IDispatch> smtp = Create<IDispatch>(CLSID_SMTP, IID_IDispatch);
    Ptr<IDispatch> mail = LateObject(smtp.get(), L"CreateMail", kCall);
    ASSERT_TRUE(mail);
    const char subject[] = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"; // "Grüße €": beyond ASCII
    EXPECT_EQ(Late(mail.get(), L"Subject", kPut, Args().Text(subject), nullptr), S_OK);
    Ptr<IDispatch> to = LateObject(mail.get(), L"To", kGet);
    ASSERT_TRUE(to);
    EXPECT_EQ(Late(to.get(), L"Add", kCall, Args().Text("a@example.org\tb@example.org"), nullptr), S_OK);
    EXPECT_EQ(Late(to.get(), L"Add", kCall, Args().Text("c@example.org"), nullptr), S_OK);
    EXPECT_EQ(Late(to.get(), L"Remove", kCall, Args().Number(1), nullptr), S_OK);
    EXPECT_EQ(LateText(to.get(), L"Count"), "2");
    EXPECT_EQ(LateText(to.get(), L"Item", Args().Number(2)), "c@example.org");

    // _NewEnum, as VB asks for it (the scripts walk with it): a batch past the end is S_FALSE.
    Variant e;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(to->Invoke(DISPID_NEWENUM, IID_NULL, 0, kCall | kGet, &none, e.put(), nullptr, nullptr), S_OK);
    Ptr<IEnumVARIANT> walk;
    ASSERT_EQ((*e).vt, VT_UNKNOWN);
    ASSERT_EQ((*e).punkVal->QueryInterface(IID_IEnumVARIANT, walk.put_void()), S_OK);
    VARIANT items[3];
    ULONG fetched = 0;
    EXPECT_EQ(walk->Next(3, items, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i) VariantClear(&items[i]);

    Variant attachment;
    ASSERT_EQ(Late(mail.get(), L"AddAttachmentData", kCall, Args().Text("data.bin").Bytes({0, 1, 0x80, 0xFF}),
                   attachment.put()),
              S_OK);
    Variant data;
    ASSERT_EQ(Late((*attachment).pdispVal, L"Data", kGet, Args(), data.put()), S_OK);
    ASSERT_EQ((*data).vt, VT_ARRAY | VT_UI1);
    const SAFEARRAY *bytes = (*data).parray;
    EXPECT_EQ(std::string(static_cast<char *>(bytes->pvData), bytes->rgsabound[0].cElements),
              std::string("\0\1\x80\xFF", 4));
    EXPECT_EQ(Late(mail.get(), L"AddBody", kCall, Args().Text("text/plain").Text(subject), nullptr), S_OK);

    // Texts beyond ASCII come back as they went in (the RawText round trip is walk_mail.js's).
    EXPECT_EQ(LateText(mail.get(), L"Subject"), subject);
    Ptr<IDispatch> body = LateObject(LateObject(mail.get(), L"Bodies", kGet).get(), L"Item", kGet, Args().Number(1));
    ASSERT_TRUE(body);
    EXPECT_EQ(LateText(body.get(), L"Text"), subject);

    // Attachment file names stay in the folder they are saved to.
    const std::pair<const char *, const char *> names[] = {
        {"..\\..\\windows\\win.ini", "win.ini"}, {"C:evil.exe", "evil.exe"}, {"a/b/report.pdf", "report.pdf"},
        {"CON.txt", "_CON.txt"}, {"com1", "_com1"}, {"a\x01<b>|c?*.txt", "a__b__c__.txt"}, {"name. . ", "name"},
        {"..", "attachment"}, {"   ", "attachment"},
    };
    for (const auto &n : names) {
        Ptr<IDispatch> attachment = LateObject(mail.get(), L"AddAttachmentData", kCall, Args().Text(n.first).Numbers({1}));
        ASSERT_TRUE(attachment) << n.first;
        EXPECT_EQ(LateText(attachment.get(), L"Name"), n.first);
        EXPECT_EQ(LateText(attachment.get(), L"FileName"), n.second) << n.first;
    }
}

TEST_F(Automation, FailuresComeWithTheirCodeSourceAndReason) {
    wchar_t existing[MAX_PATH];
    GetModuleFileNameW(nullptr, existing, MAX_PATH);
    const std::string program = orkv14::Utf8(reinterpret_cast<const OLECHAR *>(existing));
    const std::string refusedPort = testsupport::Env("KV_AUTO_REFUSED_PORT");
    ASSERT_FALSE(refusedPort.empty()) << "run by run.sh, which finds a port nothing listens on";
    // Each row makes one failing call on fresh objects (the mail's To list holding one address).
    enum Target { Smtp, Mail, To, Bodies, Pop, PopMails, Smapi, Refused };
    const struct {
        const char *what;
        Target target;
        const wchar_t *name;
        WORD flags;
        std::function<void(Args &)> args;
        SCODE scode;
        const char *source;
        std::string fragment;
    } rows[] = {
        {"index past the end, through the default member", Bodies, nullptr, kGet, [](Args &a) { a.Number(1); },
         DISP_E_BADINDEX, "Orkv14.Bodies", "Index 1 is out of range: the collection holds 0 items"},
        {"index 0, as in a zero-based list", To, L"Remove", kCall, [](Args &a) { a.Number(0); }, DISP_E_BADINDEX,
         "Orkv14.Recipients", "Index 0 is out of range: the collection holds 1 item"},
        {"index not a number", Bodies, L"Item", kGet, [](Args &a) { a.Text("x"); }, DISP_E_TYPEMISMATCH,
         "Orkv14.Bodies", "The index must be a number from 1 to Count, not a String"},
        {"a mail's cookie unknown", PopMails, L"Item", kGet, [](Args &a) { a.Text("7 x"); }, DISP_E_BADINDEX,
         "Orkv14.Mails", "No mail of the list has the cookie '7 x'"},
        {"deleting by a number", Pop, L"DeleteMail", kCall, [](Args &a) { a.Number(1); }, DISP_E_TYPEMISMATCH,
         "Orkv14.POP3", "DeleteMail takes a Mail object or the cookie of a mail"},
        {"deleting by cookie while disconnected", Pop, L"DeleteMail", kCall, [](Args &a) { a.Text("1 x"); },
         E_UNEXPECTED, "Orkv14.POP3", "clsPOP3MailConnection::OnDeleteMail(): not connected"},
        {"bytes of two dimensions", Mail, L"AddAttachmentData", kCall,
         [](Args &a) { a.Text("a").Bytes({1, 2, 3, 4}, 2); }, E_INVALIDARG, "Orkv14.Mail", "one dimension, not of 2"},
        {"a number beyond a byte", Mail, L"AddAttachmentData", kCall, [](Args &a) { a.Text("a").Numbers({255, 256}); },
         DISP_E_OVERFLOW, "Orkv14.Mail", "Element 1 of the data is not a whole number from 0 to 255"},
        {"a text for bytes", Mail, L"AddAttachmentData", kCall, [](Args &a) { a.Text("a").Text("x"); },
         DISP_E_TYPEMISMATCH, "Orkv14.Mail", "Byte() array or an array of numbers from 0 to 255, not a String"},
        {"no file name", Mail, L"AddAttachment", kCall, [](Args &a) { a.Text(""); }, E_INVALIDARG, "Orkv14.Mail",
         "No file name was given"},
        {"a file that is not there", Mail, L"AddAttachment", kCall,
         [](Args &a) { a.Text("C:\\windows\\no-such-file.txt"); }, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
         "Orkv14.Mail", "'C:\\windows\\no-such-file.txt' cannot be read"},
        {"a file that is there", Mail, L"SaveAs", kCall, [&program](Args &a) { a.Text(program); },
         HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), "Orkv14.Mail", "exists; pass Overwrite = True to replace it"},
        {"a header name with a colon", Mail, L"Header", kPut, [](Args &a) { a.Text("X-A:").Text("v"); },
         E_INVALIDARG, "Orkv14.Mail", "without a colon"},
        {"a header value of two lines", Mail, L"Header", kPut,
         [](Args &a) { a.Text("X-A").Text("v\r\nBcc: eve@example.org"); }, E_INVALIDARG, "Orkv14.Mail", "one line"},
        {"raw text beyond bytes", Mail, L"RawText", kPut, [](Args &a) { a.Text("Subject: \xC4\x80"); }, E_INVALIDARG,
         "Orkv14.Mail", "Character U+0100 at position 10 is not a byte"},
        {"SMTP receiving", Smtp, L"Role", kPut, [](Args &a) { a.Number(kvRoleReceive); }, E_INVALIDARG, "Orkv14.SMTP",
         "The SMTP provider only sends"},
        {"an option set to an object (the mail: no arguments here)", Smtp, L"SetOption", kCall, nullptr,
         DISP_E_TYPEMISMATCH, "Orkv14.SMTP", "must be a string, a number or a Boolean"},
        {"sending nothing", Smtp, L"Send", kCall, [](Args &a) { a.Object(nullptr); }, E_INVALIDARG, "Orkv14.SMTP",
         "Send needs a Mail object"},
        {"a code page this system lacks", Smtp, L"CreateMail", kCall, [](Args &a) { a.Number(4711); }, E_INVALIDARG,
         "Orkv14.SMTP", "Code page 4711 is not known to this system"},
        {"the core's error record", Smtp, L"Mails", kGet, [](Args &) {}, E_UNEXPECTED, "Orkv14.SMTP",
         "clsConnectionBase::EnumMails(): not in RECV connection"},
        {"a provider this machine lacks", Smapi, L"Connect", kCall, [](Args &) {}, E_ACCESSDENIED, "Orkv14.SMAPI",
         "The SMAPI provider is not available on this machine"},
        {"a refused connection", Refused, L"Connect", kCall, [](Args &) {}, E_ABORT, "Orkv14.SMTP",
         "connect(127.0.0.1:" + refusedPort + ") failed"},
    };
    for (const auto &row : rows) {
        Ptr<IDispatch> smtp = Create<IDispatch>(CLSID_SMTP, IID_IDispatch);
        Ptr<IDispatch> mail = LateObject(smtp.get(), L"CreateMail", kCall);
        ASSERT_TRUE(mail);
        Ptr<IDispatch> to = LateObject(mail.get(), L"To", kGet), bodies = LateObject(mail.get(), L"Bodies", kGet);
        Ptr<IDispatch> pop = Create<IDispatch>(CLSID_POP3, IID_IDispatch), smapi = Create<IDispatch>(CLSID_SMAPI);
        Ptr<IDispatch> mails = LateObject(pop.get(), L"Mails", kGet), refused = Create<IDispatch>(CLSID_SMTP);
        Late(to.get(), L"Add", kCall, Args().Text("a@example.org"), nullptr);
        Late(refused.get(), L"ServerAddress", kPut, Args().Text("127.0.0.1"), nullptr);
        Late(refused.get(), L"ServerPort", kPut, Args().Number(std::stol(refusedPort)), nullptr);
        IDispatch *targets[] = {smtp.get(), mail.get(),  to.get(),    bodies.get(),
                                pop.get(),  mails.get(), smapi.get(), refused.get()};
        Args args;
        if (row.args) row.args(args);
        else args.Text("ServerPort").Object(mail.get());
        Failure f;
        EXPECT_EQ(Late(targets[row.target], row.name, row.flags, args, nullptr, &f), DISP_E_EXCEPTION) << row.what;
        EXPECT_EQ(std::pair(f.scode, f.source), std::pair(row.scode, std::string(row.source))) << row.what;
        EXPECT_NE(f.description.find(row.fragment), std::string::npos) << row.what << ": " << f.description;
        EXPECT_TRUE(row.target != Refused || LateText(refused.get(), L"LastError") == "-2");
    }
}

// An IDispatch sink, as VB's WithEvents or a script object: the calls it gets
// (DISPID, then the arguments in source order) and, with WriteLine, its lines.
class Recorder : public IDispatch {
  public:
    std::vector<std::vector<LONG>> calls;
    std::vector<std::string> lines;
    bool writeLine = false;
    static constexpr DISPID kWriteLine = 7;

    STDMETHODIMP GetTypeInfoCount(UINT *n) override { return *n = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *names, UINT, LCID, DISPID *id) override {
        return !writeLine || _wcsicmp(names[0], L"WriteLine") != 0 ? DISP_E_UNKNOWNNAME : (*id = kWriteLine, S_OK);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *, EXCEPINFO *, UINT *) override {
        if (id == kWriteLine && params->cArgs == 1 && params->rgvarg[0].vt == VT_BSTR)
            lines.push_back(orkv14::Utf8(params->rgvarg[0].bstrVal));
        std::vector<LONG> call{id};
        for (UINT i = params->cArgs; i-- > 0;) call.push_back(params->rgvarg[i].vt == VT_I4 ? params->rgvarg[i].lVal : -999);
        calls.push_back(call);
        return S_OK;
    }
};
using Sink = testsupport::Counted<Recorder>;

// A mail to send, on a connection aimed at run.sh's SMTP sink.
Ptr<IKvAutoMail> SmallMail(IKvAutoConnection *smtp) {
    Ptr<IKvAutoMail> mail;
    Ptr<IKvAutoRecipients> to;
    Ptr<IKvAutoBody> body;
    smtp->put_ServerAddress(Bstr("127.0.0.1").get());
    smtp->put_ServerPort(std::stol(testsupport::Env("KV_AUTO_SMTP_PORT")));
    if (smtp->CreateMail(65001, mail.put()) == S_OK && mail->get_To(to.put()) == S_OK) {
        mail->put_Sender(Bstr("ada@example.org").get());
        to->Add(Bstr("charles@example.org").get());
        mail->AddBody(Bstr("text/plain").get(), Bstr("Hello").get(), body.put());
    }
    return mail;
}

// The events of a send reach an advised sink; an early-bound failure leaves its error object.
TEST_F(Automation, ConnectionPointDeliversStateAndProgressOfASendAndFailuresLeaveTheirErrorObject) {
    ASSERT_FALSE(testsupport::Env("KV_AUTO_SMTP_PORT").empty()) << "run by run.sh, which starts the SMTP sink";
    Ptr<IKvAutoConnection> smtp = Create<IKvAutoConnection>(CLSID_SMTP);
    Ptr<IConnectionPointContainer> container;
    ASSERT_EQ(smtp->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
    Ptr<IConnectionPoint> point, none;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, none.put()), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(DIID__IKvAutoConnectionEvents, point.put()), S_OK);
    Ptr<IProvideClassInfo2> classInfo;
    GUID sourceIid{};
    ASSERT_EQ(smtp->QueryInterface(IID_IProvideClassInfo2, classInfo.put_void()), S_OK);
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &sourceIid), S_OK);
    EXPECT_TRUE(sourceIid == DIID__IKvAutoConnectionEvents);

    Sink events(DIID__IKvAutoConnectionEvents);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&events, &cookie), S_OK);
    Ptr<IKvAutoMail> mail = SmallMail(smtp.get());
    ASSERT_EQ(smtp->Connect(), S_OK);
    ASSERT_EQ(smtp->Send(mail.get()), S_OK);
    ASSERT_EQ(smtp->Disconnect(), S_OK);

    std::vector<std::vector<LONG>> states, progress;
    for (auto &c : events.calls) (c[0] == 1 ? states : progress).push_back(c);
    EXPECT_EQ(states, (std::vector<std::vector<LONG>>{{1, 2, 0}, {1, 3, 1}, {1, 8, 0}, {1, 8, 1}, {1, 8, 100},
                                                      {1, 6, 0}, {1, 7, 1}}));
    EXPECT_EQ(progress, (std::vector<std::vector<LONG>>{{2, 1}, {2, 100}}));

    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(events.refs, 1u) << "the connection still holds the sink";

    ASSERT_EQ(mail->put_Sender(Bstr("nobody").get()), E_INVALIDARG);
    Ptr<ISupportErrorInfo> supports;
    ASSERT_EQ(mail->QueryInterface(IID_ISupportErrorInfo, supports.put_void()), S_OK);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(IID_IKvAutoMail), S_OK);
    Ptr<IErrorInfo> error;
    ASSERT_EQ(GetErrorInfo(0, error.put()), S_OK);
    GUID guid{};
    Bstr source, description;
    EXPECT_TRUE(error->GetGUID(&guid) == S_OK && guid == IID_IKvAutoMail);
    ASSERT_TRUE(error->GetSource(source.put()) == S_OK && error->GetDescription(description.put()) == S_OK);
    EXPECT_EQ(source.Utf8() + ": " + description.Utf8(), "Orkv14.Mail: 'nobody' is not a valid e-mail address");
}

TEST_F(Automation, LogLinesReachTheSinkWhileItsConfigurationLives) {
    Sink sink(IID_IDispatch), noWriteLine(IID_IDispatch);
    sink.writeLine = true;
    {
        Ptr<IKvAutoConfiguration> configuration = Create<IKvAutoConfiguration>(CLSID_Configuration);
        ASSERT_TRUE(configuration);
        long objects = 0; // this object only
        EXPECT_TRUE(configuration->get_ObjectCount(&objects) == S_OK && objects == 1) << objects;
        EXPECT_EQ(configuration->putref_LogSink(&noWriteLine), E_INVALIDARG);
        ASSERT_EQ(configuration->put_LogOutput(kvLogSink), S_OK);
        ASSERT_EQ(configuration->put_LogLevel(kvLogCalls), S_OK);
        ASSERT_EQ(configuration->putref_LogSink(&sink), S_OK);
        Create<IKvAutoConnection>(CLSID_SMTP)->put_ServerAddress(Bstr("mail.example.org").get());
        std::string all;
        for (const std::string &line : sink.lines) all += line + "\n";
        EXPECT_NE(all.find(">clsConnectionBase::SetOption('ServerAddress','mail.example.org')"), std::string::npos) << all;
        configuration->put_LogOutput(kvLogOff);
    }
    EXPECT_EQ(sink.refs, 1u) << "the log still holds the sink";
    EXPECT_EQ(noWriteLine.refs, 1u);
}

// An MTA thread: COM makes the objects in an apartment of their own and hands
// out proxies made from the registered type library.

TEST_F(Automation, MultithreadedClientCreatesAndSendsThroughProxies) {
    ASSERT_FALSE(testsupport::Env("KV_AUTO_SMTP_PORT").empty()) << "run by run.sh, which starts the SMTP sink";
    HRESULT created = E_FAIL, sent = E_FAIL, proxy = E_FAIL;
    std::thread client([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            Ptr<IKvAutoConnection> smtp;
            created = CoCreateInstance(CLSID_SMTP, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAutoConnection, smtp.put_void());
            if (smtp) {
                Ptr<IClientSecurity> security; // only proxies have it
                proxy = smtp->QueryInterface(IID_IClientSecurity, security.put_void());
                Ptr<IKvAutoMail> mail = SmallMail(smtp.get());
                sent = smtp->Connect();
                if (SUCCEEDED(sent)) sent = smtp->Send(mail.get());
                smtp->Disconnect();
            }
        }
        CoUninitialize();
    });
    client.join();
    ASSERT_EQ(created, S_OK) << "is orkv14auto.dll registered?";
    EXPECT_EQ(proxy, S_OK) << "the MTA got the object itself, not a proxy";
    EXPECT_EQ(sent, S_OK); // the server took the mail, made and filled through proxies
    // The apartment COM made for the objects lets go of them on its own thread.
    for (int i = 0; i < 100 && Dll().canUnloadNow() != S_OK; ++i) Sleep(50);
}

} // namespace
