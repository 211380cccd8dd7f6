#include <gtest/gtest.h>

#include <functional>

#include "connection/connection_base.h"
#include "mail/mail.h"
#include "mail_test_util.h"

namespace kv {
namespace {

using mailtest::Bstr;
using mailtest::MakeStream;

class ListingProvider : public clsConnectionBase {
  public:
    ListingProvider() : clsConnectionBase(false) {}
    std::function<HRESULT(IKvMail *)> load = [](IKvMail *) { return S_OK; };
    int loads = 0;
    HRESULT OnConnect() override { return S_OK; }
    HRESULT OnDisconnect() override { return S_OK; }
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override {
        auto *m = new clsMail(this, cookie, uint32_t(codepage), 1); // a plain-text-only provider
        return m->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(mail));
    }
    HRESULT OnSend(IKvMail *) override { return S_OK; }
    HRESULT OnQueryMailbox(BYTE) override { return S_OK; }
    HRESULT OnDeleteMail(const String &) override { return S_OK; }
    String GetProviderName() const override { return "TEST"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override {
        ++loads;
        return load(mail);
    }
    bool IsProviderAvailable() override { return true; }
    bool AnswersSelector(REFIID) const override { return false; }
};

class MailState : public ::testing::Test {
  protected:
    void SetUp() override {
        baseline_ = ModuleRefCount();
        provider_ = new ListingProvider();
        provider_->AddRef();
        listed_ = new clsMail(provider_, "7");
        listed_->AddRef();
    }
    void TearDown() override {
        listed_->Release();
        provider_->Release();
        EXPECT_EQ(ModuleRefCount(), baseline_);
    }
    int32_t baseline_ = 0;
    ListingProvider *provider_ = nullptr;
    clsMail *listed_ = nullptr;
};

// A failed load is recorded, not thrown, and the next enumeration tries
// again; a loaded mail is not loaded again.
TEST_F(MailState, ListedMailLoadsOnceDeletedAnswersPlainOnlyRefuses) {
    EXPECT_EQ(listed_->State(), kMailListed);
    provider_->load = [](IKvMail *) -> HRESULT { throw clsExcept(-6, "RETR refused"); };
    clsAutoRelease<IKvEnumMailBody> bodies;
    EXPECT_EQ(listed_->EnumBodies(bodies.put()), E_ABORT);
    EXPECT_EQ(listed_->State(), kMailListed);
    LONG code = 0;
    EXPECT_EQ(testsupport::ErrorText(provider_, &code), "RETR refused\r\n");
    EXPECT_EQ(code, -6);
    provider_->load = [](IKvMail *mail) {
        clsAutoRelease<IKvMailAttachment> a;
        return mail->CreateAndAddAttachment(a.put());
    };
    clsAutoRelease<IKvEnumMailAttachment> attachments;
    EXPECT_EQ(listed_->EnumAttachments(attachments.put()), S_OK);
    EXPECT_EQ(listed_->State(), kMailLoaded);
    IKvMailAttachment *a = nullptr;
    EXPECT_EQ(attachments->Next(1, &a, nullptr), S_OK); // what the load added is there
    a->Release();
    EXPECT_EQ(listed_->EnumBodies(bodies.put()), S_OK);

    // A deleted mail answers 0x3EE without enumerator and loads nothing.
    listed_->SetState(kMailDeleted);
    EXPECT_EQ(listed_->EnumBodies(bodies.put()), HRESULT(0x000003EE));
    EXPECT_EQ(listed_->EnumAttachments(attachments.put()), HRESULT(0x000003EE));
    EXPECT_FALSE(bodies);
    EXPECT_FALSE(attachments);
    EXPECT_EQ(listed_->IsValid(), S_FALSE);
    EXPECT_EQ(provider_->loads, 2);
    listed_->SetState(42);
    EXPECT_EQ(listed_->EnumBodies(bodies.put()), E_UNEXPECTED);
    // A plain-text-only provider refuses the other known kinds of body.
    clsMail *mail = new clsMail(provider_, "", 0, 1);
    mail->AddRef();
    clsAutoRelease<IKvMailBody> body;
    EXPECT_EQ(mail->CreateAndAddBody(body.put(), Bstr(u"text/HTML"), 0), E_INVALIDARG);
    EXPECT_EQ(mail->CreateAndAddBody(body.put(), Bstr(u"Application/Rtf"), 0), E_INVALIDARG);
    EXPECT_EQ(mail->CreateAndAddBody(body.put(), Bstr(u"text/PLAIN"), 0), S_OK);
    EXPECT_EQ(mail->CreateAndAddBody(body.put(), Bstr(u"text/calendar"), 0), S_OK);
    mail->Release();
}

} // namespace
} // namespace kv
