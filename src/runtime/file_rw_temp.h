// clsFileRWTemp: a read/write stream over a hidden temporary file that
// deletes itself. The file is made on first use.
#pragma once

#include "pal/com.h"
#include "pal/temp_file.h"
#include "runtime/kvstring.h"

namespace kv {

class clsFileRWTemp {
  public:
    explicit clsFileRWTemp(const String &prefix = "chk", const String &extension = ".tmp")
        : prefix_(prefix), extension_(extension) {}
    ~clsFileRWTemp();
    clsFileRWTemp(const clsFileRWTemp &) = delete;
    clsFileRWTemp &operator=(const clsFileRWTemp &) = delete;

    // The open file, made if needed; throws clsExcept (-5) when it cannot be made.
    pal::FileHandle Handle();
    bool IsOpen() const { return file_ != pal::kInvalidFile; }
    uint64_t Size() const;
    bool Empty() const { return Size() == 0; }

    // Length 0, position 0.
    void Truncate();
    void Rewind();
    // At the current position; throws clsExcept (-5) on failure.
    void Write(const void *data, size_t size);
    void Write(std::string_view text) { Write(text.data(), text.size()); }
    // Up to size bytes from the current position; throws on a read failure.
    size_t Read(void *buffer, size_t size);
    // The whole contents.
    String ReadAll();

    // Replaces the contents with the stream from its start to its end.
    HRESULT LoadFrom(IStream *source);
    // Writes the contents from their start into the stream at its position.
    HRESULT SaveTo(IStream *destination);

  private:
    String prefix_;
    String extension_;
    pal::FileHandle file_ = pal::kInvalidFile;
};

} // namespace kv
