#include "providers/smapi/smapi_mail.h"

#include <memory>
#include <string_view>

#include "connection/connection_base.h"
#include "runtime/except.h"
#include "mail/file_source.h"
#include "runtime/kvlog.h"
#include "mime/address_field.h"
#include "pal/codepage.h"
#include "pal/system.h"
#include "providers/hook_scope.h"
#include "runtime/com_util.h"
#include "runtime/regex.h"

namespace kv {

namespace {

// A new memory stream holding the bytes; null when it cannot be made.
IStream *StreamHolding(std::string_view bytes) {
    IStream *stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) return nullptr;
    ULONG written = 0;
    if (!bytes.empty() &&
        (FAILED(stream->Write(bytes.data(), ULONG(bytes.size()), &written)) || written != bytes.size())) {
        stream->Release();
        return nullptr;
    }
    return stream;
}

} // namespace

SmapiRecipient SmapiRecipientFor(const String &addressText, uint32_t recipClass, const String &clientName) {
    SmapiRecipient r;
    r.recipClass = recipClass;
    clsParseList items = ParseAddressField(addressText);
    r.name = UnquotedDisplayName(GetFieldDisplayName(items));
    String address = GetFieldAddress(items, true);
    LogWriteF(kLogDetails, "add recipient '%s'", r.name.c_str());
    static const clsRegEx kPrefix(u"^[A-Z0-9]{2,10}:", clsRegEx::Caseless);
    if (kPrefix.IsMatch(address) || clientName == "Mozilla") {
        r.address = address;
        r.hasAddress = true;
    } else if (!address.empty() && address != r.name) {
        r.address = "SMTP:" + address;
        r.hasAddress = true;
    }
    if (r.hasAddress) LogWriteF(kLogDetails, "add address '%s'", r.address.c_str());
    else LogWrite(kLogDetails, "let SMAPI resolve it");
    return r;
}

String SmapiAddressOf(const smapi::MapiRecipDesc &recipient) {
    String name = recipient.lpszName ? recipient.lpszName : "";
    String address = recipient.lpszAddress ? recipient.lpszAddress : "";
    if (address.size() >= 5 && EqualsNoCase(std::string_view(address).substr(0, 5), "SMTP:")) address.erase(0, 5);
    if (address.empty()) return name.empty() ? String() : Format("<%s>", name.c_str());
    return name.empty() ? Format("<%s>", address.c_str()) : Format("\"%s\" <%s>", name.c_str(), address.c_str());
}

void clsSMAPIMail::Send(clsSMAPI &session, clsConnectionBase &connection) {
    clsHookScope scope("[clsSMAPIMail::Send]");
    try {
        // The connection base reports the send's start (8, 0) and end (8, 100).
        const uint32_t ansi = pal::AnsiCodePage();

        String note;
        for (clsMailBody *body : Bodies()) {
            if (!(body->MediaType() == "text/plain")) continue;
            std::string bytes = StreamBytes(body->Contents());
            String text = pal::FromWide(pal::ToWide(bytes, body->CodePage()), ansi);
            if (!note.empty()) note += String(65, '-') + "\r\n";
            note += text;
        }

        std::vector<std::unique_ptr<clsAttachmentFile>> files;
        const String temp = pal::TempDirectory();
        for (clsMailAttachment *attachment : Attachments()) {
            auto file = std::make_unique<clsAttachmentFile>();
            if (attachment->Contents())
                file->WriteCopy(temp, attachment->Name(), StreamBytes(attachment->Contents()));
            else
                file->UseFile(attachment->Name());
            files.push_back(std::move(file));
        }

        if (note.empty()) note = " ";
        const size_t firstPosition = note.size();
        note.append(files.size(), ' ');

        // Mail texts are kept in the ANSI code page already.
        String subject = Subject();
        String client = connection.ReadTextOptionA("ClientName");
        LogWriteF(kLogDetails, "subject '%s'", subject.c_str());
        LogWriteF(kLogDetails, "client type '%s'", client.c_str());

        std::vector<SmapiRecipient> recipients;
        const std::pair<const char *, std::pair<std::vector<String> *, uint32_t>> lists[] = {
            {"TO:", {&To(), smapi::MAPI_TO}}, {"CC:", {&CC(), smapi::MAPI_CC}}, {"BCC:", {&BCC(), smapi::MAPI_BCC}}};
        for (const auto &[label, list] : lists) {
            LogWrite(kLogDetails, label);
            for (const String &address : *list.first)
                recipients.push_back(SmapiRecipientFor(address, list.second, client));
        }
        std::unique_ptr<SmapiRecipient> originator;
        if (!Sender().empty()) {
            LogWrite(kLogDetails, "ORIG:");
            originator = std::make_unique<SmapiRecipient>(SmapiRecipientFor(Sender(), smapi::MAPI_ORIG, client));
        }

        auto record = [](SmapiRecipient &r) {
            smapi::MapiRecipDesc d{};
            d.ulRecipClass = r.recipClass;
            d.lpszName = r.name.data();
            d.lpszAddress = r.hasAddress ? r.address.data() : nullptr;
            return d;
        };
        std::vector<smapi::MapiRecipDesc> recips;
        for (SmapiRecipient &r : recipients) recips.push_back(record(r));
        smapi::MapiRecipDesc orig{};
        if (originator) orig = record(*originator);
        std::vector<String> paths;
        for (const auto &file : files) paths.push_back(file->Path());
        std::vector<smapi::MapiFileDesc> fileDescs(files.size());
        for (size_t k = 0; k < files.size(); ++k) {
            fileDescs[k] = smapi::MapiFileDesc{};
            fileDescs[k].nPosition = uint32_t(firstPosition + k);
            fileDescs[k].lpszPathName = paths[k].data();
        }

        smapi::MapiMessage message{};
        message.lpszSubject = subject.data();
        message.lpszNoteText = note.data();
        message.lpOriginator = originator ? &orig : nullptr;
        message.nRecipCount = uint32_t(recips.size());
        message.lpRecips = recips.empty() ? nullptr : recips.data();
        message.nFileCount = uint32_t(fileDescs.size());
        message.lpFiles = fileDescs.empty() ? nullptr : fileDescs.data();

        session.SendMail(message);
    } catch (clsExcept &e) {
        scope.Attach(e);
        throw;
    }
}

