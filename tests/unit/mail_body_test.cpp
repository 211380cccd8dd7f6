#include <gtest/gtest.h>

#include <fstream>

#include "mail/mail_body.h"
#include "mail_test_util.h"

namespace kv {
namespace {

using mailtest::Bstr;
using mailtest::MakeStream;

class MailBody : public mailtest::MailFixture {
  protected:
    clsAutoRelease<IKvMailBody> AddBody(const char16_t *type, ULONG codepage = 0) {
        clsAutoRelease<IKvMailBody> body;
        EXPECT_EQ(mail_->CreateAndAddBody(body.put(), Bstr(type), codepage), S_OK);
        return body;
    }
};

// Shorter contents replace longer ones completely; a longer destination is cut.
TEST_F(MailBody, ContentsRoundTripExactlyAndCharsetFollowsTheCodePage) {
    clsAutoRelease<IKvMailBody> body = AddBody(u"text/plain");
    clsAutoRelease<IStream> out = MakeStream(std::string(100, 'x'));
    for (const std::string &bytes : {std::string("line one\r\n\0\xff tail", 17), std::string("ab")}) {
        EXPECT_EQ(body->SetContents(MakeStream(bytes).get()), S_OK);
        EXPECT_EQ(body->GetContents(out.get()), S_OK);
        EXPECT_EQ(StreamBytes(out.get()), bytes);
    }
    EXPECT_EQ(body->SetContents(nullptr), E_INVALIDARG);
    EXPECT_EQ(body->GetContents(nullptr), E_INVALIDARG);
    EXPECT_EQ(body->GetType(nullptr), E_INVALIDARG);
    // The charset of its own code page, else the mail's (UTF-8 here).
    for (ULONG codepage : {1250u, 0u}) {
        clsAutoRelease<IKvMailBody> own = AddBody(u"text/plain", codepage);
        Bstr name;
        ULONG cp = 0, gdi = 99, direct = 0;
        EXPECT_EQ(own->GetCharset(name.put(), &cp, &gdi), S_OK);
        EXPECT_EQ(own->GetCodepage(&direct), S_OK);
        EXPECT_EQ(std::vector<ULONG>({cp, gdi, direct}),
                  (codepage ? std::vector<ULONG>{1250, 238, 1250} : std::vector<ULONG>{65001, 0, 65001}));
        EXPECT_EQ(own->GetCodepage(nullptr), E_INVALIDARG);
    }
}

// Without contents, a missing file or a directory fails.
TEST_F(MailBody, AttachmentReadsItsFileUntilContentsAreSet) {
    clsAutoRelease<IKvMailAttachment> a;
    ASSERT_EQ(mail_->CreateAndAddAttachment(a.put()), S_OK);
    EXPECT_EQ(mail_->CreateAndAddAttachment(nullptr), E_INVALIDARG);
    clsAutoRelease<IStream> out = MakeStream("");
    EXPECT_EQ(a->GetContents(out.get()), E_UNEXPECTED);
    const std::string path = ::testing::TempDir() + "kv_attachment_file.bin";
    for (const std::string &name : {std::string("/nonexistent/dir/file.txt"), ::testing::TempDir(), path}) {
        EXPECT_EQ(a->SetName(Bstr(Widen(name))), S_OK);
        EXPECT_EQ(a->GetContents(out.get()), E_UNEXPECTED) << name;
    }
    std::ofstream(path, std::ios::binary) << std::string("file\0bytes", 10);
    EXPECT_EQ(a->GetContents(out.get()), S_OK);
    EXPECT_EQ(StreamBytes(out.get()), std::string("file\0bytes", 10));

    EXPECT_EQ(a->SetContents(MakeStream("memory").get()), S_OK);
    std::remove(path.c_str());
    EXPECT_EQ(a->GetContents(out.get()), S_OK); // the longer file bytes before are cut
    EXPECT_EQ(StreamBytes(out.get()), "memory");
    EXPECT_EQ(a->SetContents(nullptr), E_UNEXPECTED);
    EXPECT_EQ(a->GetContents(nullptr), E_UNEXPECTED);
    EXPECT_EQ(a->GetHeaderEntry(Bstr(u"Content-Type"), nullptr), E_INVALIDARG);
}

// Next, Skip, Reset and Clone over three bodies.
TEST_F(MailBody, EnumeratorRules) {
    clsAutoRelease<IKvMailBody> b[3] = {AddBody(u"text/plain"), AddBody(u"text/html"), AddBody(u"image/png")};
    clsAutoRelease<IKvEnumMailBody> e, clone;
    EXPECT_EQ(mail_->EnumBodies(nullptr), E_INVALIDARG);
    ASSERT_EQ(mail_->EnumBodies(e.put()), S_OK);
    // Created after the enumerator: not in it.
    clsAutoRelease<IKvMailBody> late = AddBody(u"text/plain");
    // Asks for n: the result, the count, and which bodies came.
    auto next = [&](IKvEnumMailBody *from, ULONG n) {
        IKvMailBody *items[4] = {};
        ULONG fetched = 99;
        std::string got = from->Next(n, items, &fetched) == S_OK ? "S_OK " : "S_FALSE ";
        got += std::to_string(fetched) + ":";
        for (ULONG i = 0; i < fetched && i < n; ++i) {
            for (int k = 0; k < 3; ++k) got += items[i] == b[k].get() ? " " + std::to_string(k) : "";
            items[i]->Release();
        }
        return got;
    };
    EXPECT_EQ(next(e.get(), 0), "S_OK 0:");
    EXPECT_EQ(next(e.get(), 2), "S_OK 2: 0 1");
    ASSERT_EQ(e->Clone(clone.put()), S_OK);
    EXPECT_EQ(next(e.get(), 4), "S_FALSE 1: 2");
    IKvMailBody *item = nullptr;
    EXPECT_EQ(e->Next(1, &item, nullptr), S_FALSE);
    // The clone goes on from where the original stood.
    EXPECT_EQ(next(clone.get(), 1), "S_OK 1: 2");

    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(0), S_OK);
    EXPECT_EQ(e->Skip(3), S_OK);
    EXPECT_EQ(e->Skip(1), S_FALSE);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(4), S_FALSE);
    EXPECT_EQ(next(e.get(), 1), "S_FALSE 0:");
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(1, nullptr, &fetched), E_INVALIDARG);
    EXPECT_EQ(e->Clone(nullptr), E_INVALIDARG);
}

