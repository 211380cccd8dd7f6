// The MIME message writer: the mail's head, its multipart structure and the
// encoded bodies and attachments, streamed block by block into the raw text.
#include "mail/writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "runtime/except.h"
#include "mail/mail.h"
#include "mime/charset_table.h"
#include "mime/base64.h"
#include "mime/quoted_printable.h"
#include "pal/memory.h"
#include "pal/system.h"
#include "pal/temp_file.h"
#include "runtime/com_util.h"

namespace kv {

namespace {

constexpr size_t kBlock = 64 * 1024;

// The rendered text, built in one block of memory and handed to the raw text
// whole; the encoders write straight into the block. A text that outgrows
// what the raw text keeps in memory goes on to the file in large writes.
class clsRawTextOut {
  public:
    explicit clsRawTextOut(clsFileRWTemp &file) : file_(file) {}
    // Room for n more bytes at the end; Commit says how many were used.
    char *Room(size_t n) {
        if (capacity_ - size_ < n) MakeRoom(n);
        if (size_ + n > prepared_) Prepare(size_ + n);
        return block_.get() + size_;
    }
    void Commit(size_t n) { size_ += n; }
    void Put(std::string_view text) {
        if (text.empty()) return;
        std::memcpy(Room(text.size()), text.data(), text.size());
        size_ += text.size();
    }
    void Line(std::string_view text = {}) {
        char *p = Room(text.size() + 2);
        if (!text.empty()) std::memcpy(p, text.data(), text.size());
        p[text.size()] = '\r';
        p[text.size() + 1] = '\n';
        size_ += text.size() + 2;
    }
    // Room for the whole text at once, so the block is not copied as it
    // grows; the pages are used only as they are written.
    void Reserve(size_t size) {
        if (size > capacity_ && size <= file_.MemoryLimit()) Resize(size);
    }
    // Everything written becomes the raw text.
    void Finish() {
        if (toFile_) {
            Flush();
            return;
        }
        // The room the estimate left over goes back.
        if (capacity_ - size_ > kFileBlock) Resize(size_);
        file_.KeepInMemory(std::move(block_), size_);
        size_ = capacity_ = prepared_ = 0;
    }
    // Encoding buffers, made once per rendering: a message of thousands of
    // small parts must not allocate and clear them for every part.
    std::vector<uint8_t> &In(size_t size) {
        if (in_.size() < size) in_.resize(size);
        return in_;
    }

  private:
    void Flush() {
        file_.Write(block_.get(), size_);
        size_ = 0;
    }
    void Resize(size_t capacity) {
        ResizeBlock(block_, capacity);
        capacity_ = capacity;
        prepared_ = std::min(prepared_, capacity_);
    }
    // The pages a little ahead of what is written, mapped in one go.
    void Prepare(size_t upTo) {
        size_t end = std::min(capacity_, upTo + kPrepareAhead);
        pal::PrefaultPages(block_.get() + prepared_, end - prepared_);
        prepared_ = end;
    }
    void MakeRoom(size_t n) {
        if (!toFile_ && size_ + n > file_.MemoryLimit()) {
            // Too large to keep in memory: from here on through the file.
            file_.Truncate();
            Flush();
            toFile_ = true;
            Resize(std::max(n, kFileBlock));
            prepared_ = capacity_; // used over and over
            return;
        }
        if (toFile_) {
            Flush();
            if (capacity_ < n) Resize(n);
            return;
        }
        Resize(std::max(size_ + n, std::max(2 * capacity_, kBlock)));
    }

