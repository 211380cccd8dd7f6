// One mail sent through the CDO objects: the configuration from the
// connection's options, the part structure, the bodies and attachments.
#pragma once

#include <map>

#include "providers/cdosys/cdo_objects.h"

namespace kv {

class clsConnectionBase;
class clsMail;

// Field name to value, in the order the fields are written.
using CdoFieldList = std::vector<std::pair<WString, cdo::Value>>;

// The configuration fields the options of the connection give.
CdoFieldList CdoConfigurationFields(clsConnectionBase &connection);

// Looks each field up, sets its value, then updates the collection; throws clsExcept.
void CdoSetFields(cdo::Fields &fields, const CdoFieldList &values);

// The whole send; throws clsExcept (code -5).
void CdoSendMail(cdo::Platform &platform, clsConnectionBase &connection, clsMail &mail);

} // namespace kv
