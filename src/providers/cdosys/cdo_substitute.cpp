#include "providers/cdosys/cdo_substitute.h"

#include <map>

#include "mail/arpa_mail.h"
#include "mail/file_source.h"
#include "mime/charset_table.h"
#include "pal/codepage.h"
#include "pal/system.h"
#include "runtime/com_util.h"
#include "providers/smtp/smtp_connection.h"

namespace kv::cdo {

namespace {

// Field names compare without regard to letter case, as the system's do.
struct NoCaseLess {
    bool operator()(const WString &a, const WString &b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
            auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
            return lower(x) < lower(y);
        });
    }
};
using FieldMap = std::map<WString, Value, NoCaseLess>;

bool StartsWithWide(const WString &text, const char16_t *prefix) {
    WString p(prefix);
    return text.size() >= p.size() && !NoCaseLess()(text.substr(0, p.size()), p) &&
           !NoCaseLess()(p, text.substr(0, p.size()));
}

class SubstituteFields;

class SubstituteField final : public Field {
  public:
    SubstituteField(FieldMap &pending, WString name) : pending_(pending), name_(std::move(name)) {}
    HRESULT PutValue(const Value &value) override {
        pending_[name_] = value;
        return S_OK;
    }

  private:
    FieldMap &pending_;
    WString name_;
};

// Values written through Item take effect with Update, as on the system.
class SubstituteFields final : public Fields {
  public:
    SubstituteFields(std::shared_ptr<FieldMap> target, const char16_t *prefix)
        : target_(std::move(target)), prefix_(prefix) {}
    HRESULT Item(const WString &name, std::unique_ptr<Field> &field) override {
        if (!StartsWithWide(name, prefix_)) return E_INVALIDARG;
        field = std::make_unique<SubstituteField>(pending_, name);
        return S_OK;
    }
    HRESULT Update() override {
        for (auto &[name, value] : pending_) (*target_)[name] = value;
        pending_.clear();
        return S_OK;
    }

  private:
    std::shared_ptr<FieldMap> target_;
    const char16_t *prefix_;
    FieldMap pending_;
};

struct PartData {
    std::shared_ptr<FieldMap> fields = std::make_shared<FieldMap>();
    WString mediaType;
    WString charset;
    WString text;
    std::string bytes;
    std::vector<std::unique_ptr<PartData>> children;

    String HeaderText(const char16_t *name) const {
        auto it = fields->find(WString(kMailHeader) + name);
        return it == fields->end() || it->second.kind != Value::Text ? String() : Narrow(it->second.text);
    }
};

class SubstituteStream final : public Stream {
  public:
    explicit SubstituteStream(PartData &part) : part_(part) {}
    HRESULT PutCharset(const WString &charset) override {
        part_.charset = charset;
        return S_OK;
    }
    HRESULT WriteText(const WString &text) override {
        part_.text += text;
        return S_OK;
    }
    HRESULT Write(const uint8_t *bytes, size_t size) override {
        part_.bytes.append(reinterpret_cast<const char *>(bytes), size);
        return S_OK;
    }
    HRESULT LoadFromFile(const WString &path) override {
        std::string bytes;
        WholeFile read = ReadWholeFile(Narrow(path), bytes);
        // 0x80070002: file not found.
        if (read != WholeFile::Read) return read == WholeFile::NotOpened ? HRESULT(0x80070002) : E_FAIL;
        part_.bytes = std::move(bytes);
        return S_OK;
    }
    HRESULT Flush() override { return S_OK; }

  private:
    PartData &part_;
};

