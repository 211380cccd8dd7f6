// The message reader: the head of a message or part, multipart recursion,
// and the decision whether a single part becomes a body or an attachment.
#include "mail/reader.h"

#include <cstring>
#include <map>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <utility>
#include <vector>

#include "runtime/except.h"
#include "mail/mail.h"
#include "mime/charset_table.h"
#include "mime/base64.h"
#include "mime/quoted_printable.h"
#include "mime/header_words.h"
#include "mime/address_field.h"
#include "mime/header_field.h"
#include "runtime/com_util.h"

namespace kv {

namespace {

// Deep enough for any real message, shallow enough for the stack.
constexpr int kMaxDepth = 64;

// A header field as it stands: its name and the pieces of its value (the
// rest of the first line, then each continuation line), in the text.
struct clsRawField {
    std::string_view name;
    std::vector<std::string_view> pieces;
};

// A field line has a name before its colon without blanks or controls in it
// (blanks around the name are allowed).
bool IsFieldLine(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    for (unsigned char c : TrimView(line.substr(0, colon)))
        if (c <= ' ' || c == 0x7F) return false;
    return true;
}

// An mbox envelope line ("From someone@example.org Wed Oct  4 10:00:00 2006"),
// which mbox files and archives put before each message.
bool IsEnvelopeLine(std::string_view line) { return line.substr(0, 5) == "From " && !IsFieldLine(line); }

// Whether the line after the cursor still belongs to a head.
bool NextIsHeadLine(clsLineCursor cursor) {
    std::string_view line;
    if (!cursor.Next(line) || line.empty()) return false;
    return line[0] == ' ' || line[0] == '\t' || IsFieldLine(line) || IsEnvelopeLine(line);
}

// The head's fields; the text is left at the first line of the body. The
// message's own head (top) passes over envelope lines: the first line, or
// one among the fields (and its continuation lines), as Python's reader does.
std::vector<clsRawField> TakeHeaderLines(clsLineText &part, bool top) {
    std::vector<clsRawField> fields;
    clsLineCursor cursor(part);
    size_t bodyStart = part.text.size();
    bool skipping = false; // continuation lines of a passed envelope line
    for (bool first = true;; first = false) {
        size_t lineStart = cursor.Position();
        std::string_view line;
        if (!cursor.Next(line)) break;
        if (line.empty()) {
            bodyStart = cursor.Position();
            break;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            // A continuation before any field has nothing to continue.
            if (!fields.empty() && !skipping) fields.back().pieces.push_back(line);
            continue;
        }
        if (top && IsEnvelopeLine(line) && (first || NextIsHeadLine(cursor))) {
            skipping = true;
            continue;
        }
        skipping = false;
        // A head whose empty line is missing ends at the first line that is
        // no field; that line is the first of the body, as RFC 5322 readers take it.
        if (!IsFieldLine(line)) {
            bodyStart = lineStart;
            break;
        }
        size_t colon = line.find(':');
        clsRawField field;
        field.name = TrimView(line.substr(0, colon));
        field.pieces.push_back(line.substr(colon + 1));
        fields.push_back(std::move(field));
    }
    part.text.remove_prefix(bodyStart);
    return fields;
}

// Unstructured text: encoded words decoded (into the code page), each run of
// blanks reduced to one blank (a CR or LF counts as a blank), except inside
// quoted strings, comments and angle brackets, where the tokenizer of
// structured fields keeps them too. Backslashes and other controls stay.
String UnstructuredText(std::string_view value, uint32_t codepage) {
    String decoded = DecodeEncodedWords(value, codepage);
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    String out;
    out.reserve(decoded.size());
    char close = 0; // what ends the quoted string, comment or angle address we are in
    for (size_t i = 0; i < decoded.size(); ++i) {
        char c = decoded[i];
        if (close) {
            out += c == '\r' || c == '\n' ? ' ' : c;
            if (c == '\\' && close != '>' && i + 1 < decoded.size()) {
                char next = decoded[++i];
                out += next == '\r' || next == '\n' ? ' ' : next;
            } else if (c == close) {
                close = 0;
            }
            continue;
        }
        if (blank(c)) {
            out += ' ';
            while (i + 1 < decoded.size() && blank(decoded[i + 1])) ++i;
            continue;
        }
        close = c == '"' ? '"' : c == '(' ? ')' : c == '<' ? '>' : 0;
        out += c;
    }
    return out;
}

// The field's value unfolded and decoded: a structured field as the text of
// its tokens (blank runs reduced to one blank), any other as text.
String FieldValue(const clsRawField &field, uint32_t codepage) {
    String joined;
    std::string_view value = field.pieces.empty() ? std::string_view() : field.pieces[0];
    if (field.pieces.size() > 1) {
        for (std::string_view piece : field.pieces) joined += piece;
        value = joined;
    }
    String text = IsStructuredField(field.name) ? GetFieldText(ParseAddressField(value, codepage))
                                                : UnstructuredText(value, codepage);
    // The blank after the colon separates; it is no part of the value.
    return String(TrimView(text));
}

// Repeated fields of one name become further values of one item, in order.
clsHeaderList MakeHeaderBlock(const std::vector<clsRawField> &fields, uint32_t codepage) {
    std::vector<clsHeaderItem> items;
    std::map<IString, size_t> index;
    for (const clsRawField &field : fields) {
        String value = FieldValue(field, codepage);
        auto found = index.emplace(IString(field.name), items.size());
        if (found.second) items.emplace_back(IString(field.name));
        items[found.first->second].values.push_back(std::move(value));
    }
    clsHeaderList block;
    for (clsHeaderItem &item : items) block.Append(std::move(item));
    return block;
}

// A field given twice: the first one counts, as for every reader of mail.
String Value(const clsHeaderList &block, std::string_view name) {
    const clsHeaderItem *item = block.Find(name);
    return item && !item->values.empty() ? item->values.front() : String();
}

// The charset a message head names for its text, read before the head is
// decoded so that encoded words can be decoded into that charset.
String HeadCharset(const std::vector<clsRawField> &fields) {
    for (const clsRawField &field : fields) {
        if (!EqualsNoCase(field.name, "Content-Type")) continue;
        clsHeaderField type = ParseHeaderField(FieldValue(field, 0));
        auto it = type.parameters.find(IString("charset"));
        return it == type.parameters.end() ? String() : it->second;
    }
    return String();
}

// Whether the value, read as a decimal number, is 1.0. A leading comment
// is passed over.
bool IsMimeVersionOne(std::string_view value) {
    value = TrimView(value);
    if (!value.empty() && value[0] == '(') {
        size_t close = value.find(')');
        value = close == std::string_view::npos ? std::string_view() : TrimView(value.substr(close + 1));
    }
    size_t i = 0;
    unsigned long whole = 0;
    bool digits = false;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
        if (whole < 1000) whole = whole * 10 + unsigned(value[i] - '0');
        digits = true;
        ++i;
    }
    if (i < value.size() && value[i] == '.') {
        ++i;
        while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
            if (value[i] != '0') return false;
            digits = true;
            ++i;
        }
    }
    return digits && whole == 1;
}

