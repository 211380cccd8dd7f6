#include "providers/cdosys/cdosys_send.h"

#include "connection/connection_base.h"
#include "runtime/kvlog.h"
#include "mail/mail.h"
#include "mime/charset_table.h"
#include "pal/codepage.h"
#include "pal/system.h"
#include "runtime/com_util.h"

namespace kv {

namespace {

constexpr size_t kChunk = 0x10000;

[[noreturn]] void Raise(const char *format, HRESULT hr) {
    throw clsExcept(kErrGeneral, Format(format, HResultText(hr).c_str()));
}

WString Config(const char16_t *shortName) { return WString(cdo::kConfigNamespace) + shortName; }
WString Header(const char16_t *name) { return WString(cdo::kMailHeader) + name; }

String JoinAddresses(const std::vector<String> &list) {
    String out;
    for (const String &address : list) {
        if (!out.empty()) out += ", ";
        out += address;
    }
    return out;
}

void SendBody(cdo::BodyPart &parent, clsMailBody &body) {
    try {
        std::unique_ptr<cdo::BodyPart> part;
        HRESULT hr = parent.AddBodyPart(-1, part);
        if (FAILED(hr) || !part) Raise("Parent->AddBodyPart(-1) failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        String charset = body.Charset().empty() ? CharsetForCodePage(body.CodePage()) : body.Charset();
        String mediaType = Format("%s; charset=\"%s\"", body.MediaType().c_str(), charset.c_str());
        hr = part->PutContentMediaType(Widen(mediaType));
        if (FAILED(hr)) Raise("BodyPart->put_ContentMediaType() failed: '%s'", hr);
        std::unique_ptr<cdo::Stream> stream;
        hr = part->GetDecodedContentStream(stream);
        if (FAILED(hr) || !stream) Raise("BodyPart->get_Stream() failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        hr = stream->PutCharset(Widen(charset));
        if (FAILED(hr)) Raise("Stream->put_Charset() failed: '%s'", hr);
        std::string bytes;
        if (body.Contents() && !ReadStreamBytes(body.Contents(), bytes)) Raise("File.Read() failed: '%s'", E_FAIL);
        hr = stream->WriteText(pal::ToWide(bytes, body.CodePage()));
        if (FAILED(hr)) Raise("Stream->WriteText() failed: '%s'", hr);
        hr = stream->Flush();
        if (FAILED(hr)) Raise("Stream->Flush() failed: '%s'", hr);
    } catch (clsExcept &e) {
        e.Push("[clsCDOSYSMail::SendBody]");
        throw;
    }
}

void SendAttachment(cdo::BodyPart &root, clsMailAttachment &attachment, int &running) {
    try {
        std::unique_ptr<cdo::BodyPart> part;
        HRESULT hr = root.AddBodyPart(-1, part);
        if (FAILED(hr) || !part) Raise("MsgBody->AddBodyPart(-1) failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        String mediaType = MediaTypeForExtension(ExtensionOfPath(attachment.Name()));
        hr = part->PutContentTransferEncoding(StartsWithNoCase(mediaType, "text/") ? u"quoted-printable" : u"base64");
        if (FAILED(hr)) Raise("BodyPart->put_ContentTransferEncoding() failed: '%s'", hr);

        String name = pal::FileNameOf(attachment.Name());
        if (name.find('*') != String::npos) {
            if (!attachment.Contents())
                throw clsExcept(kErrGeneral, "Cannot use wildcard file name for a non-stream file!");
            name = Format("ATT%05d", ++running) + ExtensionOfPath(name);
        }
        // A quote in the name would end the parameter early.
        for (char &c : name)
            if (c == '"' || c == '\r' || c == '\n') c = '_';

        std::unique_ptr<cdo::Fields> fields;
        hr = part->GetFields(fields);
        if (FAILED(hr) || !fields) Raise("BodyPart->get_Fields(-1) failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        CdoSetFields(*fields, {{Header(u"content-disposition"),
                                cdo::Value::OfText(Widen(Format("attachment; filename=\"%s\"", name.c_str())))}});

        std::unique_ptr<cdo::Stream> stream;
        hr = part->GetDecodedContentStream(stream);
        if (FAILED(hr) || !stream) Raise("BodyPart->get_Stream(-1) failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        if (IStream *source = attachment.Contents()) {
            LARGE_INTEGER zero{};
            ULARGE_INTEGER end{};
            hr = source->Seek(zero, STREAM_SEEK_END, &end);
            if (SUCCEEDED(hr)) hr = source->Seek(zero, STREAM_SEEK_SET, nullptr);
            if (FAILED(hr)) Raise("File.Read() failed: '%s'", hr);
            const uint64_t total = end.QuadPart;
            std::vector<uint8_t> chunk(size_t(std::min<uint64_t>(total, kChunk)));
            for (uint64_t start = 0; start < total;) {
                ULONG want = ULONG(std::min<uint64_t>(total - start, kChunk)), got = 0;
                hr = source->Read(chunk.data(), want, &got);
                if (FAILED(hr)) Raise("File.Read() failed: '%s'", hr);
                // A stream that ends before its size would loop for ever.
                if (got == 0) Raise("File.Read() failed: '%s'", E_FAIL);
                hr = stream->Write(chunk.data(), got);
                if (FAILED(hr))
                    throw clsExcept(kErrGeneral, Format("Stream->Write(%llu..%llu/%llu) failed: '%s'",
                                                        (unsigned long long)start, (unsigned long long)(start + got),
                                                        (unsigned long long)total, HResultText(hr).c_str()));
                start += got;
            }
            source->Seek(zero, STREAM_SEEK_SET, nullptr);
        } else {
            hr = stream->LoadFromFile(Widen(attachment.Name()));
            if (FAILED(hr)) Raise("LoadFromFile() failed: '%s'", hr);
        }
        hr = stream->Flush();
        if (FAILED(hr)) Raise("Stream->Flush() failed: '%s'", hr);
    } catch (clsExcept &e) {
        e.Push("[clsCDOSYSMail::SendAttachment()]");
        throw;
    }
}

void Compose(cdo::Message &message, clsMail &mail) {
    HRESULT hr = message.PutFrom(Widen(mail.EffectiveSender()));
    if (FAILED(hr)) Raise("CDOMsg->put_From() failed: '%s'", hr);
    hr = message.PutSubject(Widen(mail.Subject(), mail.CodePage()));
    if (FAILED(hr)) Raise("CDOMsg->put_Subject() failed: '%s'", hr);
    hr = message.PutTo(Widen(JoinAddresses(mail.To())));
    if (FAILED(hr)) Raise("CDOMsg->put_To() failed: '%s'", hr);
    hr = message.PutCC(Widen(JoinAddresses(mail.CC())));
    if (FAILED(hr)) Raise("CDOMsg->put_CC() failed: '%s'", hr);
    // Blind copies are handed over too, or their recipients would never get the mail.
    if (!mail.BCC().empty()) {
        hr = message.PutBCC(Widen(JoinAddresses(mail.BCC())));
        if (FAILED(hr)) Raise("CDOMsg->put_BCC() failed: '%s'", hr);
    }

    std::unique_ptr<cdo::Fields> fields;
    hr = message.GetFields(fields);
    if (FAILED(hr) || !fields) Raise("CDOMsg->get_Fields() failed: '%s'", FAILED(hr) ? hr : E_POINTER);
    CdoSetFields(*fields,
                 {{Header(u"X-Mailer"), cdo::Value::OfText(Widen(Format("%s %s", "orkv14", KV_VERSION_STRING)))}});

    std::unique_ptr<cdo::BodyPart> root;
    hr = message.GetBodyPart(root);
    if (FAILED(hr) || !root) Raise("CDOMsg->get_BodyPart() failed: '%s'", FAILED(hr) ? hr : E_POINTER);

    if (mail.Bodies().Size() > 1) {
        std::unique_ptr<cdo::Fields> rootFields;
        hr = root->GetFields(rootFields);
        if (FAILED(hr) || !rootFields) Raise("BodyPart->get_Fields() failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        CdoSetFields(*rootFields, {{Header(u"content-type"), cdo::Value::OfText(u"multipart/mixed")}});
        std::unique_ptr<cdo::BodyPart> alternative;
        hr = root->AddBodyPart(-1, alternative);
        if (FAILED(hr) || !alternative) Raise("MsgBody->AddBodyPart(-1) failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        std::unique_ptr<cdo::Fields> altFields;
        hr = alternative->GetFields(altFields);
        if (FAILED(hr) || !altFields) Raise("BodyPart->get_Fields() failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        CdoSetFields(*altFields, {{Header(u"content-type"), cdo::Value::OfText(u"multipart/alternative")}});
        for (clsMailBody *body : mail.Bodies()) SendBody(*alternative, *body);
    } else if (mail.Bodies().Size() == 1) {
        SendBody(*root, *mail.Bodies()[0]);
    }
    int running = 0;
    for (clsMailAttachment *attachment : mail.Attachments()) SendAttachment(*root, *attachment, running);

    hr = message.Send();
    if (FAILED(hr)) {
        // The substitute's own account of the failure lies under the result's text.
        std::vector<String> lines = message.FailureDetail();
        lines.push_back(HResultText(hr));
        clsExcept e(kErrGeneral, lines.front());
        for (size_t i = 1; i < lines.size(); ++i) e.Push(lines[i]);
        throw e;
    }
}

} // namespace

CdoFieldList CdoConfigurationFields(clsConnectionBase &connection) {
    CdoFieldList fields;
    fields.emplace_back(Config(u"sendusing"), cdo::Value::OfInt(2));
    fields.emplace_back(Config(u"smtpconnectiontimeout"),
                        cdo::Value::OfInt(connection.ReadIntOption("SocketTimeout", 10000) / 1000));
    fields.emplace_back(Config(u"smtpserver"), cdo::Value::OfText(connection.ReadTextOption("ServerAddress")));
    fields.emplace_back(Config(u"smtpserverport"), cdo::Value::OfInt(connection.ReadIntOption("ServerPort", 25)));
    fields.emplace_back(Config(u"sendusername"), cdo::Value::OfText(connection.ReadTextOption("ServerUser")));
    fields.emplace_back(Config(u"sendpassword"), cdo::Value::OfText(connection.ReadTextOption("ServerPassword")));
    String proxy = connection.ReadTextOptionA("ProxyAddress");
    if (!proxy.empty())
        fields.emplace_back(Config(u"urlproxyserver"),
                            cdo::Value::OfText(Widen(Format("%s:%d", proxy.c_str(),
                                                            int(connection.ReadIntOption("ProxyPort", 1080))))));
    fields.emplace_back(Config(u"smtpusessl"), cdo::Value::OfBool(connection.ReadBoolOption("UseSSL")));
    String auth = connection.ReadTextOptionA("AuthProtocol");
    int32_t authenticate = EqualsNoCase(auth, "NTLM") ? 2 : EqualsNoCase(auth, "plain") ? 1 : 0;
    fields.emplace_back(Config(u"smtpauthenticate"), cdo::Value::OfInt(authenticate));
    return fields;
}

void CdoSetFields(cdo::Fields &fields, const CdoFieldList &values) {
    try {
        for (const auto &[name, value] : values) {
            std::unique_ptr<cdo::Field> field;
            HRESULT hr = fields.Item(name, field);
            if (FAILED(hr) || !field) Raise("error in CDOFields->get_Item(): '%s'", FAILED(hr) ? hr : E_POINTER);
            hr = field->PutValue(value);
            if (FAILED(hr)) Raise("error in CDOField->put_Value(): '%s'", hr);
        }
        HRESULT hr = fields.Update();
        if (FAILED(hr)) Raise("CDOFields::Update() failed: '%s'", hr);
    } catch (clsExcept &e) {
        e.Push("[SetFields()]");
        throw;
    }
}

void CdoSendMail(cdo::Platform &platform, clsConnectionBase &connection, clsMail &mail) {
    try {
        std::unique_ptr<cdo::Message> message;
        HRESULT hr = platform.CreateMessage(message);
        if (FAILED(hr) || !message) Raise("Can not create CDO message object: %s\n", FAILED(hr) ? hr : E_POINTER);
        std::unique_ptr<cdo::Configuration> configuration;
        hr = platform.CreateConfiguration(configuration);
        if (FAILED(hr) || !configuration)
            Raise("Can not create CDO config object: %s\n", FAILED(hr) ? hr : E_POINTER);

        String source = connection.ReadTextOptionA("ConfigSource");
        if (EqualsNoCase(source, "OutlookExpress")) {
            if (FAILED(configuration->Load(cdo::kSourceOutlookExpress)))
                throw clsExcept(kErrGeneral, "Config->Load(cdoOutlookExpress) failed");
        } else if (EqualsNoCase(source, "IIS")) {
            if (FAILED(configuration->Load(cdo::kSourceIIS)))
                throw clsExcept(kErrGeneral, "Config->Load(cdoIIS) failed");
        } else if (FAILED(configuration->Load(cdo::kSourceDefault))) {
            throw clsExcept(kErrGeneral, "Config->Load(cdoDefault) failed");
        }

        std::unique_ptr<cdo::Fields> fields;
        hr = configuration->GetFields(fields);
        if (FAILED(hr) || !fields) Raise("Config->get_Fields() failed: '%s'", FAILED(hr) ? hr : E_POINTER);
        CdoSetFields(*fields, CdoConfigurationFields(connection));
        fields.reset();

        hr = message->PutConfiguration(*configuration);
        if (FAILED(hr)) Raise("CDOMsg->putref_Configuration() failed: '%s'", hr);
        Compose(*message, mail);
    } catch (clsExcept &e) {
        e.Push("[clsCDOSYSMail::Send()]");
        throw;
    }
}

} // namespace kv