class SubstituteBodyPart final : public BodyPart {
  public:
    // `owner` keeps the message's parts alive as long as any handle.
    SubstituteBodyPart(std::shared_ptr<PartData> owner, PartData &part) : owner_(std::move(owner)), part_(part) {}
    HRESULT AddBodyPart(int32_t index, std::unique_ptr<BodyPart> &part) override {
        if (index != -1) return E_INVALIDARG;
        part_.children.push_back(std::make_unique<PartData>());
        part = std::make_unique<SubstituteBodyPart>(owner_, *part_.children.back());
        return S_OK;
    }
    HRESULT GetFields(std::unique_ptr<Fields> &fields) override {
        fields = std::make_unique<SubstituteFields>(part_.fields, kMailHeader);
        return S_OK;
    }
    HRESULT PutContentMediaType(const WString &mediaType) override {
        part_.mediaType = mediaType;
        return S_OK;
    }
    HRESULT PutContentTransferEncoding(const WString &) override { return S_OK; }
    HRESULT GetDecodedContentStream(std::unique_ptr<Stream> &stream) override {
        stream = std::make_unique<SubstituteStream>(part_);
        return S_OK;
    }

  private:
    std::shared_ptr<PartData> owner_;
    PartData &part_;
};

class SubstituteConfiguration final : public Configuration {
  public:
    HRESULT Load(int32_t source) override {
        // There is no stored IIS or Outlook Express configuration to load here.
        return source == kSourceDefault ? S_OK : E_NOTIMPL;
    }
    HRESULT GetFields(std::unique_ptr<Fields> &fields) override {
        fields = std::make_unique<SubstituteFields>(values_, kConfigNamespace);
        return S_OK;
    }
    std::shared_ptr<FieldMap> Values() const { return values_; }

  private:
    std::shared_ptr<FieldMap> values_ = std::make_shared<FieldMap>();
};

// Splits an address list at the commas outside quotes, comments and angle brackets.
std::vector<String> SplitAddresses(const String &list) {
    std::vector<String> out;
    String current;
    bool quoted = false;
    int angle = 0, comment = 0;
    auto flush = [&] {
        size_t b = current.find_first_not_of(" \t"), e = current.find_last_not_of(" \t");
        if (b != String::npos) out.push_back(current.substr(b, e - b + 1));
        current.clear();
    };
    for (size_t i = 0; i < list.size(); ++i) {
        char c = list[i];
        if (quoted) {
            if (c == '\\' && i + 1 < list.size()) current += c, c = list[++i];
            else if (c == '"') quoted = false;
        } else if (c == '"') quoted = true;
        else if (c == '(') ++comment;
        else if (c == ')' && comment) --comment;
        else if (c == '<') ++angle;
        else if (c == '>' && angle) --angle;
        else if ((c == ',' || c == ';') && !angle && !comment) {
            flush();
            continue;
        }
        current += c;
    }
    flush();
    return out;
}

// The value of a parameter in a header text ("attachment; filename=\"a.txt\"").
String ParameterOf(const String &header, const char *name) {
    String lower = ToLower(header);
    String key = String(name) + "=";
    size_t at = lower.find(key);
    if (at == String::npos) return String();
    String value = header.substr(at + key.size());
    if (!value.empty() && value.front() == '"') {
        size_t end = value.find('"', 1);
        return value.substr(1, end == String::npos ? String::npos : end - 1);
    }
    return value.substr(0, value.find(';'));
}

class SubstituteMessage final : public Message {
  public:
    HRESULT PutConfiguration(Configuration &configuration) override {
        auto *ours = dynamic_cast<SubstituteConfiguration *>(&configuration);
        if (!ours) return E_INVALIDARG;
        config_ = ours->Values();
        return S_OK;
    }
    HRESULT PutFrom(const WString &from) override { return Keep(from_, from); }
    HRESULT PutSubject(const WString &subject) override { return Keep(subject_, subject); }
    HRESULT PutTo(const WString &to) override { return Keep(to_, to); }
    HRESULT PutCC(const WString &cc) override { return Keep(cc_, cc); }
    HRESULT PutBCC(const WString &bcc) override { return Keep(bcc_, bcc); }
    HRESULT GetFields(std::unique_ptr<Fields> &fields) override {
        fields = std::make_unique<SubstituteFields>(root_->fields, kMailHeader);
        return S_OK;
    }
    HRESULT GetBodyPart(std::unique_ptr<BodyPart> &root) override {
        root = std::make_unique<SubstituteBodyPart>(root_, *root_);
        return S_OK;
    }
    HRESULT Send() override;
    std::vector<String> FailureDetail() const override { return detail_; }