// Decodes the lines by the transfer encoding (named without regard to case,
// as RFC 2045 has it). Lines in any other encoding are kept as they are:
// dot-unstuffing is the POP3 transport's work, not the reader's.
void DecodeLines(clsLineText lines, std::string_view encoding, bool utf8Allowed, IStream *destination) {
    clsOutputTarget target(pal::kInvalidFile, destination);
    encoding = TrimView(encoding);
    bool base64 = EqualsNoCase(encoding, "base64");
    // Room for the decoded bytes at once (only lone CRs or LFs, which become
    // CR LF, make them more than the text and its last line end), so a large
    // body is not copied again each time its stream grows.
    ULARGE_INTEGER size;
    size.QuadPart = base64 ? lines.text.size() / 4 * 3 + 3 : lines.text.size() + 2;
    LARGE_INTEGER zero{};
    bool sized = SUCCEEDED(destination->SetSize(size)) && SUCCEEDED(destination->Seek(zero, STREAM_SEEK_SET, nullptr));
    // Cut back to what was written, also when decoding fails halfway.
    struct Trim {
        IStream *stream;
        bool sized;
        ~Trim() {
            if (!sized) return;
            LARGE_INTEGER none{};
            ULARGE_INTEGER end{};
            if (SUCCEEDED(stream->Seek(none, STREAM_SEEK_CUR, &end))) stream->SetSize(end);
        }
    } trim{destination, sized};
    // A memory stream is filled in place (and closed before it is cut back).
    pal::clsStreamWindow window;
    if (sized && window.Open(destination)) target.WriteInPlace(&window);
    if (base64) DecodeBase64Lines(lines, target);
    else if (EqualsNoCase(encoding, "quoted-printable")) DecodeQuotedPrintableLines(lines, target);
    else if (utf8Allowed && EqualsNoCase(encoding, "UTF-8")) DecodeUtf8Lines(lines, target);
    else WriteLinesCrLf(lines, target);
}

