// The system's CDO objects, reached through their automation interface.
#pragma once

#include "providers/cdosys/cdo_objects.h"

namespace kv::cdo {

// The platform every CDOSYS connection sends through: the system's objects on
// Windows, the substitute over the component's writer and SMTP elsewhere.
std::shared_ptr<Platform> DefaultPlatform();

} // namespace kv::cdo
