// Whole-process benchmark of the MIME writer and reader beside GMime: one
// case per process, so the peak resident size belongs to that case alone.
//   kv_bench_mime SIDE ACTION CASE DIR
//   SIDE: ours | gmime;  ACTION: render | read
//   CASE: b64-1 | b64-10 | b64-50 (MB base64 attachment), qp-5 (5 MB
//         quoted-printable body), parts-2000 (2,000 small attachments)
// "render" writes DIR/CASE.SIDE.eml; "read" parses DIR/CASE.ours.eml and
// decodes every part. Prints: side action case MB MB/s peak-RSS-MB, then
// the MB the work added at its peak and the message's MB.
#include <gmime/gmime.h>
#include <fcntl.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mail/arpa_mail.h"
#include "runtime/com_util.h"
#include "providers/smtp/smtp_connection.h"

namespace {

using namespace kv;

struct Shape {
    size_t attachmentBytes = 0, qpBytes = 0, parts = 0;
};

Shape ShapeOf(const std::string &name) {
    Shape s;
    if (name == "b64-1") s.attachmentBytes = 1 << 20;
    else if (name == "b64-10") s.attachmentBytes = 10 << 20;
    else if (name == "b64-50") s.attachmentBytes = 50 << 20;
    else if (name == "qp-5") s.qpBytes = 5 << 20;
    else if (name == "parts-2000") s.parts = 2000;
    return s;
}

std::string Random(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char &c : s) c = char(rng());
    return s;
}

// Long lines of text with 8-bit letters: the writer chooses quoted-printable.
std::string LongText(size_t n) {
    std::string s;
    while (s.size() < n) s += "Gr\xC3\xBC\xC3\x9F" "e an alle, dies ist eine lange Zeile ohne Umbruch = 100% Text. ";
    s.resize(n);
    return s;
}

// The timed stretch: wall time for the report, and the process's own CPU
// time (on stderr), which other work on a busy machine disturbs far less.
struct Timer {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    static double CpuSeconds() {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    double Seconds(double mb) const {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        std::fprintf(stderr, "cpu-MB/s %.1f\n", mb / (CpuSeconds() - cpu));
        return seconds;
    }
};

double PeakMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

// A field of /proc/self/status ("VmRSS:", "VmHWM:") in MB.
double StatusMb(const char *field) {
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field))) / 1024.0;
    return 0;
}

// What the work adds to the process: the peak resident size is reset just
// before it (Linux 4.0 and later), so neither the process's own size nor the
// input made ready beforehand counts.
struct AddedMemory {
    double start;
    AddedMemory() {
        std::ofstream("/proc/self/clear_refs") << "5";
        start = StatusMb("VmRSS:");
    }
    double Mb() const { return StatusMb("VmHWM:") - start; }
};
double g_addedMb = 0;

double FileMb(const std::string &path) {
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    return double(f.tellg()) / 1048576.0;
}

std::string ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

clsAutoRelease<IStream> Stream(const std::string &bytes) {
    clsAutoRelease<IStream> s;
    CreateStreamOnHGlobal(nullptr, TRUE, s.put());
    ULONG w = 0;
    s->Write(bytes.data(), ULONG(bytes.size()), &w);
    return s;
}

BSTR B(const char16_t *s) { return SysAllocString(reinterpret_cast<const OLECHAR *>(s)); }

size_t OursRender(const Shape &shape, const std::string &out) {
    auto *c = new clsSMTPMailConnection();
    c->AddRef();
    clsAutoRelease<IKvMail> mail;
    c->CreateMail(0, u"bench", mail.put());
    BSTR subject = B(u"Benchmark");
    mail->SetSubject(subject);
    SysFreeString(subject);
    clsAutoRelease<IKvMailBody> body;
    BSTR type = B(u"text/plain");
    mail->CreateAndAddBody(body.put(), type, 0);
    SysFreeString(type);
    body->SetContents(Stream(shape.qpBytes ? LongText(shape.qpBytes) : std::string("Hello\r\n")).get());
    size_t payload = shape.qpBytes;
    auto attach = [&](const std::string &bytes, const char16_t *name) {
        clsAutoRelease<IKvMailAttachment> a;
        mail->CreateAndAddAttachment(a.put());
        BSTR n = B(name);
        a->SetName(n);
        SysFreeString(n);
        a->SetContents(Stream(bytes).get());
        payload += bytes.size();
    };
    if (shape.attachmentBytes) attach(Random(shape.attachmentBytes, 1), u"data.bin");
    for (size_t i = 0; i < shape.parts; ++i) attach(Random(2000, unsigned(i)), u"part.bin");

    AddedMemory memory;
    Timer timer;
    clsAutoRelease<IStream> text;
    CreateStreamOnHGlobal(nullptr, TRUE, text.put());
    mail->GetRawText(text.get());
    double seconds = timer.Seconds(payload / 1048576.0);
    g_addedMb = memory.Mb();

    LARGE_INTEGER zero{};
    text->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::ofstream f(out, std::ios::binary);
    char buf[65536];
    for (ULONG n; SUCCEEDED(text->Read(buf, sizeof buf, &n)) && n > 0;) f.write(buf, n);
    mail.reset();
    c->Release();
    std::printf("%.1f %.1f ", payload / 1048576.0, payload / 1048576.0 / seconds);
    return payload;
}

