// A mail of the SMTP provider with its implementation object at hand, for the
// writer and reader tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/arpa_mail.h"
#include "mail_builder.h"
#include "mail_test_util.h"

namespace kv::mimetest {

using mailtest::Bstr;
using mailtest::MakeStream;
using testsupport::AddAttachment;
using testsupport::AddBody;

class MimeFixture : public mailtest::MailFixture {
  protected:
    void SetUp() override {
        MailFixture::SetUp();
        arpa_ = Arpa(mail_.get());
    }
    void TearDown() override {
        mails_.clear();
        MailFixture::TearDown();
    }
    // A new mail of the connection; its implementation object.
    clsArpaMail *NewMail(ULONG codepage, const char16_t *cookie) {
        mails_.emplace_back();
        EXPECT_EQ(connection_->CreateMail(LONG(codepage), cookie, mails_.back().put()), S_OK);
        return Arpa(mails_.back().get());
    }
    // The caller keeps the mail's reference.
    static clsArpaMail *Arpa(IKvMail *m) { return clsArpaMail::Of(m).get(); }
    static std::string Render(clsMail *mail) {
        clsAutoRelease<IStream> out = MakeStream("");
        EXPECT_EQ(mail->GetRawText(out.get()), S_OK);
        return StreamBytes(out.get());
    }
    // Reads the text into the mail; the result of SetRawText.
    static HRESULT Read(clsMail *mail, std::string_view text) {
        clsAutoRelease<IStream> in = MakeStream(text);
        return mail->SetRawText(in.get());
    }
    std::string ErrorText() { return testsupport::ErrorText(connection_); }

    clsArpaMail *arpa_ = nullptr;
    std::vector<clsAutoRelease<IKvMail>> mails_;
};

} // namespace kv::mimetest
