// File-backed registry. One directory per key; a key's own name (in the case
// it was created with) and its values live in the file ".values" inside it,
// replaced as a whole through a temporary file and rename(), so readers in
// other processes see either the old or the new file, never a mix. Writers
// of one key serialise on flock() of the key's directory.
//
// Directory names are the key names folded to lower case and escaped: only
// [a-z0-9_-] stay as they are, so no name can contain "/" or begin with ".",
// and nothing a caller passes can reach outside the store.
#include "pal/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace kv::pal {

namespace {

constexpr char kValuesFile[] = ".values";
constexpr char kMagic[8] = {'K', 'V', 'R', 'E', 'G', '0', '1', '\n'};
constexpr size_t kMaxKeyName = 255;       // as on Windows
constexpr size_t kMaxValueName = 16383;   // as on Windows
constexpr size_t kMaxDirName = 200;       // well below NAME_MAX with the hash suffix

std::mutex gRootLock;
std::string gRoot; // empty: not yet chosen

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool EqualNoCase(const std::u16string &a, const std::u16string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

bool LessNoCase(const std::u16string &a, const std::u16string &b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (Fold(a[i]) != Fold(b[i])) return Fold(a[i]) < Fold(b[i]);
    return a.size() < b.size();
}

uint64_t Fnv64(const std::u16string &s) {
    uint64_t h = 1469598103934665603ull;
    for (char16_t c : s) {
        h = (h ^ (c & 0xFF)) * 1099511628211ull;
        h = (h ^ (c >> 8)) * 1099511628211ull;
    }
    return h;
}

uint32_t Fnv32(const uint8_t *p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

const char kHex[] = "0123456789abcdef";

// The file-system name of one key name component.
std::string DirName(const std::u16string &name) {
    std::string out;
    for (char16_t raw : name) {
        char16_t c = Fold(raw);
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-') {
            out.push_back(char(c));
        } else if (c < 0x100) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out += "%u";
            for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 15]);
        }
    }
    if (out.size() > kMaxDirName) {
        // Long names keep a readable prefix and become unique by a hash of the whole name.
        out.resize(kMaxDirName - 17);
        out.push_back('~');
        std::u16string folded(name);
        for (char16_t &c : folded) c = Fold(c);
        uint64_t h = Fnv64(folded);
        for (int shift = 60; shift >= 0; shift -= 4) out.push_back(kHex[(h >> shift) & 15]);
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Inverse of DirName for names that were not shortened; used only when a
// key's own file is missing or unreadable. Empty when it cannot be decoded.
std::u16string NameFromDir(const std::string &dir) {
    std::u16string out;
    for (size_t i = 0; i < dir.size();) {
        char c = dir[i];
        if (c != '%') {
            if (c == '~' || c == '.') return std::u16string();
            out.push_back(char16_t(c));
            ++i;
            continue;
        }
        size_t digits = 2, start = i + 1;
        if (start < dir.size() && dir[start] == 'u') digits = 4, ++start;
        if (start + digits > dir.size()) return std::u16string();
        unsigned v = 0;
        for (size_t k = 0; k < digits; ++k) {
            int d = HexDigit(dir[start + k]);
            if (d < 0) return std::u16string();
            v = v * 16 + unsigned(d);
        }
        out.push_back(char16_t(v));
        i = start + digits;
    }
    return out;
}

const char *RootDirName(RegRoot root) {
    switch (root) {
    case RegRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case RegRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    }
    return "HKEY_INVALID";
}

// Splits "A\B\C" into components; false for an empty component or one
// longer than a key name may be. An empty path is the root itself.
bool SplitPath(const std::u16string &path, std::vector<std::u16string> &parts) {
    parts.clear();
    if (path.empty()) return true;
    size_t start = 0;
    for (;;) {
        size_t sep = path.find(u'\\', start);
        std::u16string part = path.substr(start, sep == std::u16string::npos ? std::u16string::npos : sep - start);
        if (part.empty() || part.size() > kMaxKeyName) return false;
        parts.push_back(std::move(part));
        if (sep == std::u16string::npos) return true;
        start = sep + 1;
    }
}

struct StoredValue {
    std::u16string name;
    RegValue value;
};

struct KeyFile {
    bool hasName = false;
    std::u16string name;
    std::vector<StoredValue> values;

    StoredValue *Find(const std::u16string &valueName) {
        for (auto &v : values)
            if (EqualNoCase(v.name, valueName)) return &v;
        return nullptr;
    }
};

void PutU32(std::vector<uint8_t> &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void PutText(std::vector<uint8_t> &out, const std::u16string &s) {
    PutU32(out, uint32_t(s.size()));
    for (char16_t c : s) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
}

std::vector<uint8_t> Serialize(const KeyFile &file) {
    std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
    out.push_back(file.hasName ? 1 : 0);
    PutText(out, file.name);
    PutU32(out, uint32_t(file.values.size()));
    for (const auto &v : file.values) {
        PutText(out, v.name);
        PutU32(out, uint32_t(v.value.type));
        PutU32(out, uint32_t(v.value.data.size()));
        out.insert(out.end(), v.value.data.begin(), v.value.data.end());
    }
    PutU32(out, Fnv32(out.data(), out.size()));
    return out;
}

class Reader {
  public:
    Reader(const std::vector<uint8_t> &data, size_t end) : data_(data), end_(end) {}
    bool U32(uint32_t &v) {
        if (end_ - pos_ < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(data_[pos_ + size_t(i)]) << (8 * i);
        pos_ += 4;
        return true;
    }
    bool Text(std::u16string &s, size_t limit) {
        uint32_t n;
        if (!U32(n) || n > limit || (end_ - pos_) / 2 < n) return false;
        s.resize(n);
        for (uint32_t i = 0; i < n; ++i) s[i] = char16_t(data_[pos_ + 2 * i] | (data_[pos_ + 2 * i + 1] << 8));
        pos_ += 2 * size_t(n);
        return true;
    }
    bool Bytes(std::vector<uint8_t> &b, uint32_t n) {
        if (end_ - pos_ < n) return false;
        b.assign(data_.begin() + long(pos_), data_.begin() + long(pos_ + n));
        pos_ += n;
        return true;
    }
    bool Byte(uint8_t &b) {
        if (pos_ >= end_) return false;
        b = data_[pos_++];
        return true;
    }
    void Skip(size_t n) { pos_ += n; }
    bool AtEnd() const { return pos_ == end_; }

  private:
    const std::vector<uint8_t> &data_;
    size_t end_;
    size_t pos_ = 0;
};

// Anything that does not parse completely is an empty key.
bool Parse(const std::vector<uint8_t> &data, KeyFile &file) {
    file = KeyFile();
    if (data.size() < sizeof kMagic + 4 || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0) return false;
    size_t body = data.size() - 4;
    uint32_t sum = uint32_t(data[body]) | uint32_t(data[body + 1]) << 8 | uint32_t(data[body + 2]) << 16 |
                   uint32_t(data[body + 3]) << 24;
    if (sum != Fnv32(data.data(), body)) return false;
    Reader r(data, body);
    r.Skip(sizeof kMagic);
    KeyFile parsed;
    uint8_t hasName;
    uint32_t count;
    if (!r.Byte(hasName) || !r.Text(parsed.name, kMaxKeyName) || !r.U32(count)) return false;
    parsed.hasName = hasName != 0;
    for (uint32_t i = 0; i < count; ++i) {
        StoredValue v;
        uint32_t type, size;
        if (!r.Text(v.name, kMaxValueName) || !r.U32(type) || !r.U32(size) || !r.Bytes(v.value.data, size))
            return false;
        if (type != uint32_t(RegType::String) && type != uint32_t(RegType::Binary) &&
            type != uint32_t(RegType::DWord))
            return false;
        v.value.type = RegType(type);
        parsed.values.push_back(std::move(v));
    }
    if (!r.AtEnd()) return false;
    file = std::move(parsed);
    return true;
}

bool ReadAll(const std::string &path, std::vector<uint8_t> &out) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    uint8_t buf[8192];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
        if (out.size() > (64u << 20)) { // no key is that large; refuse to read on
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::vector<uint8_t> &data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

std::atomic<unsigned> gTempCounter{0};

std::string UniqueSuffix() {
    return std::to_string(::getpid()) + "." + std::to_string(gTempCounter.fetch_add(1)) + "." +
           std::to_string(uint64_t(std::rand()));
}

// Replaces the key file as a whole.
bool WriteKeyFile(const std::string &dir, const KeyFile &file) {
    std::vector<uint8_t> data = Serialize(file);
    std::string temp = dir + "/" + kValuesFile + ".tmp." + UniqueSuffix();
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), (dir + "/" + kValuesFile).c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

KeyFile LoadKeyFile(const std::string &dir) {
    KeyFile file;
    std::vector<uint8_t> data;
    if (ReadAll(dir + "/" + kValuesFile, data)) Parse(data, file);
    return file;
}

bool IsDirectory(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string &path) {
    if (IsDirectory(path)) return true;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) return false;
    return ::mkdir(path.c_str(), 0700) == 0 || (errno == EEXIST && IsDirectory(path));
}

// Holds flock() on a key directory while the key's file is read, changed and replaced.
class KeyLock {
  public:
    explicit KeyLock(const std::string &dir) {
        fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~KeyLock() {
        if (fd_ >= 0) ::close(fd_); // releases the lock
    }
    KeyLock(const KeyLock &) = delete;
    KeyLock &operator=(const KeyLock &) = delete;
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

std::string KeyDir(RegRoot root, const std::vector<std::u16string> &parts) {
    std::string dir = RegStoreRoot() + "/" + RootDirName(root);
    for (const auto &p : parts) dir += "/" + DirName(p);
    return dir;
}

class FileRegKey final : public RegKey {
  public:
    FileRegKey(std::string dir, bool writable) : dir_(std::move(dir)), writable_(writable) {}

    bool SetString(const std::u16string &name, const std::u16string &value) override {
        RegValue v;
        v.type = RegType::String;
        for (char16_t c : value) {
            v.data.push_back(uint8_t(c & 0xFF));
            v.data.push_back(uint8_t(c >> 8));
        }
        v.data.push_back(0);
        v.data.push_back(0);
        return Store(name, std::move(v));
    }

    bool SetDWord(const std::u16string &name, uint32_t value) override {
        RegValue v;
        v.type = RegType::DWord;
        for (int i = 0; i < 4; ++i) v.data.push_back(uint8_t(value >> (8 * i)));
        return Store(name, std::move(v));
    }

    bool SetBinary(const std::u16string &name, const std::vector<uint8_t> &value) override {
        RegValue v;
        v.type = RegType::Binary;
        v.data = value;
        return Store(name, std::move(v));
    }

    bool GetValue(const std::u16string &name, RegValue &value) const override {
        KeyFile file = LoadKeyFile(dir_);
        StoredValue *v = file.Find(name);
        if (!v) return false;
        value = v->value;
        return true;
    }

    bool GetString(const std::u16string &name, std::u16string &value) const override {
        RegValue v;
        if (!GetValue(name, v) || v.type != RegType::String) return false;
        value.clear();
        for (size_t i = 0; i + 1 < v.data.size(); i += 2) value.push_back(char16_t(v.data[i] | (v.data[i + 1] << 8)));
        // Stored with a terminating NUL; data written by others may lack it.
        if (!value.empty() && value.back() == 0) value.pop_back();
        return true;
    }

    bool DeleteValue(const std::u16string &name) override {
        if (!writable_) return false;
        KeyLock lock(dir_);
        if (!lock.Held()) return false;
        KeyFile file = LoadKeyFile(dir_);
        auto it = std::find_if(file.values.begin(), file.values.end(),
                               [&](const StoredValue &v) { return EqualNoCase(v.name, name); });
        if (it == file.values.end()) return false;
        file.values.erase(it);
        return WriteKeyFile(dir_, file);
    }

    std::vector<std::u16string> SubKeyNames() const override {
        std::vector<std::u16string> names;
        DIR *d = ::opendir(dir_.c_str());
        if (!d) return names;
        while (dirent *e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue; // own file, temporaries, tombstones
            std::string sub = dir_ + "/" + e->d_name;
            if (!IsDirectory(sub)) continue;
            KeyFile file = LoadKeyFile(sub);
            std::u16string name = file.hasName ? file.name : NameFromDir(e->d_name);
            if (!name.empty()) names.push_back(std::move(name));
        }
        ::closedir(d);
        std::sort(names.begin(), names.end(), LessNoCase);
        return names;
    }

    std::vector<std::u16string> ValueNames() const override {
        std::vector<std::u16string> names;
        for (auto &v : LoadKeyFile(dir_).values) names.push_back(v.name);
        return names;
    }

  private:
    bool Store(const std::u16string &name, RegValue value) {
        if (!writable_ || name.size() > kMaxValueName) return false;
        KeyLock lock(dir_);
        if (!lock.Held()) return false; // the key was deleted
        KeyFile file = LoadKeyFile(dir_);
        if (StoredValue *v = file.Find(name)) v->value = std::move(value);
        else file.values.push_back(StoredValue{name, std::move(value)});
        return WriteKeyFile(dir_, file);
    }

    std::string dir_;
    bool writable_;
};

std::string DefaultStoreRoot() {
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/orkv14/registry";
    std::string home;
    if (const char *h = std::getenv("HOME"); h && h[0] == '/') home = h;
    else if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
    if (home.empty()) home = "/tmp";
    return home + "/.config/orkv14/registry";
}

} // namespace

void RegSetStoreRoot(const std::string &directory) {
    std::lock_guard<std::mutex> guard(gRootLock);
    gRoot = directory;
    while (gRoot.size() > 1 && gRoot.back() == '/') gRoot.pop_back();
}

std::string RegStoreRoot() {
    std::lock_guard<std::mutex> guard(gRootLock);
    if (gRoot.empty()) gRoot = DefaultStoreRoot();
    return gRoot;
}

std::unique_ptr<RegKey> RegCreate(RegRoot root, const std::u16string &path) {
    std::vector<std::u16string> parts;
    if (!SplitPath(path, parts)) return nullptr;
    std::string dir = RegStoreRoot() + "/" + RootDirName(root);
    if (!MakeDirectories(dir)) return nullptr;
    for (const auto &part : parts) {
        dir += "/" + DirName(part);
        if (IsDirectory(dir)) continue;
        if (::mkdir(dir.c_str(), 0700) != 0 && !(errno == EEXIST && IsDirectory(dir))) return nullptr;
        // The first creator's spelling is the key's name.
        KeyLock lock(dir);
        if (!lock.Held()) return nullptr;
        KeyFile file = LoadKeyFile(dir);
        if (!file.hasName) {
            file.hasName = true;
            file.name = part;
            if (!WriteKeyFile(dir, file)) return nullptr;
        }
    }
    return std::make_unique<FileRegKey>(dir, true);
}

std::unique_ptr<RegKey> RegOpen(RegRoot root, const std::u16string &path, bool writable) {
    std::vector<std::u16string> parts;
    if (!SplitPath(path, parts)) return nullptr;
    std::string dir = KeyDir(root, parts);
    if (!IsDirectory(dir)) return nullptr;
    return std::make_unique<FileRegKey>(dir, writable);
}

bool RegDeleteKeyTree(RegRoot root, const std::u16string &path) {
    std::vector<std::u16string> parts;
    if (!SplitPath(path, parts) || parts.empty()) return false; // never a whole root
    std::string dir = KeyDir(root, parts);
    if (!IsDirectory(dir)) return false;
    // Move the key out of sight in one step, then remove its files at leisure.
    std::string parent = dir.substr(0, dir.rfind('/'));
    std::string tomb = parent + "/.deleted." + UniqueSuffix();
    if (::rename(dir.c_str(), tomb.c_str()) != 0) return false;
    std::error_code ec;
    std::filesystem::remove_all(tomb, ec);
    return true;
}

} // namespace kv::pal