    static constexpr size_t kFileBlock = 1 << 20;
    // Near enough that the pages just cleared are still in the cache when written.
    static constexpr size_t kPrepareAhead = 256 << 10;
    clsFileRWTemp &file_;
    clsMemoryBlock block_;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t prepared_ = 0;
    bool toFile_ = false;
    std::vector<uint8_t> in_;
};

// One header field. Line breaks inside the value that do not start a
// continuation would end the head early: each becomes a folded line.
void WriteField(clsRawTextOut &out, std::string_view name, std::string_view value) {
    // At most three more bytes for each byte of the value.
    char *start = out.Room(name.size() + 2 + 3 * value.size() + 2);
    char *o = start;
    if (!name.empty()) std::memcpy(o, name.data(), name.size());
    o += name.size();
    *o++ = ':';
    *o++ = ' ';
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c != '\r' && c != '\n') {
            *o++ = c;
            continue;
        }
        if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
        *o++ = '\r';
        *o++ = '\n';
        if (i + 1 >= value.size() || (value[i + 1] != ' ' && value[i + 1] != '\t')) *o++ = ' ';
    }
    *o++ = '\r';
    *o++ = '\n';
    out.Commit(size_t(o - start));
}

void WriteHeaderList(clsRawTextOut &out, const clsHeaderList &list) {
    for (const clsHeaderItem &item : list)
        for (const String &value : item.values) WriteField(out, item.name, value);
}

uint32_t TimeLow32() { return uint32_t(uint64_t(std::time(nullptr))); }

unsigned RandomUpTo32767() {
    static std::minstd_rand generator(uint32_t(pal::TickCountMs() ^ pal::CycleCounter()));
    return unsigned(generator() % 32768);
}

bool IsPlain(const clsMailBody &body) { return EqualsNoCase(body.MediaType(), "text/plain"); }
bool IsHtml(const clsMailBody &body) { return EqualsNoCase(body.MediaType(), "text/html"); }

bool HasWrappedAttachments(const clsMailBody &body) {
    for (const clsMailAttachment *a : body.Attachments())
        if (a->ContentId().empty()) return true;
    return false;
}

String BodyCharset(const clsMailBody &body) {
    // A received body may have no charset: its text is in the ANSI code page.
    return body.Charset().empty() ? CharsetForCodePage(0) : body.Charset();
}

// Reads the stream from its start in blocks.
template <typename Fn> void ForEachBlock(IStream *stream, Fn &&fn) {
    LARGE_INTEGER zero{};
    if (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr)))
        throw clsExcept(kErrGeneral, "cannot seek in the body contents");
    std::vector<char> block(kBlock);
    clsBodySource source(pal::kInvalidFile, stream);
    for (;;) {
        size_t n = source.Read(block.data(), block.size());
        if (n == 0) break;
        fn(block.data(), n);
        if (n < block.size()) break;
    }
}

// Whether a byte of 0x80 or above occurs, and whether a line is longer than
// 78 characters (CR and LF each end a line).
struct clsTextShape {
    bool eightBit = false;
    bool longLine = false;
};

clsTextShape ShapeOf(IStream *contents) {
    clsTextShape shape;
    size_t line = 0;
    ForEachBlock(contents, [&](const char *p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            unsigned char c = static_cast<unsigned char>(p[i]);
            if (c == '\r' || c == '\n') {
                line = 0;
                continue;
            }
            if (c >= 0x80) shape.eightBit = true;
            if (++line > 78) shape.longLine = true;
        }
    });
    return shape;
}

const String &RelatedBoundary(clsMailBody &body) {
    if (body.RelatedBoundary().empty())
        body.SetRelatedBoundary(Format("%08x.%08x", unsigned(uint32_t(pal::TickCountMs())), unsigned(TimeLow32())) +
                                ".Related");
    return body.RelatedBoundary();
}

// The body's part header into the list (cleared first).
void BuildBodyHeader(clsMailBody &body, clsHeaderList &list, bool inner, bool sevenBit) {
    list.Clear();
    const String &boundary = RelatedBoundary(body);
    String contentType = Format("%s; charset=\"%s\"", body.MediaType().c_str(), BodyCharset(body).c_str());
    // Any body with related parts needs the related wrapper: a plain text
    // header over MIME parts would show them as text.
    if (!inner && body.HasRelatedAttachments()) {
        list.Set("Content-Type", Format("multipart/related;\r\n boundary=\"%s\"", boundary.c_str()));
        return;
    }
    if (IsPlain(body)) {
        clsTextShape shape = ShapeOf(body.Contents());
        list.Set("Content-Type", contentType);
        list.Set("Content-Transfer-Encoding", shape.longLine || (shape.eightBit && sevenBit)
                                                  ? String("quoted-printable")
                                                  : Format("%dbit", shape.eightBit ? 8 : 7));
    } else if (IsHtml(body)) {
        list.Set("Content-Type", contentType);
        list.Set("Content-Transfer-Encoding", "quoted-printable");
    } else {
        list.Set("Content-Type", contentType);
        list.Set("Content-Transfer-Encoding", "base64");
    }
}

