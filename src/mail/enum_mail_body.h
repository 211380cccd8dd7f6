// clsEnumMailBody: enumerator over a copy of a body list. It does not trace.
#pragma once

#include "runtime/com_enum.h"

namespace kv {

class clsEnumMailBody final : public clsEnumRefs<IKvMailBody, IKvEnumMailBody> {
  public:
    explicit clsEnumMailBody(const std::vector<IKvMailBody *> &items) : clsEnumRefs(items, 0, nullptr) {}
};

} // namespace kv
