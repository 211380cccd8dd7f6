#include "ui/config/test_mail.h"

#include <vector>

#include "runtime/string_table.h"
#include "runtime/kvlog.h"
#include "pal/codepage.h"
#include "pal/library.h"
#include "pal/system.h"
#include "runtime/com_object.h"
#include "runtime/com_util.h"

namespace kv::ui {

namespace {

// Collects every line; lives by its references, so a log that still held it would not crash.
class clsCollectingSlot final : public clsComObject<kModuleApart, IKvLogSlot> {
  public:
    HRESULT STDMETHODCALLTYPE WriteLine(BSTR line) override {
        if (line) lines_.push_back(Narrow(WideView(reinterpret_cast<const char16_t *>(line)), 0));
        return S_OK;
    }
    String Text() const {
        String all;
        for (const String &l : lines_) all += l + "\r\n";
        return all;
    }

  private:
    std::vector<String> lines_;
};

class clsIgnoringNotificationSlot final : public clsComObject<kModuleApart, IKvMailStateNotificationSlot> {
  public:
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG, LONG) override { return S_OK; }
};

// Hands the log back to the host's mode, level and sink when the test mail ends.
class clsLogBorrow {
  public:
    explicit clsLogBorrow(IKvLog *log) : log_(log, true), saved_(KvLog().CurrentSettings()) {}
    ~clsLogBorrow() {
        // Mode 0 first, so that nothing reaches our sink or the host's half-restored setup.
        log_->SetOutputMode(0);
        log_->SetLogSlot(saved_.slot);
        log_->SetLogLevel(saved_.level);
        log_->SetOutputMode(saved_.mode);
        if (saved_.slot) saved_.slot->Release();
    }
    clsLogBorrow(const clsLogBorrow &) = delete;
    clsLogBorrow &operator=(const clsLogBorrow &) = delete;

  private:
    clsAutoRelease<IKvLog> log_;
    clsKvLog::Settings saved_;
};

String OptionText(const TestMailRequest &r, const String &key) {
    for (const clsOptionList *list : {r.user, r.global}) {
        if (!list) continue;
        if (const clsVariant *v = list->Find(key); v && !v->IsEmpty()) {
            WString text;
            if (v->ToText(text)) return Narrow(text, 0);
        }
    }
    return String();
}

TestMailResult Failure(const String &text) {
    return {TestMailResult::Failed, LoadResourceString(IDS_TESTMAIL_FAILED) + text};
}

} // namespace

const IID *SendConnectionIid(const String &provider) {
    if (EqualsNoCase(provider, "SMAPI") || EqualsNoCase(provider, "MSMAPI")) return &IID_IKvSMAPISendConnection;
    if (EqualsNoCase(provider, "SMTP")) return &IID_IKvSMTPSendConnection;
    if (EqualsNoCase(provider, "XMAPI")) return &IID_IKvXMAPISendConnection;
    if (EqualsNoCase(provider, "CDOSYS")) return &IID_IKvCDOSYSSendConnection;
    return nullptr;
}

