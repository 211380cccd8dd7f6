// clsMailBodyList: the bodies of a mail, in order of
// creation; each element holds one reference.
#pragma once

#include <vector>

#include "mail/mail_body.h"

namespace kv {

class clsMailBodyList {
  public:
    clsMailBodyList() = default;
    ~clsMailBodyList();
    clsMailBodyList(const clsMailBodyList &) = delete;
    clsMailBodyList &operator=(const clsMailBodyList &) = delete;

    // A new body of the media type and code page (0: ANSI), appended and
    // handed out with the caller's reference.
    HRESULT CreateAndAdd(IKvMailBody **out, const IString &mediaType, uint32_t codepage);
    // An enumerator over the current elements, before the first.
    HRESULT CreateEnum(IKvEnumMailBody **out) const;
    // Appends with a reference of the list's own.
    void Append(clsMailBody *attachment);

    // Releases every element.
    void Clear();
    bool Empty() const { return items_.empty(); }
    size_t Size() const { return items_.size(); }
    clsMailBody *operator[](size_t i) const { return items_[i]; }
    clsMailBody *Last() const { return items_.empty() ? nullptr : items_.back(); }
    std::vector<clsMailBody *>::const_iterator begin() const { return items_.begin(); }
    std::vector<clsMailBody *>::const_iterator end() const { return items_.end(); }

  private:
    std::vector<clsMailBody *> items_;
};

} // namespace kv
