#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "mime/body_io.h"
#include "orkv14.hpp"

namespace fuzz {

inline std::string Text(const uint8_t *data, size_t size) {
    return std::string(reinterpret_cast<const char *>(data), size);
}

// A memory stream to decode into, read back afterwards.
struct MemoryStream {
    orkv14::Ptr<IStream> stream = orkv14::MemoryStream("");
    kv::clsOutputTarget Target() const { return kv::clsOutputTarget(kv::pal::kInvalidFile, stream.get()); }
    std::string Contents() const { return orkv14::ReadAll(stream.get()); }
};

// Lines as the reader makes them: ended by CR LF, a lone CR or a lone LF.
inline std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + (text.compare(end, 2, "\r\n") ? 1 : 2)) {
        end = std::min(text.find_first_of("\r\n", at), text.size());
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

inline std::string Joined(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) text += line + "\r\n";
    return text;
}

// A disagreement between two ways of computing the same thing is a finding.
inline void Check(bool ok) {
    if (!ok) std::abort();
}

} // namespace fuzz
