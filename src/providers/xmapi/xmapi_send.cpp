#include "providers/xmapi/xmapi_send.h"

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "mail/mail.h"
#include "mime/charset_table.h"
#include "mime/address_field.h"
#include "pal/codepage.h"
#include "pal/system.h"
#include "providers/xmapi/xmapi_platform.h"
#include "providers/xmapi/xmapi_session.h"
#include "runtime/com_util.h"

namespace kv {

using namespace xmapi;

namespace {

[[noreturn]] void Raise(const char *format, HRESULT hr) {
    throw clsExcept(kErrGeneral, Format(format, HResultText(hr).c_str()));
}

uint32_t OtherWidth(uint32_t tag) {
    if (TypeOf(tag) == PT_STRING8) return Tag(IdOf(tag), PT_UNICODE);
    if (TypeOf(tag) == PT_UNICODE) return Tag(IdOf(tag), PT_STRING8);
    return tag;
}

Prop Switched(const Prop &p) {
    Prop q = p;
    q.tag = OtherWidth(p.tag);
    if (TypeOf(p.tag) == PT_STRING8) q.text = pal::ToWide(p.text8, 0), q.text8.clear();
    else if (TypeOf(p.tag) == PT_UNICODE) q.text8 = pal::FromWide(p.text, 0), q.text.clear();
    return q;
}

class Sender {
  public:
    Sender(SendSite &site, uint32_t mask, clsMail &mail)
        : site_(site), mask_(mask), mail_(mail), props_((mask & STORE_UNICODE_OK) != 0) {}
    void Run(bool deleteAfterSend);

  private:
    void Recipients(AddrBook &book);
    void Body(clsMailBody &body);
    void WriteStream(uint32_t tag, const std::string &bytes, const char *openError);
    void AddAttachment(clsMailAttachment &attachment);
    std::string TextBytes(const WString &text) const {
        return props_.StringType() == PT_UNICODE
                   ? std::string(reinterpret_cast<const char *>(text.data()), text.size() * sizeof(char16_t))
                   : pal::FromWide(text, 0);
    }

