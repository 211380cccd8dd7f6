// The component's connections as the integration tests drive them: options set
// the way a host sets them.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "fake_mail.h"
#include "providers/smtp/smtp_connection.h"
#include "test_text.h"

namespace testsupport {

struct Option {
    Option(const char16_t *name, std::string text) : name(name), text(std::move(text)) {}
    Option(const char16_t *name, const char *text) : name(name), text(text) {}
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

// Transfers the text; the first error message, "" when it went through.
inline std::string Transfer(kv::clsSMTPMailConnection *c, const std::string &text,
                            const kv::clsSmtpEnvelope &envelope = {"me@example.org", {"you@example.org"}, {}, {}}) {
    StringText mail(text);
    try {
        c->Transfer(envelope, mail);
    } catch (const kv::clsExcept &e) {
        return e.Messages().empty() ? "?" : e.Messages().front();
    }
    return "";
}

} // namespace testsupport
