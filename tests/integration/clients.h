// The component's connections and mails as the integration tests drive them,
// the way a host does.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fake_mail.h"
#include "orkv14.hpp"

namespace testsupport {

// A connection made as a host makes it, through the class object, on a loopback server.
inline orkv14::Ptr<IKvMailConnection2> Connection(const IID &selector, uint16_t port, const std::string &user = "",
                                                  const std::string &password = "") {
    orkv14::Ptr<IClassFactory> f;
    orkv14::Ptr<IKvMailConnection2> c;
    EXPECT_EQ(DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, f.put_void()), S_OK);
    EXPECT_EQ(f ? f->CreateInstance(nullptr, selector, c.put_void()) : E_POINTER, S_OK);
    if (!c) return c;
    SetTextOption(c.get(), u"ServerAddress", "127.0.0.1");
    SetIntOption(c.get(), u"ServerPort", port);
    SetTextOption(c.get(), u"ServerUser", user);
    SetTextOption(c.get(), u"ServerPassword", password);
    SetIntOption(c.get(), u"SocketTimeout", 5000);
    return c;
}

inline void AddBody(IKvMail *mail, const char *type, const std::string &text) {
    orkv14::Ptr<IKvMailBody> body;
    ASSERT_EQ(mail->CreateAndAddBody(body.put(), orkv14::Bstr(type).get(), 65001), S_OK);
    EXPECT_EQ(body->SetContents(orkv14::MemoryStream(text).get()), S_OK);
}

// A mail of the connection as a host fills it; `to` may hold several addresses, tab-separated.
inline orkv14::Ptr<IKvMail> NewMail(IKvMailConnection2 *c, const std::string &from, const std::string &to,
                                    const std::string &subject, const std::string &text) {
    orkv14::Ptr<IKvMail> mail;
    EXPECT_EQ(c->CreateMail(65001, u"", mail.put()), S_OK);
    if (!mail) return mail;
    EXPECT_EQ(mail->SetSender(orkv14::Bstr(from).get()), S_OK);
    EXPECT_EQ(mail->AddRecipients(orkv14::Bstr(to).get()), S_OK);
    EXPECT_EQ(mail->SetSubject(orkv14::Bstr(subject).get()), S_OK);
    AddBody(mail.get(), "text/plain", text);
    return mail;
}

} // namespace testsupport