void MakeBody(clsMail &mail, const clsHeaderList &block, clsLineText lines) {
    clsHeaderField type = ParseHeaderField(Value(block, "Content-Type"));
    IString mediaType = type.value.empty() ? IString("text/plain") : type.value;
    String encoding = block.Find("Content-Transfer-Encoding") ? Value(block, "Content-Transfer-Encoding") : "7bit";
    if (StartsWithNoCase(mediaType, "multipart/") && !EqualsNoCase(mediaType, "multipart/related"))
        throw clsExcept(kErrGeneral,
                        "Sorry, but attachments to alternative messages may not be 'multipart/...' for this DLL!");
    clsMailBody *body = clsMailBody::Create(mediaType, 0);
    if (!body) throw clsExcept(kErrGeneral, "cannot create a body");
    mail.Bodies().Append(body);
    auto charset = type.parameters.find(IString("charset"));
    body->SetCharset(charset == type.parameters.end() ? String() : charset->second);
    body->Headers() = block;
    DecodeLines(lines, encoding, true, body->Contents());
}

bool EndsSoft(std::string_view line) { return codec::QpEndsInSoftBreak(line.data(), line.size()); }

void MakeAttachment(clsMailAttachmentList &list, const clsHeaderList &block, clsLineText lines,
                    uint32_t codepage, bool beforeDelimiter) {
    clsHeaderField type = ParseHeaderField(Value(block, "Content-Type"), codepage);
    IStream *contents = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &contents))) throw clsExcept(kErrGeneral, "cannot create a stream");
    clsMailAttachment *attachment = new clsMailAttachment();
    list.Append(attachment);
    attachment->SetContentsStream(contents);
    contents->Release();
    auto name = type.parameters.find(IString("name"));
    // Many mailers name a file only in its disposition.
    clsHeaderField disposition;
    if (name == type.parameters.end()) {
        disposition = ParseHeaderField(Value(block, "Content-Disposition"), codepage);
        name = disposition.parameters.find(IString("filename"));
    }
    if (name != type.parameters.end() && name != disposition.parameters.end())
        // Names are kept in the ANSI code page.
        attachment->SetNameText(codepage == 0 ? name->second : Narrow(Widen(name->second, codepage), 0));
    if (block.Find("Content-ID")) attachment->SetContentId(Value(block, "Content-ID"));
    attachment->Headers() = block;
    String encoding = Value(block, "Content-Transfer-Encoding");
    // The line end before a delimiter belongs to the delimiter (RFC 2046): a
    // file must come back with the bytes it was sent with, not two more.
    bool lastBreakIsHard = beforeDelimiter && !lines.text.empty() && !EqualsNoCase(TrimView(encoding), "base64") &&
                           !(EqualsNoCase(TrimView(encoding), "quoted-printable") && EndsSoft(LastLine(lines)));
    DecodeLines(lines, encoding, false, contents);
    if (lastBreakIsHard) {
        ULARGE_INTEGER size;
        size.QuadPart = StreamSize(contents);
        if (size.QuadPart >= 2) {
            size.QuadPart -= 2;
            contents->SetSize(size);
        }
    }
}

