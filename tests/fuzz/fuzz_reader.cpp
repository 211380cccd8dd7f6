// Whole messages through SetRawText (and the POP3 listing's headers-only
// read), then rendered again by the writer: no crash, no sanitizer report,
// no leak, and the raw text the reader keeps is the lines it was given.
#include <deque>

#include "fuzz_util.h"
#include "mail/arpa_mail.h"
#include "mail/reader.h"
#include "providers/smtp/smtp_connection.h"

namespace {

using orkv14::Bstr;
using orkv14::Ptr;

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
    Ptr<IKvMail> mail;
    if (Connection()->CreateMail(0, u"1", mail.put()) != S_OK) return 0;
    HRESULT hr = mail->SetRawText(orkv14::MemoryStream(text).get());
    fuzz::Check(hr == S_OK || hr == E_UNEXPECTED);

    // The raw text is the lines (zero bytes and all), each ended by CR LF.
    // (An empty raw text means "not rendered": GetRawText would render it.)
    std::string expected = fuzz::Joined(fuzz::SplitLines(text));
    Ptr<IStream> raw = orkv14::MemoryStream("");
    fuzz::Check(expected.empty() || (mail->GetRawText(raw.get()) == S_OK && orkv14::ReadAll(raw.get()) == expected));

    // What was read can be asked for and written again.
    Bstr value;
    Ptr<IEnumString> parameters;
    if (Ptr<IKvMail2> mail2 = mail.As<IKvMail2>()) mail2->GetHeaderEntry2(Bstr(u"Content-Type").get(), value.put(), parameters.put());
    Ptr<IKvEnumMailBody> bodies;
    if (mail->EnumBodies(bodies.put()) == S_OK) {
        for (Ptr<IKvMailBody> body; bodies->Next(1, body.put(), nullptr) == S_OK;) {
            Ptr<IKvEnumMailAttachment> attachments;
            if (body->EnumAttachments(attachments.put()) != S_OK) continue;
            for (Ptr<IKvMailAttachment> a; attachments->Next(1, a.put(), nullptr) == S_OK;)
                a->GetContents(orkv14::MemoryStream("").get());
        }
    }
    mail->SetSubject(Bstr(u"again").get());
    hr = mail->GetRawText(orkv14::MemoryStream("").get());
    fuzz::Check(hr == S_OK || hr == E_UNEXPECTED);

    // The POP3 listing reads the head only.
    Ptr<IKvMail> listed;
    if (Connection()->CreateMail(0, u"2", listed.put()) != S_OK) return 0;
    kv::clsAutoRelease<kv::clsArpaMail> impl = kv::clsArpaMail::Of(listed.get());
    if (!impl) return 0;
    std::deque<kv::String> lines;
    for (const std::string &line : fuzz::SplitLines(text)) lines.push_back(line);
    try {
        kv::ReadMail(*impl, lines, 0, kv::kReadHeadersOnly, 0);
        fuzz::Check(impl->Bodies().Empty() && impl->Attachments().Empty());
    } catch (const kv::clsExcept &) {
    }
    return 0;
}
