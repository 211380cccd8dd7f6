// Loading system libraries at run time (LoadLibrary / dlopen).
#pragma once

#include <string>

namespace kv::pal {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    explicit DynamicLibrary(const std::string &name) { Load(name); }
    ~DynamicLibrary() { Free(); }
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    bool Load(const std::string &name);
    void Free();
    bool Loaded() const { return handle_ != nullptr; }
    void *Symbol(const char *name) const;

  private:
    void *handle_ = nullptr;
};

} // namespace kv::pal