void ReadPart(clsMail &mail, clsLineText lines, int depth, uint32_t flags, int partIndex) {
    if (depth > kMaxDepth)
        throw clsExcept(kErrGeneral, Format("unexpected nesting of more than %d multipart levels", kMaxDepth));

    std::vector<clsRawField> fields = TakeHeaderLines(lines, depth == 0);
    String headCharset = depth == 0 ? HeadCharset(fields) : String();
    uint32_t codepage = headCharset.empty() ? 0 : CodePageForCharset(headCharset);
    clsHeaderList block = MakeHeaderBlock(fields, codepage);
    fields.clear();

    if (depth == 0) {
        mail.GeneratedHeaders() = block;
        mail.SetHeadersReusable(true);
        mail.SetSenderText(Value(block, "From"));
        mail.SetSubjectText(Value(block, "Subject"));
        auto recipients = [&](const char *name) {
            std::vector<String> list;
            if (const clsHeaderItem *item = block.Find(name))
                for (const String &value : item->values)
                    for (String &address : SplitAddressList(value)) list.push_back(std::move(address));
            return list;
        };
        mail.To() = recipients("To");
        if (block.Find("CC")) mail.CC() = recipients("CC");
        if (const clsHeaderItem *version = block.Find("MIME-Version")) {
            if (!IsMimeVersionOne(version->Joined()))
                throw clsExcept(kErrGeneral, "unexpected MIME version " + version->Joined());
        }
    }

    String contentType = Value(block, "Content-Type");
    clsHeaderField type = ParseHeaderField(contentType, codepage);
    bool multipart = StartsWithNoCase(type.value, "multipart/");
    bool alternative = EqualsNoCase(type.value, "multipart/alternative");
    bool related = EqualsNoCase(type.value, "multipart/related");
    String delimiter;
    if (multipart) {
        auto boundary = type.parameters.find(IString("boundary"));
        if (boundary == type.parameters.end() || boundary->second.empty())
            throw clsExcept(kErrGeneral, Format("unexpected empty boundary in '%s'", contentType.c_str()));
        delimiter = "--" + boundary->second;
    }

    if (depth == 0) {
        mail.SetCharset(headCharset);
        String suffix = ":" + Value(block, "Message-ID");
        const String &cookie = mail.Cookie();
        // A listed mail that is loaded later is read twice; one suffix is enough.
        if (cookie.size() < suffix.size() || cookie.compare(cookie.size() - suffix.size(), suffix.size(), suffix) != 0)
            mail.SetCookie(cookie + suffix);
    }
    if (flags & kReadHeadersOnly) return;
    mail.SetState(kMailLoaded);

    if (multipart) {
        uint32_t childFlags = flags | (related ? kReadInRelated : alternative ? kReadInAlternative : 0u);
        // Only a whole line equal to the delimiter (blanks after it allowed)
        // counts, so it is compared only where a line starts with "-" (work
        // bounded by the text's length, however long the boundary); the
        // search skips the parts' contents instead of looking at each of
        // their lines. A delimiter with a line end in it matches no line.
        std::string_view text = lines.text;
        bool usable = delimiter.find_first_of("\r\n") == String::npos;
        size_t partStart = 0;
        bool seen = false;
        int index = 0;
        for (const char *p = text.data(), *end = p + text.size(); usable && p < end; ++p) {
            p = static_cast<const char *>(std::memchr(p, '-', size_t(end - p)));
            if (!p) break;
            size_t hit = size_t(p - text.data());
            if (!IsLineStart(lines, hit) || text.compare(hit, delimiter.size(), delimiter) != 0) continue;
            size_t after = hit + delimiter.size();
            bool close = text.compare(after, 2, "--") == 0;
            if (close) after += 2;
            // Blanks may pad a delimiter line (RFC 2046).
            while (after < text.size() && (text[after] == ' ' || text[after] == '\t')) ++after;
            if (!IsLineEnd(lines, after)) continue;
            if (seen) ReadPart(mail, {text.substr(partStart, hit - partStart), lines.crlfOnly}, depth + 1, childFlags, index++);
            seen = true;
            if (close) return; // the epilogue
            partStart = SkipLineEnd(lines, after);
            p = text.data() + partStart - 1;
        }
        // A multipart cut off before its closing delimiter still has its last part.
        if (seen) ReadPart(mail, {text.substr(partStart), lines.crlfOnly}, depth + 1, childFlags, index);
        return;
    }

    clsHeaderField disposition = ParseHeaderField(Value(block, "Content-Disposition"));
    bool attachmentOrInline = EqualsNoCase(disposition.value, "attachment") || EqualsNoCase(disposition.value, "inline");
    clsMailBodyList &bodies = mail.Bodies();
    if (flags & kReadInRelated) {
        if (partIndex == 0 || bodies.Empty()) MakeBody(mail, block, lines);
        else MakeAttachment(bodies.Last()->Attachments(), block, lines, codepage, depth > 0);
    } else if (flags & kReadInAlternative) {
        if (!attachmentOrInline) MakeBody(mail, block, lines);
        else MakeAttachment(bodies.Empty() ? mail.Attachments() : bodies.Last()->Attachments(), block, lines, codepage, depth > 0);
    } else {
        if (bodies.Empty() && !attachmentOrInline) MakeBody(mail, block, lines);
        else MakeAttachment(mail.Attachments(), block, lines, codepage, depth > 0);
    }
}

