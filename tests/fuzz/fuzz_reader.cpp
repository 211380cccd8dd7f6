// Whole messages through SetRawText (and the POP3 listing's headers-only
// read), then rendered again by the writer: no crash, no sanitizer report,
// no leak, and the raw text the reader keeps is the lines it was given.
#include <deque>

#include "fuzz_util.h"
#include "mail/arpa_mail.h"
#include "mail/reader.h"
#include "providers/smtp/smtp_connection.h"
#include "runtime/com_util.h"

namespace {

kv::clsSMTPMailConnection *Connection() {
    static kv::clsSMTPMailConnection *connection = [] {
        auto *c = new kv::clsSMTPMailConnection();
        c->AddRef();
        return c;
    }();
    return connection;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = fuzz::Text(data, size);
    kv::clsAutoRelease<IKvMail> mail;
    if (Connection()->CreateMail(0, u"1", mail.put()) != S_OK) return 0;
    HRESULT hr = mail->SetRawText(fuzz::MemoryStream(text).stream);
    fuzz::Check(hr == S_OK || hr == E_UNEXPECTED);

    // The raw text is the lines (zero bytes and all), each ended by CR LF.
    std::string expected;
    for (const std::string &line : fuzz::SplitLines(text)) expected += line + "\r\n";
    // (An empty raw text means "not rendered": GetRawText would render it.)
    fuzz::MemoryStream raw;
    if (!expected.empty()) {
        fuzz::Check(mail->GetRawText(raw.stream) == S_OK);
        fuzz::Check(raw.Contents() == expected);
    }

    // What was read can be asked for and written again.
    BSTR value = nullptr;
    IEnumString *parameters = nullptr;
    kv::clsAutoRelease<IKvMail2> mail2;
    if (mail->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(mail2.put())) == S_OK) {
        BSTR name = SysAllocString(reinterpret_cast<const OLECHAR *>(u"Content-Type"));
        if (SUCCEEDED(mail2->GetHeaderEntry2(name, &value, &parameters)) && parameters) parameters->Release();
        SysFreeString(name);
        SysFreeString(value);
    }
    kv::clsAutoRelease<IKvEnumMailBody> bodies;
    if (mail->EnumBodies(bodies.put()) == S_OK) {
        IKvMailBody *body = nullptr;
        ULONG got = 0;
        while (bodies->Next(1, &body, &got) == S_OK && got == 1) {
            kv::clsAutoRelease<IKvEnumMailAttachment> attachments;
            if (body->EnumAttachments(attachments.put()) == S_OK) {
                IKvMailAttachment *a = nullptr;
                while (attachments->Next(1, &a, &got) == S_OK && got == 1) {
                    fuzz::MemoryStream contents;
                    a->GetContents(contents.stream);
                    a->Release();
                }
            }
            body->Release();
        }
    }
    BSTR subject = SysAllocString(reinterpret_cast<const OLECHAR *>(u"again"));
    mail->SetSubject(subject);
    SysFreeString(subject);
    fuzz::MemoryStream rendered;
    hr = mail->GetRawText(rendered.stream);
    fuzz::Check(hr == S_OK || hr == E_UNEXPECTED);

    // The POP3 listing reads the head only.
    void *self = nullptr;
    kv::clsAutoRelease<IKvMail> listed;
    if (Connection()->CreateMail(0, u"2", listed.put()) == S_OK &&
        listed->QueryInterface(kv::IID_clsArpaMail, &self) == S_OK) {
        auto *impl = static_cast<kv::clsArpaMail *>(self);
        std::deque<kv::String> lines;
        for (const std::string &line : fuzz::SplitLines(text)) lines.push_back(line);
        try {
            kv::ReadMail(*impl, lines, 0, kv::kReadHeadersOnly, 0);
            fuzz::Check(impl->Bodies().Empty() && impl->Attachments().Empty());
        } catch (const kv::clsExcept &) {
        }
        impl->Release();
    }
    return 0;
}
