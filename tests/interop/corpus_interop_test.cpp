// Real-world messages (gathered from Debian packages into the build tree by
// gather_corpus.sh) read with SetRawText; our view of each is written out and
// compare_corpus.py compares it with Python's view of the same text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "interop_util.h"
#include "mail/arpa_mail.h"
#include "orkv14.hpp"
#include "providers/smtp/smtp_connection.h"
#include "runtime/com_util.h"
#include "runtime/module_state.h"

namespace kv {
namespace {

using interop::Hex;
using interop::Json;

std::string StreamHex(IStream *s) { return Hex(orkv14::ReadAll(s)); }

std::string Wide(HRESULT (STDMETHODCALLTYPE IKvMail2::*get)(BSTR *), IKvMail2 *mail) {
    orkv14::Bstr value;
    (mail->*get)(value.put());
    return value.Utf8();
}

std::string Attachments(const clsMailAttachmentList &list) {
    std::string out = "[";
    for (clsMailAttachment *a : list)
        out += (out.size() > 1 ? ",{\"name\":" : "{\"name\":") + Json(Hex(a->Name())) +
               ",\"hex\":" + Json(a->Contents() ? StreamHex(a->Contents()) : "") + "}";
    return out + "]";
}

std::string Strings(const std::vector<String> &list) {
    std::string out = "[";
    for (const String &s : list) out += (out.size() > 1 ? "," : "") + Json(Hex(s));
    return out + "]";
}

TEST(CorpusInterop, ReaderMatchesPythonsView) {
    KV_NEED_PEER(testsupport::Executable("/usr/bin/python3"), "python3");
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(KV_CORPUS_DIR, ec)) {
        std::string name = e.path().filename();
        if (name[0] != '.' && name.find('.') != std::string::npos) files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 300u) << "run gather_corpus.sh into " KV_CORPUS_DIR;

    int32_t baseline = ModuleRefCount();
    auto *connection = new clsSMTPMailConnection();
    connection->AddRef();
    std::string ours = interop::MakeDir("kv_corpus_ours");
    for (const std::string &name : files) {
        std::string text = interop::ReadFile(std::string(KV_CORPUS_DIR "/") + name);
        clsAutoRelease<IKvMail> m;
        ASSERT_EQ(connection->CreateMail(0, u"", m.put()), S_OK);
        clsAutoRelease<IKvMail2> mail;
        ASSERT_EQ(m->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(mail.put())), S_OK);
        HRESULT hr = mail->SetRawText(orkv14::MemoryStream(text).get());
        orkv14::Bstr error;
        if (FAILED(hr)) connection->GetErrorInformation(nullptr, error.put());

        // What Python parses: the raw text as the reader keeps it.
        orkv14::Ptr<IStream> raw = orkv14::MemoryStream("");
        ASSERT_EQ(mail->GetRawText(raw.get()), S_OK);
        interop::WriteFile(ours + name + ".eml", orkv14::ReadAll(raw.get()));

        void *self = nullptr;
        ASSERT_EQ(m->QueryInterface(IID_clsArpaMail, &self), S_OK);
        auto *impl = static_cast<clsArpaMail *>(self);
        std::string json = "{\"hr\":" + std::to_string(long(hr)) + ",\"error\":" + Json(error.Utf8()) +
                           ",\"sender\":" + Json(Wide(&IKvMail2::GetSender, mail.get())) +
                           ",\"subject\":" + Json(Wide(&IKvMail2::GetSubject, mail.get())) +
                           ",\"to\":" + Strings(impl->To()) + ",\"cc\":" + Strings(impl->CC()) + ",\"bodies\":[";
        for (clsMailBody *b : impl->Bodies())
            json += (json.back() == '[' ? "{\"type\":" : ",{\"type\":") + Json(b->MediaType()) + ",\"hex\":" +
                    Json(StreamHex(b->Contents())) + ",\"attachments\":" + Attachments(b->Attachments()) + "}";
        json += "],\"attachments\":" + Attachments(impl->Attachments()) + "}";
        impl->Release();
        interop::WriteFile(ours + name + ".json", json);
    }
    connection->Release();
    EXPECT_EQ(ModuleRefCount(), baseline);

    std::string output;
    // The result of every message is pinned; KV_WRITE_PIN=1 writes the pin file anew.
    const char *write = std::getenv("KV_WRITE_PIN");
    int status = interop::Run("/usr/bin/python3 " KV_INTEROP_DIR "/compare_corpus.py " + ours +
                                  " " KV_INTEROP_DIR "/corpus_results.txt" +
                                  (write && *write == '1' ? " --write-pin" : ""),
                              output);
    std::printf("%s", output.c_str());
    EXPECT_EQ(status, 0) << "unexplained differences, or results that are not the pinned ones (see above)";
    interop::Run("rm -rf '" + ours + "'", output);
}

} // namespace
} // namespace kv
