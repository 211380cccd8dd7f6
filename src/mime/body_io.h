// Where bodies come from and go to, the driver of the step decoders over a
// text in place, and the transfer decodings without a codec of their own.
// Failures throw clsExcept with code -5.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "mime/line_text.h"
#include "pal/com.h"
#include "pal/stream_window.h"
#include "pal/system.h"

namespace kv {

// An optional open file and an optional stream; every write goes to the file
// when it is valid and also to the stream when one is attached. A failed
// write throws: a body must not be cut short silently.
class clsOutputTarget {
  public:
    clsOutputTarget(pal::FileHandle file = pal::kInvalidFile, IStream *stream = nullptr)
        : file_(file), stream_(stream) {}
    void Write(const void *data, size_t size) const;
    void Write(std::string_view bytes) const { Write(bytes.data(), bytes.size()); }

    // Writes to the stream (and no file) go straight into the open window
    // while they fit; at the first that does not, the window is closed and
    // writing goes on through the stream.
    void WriteInPlace(pal::clsStreamWindow *window) { window_ = window; }
    // Writes what fill puts at the pointer it is given (room for most bytes;
    // it returns how many it wrote): in place where the window has the room,
    // else through the buffer, grown as needed.
    template <typename Fill> void WriteFilled(size_t most, std::vector<uint8_t> &buffer, Fill &&fill) const {
        if (uint8_t *room = window_ ? window_->Room(most) : nullptr) {
            window_->AddUsed(fill(room));
            return;
        }
        if (buffer.size() < most) buffer.resize(most);
        Write(buffer.data(), fill(buffer.data()));
    }

  private:
    pal::FileHandle file_;
    IStream *stream_;
    pal::clsStreamWindow *window_ = nullptr;
};

// The same pair, read: the file when it is valid, else the stream.
class clsBodySource {
  public:
    clsBodySource(pal::FileHandle file = pal::kInvalidFile, IStream *stream = nullptr)
        : file_(file), stream_(stream) {}
    // Fills the buffer as far as the source goes; fewer bytes only at its end.
    size_t Read(void *buffer, size_t size) const;

  private:
    pal::FileHandle file_;
    IStream *stream_;
};

// Decodes a whole text by a step codec: in pieces of at most `piece`
// characters, each straight into the target's room for what it can give
// (room(n)), then the codec's end. Line ends are the codec's business, so
// whatever ends the lines, the text goes through in large pieces.
template <class State>
void DecodeTextInPieces(std::string_view text, size_t piece, const clsOutputTarget &target, size_t (*room)(size_t),
                        size_t (*step)(State &, const char *, size_t, uint8_t *), size_t (*end)(State &, uint8_t *)) {
    // No larger than the text needs: a message of many small parts must not
    // clear a large buffer for each.
    piece = std::min(piece, text.size() + 1);
    std::vector<uint8_t> out;
    State state;
    for (size_t at = 0; at < text.size(); at += piece) {
        size_t n = std::min(piece, text.size() - at);
        target.WriteFilled(room(n), out, [&](uint8_t *o) { return step(state, text.data() + at, n, o); });
    }
    target.WriteFilled(room(0), out, [&](uint8_t *o) { return end(state, o); });
}

// The transfer encoding named "UTF-8": every character becomes the byte of
// its low eight bits. Validates everything before it writes anything.
void DecodeUtf8Lines(clsLineText lines, const clsOutputTarget &target);
// Every line followed by CR LF (7bit, 8bit and unknown encodings).
void WriteLinesCrLf(clsLineText lines, const clsOutputTarget &target);

} // namespace kv
