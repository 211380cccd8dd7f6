// clsHeaderItem: one header field name with its values in order, and the
// ordered list of them that mails, bodies and attachments keep.
#pragma once

#include <vector>

#include "mime/header_field.h"
#include "runtime/kvstring.h"

namespace kv {

class clsHeaderItem {
  public:
    clsHeaderItem() = default;
    explicit clsHeaderItem(const IString &name) : name(name) {}

    // All values, as hosts read a field: the addresses of an address field
    // as one list (", " between them); the values of any other field apart,
    // each unchanged, with the character 0x01 between them, as a host gives
    // several values to SetHeaderEntry.
    String Joined() const {
        if (values.size() == 1) return values.front();
        bool addresses = IsAddressField(name);
        String all;
        for (const String &v : values) {
            if (addresses && v.empty()) continue;
            if (!all.empty() || (!addresses && &v != &values.front())) all += addresses ? ", " : "\x01";
            all += v;
        }
        return all;
    }

    IString name;
    std::vector<String> values;
};

class clsHeaderList {
  public:
    bool Empty() const { return items_.empty(); }
    size_t Size() const { return items_.size(); }
    void Clear() { items_.clear(); }

    // The item of that name (compared without regard to case); null when absent.
    const clsHeaderItem *Find(std::string_view name) const {
        for (const clsHeaderItem &item : items_)
            if (EqualsNoCase(item.name, name)) return &item;
        return nullptr;
    }
    void Remove(std::string_view name) {
        for (auto it = items_.begin(); it != items_.end(); ++it)
            if (EqualsNoCase(it->name, name)) {
                items_.erase(it);
                return;
            }
    }
    // Replaces an item of that name by a new one at the end.
    void Set(const IString &name, const String &value) {
        Remove(name);
        items_.emplace_back(name);
        items_.back().values.push_back(value);
    }
    // Appends a value to the item of that name, or a new item at the end.
    void Add(const IString &name, const String &value) {
        for (clsHeaderItem &item : items_)
            if (EqualsNoCase(item.name, name)) {
                item.values.push_back(value);
                return;
            }
        items_.emplace_back(name);
        items_.back().values.push_back(value);
    }

    // Appends an item as it is (the caller keeps names unique).
    void Append(clsHeaderItem item) { items_.push_back(std::move(item)); }

    std::vector<clsHeaderItem>::const_iterator begin() const { return items_.begin(); }
    std::vector<clsHeaderItem>::const_iterator end() const { return items_.end(); }

  private:
    std::vector<clsHeaderItem> items_;
};

} // namespace kv
