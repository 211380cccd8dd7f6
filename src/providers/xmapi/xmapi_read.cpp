#include "providers/xmapi/xmapi_read.h"

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "mail/mail.h"
#include "pal/codepage.h"
#include "pal/system.h"

namespace kv {

using namespace xmapi;

String EntryIdText(const std::string &bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    String out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) out += kHex[c >> 4], out += kHex[c & 15];
    return out;
}

std::string EntryIdBytes(const String &text) {
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    if (text.size() % 2) return out;
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return std::string();
        out += char(hi * 16 + lo);
    }
    return out;
}

String MapiTimeText(uint64_t time) {
    // Days and seconds since 1601-01-01, then the civil date of those days.
    const uint64_t seconds = time / 10000000ULL;
    int64_t days = int64_t(seconds / 86400);
    const int secondOfDay = int(seconds % 86400);
    const int weekday = int((days + 1) % 7); // 1601-01-01 was a Monday
    days -= 134774;                          // to 1970-01-01
    // Howard Hinnant's days-to-civil.
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = unsigned(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = int64_t(yoe) + era * 400 + (month <= 2);
    static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return Format("%s, %02u %s %04d %02d:%02d:%02d +0000", kDays[weekday], day, kMonths[month - 1], int(year),
                  secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
}

namespace {

String TextOf(const Prop &p) {
    if (TypeOf(p.tag) == PT_UNICODE) return Narrow(p.text);
    if (TypeOf(p.tag) == PT_STRING8) return p.text8;
    return String();
}

// A string property, empty when the message has none.
String ReadText(MapiProp &object, uint32_t id, const clsXMAPIProps &props) {
    Prop value;
    if (FAILED(props.Read(object, Tag(id, props.StringType()), value))) return String();
    return TextOf(value);
}

const Prop *Column(const std::vector<Prop> &row, uint32_t id) {
    for (const Prop &p : row)
        if (IdOf(p.tag) == id && TypeOf(p.tag) != PT_ERROR) return &p;
    return nullptr;
}

String ColumnText(const std::vector<Prop> &row, uint32_t id) {
    const Prop *p = Column(row, id);
    return p ? TextOf(*p) : String();
}

// "name" <type:address>, with the SMTP address of an Exchange entry appended.
String AddressText(const String &name, const String &type, const String &address, String smtp,
                   const XmapiSmtpLookup &smtpOf) {
    String part = type.empty() ? address : type + ":" + address;
    String text = name.empty() ? part : Format("\"%s\" <%s>", name.c_str(), part.c_str());
    if (!EqualsNoCase(type, "EX")) return text;
    if (smtp.empty() && !address.empty() && smtpOf) smtp = smtpOf(address);
    if (!smtp.empty()) text += Format(" <SMTP:%s>", smtp.c_str());
    return text;
}

} // namespace

void XmapiFillMail(clsMail &mail, ReadMessage &message, bool envelopeOnly, const clsXMAPIProps &props,
                   const XmapiSmtpLookup &smtpOf) {
    mail.GeneratedHeaders().Clear();
    const String senderType = ReadText(message, ID_SENDER_ADDRTYPE, props);
    const String sender = AddressText(ReadText(message, ID_SENDER_NAME, props), senderType,
                                      ReadText(message, ID_SENDER_EMAIL_ADDRESS, props),
                                      EqualsNoCase(senderType, "EX") ? ReadText(message, ID_SMTP_ADDRESS, props)
                                                                     : String(),
                                      smtpOf);
    if (!sender.empty()) mail.SetSenderText(sender);
    mail.SetSubjectText(ReadText(message, ID_SUBJECT, props));
    Prop created;
    if (SUCCEEDED(props.Read(message, Tag(ID_CREATION_TIME, PT_SYSTIME), created)) && created.time)
        mail.GeneratedHeaders().Set("Date", MapiTimeText(created.time));

    std::vector<std::vector<Prop>> rows;
    HRESULT hr = message.RecipientRows(rows);
    if (FAILED(hr))
        throw clsExcept(kErrNotConnected,
                        Format("IMessage::GetRecipientTable() failed: '%s'", HResultText(hr).c_str()));
    mail.To().clear();
    mail.CC().clear();
    for (const auto &row : rows) {
        const Prop *type = Column(row, ID_RECIPIENT_TYPE);
        if (!type || (type->number != 1 && type->number != 2)) continue;
        String text = AddressText(ColumnText(row, ID_DISPLAY_NAME), ColumnText(row, ID_ADDRTYPE),
                                  ColumnText(row, ID_EMAIL_ADDRESS), ColumnText(row, ID_SMTP_ADDRESS), smtpOf);
        (type->number == 1 ? mail.To() : mail.CC()).push_back(text);
    }
    if (envelopeOnly) return;

    mail.Bodies().Clear();
    mail.Attachments().Clear();
    Prop body;
    if (SUCCEEDED(props.Read(message, Tag(ID_BODY, props.StringType()), body))) {
        const bool wide = TypeOf(body.tag) == PT_UNICODE;
        IKvMailBody *created = nullptr;
        if (SUCCEEDED(mail.Bodies().CreateAndAdd(&created, IString("text/plain"), wide ? 65001 : 0)) && created) {
            std::string bytes = wide ? pal::FromWide(body.text, 65001) : body.text8;
            IStream *stream = nullptr;
            if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) && stream) {
                ULONG written = 0;
                if (!bytes.empty()) stream->Write(bytes.data(), ULONG(bytes.size()), &written);
                created->SetContents(stream);
                stream->Release();
            }
            created->Release();
        }
    }
    rows.clear();
    hr = message.AttachmentRows(rows);
    if (FAILED(hr))
        throw clsExcept(kErrNotConnected,
                        Format("IMessage::GetAttachmentTable() failed: '%s'", HResultText(hr).c_str()));
    for (const auto &row : rows) {
        const Prop *number = Column(row, ID_ATTACH_NUM);
        if (!number) continue;
        std::string bytes;
        hr = message.AttachmentData(number->number, bytes);
        if (FAILED(hr))
            throw clsExcept(kErrNotConnected,
                            Format("IAttach::OpenProperty(PR_ATTACH_DATA_BIN) failed: '%s'", HResultText(hr).c_str()));
        IKvMailAttachment *created = nullptr;
        if (FAILED(mail.Attachments().CreateAndAdd(&created)) || !created) continue;
        auto *ours = static_cast<clsMailAttachment *>(created);
        ours->SetNameText(ColumnText(row, ID_ATTACH_FILENAME));
        IStream *stream = nullptr;
        if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) && stream) {
            ULONG written = 0;
            if (!bytes.empty()) stream->Write(bytes.data(), ULONG(bytes.size()), &written);
            ours->SetContentsStream(stream);
            stream->Release();
        }
        created->Release();
    }
    mail.SetState(kMailLoaded);
}

} // namespace kv
