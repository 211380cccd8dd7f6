#include "mail/body_list.h"

#include <new>

#include "runtime/com_enum.h"

namespace kv {

clsMailBodyList::~clsMailBodyList() {
    for (clsMailBody *b : items_) b->Release();
}

void clsMailBodyList::Append(clsMailBody *body) {
    // Room first, so the push cannot throw after the reference is taken;
    // growing by doubling keeps thousands of parts from copying the list each time.
    if (items_.size() == items_.capacity()) items_.reserve(items_.capacity() * 2 + 4);
    body->AddRef();
    items_.push_back(body);
}

HRESULT clsMailBodyList::CreateAndAdd(IKvMailBody **out, const IString &mediaType, uint32_t codepage) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    clsMailBody *b = clsMailBody::Create(mediaType, codepage);
    if (!b) return E_OUTOFMEMORY;
    try {
        Append(b);
    } catch (const std::bad_alloc &) {
        b->AddRef();
        b->Release();
        return E_OUTOFMEMORY;
    }
    return b->QueryInterface(IID_IKvMailBody, reinterpret_cast<void **>(out));
}

HRESULT clsMailBodyList::CreateEnum(IKvEnumMailBody **out) const {
    // The body enumerator does not trace.
    return clsComEnum<IKvEnumMailBody, clsEnumRefs<IKvMailBody>>::Create({items_.begin(), items_.end()}, out);
}

} // namespace kv

namespace kv {

void clsMailBodyList::Clear() {
    std::vector<clsMailBody *> items;
    items.swap(items_);
    for (clsMailBody *item : items) item->Release();
}

} // namespace kv
