// The encoders and decoders the internet mail path shares: body transfer
// encodings, base64 on strings, RFC 2047 encoded words, RFC 2231 parameter
// values, percent escapes, the address-field tokenizer and the MD5 digests
// (md5.h). Free functions without state of their own; failures throw
// clsExcept with code -5.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <string_view>
#include <vector>

#include "mime/line_text.h"
#include "pal/com.h"
#include "pal/stream_window.h"
#include "pal/system.h"
#include "runtime/kvstring.h"

namespace kv {

// ---- where bodies come from and go to ----

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

// Lines without their line ends, as the reader collects a body; the body
// decoders take them off the front.
using clsLineList = std::deque<String>;

// ---- body transfer encodings ----

void EncodeQuotedPrintableBody(const clsBodySource &source, const clsOutputTarget &target);
void EncodeBase64Body(const clsBodySource &source, const clsOutputTarget &target);
void DecodeQuotedPrintableLines(clsLineList &lines, const clsOutputTarget &target);
void DecodeBase64Lines(clsLineList &lines, const clsOutputTarget &target);
// The transfer encoding named "UTF-8": every character becomes the byte of
// its low eight bits. Validates everything before it writes anything.
void DecodeUtf8Lines(clsLineList &lines, const clsOutputTarget &target);
// The same decoders over the lines of a text in place.
void DecodeQuotedPrintableText(clsLineText lines, const clsOutputTarget &target);
void DecodeBase64Text(clsLineText lines, const clsOutputTarget &target);
void DecodeUtf8Text(clsLineText lines, const clsOutputTarget &target);
// Every line followed by CR LF (7bit, 8bit and unknown encodings).
void WriteLinesCrLf(clsLineText lines, const clsOutputTarget &target);

// ---- base64 on strings and buffers ----

String EncodeBase64(const void *bytes, size_t length);
// The text (in the ANSI code page) converted to the code page first.
String EncodeBase64(const String &text, uint32_t codepage);
String EncodeBase64Unpadded(const void *bytes, size_t length);
// The text in code page 1252 with its terminating zero byte.
String EncodeBase64Unpadded(std::u16string_view text);
// Decoded as base64 bodies are (padding honoured); the result ends at the
// first zero byte.
String DecodeBase64(std::string_view text);
// With a null buffer: the size to provide, length * 3 / 4. Otherwise decodes
// into the buffer (never more than that size) and returns the bytes written.
size_t DecodeBase64Unpadded(std::string_view text, uint8_t *buffer);

// ---- header words and fields ----

// RFC 2047 encoded words replaced by their text. The 8-bit form keeps the
// text around the words as it is and converts each word from its charset to
// the given code page (0: ANSI).
String DecodeEncodedWords(std::string_view text, uint32_t codepage = 0);
WString DecodeEncodedWords(std::u16string_view text);
// Q text: "_" a space, "=XX" a byte, a cut "=" ends the text.
String DecodeQText(std::string_view text);

// The whole text as one encoded word in the charset when it needs one.
String EncodeHeaderWord(std::u16string_view text, std::string_view charset);
// Unstructured text (a subject): chunked, encoded where needed, folded.
String EncodeHeaderText(std::u16string_view text, std::string_view charset);
// An address field up to its address, encoded where needed and folded;
// throws "no address found in '%s'" when it has none.
String EncodeAddressField(std::u16string_view text, std::string_view charset);

// An RFC 2231 value; an extended one may name its charset, which sets the
// code page (carried from one section to the next). Result in the ANSI code page.
String DecodeParameterValue(std::string_view value, bool extended, uint32_t &codepage);
// "%XX" escapes; the bytes are read in the code page, the result is in the
// ANSI code page.
String DecodePercentText(std::string_view text, uint32_t codepage);

// One token of a parsed address or header field.
struct clsParseItem {
    enum : int32_t { kText = 1, kComment = 3, kAddress = 4, kBlank = 5 };
    int32_t kind = kText;
    String text;
};
using clsParseList = std::list<clsParseItem>;

// Decodes encoded words (into the code page, 0: ANSI), then splits the field
// into tokens.
clsParseList ParseAddressField(std::string_view text, uint32_t codepage = 0);
// All tokens' texts: the field with blank runs reduced to one space.
String GetFieldText(const clsParseList &items);
// The first address without angle brackets and, unless raw, without an
// address-type prefix ("smtp:", "SMTP::"); empty when there is none.
String GetFieldAddress(const clsParseList &items, bool raw = false);
// The tokens before the address, trimmed; the address when that is empty.
String GetFieldDisplayName(const clsParseList &items);
// A display name in double quotes without its quotes and backslash escapes
// (for systems that show the name as given); other text unchanged.
String UnquotedDisplayName(const String &name);
bool HasFieldAddress(const clsParseList &items);

} // namespace kv
