// The scan of an HTML body that turns references to local files into related
// attachments referred to as "cid:<content ID>".
#pragma once

#include "runtime/kvstring.h"

namespace kv {

class clsMailBody;

// Never fails: a reference that cannot be resolved stays as it is, and any
// other trouble leaves the contents unchanged.
void ScanHtmlBody(clsMailBody &body);

// "%08x-%08x-%d": thread id, tick count, and a process-wide counter from 0.
String NewContentId();

} // namespace kv