// Where a content stands: the message's only part, or a part that a
// delimiter line follows (whose CR LF belongs to the delimiter).
enum class Place { Single, InMultipart };

// Quoted-printable that gives back exactly the bytes it was given: content
// that does not end in a line break ends in a soft line break, so the line
// end that follows adds nothing.
void EncodeQuotedPrintableBody(clsRawTextOut &out, const clsBodySource &source) {
    std::vector<uint8_t> &in = out.In(kBlock + 2);
    codec::QpEncoder state;
    size_t carried = 0;
    uint8_t last[2] = {0, 0};
    size_t total = 0;
    for (;;) {
        size_t n = source.Read(in.data() + carried, kBlock);
        size_t available = carried + n;
        bool final = n < kBlock;
        if (n >= 2) {
            last[0] = in[available - 2];
            last[1] = in[available - 1];
        } else if (n == 1) {
            last[0] = last[1];
            last[1] = in[available - 1];
        }
        total += n;
        size_t consumed = 0;
        char *encoded = out.Room(codec::QpEncodeMaxLength(available) + 1);
        size_t written = codec::QpEncodeStep(state, in.data(), available, final, encoded, &consumed);
        if (final && total > 0 && !(total >= 2 && last[0] == '\r' && last[1] == '\n') && written >= 2 &&
            encoded[written - 2] == '\r' && encoded[written - 1] == '\n') {
            encoded[written - 2] = '=';
            encoded[written - 1] = '\r';
            encoded[written] = '\n';
            ++written;
        }
        out.Commit(written);
        if (final) break;
        carried = available - consumed;
        std::memmove(in.data(), in.data() + consumed, carried);
    }
}

// Base64 lines of 76 characters; whole lines per block, so only the very
// last line can be short.
void EncodeBase64Body(clsRawTextOut &out, const clsBodySource &source) {
    constexpr size_t kLinesBlock = codec::kBase64LineBytes * 1024;
    std::vector<uint8_t> &in = out.In(kLinesBlock);
    for (;;) {
        size_t n = source.Read(in.data(), kLinesBlock);
        if (n == 0) break;
        out.Commit(codec::Base64EncodeLines(in.data(), n, out.Room(codec::Base64LinesMaxLength(n))));
        if (n < kLinesBlock) break;
    }
}

// 7bit and 8bit: the bytes as they are, with every line end made CR LF (the
// text goes to SMTP unchanged) and a "." at the start of a line doubled.
// Returns whether the content ended in a line end.
bool WriteDotStuffed(clsRawTextOut &out, IStream *contents) {
    bool lineStart = true;
    bool afterCR = false;
    bool any = false;
    ForEachBlock(contents, [&](const char *p, size_t n) {
        char *start = out.Room(2 * n + 1), *o = start;
        any = true;
        for (size_t i = 0; i < n; ++i) {
            char c = p[i];
            if (c == '\n') {
                if (!afterCR) *o++ = '\r';
                *o++ = '\n';
                afterCR = false;
                lineStart = true;
                continue;
            }
            if (afterCR) {
                *o++ = '\n';
                afterCR = false;
                lineStart = true;
            }
            if (c == '\r') {
                *o++ = '\r';
                afterCR = true;
                continue;
            }
            if (c == '.' && lineStart) *o++ = '.';
            *o++ = c;
            lineStart = false;
        }
        out.Commit(size_t(o - start));
    });
    if (afterCR) out.Put("\n");
    return !any || lineStart || afterCR;
}