  private:
    static HRESULT Keep(WString &slot, const WString &value) {
        // A line break would add header lines.
        if (value.find_first_of(u"\r\n") != WString::npos) return E_INVALIDARG;
        slot = value;
        return S_OK;
    }
    const Value *Config(const char16_t *shortName) const {
        if (!config_) return nullptr;
        auto it = config_->find(WString(kConfigNamespace) + shortName);
        return it == config_->end() ? nullptr : &it->second;
    }
    int32_t ConfigInt(const char16_t *shortName, int32_t otherwise) const {
        const Value *v = Config(shortName);
        return v && v->kind == Value::Int ? v->number : otherwise;
    }
    WString ConfigText(const char16_t *shortName) const {
        const Value *v = Config(shortName);
        return v && v->kind == Value::Text ? v->text : WString();
    }
    HRESULT Fail(HRESULT hr, const String &why) {
        detail_ = {why};
        return hr;
    }
    void AddBody(clsMail &mail, const PartData &part);
    void AddAttachment(clsMail &mail, const PartData &part);
    void AddParts(clsMail &mail, const PartData &part);

    std::shared_ptr<FieldMap> config_;
    WString from_, subject_, to_, cc_, bcc_;
    std::shared_ptr<PartData> root_ = std::make_shared<PartData>();
    std::vector<String> detail_;
};

IStream *StreamOf(const std::string &bytes) {
    IStream *stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) return nullptr;
    ULONG written = 0;
    if (!bytes.empty() && FAILED(stream->Write(bytes.data(), ULONG(bytes.size()), &written))) {
        stream->Release();
        return nullptr;
    }
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

void SubstituteMessage::AddBody(clsMail &mail, const PartData &part) {
    String mediaType = Narrow(part.mediaType.substr(0, part.mediaType.find(u';')));
    while (!mediaType.empty() && mediaType.back() == ' ') mediaType.pop_back();
    if (mediaType.empty()) mediaType = "text/plain";
    uint32_t codepage = part.charset.empty() ? 65001 : CodePageForCharset(Narrow(part.charset));
    clsAutoRelease<IKvMailBody> body;
    if (FAILED(mail.Bodies().CreateAndAdd(body.put(), IString(mediaType), codepage)) || !body)
        throw clsExcept(kErrGeneral, "body could not be created");
    std::string bytes = part.text.empty() ? part.bytes : pal::FromWide(part.text, codepage);
    clsAutoRelease<IStream> stream(StreamOf(bytes));
    if (!stream || FAILED(body->SetContents(stream.get())))
        throw clsExcept(kErrGeneral, "body text could not be stored");
}

void SubstituteMessage::AddAttachment(clsMail &mail, const PartData &part) {
    String name = ParameterOf(part.HeaderText(u"content-disposition"), "filename");
    clsAutoRelease<IKvMailAttachment> attachment;
    if (FAILED(mail.Attachments().CreateAndAdd(attachment.put())) || !attachment)
        throw clsExcept(kErrGeneral, "attachment could not be created");
    auto *ours = static_cast<clsMailAttachment *>(attachment.get());
    ours->SetNameText(name);
    clsAutoRelease<IStream> stream(StreamOf(part.bytes));
    if (!stream) throw clsExcept(kErrGeneral, "attachment content could not be stored");
    ours->SetContentsStream(stream.get());
}

