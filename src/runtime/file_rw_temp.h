// clsFileRWTemp: a read/write stream over a hidden temporary file that
// deletes itself. The file is made on first use. Contents handed over whole
// may stay in memory until something writes or asks for the file.
#pragma once

#include "pal/com.h"
#include "pal/temp_file.h"
#include "runtime/kvstring.h"
#include "runtime/memory_block.h"

namespace kv {

class clsFileRWTemp {
  public:
    explicit clsFileRWTemp(const String &prefix = "chk", const String &extension = ".tmp")
        : prefix_(prefix), extension_(extension) {}
    ~clsFileRWTemp();
    clsFileRWTemp(const clsFileRWTemp &) = delete;
    clsFileRWTemp &operator=(const clsFileRWTemp &) = delete;

    // The open file, made if needed, with contents kept in memory moved into
    // it; throws clsExcept (kErrGeneral) when it cannot be made or written.
    pal::FileHandle Handle();
    bool IsOpen() const { return file_ != pal::kInvalidFile; }
    // The most a caller should hand over to be kept in memory: a host
    // holding many large mails must not run out of address space.
    size_t MemoryLimit() const { return memoryLimit_; }
    void SetMemoryLimit(size_t limit) { memoryLimit_ = limit; }
    // Replaces the contents with the block's first size bytes, kept in
    // memory (position 0).
    void KeepInMemory(clsMemoryBlock data, size_t size);
    // The contents kept in memory; empty when they are in the file.
    std::string_view Memory() const { return {memory_.get(), memorySize_}; }
    uint64_t Size() const;
    bool Empty() const { return Size() == 0; }

    // Length 0, position 0.
    void Truncate();
    void Rewind();
    // At the current position; throws clsExcept (kErrGeneral) on failure.
    void Write(const void *data, size_t size);
    void Write(std::string_view text) { Write(text.data(), text.size()); }
    // Up to size bytes from the current position; throws on a read failure.
    size_t Read(void *buffer, size_t size);
    // The whole contents.
    String ReadAll();

    // Writes the contents from their start into the stream at its position.
    HRESULT SaveTo(IStream *destination);

  private:
    String prefix_;
    String extension_;
    // Moves contents kept in memory into the file.
    void Spill();

    pal::FileHandle file_ = pal::kInvalidFile;
    clsMemoryBlock memory_;
    size_t memorySize_ = 0;
    size_t memoryPos_ = 0;
    size_t memoryLimit_ = sizeof(void *) >= 8 ? size_t(256) << 20 : size_t(32) << 20;
};

} // namespace kv