TestMailResult RunTestMail(const TestMailRequest &r) {
    const char *dll = r.libraryName.c_str();

    pal::DynamicLibrary library;
    GetClassObjectFn getClassObject = r.getClassObject;
    if (!getClassObject) {
        if (library.Load(r.libraryName))
            getClassObject = reinterpret_cast<GetClassObjectFn>(library.Symbol("DllGetClassObject"));
        if (!getClassObject) return Failure(Format("unexpected: DllGetClassObject() failed in DLL '%s'", dll));
    }
    clsAutoRelease<IClassFactory> factory;
    HRESULT hr = getClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(factory.put()));
    if (FAILED(hr) || !factory) return Failure(Format("DllGetClassObject() failed: %s", HResultText(hr).c_str()));

    clsAutoRelease<IKvLog> log;
    if (FAILED(factory->CreateInstance(nullptr, IID_IKvLog, reinterpret_cast<void **>(log.put()))) || !log)
        return Failure(Format("unexpected: Log interface cannot be created in DLL '%s'", dll));

    clsAutoRelease<clsCollectingSlot> sink(new clsCollectingSlot(), true);
    TestMailResult result;
    {
        clsLogBorrow borrow(log.get());
        // The level first: the banner that each setter writes is no protocol line.
        log->SetLogLevel(kLogProtocol);
        log->SetLogSlot(sink.get());
        log->SetOutputMode(2);

        const IID *iid = SendConnectionIid(r.provider);
        clsAutoRelease<IKvMailConnection2> connection;
        if (!iid ||
            FAILED(factory->CreateInstance(nullptr, *iid, reinterpret_cast<void **>(connection.put()))) ||
            !connection)
            return Failure(Format("unexpected: mail connection interface for provider '%s' cannot be created in DLL '%s'",
                                  r.provider.c_str(), dll));

        clsAutoRelease<IKvMailStateNotificationSlot> slot(new clsIgnoringNotificationSlot(), true);
        connection->SetMailStateNotificationSlot(slot.get());

        String prefix = r.provider + ".";
        for (const clsOptionList *list : {r.global, r.user}) {
            if (!list) continue;
            for (const auto &[key, value] : list->Entries()) {
                if (key.size() <= prefix.size() || !StartsWithNoCase(key, prefix)) continue;
                WString name = Widen(key.substr(prefix.size()), 0);
                VARIANT v = value.get();
                connection->SetOption(reinterpret_cast<LPCWSTR>(name.c_str()), &v);
            }
        }

        uint32_t codepage = pal::AnsiCodePage();
        clsAutoRelease<IKvMail> mail;
        if (FAILED(connection->CreateMail(LONG(codepage), OLESTR("Mail"), mail.put())) || !mail)
            return Failure(Format("unexpected: mail cannot be created in DLL '%s'", dll));
        String senderAddress = OptionText(r, "SMTP.SenderAddress");
        String sender = Format("\"%s\" <%s>", OptionText(r, "SMTP.SenderName").c_str(), senderAddress.c_str());
        mail->SetSender(clsBstr(Widen(sender)).get());
        String recipient = OptionText(r, "SMTP.TestRecipient");
        mail->AddRecipients(clsBstr(Widen(recipient.empty() ? senderAddress : recipient)).get());
        mail->SetSubject(clsBstr(Widen(LoadResourceString(IDS_TESTMAIL_SUBJECT))).get());

        clsAutoRelease<IKvMailBody> body;
        if (FAILED(mail->CreateAndAddBody(body.put(), clsBstr(u"text/plain").get(), codepage)) || !body)
            return Failure(Format("unexpected: 'text/plain' body cannot be created in DLL '%s'", dll));
        String text = LoadResourceString(IDS_TESTMAIL_TEXT);
        clsAutoRelease<IStream> stream;
        ULONG written = 0;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) ||
            FAILED(stream->Write(text.data(), ULONG(text.size()), &written)) || FAILED(body->SetContents(stream.get())))
            return Failure(Format("unexpected: 'text/plain' body cannot be added in DLL '%s'", dll));

        if (!r.review || !r.review(mail.get())) return result;

        hr = connection->Connect();
        bool connected = SUCCEEDED(hr);
        if (connected) hr = connection->Send(mail.get());
        if (FAILED(hr)) {
            LONG code = 0;
            clsBstr error;
            connection->GetErrorInformation(&code, error.put());
            result = Failure(Narrow(WideView(error.get()), 0) + "\r\n" + sink->Text());
        } else {
            result = {TestMailResult::Sent, LoadResourceString(IDS_TESTMAIL_SENT)};
        }
        if (connected) connection->Disconnect();
        connection->SetMailStateNotificationSlot(nullptr);
    }
    return result;
}

} // namespace kv::ui
