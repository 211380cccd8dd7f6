#include "settings/option_list.h"

#include "runtime/com_util.h"

// The const_casts: mingw-w64 declares the Variant* sources non-const; nothing is changed through them.
namespace kv {

clsVariant::clsVariant(const VARIANT &v) {
    VariantInit(&v_);
    if (FAILED(VariantCopyInd(&v_, const_cast<VARIANT *>(&v)))) VariantInit(&v_);
}

clsVariant::clsVariant(const clsVariant &o) {
    VariantInit(&v_);
    VariantCopy(&v_, const_cast<VARIANT *>(&o.v_));
}

clsVariant &clsVariant::operator=(const clsVariant &o) {
    if (this != &o) VariantCopy(&v_, const_cast<VARIANT *>(&o.v_));
    return *this;
}

clsVariant clsVariant::FromText(std::u16string_view text) {
    clsVariant r;
    r.v_.vt = VT_BSTR;
    r.v_.bstrVal = clsBstr(text).release();
    if (!r.v_.bstrVal) r.v_.vt = VT_EMPTY;
    return r;
}

clsVariant clsVariant::FromInt(int32_t value) {
    clsVariant r;
    r.v_.vt = VT_I4;
    r.v_.lVal = value;
    return r;
}

clsVariant clsVariant::FromBool(bool value) {
    clsVariant r;
    r.v_.vt = VT_BOOL;
    r.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}

bool clsVariant::ToText(WString &out) const {
    if (v_.vt == VT_BSTR) {
        out.assign(v_.bstrVal ? reinterpret_cast<const char16_t *>(v_.bstrVal) : u"", SysStringLen(v_.bstrVal));
        return true;
    }
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, const_cast<VARIANT *>(&v_), 0, VT_BSTR))) return false;
    out.assign(t.bstrVal ? reinterpret_cast<const char16_t *>(t.bstrVal) : u"", SysStringLen(t.bstrVal));
    VariantClear(&t);
    return true;
}

bool clsVariant::ToInt(int32_t &out) const {
    if (v_.vt == VT_I4) {
        out = v_.lVal;
        return true;
    }
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, const_cast<VARIANT *>(&v_), 0, VT_I4))) return false;
    out = t.lVal;
    return true;
}

bool clsVariant::ToBool(bool &out) const {
    if (v_.vt == VT_BOOL) {
        out = v_.boolVal != 0;
        return true;
    }
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, const_cast<VARIANT *>(&v_), 0, VT_BOOL))) return false;
    out = t.boolVal != 0;
    return true;
}

WString clsVariant::Text() const {
    WString s;
    if (!ToText(s)) s.clear();
    return s;
}

const clsVariant &clsOptionList::Get(const String &key) { return map_[IString(key)]; }

const clsVariant *clsOptionList::Find(const String &key) const {
    auto it = map_.find(IString(key));
    return it == map_.end() ? nullptr : &it->second;
}

void clsOptionList::Set(const String &key, const clsVariant &value) { map_[IString(key)] = value; }
void clsOptionList::SetText(const String &key, std::u16string_view value) { Set(key, clsVariant::FromText(value)); }
void clsOptionList::SetInt(const String &key, int32_t value) { Set(key, clsVariant::FromInt(value)); }
void clsOptionList::SetBool(const String &key, bool value) { Set(key, clsVariant::FromBool(value)); }

WString clsOptionList::ReadText(const String &key, std::u16string_view defaultValue) const {
    const clsVariant *v = Find(key);
    if (!v) return WString(defaultValue);
    return v->Text();
}

int32_t clsOptionList::ReadInt(const String &key, int32_t defaultValue) const {
    const clsVariant *v = Find(key);
    if (!v) return defaultValue;
    int32_t n = 0;
    return v->ToInt(n) ? n : 0;
}

bool clsOptionList::ReadBool(const String &key) const {
    const clsVariant *v = Find(key);
    if (!v) return false;
    bool b = false;
    return v->ToBool(b) ? b : false;
}

} // namespace kv