    SendSite &site_;
    uint32_t mask_;
    clsMail &mail_;
    clsXMAPIProps props_;
    std::unique_ptr<Message> message_;
    uint32_t syncFlags_ = 0;
    int running_ = 0;
};

void Sender::Run(bool deleteAfterSend) {
    Prop outbox;
    HRESULT hr = props_.Read(site_.Store(), Tag(ID_IPM_OUTBOX_ENTRYID, PT_BINARY), outbox);
    if (FAILED(hr)) Raise("No outbox message store found: '%s'", hr);
    std::unique_ptr<Folder> folder;
    hr = site_.OpenFolder(outbox.bytes, folder);
    if (FAILED(hr) || !folder) Raise("Outbox message store can not be opened: '%s'", FAILED(hr) ? hr : E_POINTER);
    hr = folder->CreateMessage(message_);
    if (FAILED(hr) || !message_) Raise("IMAPIFolder::CreateMessage() failed: '%s'", FAILED(hr) ? hr : E_POINTER);

    props_.Set(*message_, {clsXMAPIProps::Long(ID_INTERNET_CPID, int32_t(mail_.CodePage()))});

    std::unique_ptr<AddrBook> book;
    hr = site_.OpenAddressBook(book);
    if (FAILED(hr) || !book) Raise("IMAPISession::OpenAddressBook() failed: '%s'", FAILED(hr) ? hr : E_POINTER);
    Recipients(*book);

    props_.Set(*message_, {props_.Text(ID_SUBJECT, mail_.Subject(), mail_.CodePage())});
    for (clsMailBody *body : mail_.Bodies()) {
        Body(*body);
        for (clsMailAttachment *attachment : body->Attachments()) AddAttachment(*attachment);
    }
    if ((syncFlags_ & RTF_SYNC_RTF_CHANGED) && !(mask_ & STORE_RTF_OK)) {
        hr = site_.RTFSync(*message_, syncFlags_);
        if (FAILED(hr))
            throw clsExcept(kErrGeneral,
                            Format("RTFSync(%08x) failed: '%s'", unsigned(syncFlags_), HResultText(hr).c_str()));
    }
    props_.Set(*message_, {props_.Text(ID_MESSAGE_CLASS, "IPM.Note")});
    for (clsMailAttachment *attachment : mail_.Attachments()) AddAttachment(*attachment);

    props_.Set(*message_, {clsXMAPIProps::Bool(ID_DELETE_AFTER_SUBMIT, deleteAfterSend)});
    Prop sent;
    hr = props_.Read(site_.Store(), Tag(ID_IPM_SENTMAIL_ENTRYID, PT_BINARY), sent);
    if (FAILED(hr)) Raise("IMessage::GetProps(PR_IPM_SENTMAIL_ENTRYID) failed: '%s'", hr);
    hr = message_->SetProps({clsXMAPIProps::Binary(ID_SENTMAIL_ENTRYID, sent.bytes)});
    if (FAILED(hr)) Raise("IMessage::SetProps(PR_SENTMAIL_ENTRYID) failed: '%s'", hr);

    hr = message_->SubmitMessage(0);
    if (hr == MAPI_E_CORRUPT_DATA || hr == MAPI_E_OBJECT_CHANGED) {
        props_.Set(*message_, {props_.Text(ID_SUBJECT, mail_.Subject(), mail_.CodePage())});
        hr = message_->SaveChanges(KEEP_OPEN_READWRITE | FORCE_SAVE);
        if (FAILED(hr)) Raise("IMessage::SaveChanges(FORCE_SAVE) failed: '%s'", hr);
        hr = message_->SubmitMessage(0);
    }
    // A message that was never submitted is not sent.
    if (FAILED(hr)) Raise("IMessage::SubmitMessage() failed: '%s'", hr);
}

void Sender::Recipients(AddrBook &book) {
    std::vector<std::vector<Prop>> rows;
    const std::pair<std::vector<String> *, int32_t> lists[] = {{&mail_.To(), 1}, {&mail_.CC(), 2}, {&mail_.BCC(), 3}};
    for (const auto &[list, type] : lists) {
        for (const String &text : *list) {
            clsParseList items = ParseAddressField(text);
            String name = UnquotedDisplayName(GetFieldDisplayName(items));
            String address = GetFieldAddress(items);
            // Addresses of other systems (X.500, CompuServe, fax) are no mail
            // addresses to the parser: the text itself is the address then.
            if (address.empty()) address = String(TrimView(text));
            if (name.empty()) name = address;
            String addressType = AddressTypeOf(address, "SMTP");
            if (addressType.empty()) addressType = "SMTP";
            std::string entryId;
            HRESULT hr = book.CreateOneOff(Widen(name), Widen(addressType), Widen(address), MAPI_SEND_NO_RICH_INFO,
                                           entryId);
            if (FAILED(hr)) Raise("IAddressBook::CreateOneOff() failed: '%s'", hr);
            rows.push_back({props_.Text(ID_DISPLAY_NAME, name), props_.Text(ID_ADDRTYPE, addressType),
                            props_.Text(ID_EMAIL_ADDRESS, address), clsXMAPIProps::Long(ID_RECIPIENT_TYPE, type),
                            clsXMAPIProps::Binary(ID_ENTRYID, entryId)});
        }
    }
    if (rows.empty()) return;
    std::unique_ptr<AdrList> list;
    HRESULT hr = site_.AllocateAdrList(rows, list);
    if (FAILED(hr) || !list) Raise("MAPIAllocateBuffer() failed: '%s'", FAILED(hr) ? hr : E_OUTOFMEMORY);
    hr = book.ResolveName(*list);
    if (FAILED(hr)) Raise("IAddressBook::ResolveName() failed: '%s'", hr);
    hr = message_->ModifyRecipients(MODRECIP_ADD, *list);
    if (FAILED(hr)) Raise("IMessage::ModifyRecipients() failed: '%s'", hr);
}

void Sender::WriteStream(uint32_t tag, const std::string &bytes, const char *openError) {
    std::unique_ptr<PropStream> stream;
    HRESULT hr = message_->OpenProperty(tag, STGM_CREATE_WRITE, MAPI_CREATE | MAPI_MODIFY, stream);
    if (FAILED(hr) || !stream) Raise(openError, FAILED(hr) ? hr : E_POINTER);
    hr = stream->Write(bytes.data(), bytes.size());
    if (FAILED(hr)) Raise("IMessage::Write(BODY,PLAIN) failed: '%s'", hr);
    hr = stream->Commit();
    if (FAILED(hr)) Raise("IMessage::Write(BODY,PLAIN) failed: '%s'", hr);
}

void Sender::Body(clsMailBody &body) {
    const std::string bytes = StreamBytes(body.Contents());
    const IString &type = body.MediaType();
    if (type == "text/plain") {
        WriteStream(Tag(ID_BODY, props_.StringType()), TextBytes(pal::ToWide(bytes, body.CodePage())),
                    "IMessage::OpenProperty(BODY,PLAIN) failed: '%s'");
        return;
    }
    const bool rtf = type == "application/RTF";
    if (!rtf && !(type == "text/HTML")) throw clsExcept(kErrGeneral, Format("unknown body type '%s'", type.c_str()));
    if (!rtf) WriteStream(Tag(ID_BODY_HTML, PT_STRING8), bytes, "IMessage::OpenProperty(BODY,RTF) failed: '%s'");

    std::unique_ptr<PropStream> compressed;
    HRESULT hr = message_->OpenProperty(Tag(ID_RTF_COMPRESSED, PT_BINARY), STGM_CREATE_WRITE,
                                        MAPI_CREATE | MAPI_MODIFY, compressed);
    if (FAILED(hr) || !compressed) Raise("IMessage::OpenProperty(BODY,RTF) failed: '%s'", FAILED(hr) ? hr : E_POINTER);
    std::unique_ptr<PropStream> text;
    hr = site_.WrapCompressedRTFStream(*compressed, MAPI_MODIFY, text);
    if (FAILED(hr) || !text) Raise("WrapCompressedRTFStream: failed: '%s'", FAILED(hr) ? hr : E_POINTER);
    std::string content = rtf ? bytes
                              : Format("{\\rtf1\\ansi\\ansicpg%d\\fromhtml1 {\\*\\htmltag1 ", int(body.CodePage())) +
                                    bytes + " }}";
    hr = text->Write(content.data(), content.size());
    if (SUCCEEDED(hr)) hr = text->Commit();
    if (SUCCEEDED(hr)) hr = compressed->Commit();
    if (FAILED(hr)) Raise("IMessage::Write(BODY,PLAIN) failed: '%s'", hr);
    if (rtf) syncFlags_ |= RTF_SYNC_RTF_CHANGED;
}

void Sender::AddAttachment(clsMailAttachment &attachment) {
    std::unique_ptr<Attach> attach;
    HRESULT hr = message_->CreateAttach(attach);
    if (FAILED(hr) || !attach) Raise("IMessage::CreateAttach() failed: '%s'", FAILED(hr) ? hr : E_POINTER);
    String name = pal::FileNameOf(attachment.Name());
    if (name.empty() || name == "*") name = Format("ATT%05d", ++running_);
    props_.Set(*attach, {clsXMAPIProps::Long(ID_ATTACH_METHOD, ATTACH_BY_VALUE),
                         clsXMAPIProps::Long(ID_RENDERING_POSITION, -1), props_.Text(ID_ATTACH_FILENAME, name),
                         props_.Text(ID_ATTACH_LONG_FILENAME, name),
                         props_.Text(ID_ATTACH_EXTENSION, ExtensionOfPath(name)),
                         props_.Text(ID_ATTACH_CONTENT_ID, attachment.ContentId()),
                         clsXMAPIProps::Long(ID_ATTACH_FLAGS, 0)});
    // The content flows from its stream into the message: a large file is
    // never held in memory whole.
    clsAutoRelease<IStream> source;
    const LARGE_INTEGER start{};
    if (IStream *contents = attachment.Contents()) {
        source.reset(contents, true);
        hr = contents->Seek(start, STREAM_SEEK_SET, nullptr);
    } else {
        hr = site_.OpenStreamOnFile(attachment.Name(), source.put());
    }
    if (FAILED(hr) || !source)
        throw clsExcept(kErrGeneral, Format("opening attachment (%s) failed: '%s'", attachment.Name().c_str(),
                                            HResultText(FAILED(hr) ? hr : E_POINTER).c_str()));
    std::unique_ptr<PropStream> data;
    hr = attach->OpenProperty(Tag(ID_ATTACH_DATA_BIN, PT_BINARY), STGM_CREATE_WRITE, MAPI_CREATE | MAPI_MODIFY, data);
    if (FAILED(hr) || !data) Raise("IAttachment::OpenProperty() failed: '%s'", FAILED(hr) ? hr : E_POINTER);
    hr = data->CopyFrom(source.get());
    if (attachment.Contents()) attachment.Contents()->Seek(start, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) Raise("IStream::CopyTo() failed: '%s'", hr);
    hr = data->Commit();
    if (FAILED(hr)) Raise("IStream::Commit() failed: '%s'", hr);
    hr = attach->SaveChanges(FORCE_SAVE);
    if (FAILED(hr)) Raise("IAttach::SaveChanges(FORCE_SAVE) failed: '%s'", hr);
}

} // namespace

Prop clsXMAPIProps::Text(uint32_t id, const String &text, uint32_t codepage) const {
    Prop p;
    p.tag = Tag(id, StringType());
    if (unicode_) p.text = Widen(text, codepage);
    else p.text8 = codepage ? Narrow(Widen(text, codepage)) : text;
    return p;
}

Prop clsXMAPIProps::Long(uint32_t id, int32_t value) {
    Prop p;
    p.tag = Tag(id, PT_LONG);
    p.number = value;
    return p;
}

Prop clsXMAPIProps::Bool(uint32_t id, bool value) {
    Prop p;
    p.tag = Tag(id, PT_BOOLEAN_);
    p.number = value ? 1 : 0;
    return p;
}

Prop clsXMAPIProps::Binary(uint32_t id, const std::string &bytes) {
    Prop p;
    p.tag = Tag(id, PT_BINARY);
    p.bytes = bytes;
    return p;
}

void clsXMAPIProps::Set(MapiProp &object, std::vector<Prop> values) const {
    HRESULT hr = object.SetProps(values);
    if (hr == MAPI_E_BAD_CHARWIDTH) {
        LogWrite(kLogDetails, "retry with different charwidth");
        for (Prop &p : values) p = Switched(p);
        hr = object.SetProps(values);
    }
    if (FAILED(hr))
        throw clsExcept(kErrGeneral,
                        Format("SetProps(0x%08x) failed: '%s'", unsigned(values.empty() ? 0 : values.front().tag),
                               HResultText(hr).c_str()));
}

HRESULT clsXMAPIProps::Read(MapiProp &object, uint32_t tag, Prop &value) const {
    std::vector<Prop> values;
    HRESULT hr = object.GetProps({tag}, values);
    if (hr == MAPI_W_ERRORS_RETURNED && !values.empty() && TypeOf(values[0].tag) == PT_ERROR &&
        values[0].number == MAPI_E_BAD_CHARWIDTH) {
        LogWrite(kLogDetails, "retry with different charwidth");
        values.clear();
        hr = object.GetProps({OtherWidth(tag)}, values);
    }
    if (hr == MAPI_W_ERRORS_RETURNED && !values.empty() && TypeOf(values[0].tag) == PT_ERROR)
        hr = HRESULT(values[0].number);
    // A warning with no value is no value.
    if (SUCCEEDED(hr) && values.empty()) hr = MAPI_E_NOT_FOUND;
    if (SUCCEEDED(hr)) value = values[0];
    return hr;
}

Prop clsXMAPIProps::Get(MapiProp &object, uint32_t tag) const {
    Prop value;
    HRESULT hr = Read(object, tag, value);
    if (FAILED(hr))
        throw clsExcept(kErrGeneral, Format("GetProps(0x%08x) failed: '%s'", unsigned(tag), HResultText(hr).c_str()));
    return value;
}

void XmapiSendMail(SendSite &site, uint32_t supportMask, clsMail &mail, bool deleteAfterSend) {
    Sender(site, supportMask, mail).Run(deleteAfterSend);
}

} // namespace kv
