// clsEnumMailBody: enumerator over a copy of a body list. It does not trace.
#pragma once

#include "mail/enum_base.h"

namespace kv {

class clsEnumMailBody final : public clsEnumRefs<IKvMailBody, IKvEnumMailBody> {
  public:
    explicit clsEnumMailBody(const std::vector<IKvMailBody *> &items) : clsEnumRefs(items, 0, nullptr) {}
};

} // namespace kv
