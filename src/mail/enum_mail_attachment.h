// clsEnumMailAttachment: enumerator over a copy of an attachment list.
#pragma once

#include "runtime/com_enum.h"

namespace kv {

class clsEnumMailAttachment final : public clsEnumRefs<IKvMailAttachment, IKvEnumMailAttachment> {
  public:
    explicit clsEnumMailAttachment(const std::vector<IKvMailAttachment *> &items)
        : clsEnumRefs(items, 0, "clsEnumMailAttachment") {}
};

} // namespace kv
