// clsMailAttachmentList: the attachments of a mail or a body, in order of
// creation; each element holds one reference.
#pragma once

#include <vector>

#include "mail/mail_attachment.h"

namespace kv {

class clsMailAttachmentList {
  public:
    clsMailAttachmentList() = default;
    ~clsMailAttachmentList();
    clsMailAttachmentList(const clsMailAttachmentList &) = delete;
    clsMailAttachmentList &operator=(const clsMailAttachmentList &) = delete;

    // A new empty attachment, appended and handed out with the caller's reference.
    HRESULT CreateAndAdd(IKvMailAttachment **out);
    // An enumerator over the current elements, before the first.
    HRESULT CreateEnum(IKvEnumMailAttachment **out) const;
    // Appends with a reference of the list's own.
    void Append(clsMailAttachment *attachment);

    // Releases every element.
    void Clear();
    bool Empty() const { return items_.empty(); }
    size_t Size() const { return items_.size(); }
    clsMailAttachment *operator[](size_t i) const { return items_[i]; }
    std::vector<clsMailAttachment *>::const_iterator begin() const { return items_.begin(); }
    std::vector<clsMailAttachment *>::const_iterator end() const { return items_.end(); }

  private:
    std::vector<clsMailAttachment *> items_;
};

} // namespace kv
