#include "providers/cdosys/cdo_system.h"

#include "providers/cdosys/cdo_substitute.h"

namespace kv::cdo {

std::shared_ptr<Platform> DefaultPlatform() { return std::make_shared<SubstitutePlatform>(); }

} // namespace kv::cdo
