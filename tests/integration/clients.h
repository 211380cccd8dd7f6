// The component's connections as the integration tests drive them: options set
// the way a host sets them.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "fake_mail.h"
#include "orkv14.hpp"
#include "providers/smtp/smtp_connection.h"

namespace testsupport {

struct Option {
    Option(const char16_t *name, std::string text) : name(name), text(std::move(text)) {}
    Option(const char16_t *name, int32_t number) : name(name), number(number), isNumber(true) {}
    const char16_t *name;
    std::string text;
    int32_t number = 0;
    bool isNumber = false;
};

inline void Configure(IKvMailConnection2 *c, std::initializer_list<Option> options) {
    for (const Option &o : options) {
        if (o.isNumber)
            SetIntOption(c, o.name, o.number);
        else
            SetTextOption(c, o.name, o.text);
    }
}

// A connection made as a host makes it (one reference), on a loopback server.
template <class T> struct Held {
    explicit Held(uint16_t port, const std::string &user = "", const std::string &password = "") {
        c->AddRef();
        Configure(c, {{u"ServerAddress", "127.0.0.1"},
                      {u"ServerPort", port},
                      {u"ServerUser", user},
                      {u"ServerPassword", password},
                      {u"SocketTimeout", 5000}});
    }
    ~Held() { c->Release(); }
    Held(const Held &) = delete;
    T *operator->() const { return c; }
    T *c = new T();
};

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
