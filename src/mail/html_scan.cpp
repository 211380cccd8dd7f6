#include "mail/html_scan.h"

#include <atomic>

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "mail/file_source.h"
#include "mail/mail_body.h"
#include "pal/system.h"
#include "runtime/com_util.h"
#include "runtime/regex.h"

namespace kv {

namespace {

constexpr uint32_t kScanOptions = clsRegEx::Caseless | clsRegEx::DotAll | clsRegEx::Ungreedy;

// The scan works on the bytes as they are, one byte per UTF-16 unit, so that
// nothing the code page cannot convert is lost and offsets stay byte offsets.
WString BytesToUnits(std::string_view bytes) {
    WString units(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) units[i] = char16_t(uint8_t(bytes[i]));
    return units;
}

String UnitsToBytes(std::u16string_view units) {
    String bytes(units.size(), '\0');
    for (size_t i = 0; i < units.size(); ++i) bytes[i] = char(uint8_t(units[i]));
    return bytes;
}

const clsRegEx &TagPattern() {
    static const clsRegEx re(
        std::u16string_view(u"<(body|input|layer|table|tr|th|td|img|script|link)\\s+((?:[^>\"]*|[^>\"]*\".*\"[^>]*)*)>"),
        kScanOptions);
    return re;
}

const clsRegEx &AttributePattern(std::u16string_view tag) {
    static const clsRegEx src(std::u16string_view(u"src=\"(.*)\""), kScanOptions);
    static const clsRegEx href(std::u16string_view(u"href=\"(.*)\""), kScanOptions);
    static const clsRegEx background(std::u16string_view(u"background=\"(.*)\""), kScanOptions);
    String name = ToLower(UnitsToBytes(tag));
    if (name == "img" || name == "script" || name == "input") return src;
    if (name == "link") return href;
    return background;
}

WString UndoPercentEscapes(WString text) {
    static const clsRegEx escape(std::u16string_view(u"(.*(?:^|[^%]))%([0-9A-F][0-9A-F])(.*)$"), kScanOptions);
    clsRegExMatch m;
    while (escape.Match(text, 0, m)) {
        unsigned code = unsigned(std::stoul(Narrow(m.Text(2)), nullptr, 16));
        text = m.Text(1) + char16_t(code) + m.Text(3);
    }
    return text;
}

// The related attachment for the reference, made from the file when needed;
// null when the file cannot be opened.
clsMailAttachment *ResolveReference(clsMailBody &body, const WString &reference) {
    WString units = UndoPercentEscapes(reference);
    if (units.size() >= 7 && EqualsNoCase(UnitsToBytes(units.substr(0, 7)), "file://")) units.erase(0, 7);
    // The reference is text in the body's code page; names and paths are in the ANSI code page.
    String name = Narrow(Widen(UnitsToBytes(units), body.CodePage()), 0);
    for (clsMailAttachment *a : body.Attachments())
        if (!a->ContentId().empty() && EqualsNoCase(a->Name(), name)) return a;

    clsAutoRelease<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return nullptr;
    bool opened = false;
    try {
        opened = CopyFileToStream(name, stream.get());
    } catch (const clsExcept &) {
        opened = false; // a directory or an unreadable file: as if it were not there
    }
    if (!opened) {
        LogWriteF(kLogDetails, "clsMailBody: '%s' not found, the reference stays", name.c_str());
        return nullptr;
    }
    clsAutoRelease<IKvMailAttachment> created;
    if (FAILED(body.Attachments().CreateAndAdd(created.put()))) return nullptr;
    clsMailAttachment *attachment = body.Attachments()[body.Attachments().Size() - 1];
    attachment->SetContentsStream(stream.get());
    attachment->SetNameText(name);
    attachment->SetContentId(NewContentId());
    return attachment;
}

} // namespace

String NewContentId() {
    static std::atomic<int> counter{0};
    return Format("%08x-%08x-%d", pal::CurrentThreadId(), uint32_t(pal::TickCountMs()), counter++);
}

void ScanHtmlBody(clsMailBody &body) {
    try {
        IStream *contents = body.Contents();
        LARGE_INTEGER zero{};
        if (FAILED(contents->Seek(zero, STREAM_SEEK_SET, nullptr))) return;
        String bytes;
        char buffer[16 * 1024];
        for (;;) {
            ULONG got = 0;
            if (FAILED(contents->Read(buffer, sizeof buffer, &got))) return;
            if (got == 0) break;
            bytes.append(buffer, got);
        }

        WString text = BytesToUnits(bytes);
        WString result;
        size_t copied = 0;
        bool changed = false;
        for (const clsRegExMatch &tag : TagPattern().MatchAll(text)) {
            const clsRegExGroup &attributes = tag.groups[2];
            clsRegExMatch ref;
            if (!AttributePattern(tag.Text(1)).Match(attributes.text, 0, ref) || !ref.IsSet(1)) continue;
            clsMailAttachment *attachment = ResolveReference(body, ref.Text(1));
            if (!attachment) continue;
            size_t start = attributes.start + ref.groups[1].start;
            size_t end = attributes.start + ref.groups[1].end;
            result.append(text, copied, start - copied);
            result += BytesToUnits("cid:" + attachment->ContentId());
            copied = end;
            changed = true;
        }
        if (!changed) return;
        result.append(text, copied, WString::npos);

        String out = UnitsToBytes(result);
        if (FAILED(contents->Seek(zero, STREAM_SEEK_SET, nullptr))) return;
        ULONG written = 0;
        if (FAILED(contents->Write(out.data(), ULONG(out.size()), &written)) || written != out.size()) return;
        ULARGE_INTEGER size{};
        size.QuadPart = out.size();
        contents->SetSize(size);
    } catch (const clsExcept &) {
        // Already logged where it was raised; the body keeps what it has.
    } catch (const std::exception &e) {
        LogWriteF(kLogExceptions, "clsMailBody: HTML scan stopped: %s", e.what());
    }
}

} // namespace kv
