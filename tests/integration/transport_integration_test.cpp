// POP3 against dovecot, with USER/PASS and with APOP.
#include <gtest/gtest.h>

#include "clients.h"
#include "fixtures.h"
#include "log_lines.h"
#include "peers.h"

namespace kv {
namespace {

using testsupport::Held;
using testsupport::RecordingPop3;
std::string ErrorOf(IKvMailConnection2 *c) { return testsupport::ErrorText(c); }

TEST(Pop3Integration, ListLoadAndDeleteAgainstDovecot) {
    KV_NEED_PEER(fixtures::Dovecot::Available(), "dovecot");
    for (bool apop : {false, true}) {
        SCOPED_TRACE(apop ? "APOP" : "USER/PASS");
        fixtures::Dovecot server;
        ASSERT_TRUE(server.Start("mrose", "tanstaaf", apop)) << server.Log();
        const std::string messages[] = {
            "Subject: one\r\n\r\nfirst body\r\n.starts with a period\r\n",
            "Subject: two\r\nX-Long: yes\r\n\r\nsecond\r\nbody\r\n",
            "Subject: three\r\n\r\n",
        };
        for (int i = 0; i < 3; ++i) server.Deliver("mrose", "100000000" + std::to_string(i) + ".M1P1.test", messages[i]);

        Held<RecordingPop3> pop(server.Port(), "mrose", "tanstaaf");
        ASSERT_EQ(pop->Connect(), S_OK) << ErrorOf(pop.c) << server.Log();
        testsupport::LogLines log(kLogProtocol);
        ASSERT_EQ(pop->QueryMailbox(0), S_OK) << ErrorOf(pop.c);
        ASSERT_EQ(pop->made.size(), 3u);
        // dovecot offers PIPELINING: the commands for all three leave in one write.
        std::vector<std::string> sent = log.Starting({"->'UIDL"});
        ASSERT_EQ(sent.size(), 1u) << testing::PrintToString(log.lines);
        EXPECT_NE(sent[0].find("TOP 3 1"), std::string::npos) << sent[0];
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(pop->made[i]->cookie, std::to_string(i + 1) + " ");
            EXPECT_FALSE(pop->made[i]->complete);
            ASSERT_EQ(pop->LoadRestOfMail(pop->made[i]), S_OK) << ErrorOf(pop.c);
            EXPECT_EQ(pop->Text(i), messages[i]) << i;
        }
        EXPECT_EQ(pop->DeleteMail(u"2 "), S_OK) << ErrorOf(pop.c);
        EXPECT_EQ(pop->Disconnect(), S_OK);
        EXPECT_EQ(server.MessagesLeft("mrose"), 2u) << "DELE takes effect at QUIT";
        EXPECT_EQ(server.Log().find("APOP") != std::string::npos, apop) << server.Log();
    }
}

} // namespace
} // namespace kv
