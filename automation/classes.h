// The creatable classes: what the class objects make and what registration
// writes for each.
#pragma once

#include "module.h"

namespace kvauto {

struct CreatableClass {
    const CLSID *clsid;
    const char *name;        // coclass name, the part after "Orkv14." in the ProgID
    const char *progId;      // version-independent ProgID, also the source of its errors
    const char *description; // the class key's default value
    // Makes a new object and asks it for `iid`.
    HRESULT (*create)(const CreatableClass &, REFIID iid, void **out);
    // Provider classes: the core's selectors of their two roles (null: none).
    const IID *sendSelector;
    const IID *receiveSelector;
};

// SMTP, POP3, SMAPI, XMAPI, CDOSYS, Configuration.
const CreatableClass *Classes(size_t *count);
const CreatableClass *ClassOf(REFCLSID clsid);

HRESULT CreateConnection(const CreatableClass &cls, REFIID iid, void **out);
HRESULT CreateConfiguration(const CreatableClass &cls, REFIID iid, void **out);

} // namespace kvauto
