// clsOptionList: option name -> variant, keys compared without regard to case.
// Keys of a connection's options are "<provider>.<name>", e.g. "SMTP.ServerPort".
#pragma once

#include <map>

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv {

// Owning VARIANT.
class clsVariant {
  public:
    clsVariant() { VariantInit(&v_); }
    // Copies with indirections resolved.
    explicit clsVariant(const VARIANT &v);
    clsVariant(const clsVariant &o);
    clsVariant &operator=(const clsVariant &o);
    ~clsVariant() { VariantClear(&v_); }

    static clsVariant FromText(std::u16string_view text);
    static clsVariant FromInt(int32_t value);
    static clsVariant FromBool(bool value);

    const VARIANT &get() const { return v_; }
    VARIANT *ptr() { return &v_; }
    VARTYPE vt() const { return v_.vt; }
    bool IsEmpty() const { return v_.vt == VT_EMPTY; }
    // Converted with VariantChangeType; false when the conversion fails.
    bool ToText(WString &out) const;
    bool ToInt(int32_t &out) const;
    bool ToBool(bool &out) const;
    // Text for traces and settings: the converted text, or "" on failure.
    WString Text() const;

  private:
    VARIANT v_;
};

class clsOptionList {
  public:
    using Map = std::map<IString, clsVariant>;

    // Looks up for reading, inserting an empty value when absent.
    const clsVariant &Get(const String &key);
    // Looks up without inserting; null when absent.
    const clsVariant *Find(const String &key) const;
    void Set(const String &key, const clsVariant &value);
    void SetText(const String &key, std::u16string_view value);
    void SetInt(const String &key, int32_t value);
    void SetBool(const String &key, bool value);

    // Typed readers; see the connection's option rules.
    WString ReadText(const String &key, std::u16string_view defaultValue) const;
    int32_t ReadInt(const String &key, int32_t defaultValue) const;
    bool ReadBool(const String &key) const;

    bool Contains(const String &key) const { return map_.count(IString(key)) != 0; }
    void Clear() { map_.clear(); }
    size_t Size() const { return map_.size(); }
    const Map &Entries() const { return map_; }
    Map &Entries() { return map_; }

  private:
    Map map_;
};

} // namespace kv
