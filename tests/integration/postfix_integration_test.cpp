// Mails sent to Postfix and read from its maildirs: 8BITMIME both ways,
// SIZE, a refused recipient among pipelined ones, DSN, an international
// domain, SMTPUTF8.
#include <gtest/gtest.h>

#include <algorithm>

#include "clients.h"
#include "fixtures.h"
#include "peers.h"

// Postfix on loopback (servers/postfix.sh): Port() offers everything,
// PlainPort() neither 8BITMIME nor SMTPUTF8, with a SIZE of 2000 bytes.
namespace fixtures {

class Postfix : Scratch {
  public:
    Postfix() : Scratch("postfix") {}
    static bool Available() { return testsupport::Executable("/usr/sbin/postfix") && getuid() == 0; }
    bool Start() {
        return std::sscanf(server_.Start({"/bin/bash", KV_SERVERS_DIR "/postfix.sh", dir_}, dir_).c_str(), "%hu %hu",
                           &port_, &plainPort_) == 2;
    }
    uint16_t Port() const { return port_; }
    uint16_t PlainPort() const { return plainPort_; }
    std::string Log() const { return ReadFile(dir_ + "/maillog"); }
    // The first message in the maildir that holds every one of the texts,
    // waiting up to 10 s for it; "" when none came.
    std::string Delivered(const std::string &box, const std::vector<std::string> &present) const {
        for (int i = 0; i < 200; ++i) {
            if (i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::error_code ec;
            for (auto it = fs::directory_iterator(dir_ + "/mail/" + box + "/new", ec);
                 !ec && it != fs::directory_iterator(); ++it) {
                std::string text = ReadFile(it->path().string());
                if (std::all_of(present.begin(), present.end(),
                                [&](const std::string &p) { return text.find(p) != std::string::npos; }))
                    return text;
            }
        }
        return std::string();
    }

  private:
    Server server_;
    uint16_t port_ = 0;
    uint16_t plainPort_ = 0;
};

} // namespace fixtures


namespace kv {
namespace {

using testsupport::ErrorText;

using orkv14::Ptr;

TEST(PostfixIntegration, ExtensionsAsPostfixSeesThem) {
    KV_NEED_PEER(fixtures::Postfix::Available(), "postfix (installed, and the tests run as root)");
    fixtures::Postfix postfix;
    ASSERT_TRUE(postfix.Start()) << postfix.Log();
    const std::string umlaut = "gr\xC3\xBC\xC3\x9F"
                               "e\r\n";
    struct Case {
        const char *name;
        bool plain; // the listener without 8BITMIME and SMTPUTF8, SIZE 2000
        std::string to, body;
        std::vector<std::pair<const char16_t *, const char *>> options;
        std::string error; // the first line
        const char *box;   // where the mail (or the report) arrives
        std::vector<std::string> present, absent;
    } cases[] = {
        // clang-format off
        {"8bitmime", false, "you@example.org", umlaut, {}, "", "you",
         {"Content-Transfer-Encoding: 8bit", "gr\xC3\xBC\xC3\x9F" "e\n"}, {"=C3"}},
        {"no 8bitmime: quoted-printable", true, "you@example.org", umlaut, {}, "", "you",
         {"Content-Transfer-Encoding: quoted-printable", "gr=C3=BC=C3=9Fe"}, {"\xC3"}},
        {"size over the limit", true, "you@example.org", std::string(3000, 'x'), {}, "The message of 3", nullptr,
         {}, {}},
        {"one refused among pipelined recipients", false, "you@example.org\tnobody@example.org\tme@example.org",
         "hi\r\n", {}, "Recipient Address 'nobody@example.org': 550 5.1.1 <nobody@example.org>: Recipient address "
         "rejected: User unknown in virtual mailbox table", "me", {"Delivered-To: me@example.org", "hi"}, {}},
        {"dsn", false, "you@example.org", "hi\r\n",
         {{u"DSNNotify", "success"}, {u"DSNReturn", "headers"}, {u"DSNEnvelopeID", "kv+1=2"}}, "", "me",
         {"Successful Mail Delivery Report", "Original-Envelope-Id: kv+1=2", "text/rfc822-headers"}, {}},
        {"international domain", true, "b@b\xC3\xBC" "cher.example", "hi\r\n", {}, "", "idn",
         {"Delivered-To: b@xn--bcher-kva.example"}, {}},
        {"smtputf8", false, "j\xC3\xB6rg@example.org", "hi\r\n", {}, "", "jorg",
         {"Delivered-To: j\xC3\xB6rg@example.org", "with UTF8SMTP"}, {}},
        {"no smtputf8", true, "j\xC3\xB6rg@example.org", "hi\r\n", {},
         "The address 'j\xC3\xB6rg@example.org' is not ASCII before its domain", nullptr, {}, {}},
        // clang-format on
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::Held<clsSMTPMailConnection> smtp(c.plain ? postfix.PlainPort() : postfix.Port());
        for (const auto &o : c.options) testsupport::SetTextOption(smtp.c, o.first, o.second);
        Ptr<IKvMail> mail = testsupport::NewMail(smtp.c, "Me <me@example.org>", c.to, c.name, c.body);

        ASSERT_EQ(smtp->Connect(), S_OK) << ErrorText(smtp.c);
        HRESULT sent = smtp->Send(mail.get());
        String error = ErrorText(smtp.c);
        EXPECT_EQ(sent, c.error.empty() ? S_OK : E_ABORT) << error;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
        smtp->Disconnect();
        // What the host reads back is the text as rendered, whatever went on
        // the wire, and names the mail as delivered.
        Ptr<IStream> raw = orkv14::MemoryStream("");
        mail->GetRawText(raw.get());
        std::string rendered = orkv14::ReadAll(raw.get());
        bool eightBit = c.body == umlaut;
        EXPECT_TRUE(!eightBit || rendered.find(umlaut) != std::string::npos);
        if (!c.box) continue;
        std::string text = postfix.Delivered(c.box, c.present);
        EXPECT_FALSE(text.empty()) << postfix.Log().substr(postfix.Log().size() - 2000);
        for (const std::string &a : c.absent) EXPECT_EQ(text.find(a), std::string::npos) << a;
        size_t id = eightBit ? rendered.find("Message-ID: ") : 0;
        EXPECT_NE(text.find(rendered.substr(id, rendered.find('\r', id) - id)), std::string::npos);
    }
}

} // namespace
} // namespace kv
