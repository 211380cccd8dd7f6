#include "providers/smapi/smapi_session.h"

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "pal/file_create.h"
#include "pal/library.h"
#include "pal/system.h"
#include "pal/window.h"
#include "providers/hook_scope.h"

namespace kv {

namespace {

template <class T> void Bind(const pal::DynamicLibrary *library, const char *name, T &entry) {
    entry = library ? reinterpret_cast<T>(library->Symbol(name)) : nullptr;
    if (!entry && library) pal::DebugOutput(Format("function %s is not defined", name));
}

} // namespace

clsSMAPIDLL::clsSMAPIDLL(void *library) {
    auto *lib = static_cast<const pal::DynamicLibrary *>(library);
    if (!lib) return;
    Bind(lib, "MAPILogon", f_.MAPILogon);
    Bind(lib, "MAPILogoff", f_.MAPILogoff);
    Bind(lib, "MAPISendMail", f_.MAPISendMail);
    Bind(lib, "MAPIFindNext", f_.MAPIFindNext);
    Bind(lib, "MAPIReadMail", f_.MAPIReadMail);
    Bind(lib, "MAPIDeleteMail", f_.MAPIDeleteMail);
    Bind(lib, "MAPIFreeBuffer", f_.MAPIFreeBuffer);
}

clsSMAPI::~clsSMAPI() { Logoff(); }

uintptr_t clsSMAPI::Parent() {
    if (parent_ && !(isWindow && isWindow(parent_))) {
        pal::DebugOutput("WRN: originally valid 'GetActiveWindow()' is not valid any more!");
        parent_ = 0;
    }
    return parent_;
}

void clsSMAPI::Logon(const String &profile, const String &password, bool suppress) {
    clsHookScope scope("[clsSMAPI::Logon]");
    try {
        if (!f_.MAPILogon) throw clsExcept(kErrGeneral, "MAPI is not available!");
        if (loggedOn_) return;
        parent_ = activeWindow ? activeWindow() : 0;
        smapi::FLAGS flags = 0;
        if (password.empty()) flags |= profile.empty() ? smapi::MAPI_LOGON_UI : smapi::MAPI_PASSWORD_UI;
        flags |= profile.empty() ? smapi::MAPI_DIALOG : smapi::MAPI_NEW_SESSION;
        String p = profile, w = password;
        smapi::LHANDLE session = 0;
        uint32_t rc = f_.MAPILogon(parent_, p.data(), w.data(), flags, 0, &session);
        if (rc == smapi::SUCCESS_SUCCESS) {
            loggedOn_ = true;
            session_ = session;
            return;
        }
        if (rc == smapi::MAPI_E_USER_ABORT) throw clsExcept(kErrLogonCancelled, "MAPI LOGON cancelled!");
        if (rc == smapi::MAPI_E_LOGON_FAILURE) {
            if (!suppress && errorBox)
                errorBox(Parent(), "LOGON failed - usually due to a bad profile name or password.");
            throw clsExcept(kErrLogonFailed, "MAPI LOGON failed!");
        }
        String text = Format("MAPILogon() failed, reason '%s'", HResultText(HRESULT(rc)).c_str());
        if (errorBox) errorBox(Parent(), text);
        throw clsExcept(kErrLogonFailed, text);
    } catch (clsExcept &e) {
        scope.Attach(e);
        throw;
    }
}

void clsSMAPI::Logoff() {
    if (loggedOn_ && f_.MAPILogoff) f_.MAPILogoff(session_, Parent(), 0, 0);
    loggedOn_ = false;
    session_ = 0;
}

namespace {

const char *OrNull(const char *s) { return s ? s : "(NULL)"; }

void DumpRecipient(const smapi::MapiRecipDesc &r) {
    LogWriteF(kLogDetails, "Class: %d", int(r.ulRecipClass));
    LogWriteF(kLogDetails, "Name: %s", OrNull(r.lpszName));
    LogWriteF(kLogDetails, "Addr: %s", OrNull(r.lpszAddress));
}

void Dump(const smapi::MapiMessage &m) {
    LogWrite(kLogDetails, "MAPI: Send()");
    LogWriteF(kLogDetails, "Reserved: 0x%x", unsigned(m.ulReserved));
    LogWriteF(kLogDetails, "Subject: '%s'", OrNull(m.lpszSubject));
    LogWriteF(kLogDetails, "NoteText: '%s'", OrNull(m.lpszNoteText));
    LogWriteF(kLogDetails, "MsgType: %s", OrNull(m.lpszMessageType));
    LogWriteF(kLogDetails, "DateReceived: %s", OrNull(m.lpszDateReceived));
    LogWriteF(kLogDetails, "ConvID: %s", OrNull(m.lpszConversationID));
    LogWriteF(kLogDetails, "Flags: 0x%x", unsigned(m.flFlags));
    if (m.lpOriginator) {
        LogWrite(kLogDetails, "Orig:");
        DumpRecipient(*m.lpOriginator);
    }
    for (uint32_t i = 0; i < m.nRecipCount; ++i) {
        LogWriteF(kLogDetails, "Recip %d/%d:", int(i + 1), int(m.nRecipCount));
        DumpRecipient(m.lpRecips[i]);
    }
    for (uint32_t i = 0; i < m.nFileCount; ++i) {
        const smapi::MapiFileDesc &f = m.lpFiles[i];
        LogWriteF(kLogDetails, "File %d/%d:", int(i + 1), int(m.nFileCount));
        LogWriteF(kLogDetails, "Reserved: 0x%x", unsigned(f.ulReserved));
        LogWriteF(kLogDetails, "Flags: 0x%x", unsigned(f.flFlags));
        LogWriteF(kLogDetails, "Position: %d", int(f.nPosition));
        LogWriteF(kLogDetails, "Path: %s", OrNull(f.lpszPathName));
        LogWriteF(kLogDetails, "Filename: %s", OrNull(f.lpszFileName));
        LogWriteF(kLogDetails, "Filetype: 0x%p", f.lpFileType);
    }
}

} // namespace

void clsSMAPI::SendMail(smapi::MapiMessage &message) {
    if (clsKvLog::Passes(kLogDetails)) Dump(message);
    if (!f_.MAPISendMail) throw clsExcept(kErrGeneral, "MAPI is not available!");
    smapi::FLAGS flags = message.nRecipCount == 0 ? smapi::MAPI_DIALOG : 0;
    uint32_t rc = 0;
    {
        // The messaging system's dialogs may change the current directory,
        // which the host's relative paths depend on.
        struct Restore {
            String directory = pal::CurrentDirectory();
            ~Restore() {
                if (!directory.empty()) pal::SetCurrentDirectoryPath(directory);
            }
        } restore;
        rc = f_.MAPISendMail(session_, Parent(), &message, flags, 0);
    }
    if (rc == smapi::SUCCESS_SUCCESS) return;
    const bool addresses = rc == smapi::MAPI_E_UNKNOWN_RECIPIENT || rc == smapi::MAPI_E_BAD_RECIPTYPE ||
                           rc == smapi::MAPI_E_AMBIGUOUS_RECIPIENT || rc == smapi::MAPI_E_INVALID_RECIPS;
    const bool german = pal::UiLanguageIsGerman();
    const char *format = addresses ? (german ? "Fehler bei MAPISendMail(). Eine oder mehrere eMail-Adressen sind falsch. %s."
                                             : "Fehler bei MAPISendMail(). One or more of the addresses are wrong. %s.")
                                   : (german ? "Fehler bei MAPISendMail(). %s." : "MAPISendMail() failed. %s.");
    throw clsExcept(addresses ? kErrRefused : kErrUnexpectedReply, Format(format, MapiErrorName(rc).c_str()));
}

String MapiErrorName(uint32_t code) {
    static const char *const kNames[] = {nullptr,
                                         "MAPI_E_USER_ABORT",
                                         "MAPI_E_FAILURE",
                                         "MAPI_E_LOGON_FAILURE",
                                         "MAPI_E_DISK_FULL",
                                         "MAPI_E_INSUFFICIENT_MEMORY",
                                         "MAPI_E_ACCESS_DENIED",
                                         nullptr,
                                         "MAPI_E_TOO_MANY_SESSIONS",
                                         "MAPI_E_TOO_MANY_FILES",
                                         "MAPI_E_TOO_MANY_RECIPIENTS",
                                         "MAPI_E_ATTACHMENT_NOT_FOUND",
                                         "MAPI_E_ATTACHMENT_OPEN_FAILURE",
                                         "MAPI_E_ATTACHMENT_WRITE_FAILURE",
                                         "MAPI_E_UNKNOWN_RECIPIENT",
                                         "MAPI_E_BAD_RECIPTYPE",
                                         "MAPI_E_NO_MESSAGES",
                                         "MAPI_E_INVALID_MESSAGE",
                                         "MAPI_E_TEXT_TOO_LARGE",
                                         "MAPI_E_INVALID_SESSION",
                                         "MAPI_E_TYPE_NOT_SUPPORTED",
                                         "MAPI_E_AMBIGUOUS_RECIPIENT",
                                         "MAPI_E_MESSAGE_IN_USE",
                                         "MAPI_E_NETWORK_FAILURE",
                                         "MAPI_E_INVALID_EDITFIELDS",
                                         "MAPI_E_INVALID_RECIPS",
                                         "MAPI_E_NOT_SUPPORTED"};
    if (code >= sizeof kNames / sizeof kNames[0] || !kNames[code]) return String();
    return Format("(%s (%d))", kNames[code], int(code));
}

String UniqueTempFileName(const String &directory, const String &name) {
    String file = pal::FileNameOf(name);
    size_t dot = file.rfind('.');
    String stem = dot == String::npos ? file : file.substr(0, dot);
    String extension = dot == String::npos ? String() : file.substr(dot);
    if (stem.size() > 256) stem.resize(256);
    if (extension.size() > 256) extension.resize(256);
    String base = stem;
    if (stem.empty() || stem.find_first_of("*?") != String::npos || extension.find_first_of("*?") != String::npos) {
        stem = "ATTACH";
        base = "ATT";
        extension.clear();
    }
    for (int i = 0; i <= 9999; ++i) {
        String candidate = directory + (i == 0 ? stem : Format("%s%05d", base.c_str(), i)) + extension;
        String error;
        switch (pal::FileCreateNew(candidate, error)) {
        case pal::CreateNewResult::Created: return candidate;
        case pal::CreateNewResult::Exists: continue;
        case pal::CreateNewResult::Failed:
            throw clsExcept(kErrGeneral, Format("Cannot create file '%s': '%s'", candidate.c_str(), error.c_str()));
        }
    }
    throw clsExcept(kErrGeneral, Format("No unique filename found in path '%s'", directory.c_str()));
}

clsAttachmentFile::~clsAttachmentFile() {
    if (temporary_ && !pal::DeleteFilePath(path_)) pal::DebugOutput(Format("Could not delete '%s'", path_.c_str()));
}

void clsAttachmentFile::UseFile(const String &path) {
    pal::FileHandle file = pal::FileOpen(path, false);
    if (file == pal::kInvalidFile)
        throw clsExcept(kErrGeneral, Format("Read error file '%s' - file not found?!", path.c_str()));
    pal::FileClose(file);
    path_ = path;
    temporary_ = false;
}

void clsAttachmentFile::WriteCopy(const String &directory, const String &name, const std::string &bytes) {
    path_ = UniqueTempFileName(directory, name);
    temporary_ = true;
    pal::FileHandle file = pal::FileOpen(path_, true);
    bool ok = file != pal::kInvalidFile && pal::FileWrite(file, bytes.data(), bytes.size());
    pal::FileClose(file);
    // A short copy would send a truncated attachment as if it were whole.
    if (!ok) throw clsExcept(kErrGeneral, Format("Cannot create file '%s': '%s'", path_.c_str(), "write failed"));
}

} // namespace kv
