// Test doubles that live on the stack or in a fixture: they answer no
// interface and count no references.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "orkv14.h"

namespace testsupport {

// What a recording double was asked, a line a call; a call whose line starts
// with a key of failures answers that result.
struct CallLog {
    std::vector<std::string> calls;
    std::map<std::string, HRESULT> failures;

    HRESULT Record(const std::string &line) {
        calls.push_back(line);
        for (const auto &[prefix, hr] : failures)
            if (line.compare(0, prefix.size(), prefix) == 0) return hr;
        return S_OK;
    }
    // The lines that hold a piece of text.
    std::vector<std::string> With(const std::string &piece) const {
        std::vector<std::string> out;
        for (const auto &c : calls)
            if (c.find(piece) != std::string::npos) out.push_back(c);
        return out;
    }
};

template <class Interface> class Unowned : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override { return *ppv = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

// The connection events a host's slot receives, in order.
class Events : public Unowned<IKvMailStateNotificationSlot> {
  public:
    std::vector<std::pair<LONG, LONG>> seen;
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG event, LONG detail) override {
        seen.emplace_back(event, detail);
        return S_OK;
    }
};

// A host's view of a slot: it answers its own interface and counts the
// references the component takes, each of which it must give back.
template <class Slot> class Counted : public Slot {
  public:
    explicit Counted(const IID &iid) : iid_(iid) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, iid_)) return *ppv = nullptr, E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;

  private:
    const IID &iid_;
};

} // namespace testsupport
