// Errors as automation clients read them: IErrorInfo with the real reason.
#include <cstdio>

#include "object.h"

namespace kvauto {

HRESULT Raise(HRESULT hr, REFIID iid, const char *source, std::string_view description) {
    Ptr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return hr;
    Bstr sourceText(source), descriptionText(description);
    create->SetGUID(iid);
    create->SetSource(sourceText.get());
    create->SetDescription(descriptionText.get());
    Ptr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) SetErrorInfo(0, info.get());
    return hr;
}

std::string SystemText(HRESULT hr) {
    wchar_t *buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, DWORD(hr), 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::string text = n && buffer ? orkv14::Utf8(reinterpret_cast<const OLECHAR *>(buffer), n) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    return text.empty() ? std::string("error ") + code : text + " (" + code + ")";
}

std::string RecordText(IKvMailConnection2 *connection, LONG *code) {
    LONG k = 0;
    Bstr text;
    connection->GetErrorInformation(&k, text.put());
    if (code) *code = k;
    std::string lines = text.Utf8();
    while (!lines.empty() && (lines.back() == '\n' || lines.back() == '\r')) lines.pop_back();
    return lines;
}

} // namespace kvauto
