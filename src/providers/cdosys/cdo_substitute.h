// A stand-in for the system's CDO objects where the system has none: it takes
// the same configuration and header fields and sends with the component's own
// writer and SMTP connection.
#pragma once

#include "providers/cdosys/cdo_objects.h"

namespace kv::cdo {

class SubstitutePlatform final : public Platform {
  public:
    HRESULT CreateMessage(std::unique_ptr<Message> &message) override;
    HRESULT CreateConfiguration(std::unique_ptr<Configuration> &configuration) override;
};

} // namespace kv::cdo
