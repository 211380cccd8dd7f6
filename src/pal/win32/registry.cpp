#include "pal/registry.h"

#include <windows.h>

namespace kv::pal {

namespace {

const wchar_t *W(const std::u16string &s) { return reinterpret_cast<const wchar_t *>(s.c_str()); }

HKEY RootKey(RegRoot root) {
    switch (root) {
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    }
    return HKEY_CURRENT_USER;
}

class Win32Key final : public RegKey {
  public:
    explicit Win32Key(HKEY key) : key_(key) {}
    ~Win32Key() override { RegCloseKey(key_); }
    Win32Key(const Win32Key &) = delete;
    Win32Key &operator=(const Win32Key &) = delete;

    bool SetString(const std::u16string &name, const std::u16string &value) override {
        return Set(name, REG_SZ, value.c_str(), (value.size() + 1) * sizeof(char16_t));
    }
    bool SetDWord(const std::u16string &name, uint32_t value) override {
        DWORD v = value;
        return Set(name, REG_DWORD, &v, sizeof v);
    }
    bool SetBinary(const std::u16string &name, const std::vector<uint8_t> &value) override {
        return Set(name, REG_BINARY, value.data(), value.size());
    }

    bool GetValue(const std::u16string &name, RegValue &value) const override {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key_, W(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
        std::vector<uint8_t> data(size);
        // The value may grow between the two calls.
        LSTATUS status;
        while ((status = RegQueryValueExW(key_, W(name), nullptr, &type, data.data(), &size)) == ERROR_MORE_DATA)
            data.resize(size);
        if (status != ERROR_SUCCESS) return false;
        data.resize(size);
        value.type = RegType(type);
        value.data = std::move(data);
        return true;
    }

    bool GetString(const std::u16string &name, std::u16string &value) const override {
        RegValue v;
        if (!GetValue(name, v) || (v.type != RegType::String && uint32_t(v.type) != REG_EXPAND_SZ)) return false;
        std::u16string s(v.data.size() / 2, u'\0');
        for (size_t i = 0; i < s.size(); ++i) s[i] = char16_t(v.data[2 * i] | (v.data[2 * i + 1] << 8));
        while (!s.empty() && s.back() == u'\0') s.pop_back();
        value = std::move(s);
        return true;
    }

    bool DeleteValue(const std::u16string &name) override {
        return RegDeleteValueW(key_, W(name)) == ERROR_SUCCESS;
    }

    std::vector<std::u16string> SubKeyNames() const override {
        std::vector<std::u16string> names;
        wchar_t buf[256];
        for (DWORD i = 0;; ++i) {
            DWORD len = sizeof buf / sizeof buf[0];
            if (RegEnumKeyExW(key_, i, buf, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(reinterpret_cast<const char16_t *>(buf), len);
        }
        return names;
    }

    std::vector<std::u16string> ValueNames() const override {
        std::vector<std::u16string> names;
        std::vector<wchar_t> buf(16384);
        for (DWORD i = 0;; ++i) {
            DWORD len = DWORD(buf.size());
            if (RegEnumValueW(key_, i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(reinterpret_cast<const char16_t *>(buf.data()), len);
        }
        return names;
    }

  private:
    bool Set(const std::u16string &name, DWORD type, const void *data, size_t size) {
        return RegSetValueExW(key_, W(name), 0, type, static_cast<const BYTE *>(data), DWORD(size)) ==
               ERROR_SUCCESS;
    }

    HKEY key_;
};

// Subkeys first: RegDeleteKeyW refuses a key that still has children.
bool DeleteDepthFirst(HKEY parent, const std::u16string &name) {
    HKEY key;
    if (RegOpenKeyExW(parent, W(name), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return false;
    {
        Win32Key owner(key);
        for (const auto &child : owner.SubKeyNames()) DeleteDepthFirst(key, child);
    }
    return RegDeleteKeyW(parent, W(name)) == ERROR_SUCCESS;
}

} // namespace

std::unique_ptr<RegKey> RegCreate(RegRoot root, const std::u16string &path) {
    HKEY key;
    wchar_t emptyClass[] = L"";
    if (RegCreateKeyExW(RootKey(root), W(path), 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<Win32Key>(key);
}

std::unique_ptr<RegKey> RegOpen(RegRoot root, const std::u16string &path, bool writable) {
    HKEY key;
    if (RegOpenKeyExW(RootKey(root), W(path), 0, writable ? KEY_READ | KEY_WRITE : KEY_READ, &key) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<Win32Key>(key);
}

bool RegDeleteKeyTree(RegRoot root, const std::u16string &path) {
    // An empty path would open the root itself and empty the whole hive.
    if (path.empty() || path.front() == u'\\') return false;
    return DeleteDepthFirst(RootKey(root), path);
}

// The real registry has no store to place.
void RegSetStoreRoot(const std::string &) {}
std::string RegStoreRoot() { return std::string(); }

} // namespace kv::pal
