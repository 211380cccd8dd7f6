// clsEnumMail: enumerator over a copy of a connection's mail list.
#pragma once

#include <atomic>
#include <vector>

#include "pal/com.h"

namespace kv {

class clsEnumMail final : public IKvEnumMail {
  public:
    // Takes a reference on every mail.
    explicit clsEnumMail(const std::vector<IKvMail *> &mails, size_t position = 0);
    ~clsEnumMail();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IKvMail **items, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IKvEnumMail **clone) override;

  private:
    std::atomic<LONG> refs_{0};
    std::vector<IKvMail *> mails_;
    size_t position_;
};

} // namespace kv
