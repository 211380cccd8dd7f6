#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_mail.h"
#include "mail/arpa_mail.h"
#include "mail_builder.h"
#include "pal/com.h"
#include "providers/smtp/smtp_connection.h"
#include "runtime/com_util.h"
#include "runtime/kvstring.h"
#include "runtime/module_state.h"
#include "test_text.h"

namespace kv::mailtest {

// A BSTR owned by the test, handed to a call as it is.
class Bstr : public clsBstr {
  public:
    using clsBstr::clsBstr;
    operator BSTR() const { return get(); }
    std::string Utf8() const { return Narrow(View(), 65001); }
};

inline clsAutoRelease<IStream> MakeStream(std::string_view bytes) {
    return clsAutoRelease<IStream>(testsupport::StreamOf(std::string(bytes)));
}

inline std::vector<std::string> Strings(IEnumString *e) {
    std::vector<std::string> out;
    for (;;) {
        LPOLESTR item = nullptr;
        ULONG fetched = 0;
        if (e->Next(1, &item, &fetched) != S_OK || fetched != 1) break;
        out.push_back(Narrow(WideView(reinterpret_cast<const char16_t *>(item)), 65001));
        CoTaskMemFree(item);
    }
    return out;
}

// A mail of the SMTP provider, as a host makes it; every object made must be
// released by the end.
class MailFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        baseline_ = ModuleRefCount();
        connection_ = new clsSMTPMailConnection();
        connection_->AddRef();
        ASSERT_EQ(connection_->CreateMail(0, u"cookie-1", mail_.put()), S_OK);
        ASSERT_EQ(mail_->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(mail2_.put())), S_OK);
    }
    void TearDown() override {
        mail2_.reset();
        mail_.reset();
        connection_->Release();
        EXPECT_EQ(ModuleRefCount(), baseline_);
    }
    void SetOption(const char16_t *name, const char16_t *value) {
        testsupport::SetTextOption(connection_, name, Narrow(WideView(value)));
    }

    std::vector<std::string> Recipients(HRESULT (IKvMail2::*get)(IEnumString **)) {
        clsAutoRelease<IEnumString> e;
        EXPECT_EQ((mail2_.get()->*get)(e.put()), S_OK);
        return e ? Strings(e.get()) : std::vector<std::string>{};
    }

    int32_t baseline_ = 0;
    clsSMTPMailConnection *connection_ = nullptr;
    clsAutoRelease<IKvMail> mail_;
    clsAutoRelease<IKvMail2> mail2_;
};

// For the writer and reader tests: mails with their implementation objects at hand.
class MimeFixture : public MailFixture {
  protected:
    void SetUp() override {
        MailFixture::SetUp();
        arpa_ = clsArpaMail::Of(mail_.get()).get(); // the fixture keeps the reference
    }
    void TearDown() override {
        mails_.clear();
        MailFixture::TearDown();
    }
    clsArpaMail *NewMail(ULONG codepage, const char16_t *cookie) {
        mails_.emplace_back();
        EXPECT_EQ(connection_->CreateMail(LONG(codepage), cookie, mails_.back().put()), S_OK);
        return clsArpaMail::Of(mails_.back().get()).get();
    }
    static std::string Render(clsMail *mail) {
        clsAutoRelease<IStream> out = MakeStream("");
        EXPECT_EQ(mail->GetRawText(out.get()), S_OK);
        return StreamBytes(out.get());
    }
    static HRESULT Read(clsMail *mail, std::string_view text) { return mail->SetRawText(MakeStream(text).get()); }
    std::string ErrorText() { return testsupport::ErrorText(connection_); }

    clsArpaMail *arpa_ = nullptr;
    std::vector<clsAutoRelease<IKvMail>> mails_;
};

} // namespace kv::mailtest