// The raw text is the lines, each ended by CR LF.
void KeepRawText(clsMail &mail, clsLineText lines) {
    clsFileRWTemp &raw = mail.RawText();
    raw.Truncate();
    std::string_view text = lines.text;
    if (lines.crlfOnly ? text.size() >= 2 && text.substr(text.size() - 2) == "\r\n" : IsRawForm(text)) {
        // A copy in memory costs less than making a file for every mail read.
        if (text.size() <= raw.MemoryLimit()) {
            clsMemoryBlock block;
            ResizeBlock(block, text.size());
            std::memcpy(block.get(), text.data(), text.size());
            raw.KeepInMemory(std::move(block), text.size());
            return;
        }
        raw.Handle();
        raw.Write(text);
        return;
    }
    raw.Handle();
    ForEachCrLfRun(lines, [&](const char *data, size_t size) { raw.Write(data, size); });
}

void ReadWithTrace(clsMail &mail, clsLineText lines, int depth, uint32_t flags, int partIndex) {
    try {
        if (depth == 0 && !(flags & kReadRawTextKept)) KeepRawText(mail, lines);
        ReadPart(mail, lines, depth, flags, partIndex);
    } catch (clsExcept &e) {
        e.Push("[ReadMail()]");
        throw;
    }
}

} // namespace

void clsTextScan::Feed(const char *data, size_t size) {
    if (size == 0) return;
    // An LF where, and only where, a CR stands before it.
    size_t i = 0;
    bool afterCR = lastCR_;
#if defined(__SSE2__)
    if (raw_) {
        const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
        unsigned carry = afterCR ? 1u : 0u;
        for (; i + 16 <= size; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
            unsigned crs = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
            unsigned lfs = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
            if ((((crs << 1) | carry) & 0xFFFFu) != lfs) {
                raw_ = false;
                break;
            }
            carry = crs >> 15;
        }
        if (i > 0) afterCR = data[i - 1] == '\r';
    }
#endif
    for (; raw_ && i < size; ++i) {
        if ((data[i] == '\n') != afterCR) raw_ = false;
        afterCR = data[i] == '\r';
    }
    empty_ = false;
    lastCR_ = data[size - 1] == '\r';
    lastLF_ = data[size - 1] == '\n';
}

bool IsRawForm(std::string_view text) {
    clsTextScan scan;
    scan.Feed(text.data(), text.size());
    return scan.RawForm();
}

void ReadMail(clsMail &mail, std::string_view text, uint32_t flags) {
    ReadWithTrace(mail, {text, (flags & kReadJoinedLines) != 0}, 0, flags & ~uint32_t(kReadJoinedLines), 0);
}

void ReadMail(clsMail &mail, std::deque<String> &lines, int depth, uint32_t flags, int partIndex) {
    size_t size = 0;
    for (const String &line : lines) size += line.size() + 2;
    String text;
    text.reserve(size);
    while (!lines.empty()) {
        text += lines.front();
        text += "\r\n";
        lines.pop_front();
    }
    ReadWithTrace(mail, {text, true}, depth, flags, partIndex);
}

} // namespace kv
