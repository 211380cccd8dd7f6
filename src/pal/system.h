// Kernel services: time, thread id, computer name, temp files, module path,
// system message texts, debugger output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kv::pal {

struct LocalTime {
    int year, month, day, dayOfWeek; // dayOfWeek: 0 = Sunday
    int hour, minute, second, millisecond;
    // Offset of local time from UTC in minutes (east positive), e.g. +330 for +05:30.
    int utcOffsetMinutes;
};
LocalTime GetLocalTime();
uint64_t TickCountMs();
// A fast-changing counter (the processor's time-stamp counter where there is
// one): noise for seeds, never a time.
uint64_t CycleCounter();
uint32_t CurrentThreadId();
std::string ComputerName();

// Directory for temporary files, with a trailing separator.
std::string TempDirectory();
// Creates a new, empty, uniquely named file "<dir><prefix>XXXX<ext>" and
// returns its path; empty on failure.
std::string CreateTempFileName(const std::string &prefix, const std::string &extension);
bool DeleteFilePath(const std::string &path);
// The process's current directory (GetCurrentDirectoryA, at most 260
// characters); empty when it cannot be read.
std::string CurrentDirectory();
bool SetCurrentDirectoryPath(const std::string &path);

// The object model of the calling thread (OleInitialize, OleUninitialize);
// where there is none, nothing is started and the answer is E_NOTIMPL.
int32_t OleInitializeThread();
void OleUninitializeThread();

// Full path of the component's own library file (empty if unknown).
std::string ModulePath();
// Name and extension of a path, without directory.
std::string FileNameOf(const std::string &path);

// The system's message text for an HRESULT, without trailing line break;
// empty when the system has none.
std::string SystemMessageText(int32_t hr);

// The system debugger output (OutputDebugStringA; stderr-free no-op target elsewhere).
void DebugOutput(const std::string &text);

// An open file: a descriptor here, a HANDLE on Windows.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;
// Opens for reading, or creates/truncates for writing; kInvalidFile on failure.
FileHandle FileOpen(const std::string &path, bool forWriting);
void FileClose(FileHandle file);
// Writes all bytes; false on failure.
bool FileWrite(FileHandle file, const void *data, size_t size);
// Up to size bytes; 0 at the end of the file, -1 on failure.
int64_t FileRead(FileHandle file, void *buffer, size_t size);

} // namespace kv::pal

namespace kv::pal {
// The legacy profile (win.ini) value; the default where there is none.
int LegacyProfileInt(const std::string &section, const std::string &key, int defaultValue);
// Whether the user interface language is German (texts chosen by language).
bool UiLanguageIsGerman();
// A modal information box without owner; elsewhere the text goes to the debugger output.
void ShowInfoMessage(const std::string &text, const std::string &caption);
} // namespace kv::pal
