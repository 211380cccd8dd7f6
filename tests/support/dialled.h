// A connection as a host holds it: pointed at a local scripted server on the
// given port, with the host's event slot attached.
#pragma once

#include <string>

#include "fake_mail.h"
#include "mime/base64.h"
#include "stack_doubles.h"

namespace testsupport {

// The error record as "code:text".
inline std::string CodedError(IKvMailConnection2 *c) {
    LONG code = 0;
    std::string text = ErrorText(c, &code);
    return std::to_string(code) + ":" + text;
}

// The host's event slot: it keeps every event and answers `answer` to the one at `at`.
struct Slot : Events {
    std::pair<LONG, LONG> at{-1, -1};
    HRESULT answer = S_OK;
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG event, LONG detail) override {
        Events::NotifyConnectionState(event, detail);
        return std::make_pair(event, detail) == at ? answer : S_OK;
    }
};

template <class Connection> struct Dialled {
    Connection *c = new Connection();
    Slot events;
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
    std::string Coded() { return CodedError(c); }
};

// A receiving connection whose mails are LinesMails, kept in the order made
// while it lives.
template <class Base> class Receiving : public Base {
  public:
    std::vector<LinesMail *> made;
    ~Receiving() {
        for (LinesMail *m : made) m->Release();
    }

  protected:
    IKvMail *CreateReceivedMail(const kv::String &id) override {
        made.push_back(new LinesMail(id));
        made.back()->AddRef();
        made.back()->AddRef(); // the connection's and this list's
        return made.back();
    }
    void MarkDeleted(IKvMail *mail) override { static_cast<LinesMail *>(mail)->deleted = true; }
};

inline std::string B64(const std::string &s) { return kv::EncodeBase64(s.data(), s.size()); }

} // namespace testsupport
