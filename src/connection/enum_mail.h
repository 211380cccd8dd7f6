// clsEnumMail: enumerator over a copy of a connection's mail list.
#pragma once

#include "runtime/com_enum.h"

namespace kv {

inline constexpr clsEnumTrace kEnumMailTrace = {"clsEnumMail::Next(%d,%p,%d)", "clsEnumMail::Skip(%d)",
                                                "clsEnumMail::Reset", "clsEnumMail::Clone(%p)", true};
using clsEnumMail = clsComEnum<IKvEnumMail, clsEnumRefs<IKvMail>, &kEnumMailTrace>;

} // namespace kv
