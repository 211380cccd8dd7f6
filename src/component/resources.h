// The component's string table, in English and German.
#pragma once

#include "runtime/kvstring.h"

namespace kv {

enum ResourceId : int {
    IDS_REGISTRY_KEY_FAILED = 1,
    IDS_LIMITED_FUNCTIONALITY = 2,
    IDS_WARNING = 3,
};

// The text in the user interface language (German or English); "" for an unknown id.
String LoadResourceString(int id);
String LoadResourceString(int id, bool german);

} // namespace kv