// Encodes the content by the transfer encoding and writes what must follow it.
void WriteEncoded(clsRawTextOut &out, IStream *contents, std::string_view encoding, Place place) {
    if (EqualsNoCase(encoding, "base64")) {
        LARGE_INTEGER zero{};
        if (FAILED(contents->Seek(zero, STREAM_SEEK_SET, nullptr)))
            throw clsExcept(kErrGeneral, "cannot seek in the contents");
        EncodeBase64Body(out, clsBodySource(pal::kInvalidFile, contents));
        out.Line();
    } else if (EqualsNoCase(encoding, "quoted-printable")) {
        LARGE_INTEGER zero{};
        if (FAILED(contents->Seek(zero, STREAM_SEEK_SET, nullptr)))
            throw clsExcept(kErrGeneral, "cannot seek in the contents");
        EncodeQuotedPrintableBody(out, clsBodySource(pal::kInvalidFile, contents));
        if (place == Place::InMultipart) out.Line();
    } else {
        bool endedInLineEnd = WriteDotStuffed(out, contents);
        // The message itself must end in a line end; a delimiter takes one.
        if (place == Place::InMultipart || !endedInLineEnd) out.Line();
    }
}

String FileNamePart(const String &name) {
    String file = pal::FileNameOf(name);
    if (file.size() >= 2 && file[1] == ':' && ((file[0] | 0x20) >= 'a' && (file[0] | 0x20) <= 'z')) file.erase(0, 2);
    return file;
}

// A parameter carrying a file name. A name with characters that cannot stand
// in a quoted string (a double quote, a backslash, line breaks and other
// controls) is written as an RFC 2231 value so it can neither break the
// header nor be cut.
String NameParameter(const char *parameter, const String &file) {
    bool plain = true;
    for (unsigned char c : file)
        if (c == '"' || c == '\\' || c < 0x20 || c == 0x7F) plain = false;
    if (plain) return Format("%s=\"%s\"", parameter, file.c_str());
    String value = Format("%s*=%s''", parameter, CharsetForCodePage(0).c_str());
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : file) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || strchr("!#$&+-.^_`|~", c)) {
            value += char(c);
        } else {
            value += '%';
            value += kHex[c >> 4];
            value += kHex[c & 15];
        }
    }
    return value;
}

String AttachmentMediaType(const String &file) {
    String type = MediaTypeForExtension(ExtensionOfPath(file));
    return type.empty() ? String("application/octet-stream") : type;
}

void WriteAttachmentContent(clsRawTextOut &out, clsMailAttachment &attachment, Place place) {
    String type = AttachmentMediaType(FileNamePart(attachment.Name()));
    bool text = StartsWithNoCase(type, "text/");
    IStream *stream = attachment.Contents();
    pal::FileHandle file = pal::kInvalidFile;
    if (!stream) {
        file = pal::FileOpen(attachment.Name(), false);
        if (file == pal::kInvalidFile) {
            // A file that cannot be opened contributes nothing.
            if (place == Place::InMultipart) out.Line();
            return;
        }
    }
    struct Closer {
        pal::FileHandle f;
        ~Closer() { pal::FileClose(f); }
    } closer{file};
    if (stream) {
        LARGE_INTEGER zero{};
        if (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr)))
            throw clsExcept(kErrGeneral, "cannot seek in the attachment contents");
    }
    clsBodySource source(file, stream);
    if (text) EncodeQuotedPrintableBody(out, source);
    else EncodeBase64Body(out, source);
    // The delimiter's CR LF must not take the content's last line end.
    if (place == Place::InMultipart) out.Line();
}

void WriteAttachmentPart(clsRawTextOut &out, clsMailAttachment &attachment, Place place) {
    BuildAttachmentHeader(attachment);
    WriteHeaderList(out, attachment.Headers());
    out.Line();
    WriteAttachmentContent(out, attachment, place);
}

