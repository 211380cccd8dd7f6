#include "providers/xmapi/enum_mapi_profiles.h"

#include "providers/xmapi/xmapi_session.h"

namespace kv {

clsEnumMAPIProfiles *clsEnumMAPIProfiles::FromPlatform(xmapi::Platform *platform) {
    return new (std::nothrow) clsEnumMAPIProfiles(MapiProfileNames(platform));
}

clsEnumMAPIProfiles *clsEnumMAPIProfiles::FromSystem() {
    // The subsystem is initialised for the listing and let go after it.
    clsXMAPIDLL dll(xmapi::SystemPlatform(), false);
    return FromPlatform(dll.Available() ? &dll.Platform() : nullptr);
}

} // namespace kv
