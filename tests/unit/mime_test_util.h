// A mail of the SMTP provider with its implementation object at hand, for the
// writer and reader tests.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "mail/arpa_mail.h"
#include "mail_test_util.h"
#include "runtime/module_state.h"
#include "providers/smtp/smtp_connection.h"

namespace kv::mimetest {

using mailtest::Bstr;
using mailtest::MakeStream;

class MimeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        baseline_ = ModuleRefCount();
        connection_ = new clsSMTPMailConnection();
        connection_->AddRef();
        mail_ = NewMail(0, u"cookie-1");
    }
    void TearDown() override {
        for (IKvMail *m : mails_) m->Release();
        connection_->Release();
        EXPECT_EQ(ModuleRefCount(), baseline_);
    }

    // A new mail of the connection; its implementation object.
    clsArpaMail *NewMail(ULONG codepage, const char16_t *cookie) {
        IKvMail *m = nullptr;
        EXPECT_EQ(connection_->CreateMail(LONG(codepage), cookie, &m), S_OK);
        mails_.push_back(m);
        void *self = nullptr;
        EXPECT_EQ(m->QueryInterface(IID_clsArpaMail, &self), S_OK);
        m->Release(); // QueryInterface's reference; mails_ keeps one
        return static_cast<clsArpaMail *>(self);
    }

    IKvMailBody *AddBody(clsMail *mail, const char16_t *type, std::string_view bytes, ULONG codepage = 0) {
        IKvMailBody *b = nullptr;
        EXPECT_EQ(mail->CreateAndAddBody(&b, Bstr(type), codepage), S_OK);
        if (!b) return nullptr;
        clsAutoRelease<IStream> s = MakeStream(bytes);
        EXPECT_EQ(b->SetContents(s.get()), S_OK);
        b->Release(); // the mail's list keeps it
        return b;
    }
    // A new attachment of the mail or body, named; its contents when given.
    template <class Owner>
    IKvMailAttachment *AddAttachment(Owner *owner, const char16_t *name, const std::string *bytes) {
        IKvMailAttachment *a = nullptr;
        EXPECT_EQ(owner->CreateAndAddAttachment(&a), S_OK);
        if (!a) return nullptr;
        EXPECT_EQ(a->SetName(Bstr(name)), S_OK);
        if (bytes) {
            clsAutoRelease<IStream> s = MakeStream(*bytes);
            EXPECT_EQ(a->SetContents(s.get()), S_OK);
        }
        a->Release(); // the owner's list keeps it
        return a;
    }
    void SetOption(const char16_t *name, const char16_t *value) {
        testsupport::SetTextOption(connection_, name, Narrow(WideView(value)));
    }
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
    static std::string Contents(IStream *s) { return StreamBytes(s); }
    std::string ErrorText() { return testsupport::ErrorText(connection_); }

    int32_t baseline_ = 0;
    clsSMTPMailConnection *connection_ = nullptr;
    clsArpaMail *mail_ = nullptr;
    std::vector<IKvMail *> mails_;
};

// The lines of a text that ends lines with CR LF; a line end of another kind
// stays inside its line.
inline std::vector<std::string> CrLfLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// The text after the head (the first empty line).
inline std::string AfterHead(const std::string &text) {
    size_t end = text.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : text.substr(end + 4);
}

} // namespace kv::mimetest
