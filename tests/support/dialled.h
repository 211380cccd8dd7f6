// A connection as a host holds it: pointed at a local scripted server on the
// given port, with the host's event slot attached.
#pragma once

#include <string>

#include "fake_mail.h"
#include "stack_doubles.h"

namespace testsupport {

template <class Connection> struct Dialled {
    Connection *c = new Connection();
    Events events;
    explicit Dialled(uint16_t port, const std::string &user = "mrose", const std::string &password = "tanstaaf") {
        c->AddRef();
        Set(u"ServerAddress", "127.0.0.1");
        Set(u"ServerUser", user);
        Set(u"ServerPassword", password);
        SetIntOption(c, u"ServerPort", port);
        SetIntOption(c, u"SocketTimeout", 3000);
        c->SetMailStateNotificationSlot(&events);
    }
    ~Dialled() {
        c->SetMailStateNotificationSlot(nullptr);
        c->Release();
    }
    void Set(const char16_t *name, const std::string &value) { SetTextOption(c, name, value); }
    std::string Error(LONG *code = nullptr) { return ErrorText(c, code); }
};

} // namespace testsupport