void WriteBodyContent(clsRawTextOut &out, clsMailBody &body, Place place, bool sevenBit) {
    const clsHeaderItem *item = body.Headers().Find("Content-Transfer-Encoding");
    String encoding = item ? item->Joined() : String();
    bool related = body.HasRelatedAttachments();
    if (related) {
        out.Line("--" + RelatedBoundary(body));
        clsHeaderList inner;
        BuildBodyHeader(body, inner, true, sevenBit);
        WriteHeaderList(out, inner);
        out.Line();
        const clsHeaderItem *innerItem = inner.Find("Content-Transfer-Encoding");
        encoding = innerItem ? innerItem->Joined() : String();
    }
    WriteEncoded(out, body.Contents(), encoding, related ? Place::InMultipart : place);
    if (!related) return;
    for (clsMailAttachment *a : body.Attachments()) {
        if (a->ContentId().empty()) continue;
        out.Line("--" + body.RelatedBoundary());
        WriteAttachmentPart(out, *a, Place::InMultipart);
    }
    out.Line("--" + body.RelatedBoundary() + "--");
    out.Line();
}

// About what the text will take: base64 adds a third and line ends, the
// heads are small. An attachment read from a file is not counted.
size_t EstimatedSize(clsMail &mail) {
    uint64_t contents = 0;
    for (clsMailBody *b : mail.Bodies()) {
        contents += StreamSize(b->Contents());
        for (clsMailAttachment *a : b->Attachments()) contents += StreamSize(a->Contents()) + 512;
    }
    for (clsMailAttachment *a : mail.Attachments()) contents += StreamSize(a->Contents()) + 512;
    uint64_t estimate = contents + contents / 2 + 64 * 1024;
    return estimate > mail.RawText().MemoryLimit() ? 0 : size_t(estimate);
}

void Render(clsMail &mail, const WriterOptions &options, clsRawTextOut &out) {
    out.Reserve(EstimatedSize(mail));
    String base = Format("---%08x%08x", unsigned(uint32_t(pal::TickCountMs())), unsigned(TimeLow32()));
    String mixedBoundary = base + ".Mixed";
    String altBoundary = base + ".Alt";
    size_t bodyCount = mail.Bodies().Size();
    bool mixed = bodyCount + mail.Attachments().Size() > 1;

    mail.BuildGeneratedHeaders();
    WriteHeaderList(out, mail.GeneratedHeaders());
    String cookie = mail.Cookie().empty() ? String("chk") : EncodeBase64Unpadded(Widen(mail.Cookie()));
    if (!options.messageId.empty())
        out.Line("Message-ID: " + options.messageId);
    else
        out.Line(Format("Message-ID: <%s%04x%llX@%s>", cookie.c_str(), RandomUpTo32767(),
                        static_cast<unsigned long long>(pal::CycleCounter()), options.senderDomain.c_str()));
    out.Line("MIME-Version: 1.0");

    if (mixed) {
        out.Line(Format("Content-Type: multipart/mixed;\r\n boundary=\"%s\"", mixedBoundary.c_str()));
    } else if (bodyCount > 0 && HasWrappedAttachments(*mail.Bodies()[0])) {
        // The only body, wrapped with its attachments: the wrapper is the message.
        out.Line(Format("Content-Type: multipart/mixed;\r\n boundary=\"%s\"", (base + ".Part.1").c_str()));
    } else if (bodyCount > 0) {
        BuildBodyHeader(*mail.Bodies()[0], mail.Bodies()[0]->Headers(), false, options.sevenBit);
        WriteHeaderList(out, mail.Bodies()[0]->Headers());
    } else if (!mail.Attachments().Empty()) {
        BuildAttachmentHeader(*mail.Attachments()[0]);
        WriteHeaderList(out, mail.Attachments()[0]->Headers());
    }
    out.Line();

    if (mixed) {
        out.Line("This is a multi-part message in MIME format.");
        if (bodyCount > 1) out.Line(Format("Its text contains %d versions of alternative formats.", int(bodyCount)));
        out.Line("If you read this, you should consider to update or change your mail reader.");
        out.Line();
    }
    if (bodyCount > 1) {
        if (mixed) out.Line("--" + mixedBoundary);
        out.Line(Format("Content-Type: multipart/alternative;\r\n boundary=\"%s\"", altBoundary.c_str()));
        out.Line();
    }

    // Plain bodies first, each new one in front; the others in order of creation.
    std::vector<clsMailBody *> ordered;
    for (clsMailBody *b : mail.Bodies())
        if (IsPlain(*b)) ordered.insert(ordered.begin(), b);
    for (clsMailBody *b : mail.Bodies())
        if (!IsPlain(*b)) ordered.push_back(b);

    int wrapped = 0;
    for (clsMailBody *body : ordered) {
        String delimiter;
        if (bodyCount > 1) delimiter = "--" + altBoundary;
        else if (mixed) delimiter = "--" + mixedBoundary;
        if (!delimiter.empty()) out.Line(delimiter);
        bool wrap = HasWrappedAttachments(*body);
        String wrapper;
        if (wrap) {
            wrapper = base + Format(".Part.%d", ++wrapped);
            // Without a delimiter the wrapper's header already stands at the top.
            if (!delimiter.empty()) {
                out.Line(Format("Content-Type: multipart/mixed;\r\n boundary=\"%s\"", wrapper.c_str()));
                out.Line();
            }
            out.Line("--" + wrapper);
        }
        if (!delimiter.empty() || wrap) {
            BuildBodyHeader(*body, body->Headers(), false, options.sevenBit);
            WriteHeaderList(out, body->Headers());
            out.Line();
        }
        // Without a delimiter the body is the message's only part; its header stands at the top.
        WriteBodyContent(out, *body, delimiter.empty() && !wrap ? Place::Single : Place::InMultipart, options.sevenBit);
        if (wrap) {
            for (clsMailAttachment *a : body->Attachments()) {
                if (!a->ContentId().empty()) continue;
                out.Line("--" + wrapper);
                WriteAttachmentPart(out, *a, Place::InMultipart);
            }
            out.Line("--" + wrapper + "--");
            out.Line();
        }
    }
    if (bodyCount > 1) {
        out.Line("--" + altBoundary + "--");
        out.Line();
    }
    for (clsMailAttachment *a : mail.Attachments()) {
        if (mixed) out.Line("--" + mixedBoundary);
        if (mixed) {
            WriteAttachmentPart(out, *a, Place::InMultipart);
        } else {
            // The only part: its header already stands at the top.
            WriteAttachmentContent(out, *a, Place::Single);
        }
    }
    if (mixed) {
        out.Line("--" + mixedBoundary + "--");
        out.Line();
    }
    out.Finish();
}

} // namespace