// Part headers as the writer or the reader leave them: attachments read them
// in code page 1252, bodies in their own code page.
TEST_F(MailBody, PartHeadersReadBackWithTheirCodePages) {
    clsAutoRelease<IKvMailBody> body = AddBody(u"text/plain", 1251);
    auto *bodyObject = static_cast<clsMailBody *>(body.get());
    bodyObject->Headers().Add("Content-Type", "text/plain; charset=\"windows-1251\"; x=\xE6");
    clsAutoRelease<IKvMailAttachment> a;
    ASSERT_EQ(body->CreateAndAddAttachment(a.put()), S_OK);
    auto *attachment = static_cast<clsMailAttachment *>(a.get());
    attachment->Headers().Add("Content-Type", "application/pdf;\r\n    name=\"caf\xE9.pdf\"; size=1");

    Bstr value;
    clsAutoRelease<IEnumString> params;
    EXPECT_EQ(a->GetHeaderEntry(Bstr(u"CONTENT-TYPE"), value.put()), S_OK);
    EXPECT_EQ(value.Utf8(), "application/pdf;\r\n    name=\"caf\xC3\xA9.pdf\"; size=1");
    EXPECT_EQ(a->GetHeaderEntry2(Bstr(u"Content-Type"), value.put(), params.put()), S_OK);
    EXPECT_EQ(value.Utf8(), "application/pdf");
    EXPECT_EQ(mailtest::Strings(params.get()), (std::vector<std::string>{"name=caf\xC3\xA9.pdf", "size=1"}));
    EXPECT_EQ(a->GetHeaderEntry2(Bstr(u"X-None"), value.put(), params.put()), S_FALSE);
    EXPECT_EQ(a->GetHeaderEntry2(Bstr(u"X-None"), value.put(), nullptr), E_INVALIDARG);

    EXPECT_EQ(body->GetHeaderEntry2(Bstr(u"Content-Type"), value.put(), params.put()), S_OK);
    EXPECT_EQ(value.Utf8(), "text/plain");
    EXPECT_EQ(mailtest::Strings(params.get()), (std::vector<std::string>{"charset=windows-1251", "x=\xD0\xB6"}));
}

} // namespace
} // namespace kv