void OursRead(const std::string &in) {
    std::string text = ReadFile(in);
    auto *c = new clsSMTPMailConnection();
    c->AddRef();
    clsAutoRelease<IKvMail> mail;
    c->CreateMail(0, u"bench", mail.put());
    clsAutoRelease<IStream> s = Stream(text);
    text.clear();
    text.shrink_to_fit();
    double mb = FileMb(in);
    AddedMemory memory;
    Timer timer;
    HRESULT hr = mail->SetRawText(s.get());
    double seconds = timer.Seconds(mb);
    g_addedMb = memory.Mb();
    s.reset();
    if (hr != S_OK) std::printf("(SetRawText failed) ");
    mail.reset();
    c->Release();
    std::printf("%.1f %.1f ", mb, mb / seconds);
}

void GmimeRender(const Shape &shape, const std::string &out) {
    GMimeMessage *message = g_mime_message_new(TRUE);
    g_mime_message_set_subject(message, "Benchmark", nullptr);
    GMimeMultipart *mixed = g_mime_multipart_new_with_subtype("mixed");
    std::string bodyText = shape.qpBytes ? LongText(shape.qpBytes) : std::string("Hello\r\n");
    size_t payload = shape.qpBytes;
    auto addPart = [&](const std::string &bytes, const char *type, const char *subtype, GMimeContentEncoding enc,
                       const char *name) {
        GMimePart *part = g_mime_part_new_with_type(type, subtype);
        GMimeStream *stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
        GMimeDataWrapper *content = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
        g_mime_part_set_content(part, content);
        g_mime_part_set_content_encoding(part, enc);
        if (name) g_mime_part_set_filename(part, name);
        g_mime_multipart_add(mixed, GMIME_OBJECT(part));
        g_object_unref(content);
        g_object_unref(stream);
        g_object_unref(part);
    };
    std::string attachment = shape.attachmentBytes ? Random(shape.attachmentBytes, 1) : std::string();
    std::vector<std::string> parts;
    for (size_t i = 0; i < shape.parts; ++i) parts.push_back(Random(2000, unsigned(i)));
    AddedMemory memory;
    Timer timer;
    addPart(bodyText, "text", "plain", shape.qpBytes ? GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE : GMIME_CONTENT_ENCODING_7BIT,
            nullptr);
    if (shape.attachmentBytes) {
        addPart(attachment, "application", "octet-stream", GMIME_CONTENT_ENCODING_BASE64, "data.bin");
        payload += attachment.size();
    }
    for (const std::string &p : parts) {
        addPart(p, "application", "octet-stream", GMIME_CONTENT_ENCODING_BASE64, "part.bin");
        payload += p.size();
    }
    g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed));
    GMimeStream *mem = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, mem);
    double seconds = timer.Seconds(payload / 1048576.0);
    g_addedMb = memory.Mb();
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char *>(bytes->data), bytes->len);
    g_object_unref(mem);
    g_object_unref(mixed);
    g_object_unref(message);
    std::printf("%.1f %.1f ", payload / 1048576.0, payload / 1048576.0 / seconds);
}

void DecodeAll(GMimeObject *parent, GMimeObject *part, gpointer) {
    (void)parent;
    if (!GMIME_IS_PART(part)) return;
    GMimeDataWrapper *content = g_mime_part_get_content(GMIME_PART(part));
    if (!content) return;
    GMimeStream *null = g_mime_stream_null_new();
    g_mime_data_wrapper_write_to_stream(content, null);
    g_object_unref(null);
}

void GmimeRead(const std::string &in) {
    double mb = FileMb(in);
    AddedMemory memory;
    Timer timer;
    GMimeStream *file = g_mime_stream_fs_open(in.c_str(), O_RDONLY, 0, nullptr);
    if (!file) return;
    GMimeParser *parser = g_mime_parser_new_with_stream(file);
    GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
    if (message) g_mime_message_foreach(message, DecodeAll, nullptr);
    double seconds = timer.Seconds(mb);
    g_addedMb = memory.Mb();
    if (message) g_object_unref(message);
    g_object_unref(parser);
    g_object_unref(file);
    std::printf("%.1f %.1f ", mb, mb / seconds);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: kv_bench_mime ours|gmime render|read CASE DIR\n");
        return 2;
    }
    std::string side = argv[1], action = argv[2], name = argv[3], dir = argv[4];
    // The message: what is read, or what was rendered.
    std::string message = dir + "/" + name + (action == "read" || side == "ours" ? ".ours.eml" : ".gmime.eml");
    Shape shape = ShapeOf(name);
    std::printf("%s %s %s ", side.c_str(), action.c_str(), name.c_str());
    if (side == "gmime") g_mime_init();
    if (side == "ours" && action == "render") OursRender(shape, dir + "/" + name + ".ours.eml");
    else if (side == "ours") OursRead(dir + "/" + name + ".ours.eml");
    else if (action == "render") GmimeRender(shape, dir + "/" + name + ".gmime.eml");
    else GmimeRead(dir + "/" + name + ".ours.eml");
    std::printf("%.0f %.1f %.1f\n", PeakMb(), g_addedMb, FileMb(message));
    if (side == "gmime") g_mime_shutdown();
    return 0;
}