void clsSMAPIMail::Fill(const smapi::MapiMessage &record, bool envelopeOnly) {
    GeneratedHeaders().Clear();
    envelopeOnly_ = envelopeOnly;
    if (Sender().empty() && record.lpOriginator) SetSenderText(SmapiAddressOf(*record.lpOriginator));
    if (To().empty() && CC().empty() && record.lpRecips) {
        for (uint32_t i = 0; i < record.nRecipCount; ++i) {
            const smapi::MapiRecipDesc &r = record.lpRecips[i];
            if (r.ulRecipClass == smapi::MAPI_TO) To().push_back(SmapiAddressOf(r));
            else if (r.ulRecipClass == smapi::MAPI_CC) CC().push_back(SmapiAddressOf(r));
        }
    }
    if (record.lpszDateReceived) GeneratedHeaders().Set("Date", record.lpszDateReceived);
    SetSubjectText(record.lpszSubject ? record.lpszSubject : "");
    if (envelopeOnly) return;
    SetState(kMailLoaded);
    // A second read fills the same mail: its content replaces what was there.
    Bodies().Clear();
    Attachments().Clear();
    if (record.lpszNoteText && *record.lpszNoteText) {
        clsAutoRelease<IKvMailBody> body;
        if (SUCCEEDED(Bodies().CreateAndAdd(body.put(), IString("text/plain"), 0)) && body) {
            clsAutoRelease<IStream> stream(StreamHolding(record.lpszNoteText));
            if (stream) body->SetContents(stream.get());
        }
    }
    // The files are the messaging system's temporary copies, deleted once
    // their content is taken; one that cannot be taken stays where it is.
    std::vector<String> unread;
    for (uint32_t i = 0; record.lpFiles && i < record.nFileCount; ++i) {
        const smapi::MapiFileDesc &f = record.lpFiles[i];
        if (!f.lpszPathName) continue;
        String path = f.lpszPathName;
        std::string bytes;
        clsAutoRelease<IStream> stream;
        if (ReadWholeFile(path, bytes) == WholeFile::Read) stream.reset(StreamHolding(bytes));
        clsAutoRelease<IKvMailAttachment> attachment;
        if (!stream || FAILED(Attachments().CreateAndAdd(attachment.put())) || !attachment) {
            unread.push_back(path);
            continue;
        }
        auto *ours = static_cast<clsMailAttachment *>(attachment.get());
        ours->SetNameText(f.lpszFileName && *f.lpszFileName ? String(f.lpszFileName) : pal::FileNameOf(path));
        ours->SetContentsStream(stream.get());
        pal::DeleteFilePath(path);
    }
    if (unread.empty()) return;
    clsExcept e(kErrGeneral, Format("Read error file '%s' - file not found?!", unread.front().c_str()));
    for (size_t i = 1; i < unread.size(); ++i)
        e.Push(Format("Read error file '%s' - file not found?!", unread[i].c_str()));
    throw e;
}

} // namespace kv
