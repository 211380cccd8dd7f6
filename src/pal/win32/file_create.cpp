#include "pal/file_create.h"

#include <windows.h>

#include "pal/system.h"

namespace kv::pal {

CreateNewResult FileCreateNew(const std::string &path, std::string &error) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return CreateNewResult::Created;
    }
    DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return CreateNewResult::Exists;
    error = SystemMessageText(HRESULT_FROM_WIN32(code));
    return CreateNewResult::Failed;
}

} // namespace kv::pal
