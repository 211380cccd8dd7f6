// Registry access: the Win32 registry on Windows; elsewhere a file-backed store
// with the same keys/values semantics (case-insensitive key and value names,
// string and DWORD and binary values, atomic writes).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv::pal {

enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine };

enum class RegType : uint32_t { None = 0, String = 1, Binary = 3, DWord = 4 };

struct RegValue {
    RegType type = RegType::None;
    std::vector<uint8_t> data; // String: UTF-16LE with terminating NUL, as Windows stores it
};

// An open key. Paths use "\" between components.
class RegKey {
  public:
    virtual ~RegKey() = default;
    // Value names: empty = the key's default value.
    virtual bool SetString(const std::u16string &name, const std::u16string &value) = 0;
    virtual bool SetDWord(const std::u16string &name, uint32_t value) = 0;
    virtual bool SetBinary(const std::u16string &name, const std::vector<uint8_t> &value) = 0;
    virtual bool GetValue(const std::u16string &name, RegValue &value) const = 0;
    virtual bool GetString(const std::u16string &name, std::u16string &value) const = 0;
    virtual bool DeleteValue(const std::u16string &name) = 0;
    virtual std::vector<std::u16string> SubKeyNames() const = 0;
    virtual std::vector<std::u16string> ValueNames() const = 0;
};

// Creates (or opens) a key; null when it cannot be created.
std::unique_ptr<RegKey> RegCreate(RegRoot root, const std::u16string &path);
// Opens an existing key; null when it does not exist.
std::unique_ptr<RegKey> RegOpen(RegRoot root, const std::u16string &path, bool writable = false);
// Deletes a key with all its subkeys and values; false when it did not exist.
// (Not "RegDeleteTree": <windows.h> makes that name a macro.)
bool RegDeleteKeyTree(RegRoot root, const std::u16string &path);

// POSIX: where the store lives. Default: $XDG_CONFIG_HOME/orkv14/registry (or
// ~/.config/orkv14/registry). Tests point it at a temporary directory.
void RegSetStoreRoot(const std::string &directory);
std::string RegStoreRoot();

} // namespace kv::pal
