// What GetHeaderEntry2 of mails, bodies and attachments shares: the value
// that GetHeaderEntry returned, split into its main value and parameters.
#pragma once

#include <cstdint>

#include "pal/com.h"

namespace kv {

// `found` is what GetHeaderEntry returned into *value (S_OK or S_FALSE). On
// S_OK the value becomes its main value and the parameters ("name=value",
// sorted by name without regard to case) are handed out; on S_FALSE the value
// stays untouched and the enumerator is empty. Texts convert with the code page.
HRESULT SplitHeaderEntry(HRESULT found, BSTR *value, IEnumString **parameters, uint32_t codepage);

} // namespace kv
