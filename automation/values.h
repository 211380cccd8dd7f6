// Arguments as scripts pass them, and the streams, texts and files behind
// the objects. Functions that can refuse return an HRESULT and say why.
#pragma once

#include <string>

#include "module.h"

namespace kvauto {

// An argument by value: VBScript and VB pass variables by reference.
HRESULT ByValue(const VARIANT &argument, VARIANT *value);

// A position from an Index argument: a number from 1 to count, as 0 to count-1.
HRESULT IndexArg(const VARIANT &index, size_t count, size_t *position, std::string &why);

// Bytes from a Byte() array, or from an array of numbers 0 to 255 (what
// VBScript's Array() makes); one dimension, any lower bound.
HRESULT BytesArg(const VARIANT &data, std::string &bytes, std::string &why);
// A Byte() array (VT_ARRAY | VT_UI1) holding the bytes.
HRESULT ByteArray(const std::string &bytes, VARIANT *out);

HRESULT StreamOf(const std::string &bytes, Ptr<IStream> &stream);
HRESULT EmptyStream(Ptr<IStream> &stream);
std::string BytesOf(IStream *stream);

// Text in a code page and back (0: the system ANSI code page).
std::string Encode(BSTR text, UINT codepage);
BSTR Decode(const std::string &bytes, UINT codepage);
// One character per byte, as RFC 822 text is handed over whole.
BSTR Latin1(const std::string &bytes);

// A header field's name: printable ASCII without a colon (RFC 5322).
bool IsFieldName(BSTR name);
// Text for a message, in single quotes, control characters written as \xNN
// (names and texts may come from a mail).
std::string Quoted(BSTR text);

// A file name that stays where it is put: no folders, no reserved names or
// characters, never empty.
BSTR SafeFileName(BSTR name);
HRESULT CheckReadable(BSTR path, std::string &why);
HRESULT WriteWholeFile(BSTR path, const std::string &bytes, bool overwrite, std::string &why);

} // namespace kvauto
