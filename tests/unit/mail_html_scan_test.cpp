#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "mail/mail_body.h"
#include "mail_test_util.h"

namespace kv {
namespace {

using mailtest::Bstr;
using mailtest::MakeStream;

class MailHtmlScan : public mailtest::MailFixture {
  protected:
    void SetUp() override {
        MailFixture::SetUp();
        dir_ = ::testing::TempDir() + "kv_html_scan/";
        std::filesystem::create_directory(dir_);
        std::ofstream(dir_ + "pic one.png") << "PNG-1";
        std::ofstream(dir_ + "b.css") << "body{}";
        std::ofstream(dir_ + "bg.gif") << "GIF";
        ASSERT_EQ(mail_->CreateAndAddBody(body_.put(), Bstr(u"text/html"), 0), S_OK);
    }
    void TearDown() override {
        body_.reset();
        MailFixture::TearDown();
        std::filesystem::remove_all(dir_);
    }
    // The HTML as scanned.
    std::string Scan(const std::string &html) {
        EXPECT_EQ(body_->SetContents(MakeStream(html).get()), S_OK);
        clsAutoRelease<IStream> out = MakeStream("");
        EXPECT_EQ(body_->GetContents(out.get()), S_OK);
        return StreamBytes(out.get());
    }
    clsMailAttachmentList &Attachments() { return static_cast<clsMailBody *>(body_.get())->Attachments(); }

    std::string dir_;
    clsAutoRelease<IKvMailBody> body_;
};

const std::regex kCid("cid:[0-9a-f]{8}-[0-9a-f]{8}-[0-9]+");

struct ScanCase {
    const char *what;
    std::string html; // "@" stands for the test directory
    bool replaced;
    const char *type = "TEXT/HTML";
};

TEST_F(MailHtmlScan, WhichReferencesAreTakenAndTheirContentIds) {
    const ScanCase cases[] = {
        {"link href", "<link rel=\"stylesheet\" href=\"@b.css\">", true},
        {"ends at its closing quote", "<img src=\"@bg.gif\" alt=\"a > b\">tail", true},
        {"body background, upper-case tag", "<BODY Background=\"@bg.gif\">", true},
        {"lower-case escape", "<img src=\"@pic%20one%2epng\">", true},
        {"missing file", "<img src=\"@none.png\">", false},
        {"img uses src, not background", "<img background=\"@bg.gif\">", false},
        {"double percent is no escape", "<img src=\"@pic%%20one.png\">", false},
        {"plain bodies are not scanned", "<img src=\"@bg.gif\">", false, "text/plain"},
        {"unterminated", "<img src=\"@bg.gif" + std::string(5000, '"') + "<td background=\"", false},
    };
    for (const ScanCase &c : cases) {
        // A fresh body for each case.
        ASSERT_EQ(mail_->CreateAndAddBody(body_.put(), Bstr(Widen(c.type).c_str()), 0), S_OK);
        std::string html = std::regex_replace(c.html, std::regex("@"), dir_);
        std::string out = Scan(html);
        EXPECT_EQ(std::regex_search(out, kCid), c.replaced) << c.what << ": " << out;
        EXPECT_EQ(Attachments().Size(), c.replaced ? 1u : 0u) << c.what;
        EXPECT_EQ(out == html, !c.replaced) << c.what;
        Bstr type;
        EXPECT_EQ(body_->GetType(type.put()), S_OK);
        EXPECT_EQ(type.Utf8(), c.replaced ? "multipart/related" : c.type) << c.what; // as given
    }
    // Each file gets its content ID, the same file (by path, URL or escape) the same one and one
    // attachment, again when the same HTML is set again.
    ASSERT_EQ(mail_->CreateAndAddBody(body_.put(), Bstr(u"text/html"), 0), S_OK);
    std::string html = "<p><img src=\"" + dir_ + "pic%20one.png\" alt=\"one\"><img src=\"" + dir_ +
                       "b.css\"> <IMG SRC=\"file://" + dir_ + "pic one.png\"></p>";
    std::string out = Scan(html);
    std::vector<std::string> ids;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), kCid); it != std::sregex_iterator(); ++it)
        ids.push_back(it->str());
    ASSERT_EQ(ids.size(), 3u) << out;
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(out, "<p><img src=\"" + ids[0] + "\" alt=\"one\"><img src=\"" + ids[1] + "\"> <IMG SRC=\"" + ids[0] +
                       "\"></p>");
    EXPECT_EQ(Scan(html), out);
    ASSERT_EQ(Attachments().Size(), 2u);
    EXPECT_EQ(testsupport::BytesOf(Attachments()[0]->Contents()), "PNG-1");
}

} // namespace
} // namespace kv
