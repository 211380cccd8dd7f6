#include "mail/header_entry.h"

#include <new>

#include "runtime/except.h"
#include "runtime/com_enum.h"
#include "mime/header_field.h"
#include "runtime/com_util.h"

namespace kv {

HRESULT SplitHeaderEntry(HRESULT found, BSTR *value, IEnumString **parameters, uint32_t codepage) {
    std::vector<WString> items;
    if (found == S_OK) {
        clsHeaderField field;
        try {
            field = ParseHeaderField(Narrow(WideView(*value), codepage), codepage);
        } catch (const clsExcept &) {
            return E_UNEXPECTED;
        }
        // The parameter map is already ordered by name without regard to case.
        for (const auto &p : field.parameters) items.push_back(Widen(p.first + "=" + p.second, codepage));
        HRESULT hr = AssignBstr(value, field.value, codepage);
        if (FAILED(hr)) return hr;
    }
    HRESULT hr = clsEnumString::Create(std::move(items), parameters);
    if (FAILED(hr)) return hr;
    return found;
}

} // namespace kv
