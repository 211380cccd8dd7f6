// What kvmail needs beyond the public C++ helpers: files, streams and the
// error record as text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "orkv14.hpp"

namespace kvmail {

using orkv14::Bstr;
using orkv14::Ptr;
using orkv14::ReadAll;
using orkv14::Utf8;
using orkv14::Variant;
using orkv14::Wide;

// Streams. A file's stream reads the file as it is asked, never whole.
bool StreamFromFile(const std::string &path, Ptr<IStream> &out, std::string &error);
// How many bytes `fill` writes into a stream that keeps none of them.
uint64_t CountWritten(const std::function<HRESULT(IStream *)> &fill, bool &ok);
// As WriteNewFile, the bytes written by `fill` straight into the file; size is their count.
bool WriteNewFile(const std::string &dir, const std::string &name, const std::function<HRESULT(IStream *)> &fill,
                  std::string &path, uint64_t &size, std::string &error);
bool ReadFile(const std::string &path, std::string &bytes, std::string &error);
// Writes bytes into a file of dir that did not exist before: name, or the
// first free NumberedName of it. path is the file written (or tried).
bool WriteNewFile(const std::string &dir, const std::string &name, const std::string &bytes, std::string &path,
                  std::string &error);

// The connection's error record: its code and lines.
std::vector<std::string> ErrorLines(IKvMailConnection2 *connection, LONG &code);
// The same as "error CODE: line", further lines indented, escaped for a terminal.
std::string ErrorRecord(IKvMailConnection2 *connection);
// Every string an IEnumString holds.
std::vector<std::string> Strings(IEnumString *e);

} // namespace kvmail
