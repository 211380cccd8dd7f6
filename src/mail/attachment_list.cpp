#include "mail/attachment_list.h"

#include <new>

#include "runtime/com_enum.h"

namespace kv {

clsMailAttachmentList::~clsMailAttachmentList() {
    for (clsMailAttachment *a : items_) a->Release();
}

void clsMailAttachmentList::Append(clsMailAttachment *attachment) {
    // Room first, so the push cannot throw after the reference is taken;
    // growing by doubling keeps thousands of parts from copying the list each time.
    if (items_.size() == items_.capacity()) items_.reserve(items_.capacity() * 2 + 4);
    attachment->AddRef();
    items_.push_back(attachment);
}

HRESULT clsMailAttachmentList::CreateAndAdd(IKvMailAttachment **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    clsMailAttachment *a = new (std::nothrow) clsMailAttachment();
    if (!a) return E_OUTOFMEMORY;
    try {
        Append(a);
    } catch (const std::bad_alloc &) {
        a->AddRef();
        a->Release();
        return E_OUTOFMEMORY;
    }
    return a->QueryInterface(IID_IKvMailAttachment, reinterpret_cast<void **>(out));
}

namespace {
constexpr clsEnumTrace kTrace = {"clsEnumMailAttachment::Next(%d,%p,%p)", "clsEnumMailAttachment::Skip(%d)",
                                 "clsEnumMailAttachment::Reset()", "clsEnumMailAttachment::Clone(%p)", false};
}

HRESULT clsMailAttachmentList::CreateEnum(IKvEnumMailAttachment **out) const {
    return clsComEnum<IKvEnumMailAttachment, clsEnumRefs<IKvMailAttachment>, &kTrace>::Create(
        {items_.begin(), items_.end()}, out);
}

} // namespace kv

namespace kv {

void clsMailAttachmentList::Clear() {
    std::vector<clsMailAttachment *> items;
    items.swap(items_);
    for (clsMailAttachment *item : items) item->Release();
}

} // namespace kv
