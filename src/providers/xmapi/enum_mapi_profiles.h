// clsEnumMAPIProfiles: the profile names of the messaging system.
#pragma once

#include "runtime/com_enum.h"

namespace kv {

namespace xmapi {
class Platform;
}

inline constexpr clsEnumTrace kEnumMAPIProfilesTrace = {
    "clsEnumMAPIProfiles::Next(%d,%p,%d)", "clsEnumMAPIProfiles::Skip(%d)", "clsEnumMAPIProfiles::Reset",
    "clsEnumMAPIProfiles::Clone(%p)", true};

class clsEnumMAPIProfiles final : public clsComEnum<IKvEnumMAPIProfiles, clsEnumBstrTexts, &kEnumMAPIProfilesTrace> {
  public:
    using clsComEnum::clsComEnum;
    // The names the platform lists (none without a messaging library).
    static clsEnumMAPIProfiles *FromPlatform(xmapi::Platform *platform);
    // From the system's library.
    static clsEnumMAPIProfiles *FromSystem();
};

} // namespace kv