void SubstituteMessage::AddParts(clsMail &mail, const PartData &part) {
    String type = part.HeaderText(u"content-type");
    if (StartsWithNoCase(type, "multipart/")) {
        for (const auto &child : part.children) AddParts(mail, *child);
        return;
    }
    if (StartsWithNoCase(part.HeaderText(u"content-disposition"), "attachment")) {
        AddAttachment(mail, part);
        return;
    }
    if (!part.mediaType.empty()) AddBody(mail, part);
    // A single body in the root: the attachments are its children.
    for (const auto &child : part.children) AddParts(mail, *child);
}

HRESULT SubstituteMessage::Send() {
    detail_.clear();
    if (!config_) return Fail(E_INVALIDARG, "no configuration given to the message");
    if (ConfigInt(u"sendusing", 0) != 2) return Fail(E_INVALIDARG, "only sending through an SMTP port is possible here");
    const int32_t authenticate = ConfigInt(u"smtpauthenticate", 0);
    if (authenticate == 2) return Fail(E_NOTIMPL, "NTLM authentication is not available here");

    clsAutoRelease<clsSMTPMailConnection> smtp(new (std::nothrow) clsSMTPMailConnection(), true);
    if (!smtp) return E_OUTOFMEMORY;
    smtp->WriteTextOption("ServerAddress", ConfigText(u"smtpserver"));
    const int32_t port = ConfigInt(u"smtpserverport", 25);
    smtp->WriteIntOption("ServerPort", port);
    const int32_t seconds = ConfigInt(u"smtpconnectiontimeout", 30);
    smtp->WriteIntOption("SocketTimeout", (seconds > 0 ? seconds : 1) * 1000);
    if (authenticate == 1) {
        smtp->WriteTextOption("ServerUser", ConfigText(u"sendusername"));
        smtp->WriteTextOption("ServerPassword", ConfigText(u"sendpassword"));
    }
    const Value *ssl = Config(u"smtpusessl");
    if (ssl && ssl->kind == Value::Bool && ssl->flag) smtp->WriteTextOption("TLSMode", port == 465 ? u"implicit" : u"starttls");

    clsAutoRelease<IKvMail> created;
    HRESULT hr = smtp->CreateMail(65001, OLESTR(""), created.put());
    clsAutoRelease<clsArpaMail> mail;
    if (SUCCEEDED(hr)) hr = created->QueryInterface(IID_clsArpaMail, reinterpret_cast<void **>(mail.put()));
    if (FAILED(hr) || !mail) return Fail(FAILED(hr) ? hr : E_FAIL, "the mail could not be created");
    try {
        mail->SetSenderText(Narrow(from_));
        mail->SetSubjectText(Narrow(subject_));
        for (const String &a : SplitAddresses(Narrow(to_))) mail->To().push_back(a);
        for (const String &a : SplitAddresses(Narrow(cc_))) mail->CC().push_back(a);
        for (const String &a : SplitAddresses(Narrow(bcc_))) mail->BCC().push_back(a);
        AddParts(*mail.get(), *root_);
    } catch (const clsExcept &e) {
        detail_ = e.Messages();
        return E_FAIL;
    }
    if (mail->To().empty() && mail->CC().empty() && mail->BCC().empty()) return Fail(E_INVALIDARG, "the message has no recipient");

    hr = smtp->Connect();
    if (SUCCEEDED(hr)) {
        hr = smtp->Send(mail->Interface());
        if (FAILED(hr)) detail_ = smtp->ErrorMessages();
        smtp->Disconnect();
    } else {
        detail_ = smtp->ErrorMessages();
    }
    return hr;
}

} // namespace

HRESULT SubstitutePlatform::CreateMessage(std::unique_ptr<Message> &message) {
    message = std::make_unique<SubstituteMessage>();
    return S_OK;
}

HRESULT SubstitutePlatform::CreateConfiguration(std::unique_ptr<Configuration> &configuration) {
    configuration = std::make_unique<SubstituteConfiguration>();
    return S_OK;
}

} // namespace kv::cdo
