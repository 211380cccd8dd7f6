// What kvmail needs beyond the public C++ helpers: files, streams and the
// error record as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orkv14.hpp"

namespace kvmail {

using orkv14::Bstr;
using orkv14::Ptr;
using orkv14::Utf8;
using orkv14::Wide;

// Streams.
bool StreamFromFile(const std::string &path, Ptr<IStream> &out, std::string &error);
std::string StreamBytes(IStream *stream);
bool WriteFile(const std::string &path, const std::string &bytes, std::string &error);
bool ReadFile(const std::string &path, std::string &bytes, std::string &error);

// The connection's error record as "code: text", lines joined.
std::string ErrorRecord(IKvMailConnection2 *connection);
// Every string an IEnumString holds.
std::vector<std::string> Strings(IEnumString *e);

} // namespace kvmail