void BuildAttachmentHeader(clsMailAttachment &attachment) {
    clsHeaderList &list = attachment.Headers();
    list.Clear();
    String file = FileNamePart(attachment.Name());
    String type = AttachmentMediaType(file);
    bool named = !file.empty() && file[0] != '*';
    list.Set("Content-Type", named ? type + ";\r\n    " + NameParameter("name", file) : type);
    list.Set("Content-Transfer-Encoding", StartsWithNoCase(type, "text/") ? "quoted-printable" : "base64");
    if (attachment.ContentId().empty()) {
        // A nameless attachment is still marked as one: without it, the only
        // part of a mail would be read back as its body.
        if (file.empty() || file[0] != '*')
            list.Set("Content-Disposition", "attachment;\r\n    " + NameParameter("filename", file));
    } else {
        list.Set("Content-ID", attachment.ContentId());
        list.Set("Content-Disposition", "inline");
    }
}

// A half-written text must not pass for the rendered mail.
static void DiscardHalfWritten(clsFileRWTemp &file) noexcept {
    try {
        file.Truncate();
    } catch (...) {
    }
}

void RenderMail(clsMail &mail, const WriterOptions &options) { RenderMailTo(mail, options, mail.RawText()); }

void RenderMailTo(clsMail &mail, const WriterOptions &options, clsFileRWTemp &file) {
    if (mail.State() == kMailListed || mail.State() == kMailDeleted) return;
    file.Truncate();
    try {
        clsRawTextOut out(file);
        Render(mail, options, out);
    } catch (clsExcept &e) {
        DiscardHalfWritten(file);
        e.Push("[RenderMail()]");
        throw;
    } catch (...) {
        DiscardHalfWritten(file);
        throw;
    }
}

} // namespace kv
