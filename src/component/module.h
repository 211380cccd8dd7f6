// What the library keeps about itself between attach and detach.
#pragma once

#include <string>

namespace kv {

void ComponentAttach();
void ComponentDetach();
// Full path of the component's own file, taken at attach.
const std::string &ComponentPath();

} // namespace kv
