// The Simple MAPI records, constants and entry points, laid out as the
// platform's published mapi.h gives them.
#pragma once

#include <cstdint>

#include "pal/com.h"

namespace kv::smapi {

using LHANDLE = uintptr_t;
using FLAGS = uint32_t;

struct MapiRecipDesc {
    uint32_t ulReserved;
    uint32_t ulRecipClass;
    char *lpszName;
    char *lpszAddress;
    uint32_t ulEIDSize;
    void *lpEntryID;
};

struct MapiFileDesc {
    uint32_t ulReserved;
    uint32_t flFlags;
    uint32_t nPosition;
    char *lpszPathName;
    char *lpszFileName;
    void *lpFileType;
};

struct MapiMessage {
    uint32_t ulReserved;
    char *lpszSubject;
    char *lpszNoteText;
    char *lpszMessageType;
    char *lpszDateReceived;
    char *lpszConversationID;
    FLAGS flFlags;
    MapiRecipDesc *lpOriginator;
    uint32_t nRecipCount;
    MapiRecipDesc *lpRecips;
    uint32_t nFileCount;
    MapiFileDesc *lpFiles;
};

enum : uint32_t { MAPI_ORIG = 0, MAPI_TO = 1, MAPI_CC = 2, MAPI_BCC = 3 };
constexpr FLAGS MAPI_LOGON_UI = 0x1;
constexpr FLAGS MAPI_NEW_SESSION = 0x2;
constexpr FLAGS MAPI_DIALOG = 0x8;
constexpr FLAGS MAPI_FORCE_DOWNLOAD = 0x1000;
constexpr FLAGS MAPI_PASSWORD_UI = 0x20000;
constexpr FLAGS MAPI_UNREAD_ONLY = 0x20;
constexpr FLAGS MAPI_ENVELOPE_ONLY = 0x40;
constexpr FLAGS MAPI_PEEK = 0x80;
constexpr FLAGS MAPI_GUARANTEE_FIFO = 0x100;
constexpr FLAGS MAPI_LONG_MSGID = 0x4000;
enum : uint32_t {
    SUCCESS_SUCCESS = 0,
    MAPI_E_USER_ABORT = 1,
    MAPI_E_LOGON_FAILURE = 3,
    MAPI_E_UNKNOWN_RECIPIENT = 14,
    MAPI_E_BAD_RECIPTYPE = 15,
    MAPI_E_NO_MESSAGES = 16,
    MAPI_E_AMBIGUOUS_RECIPIENT = 21,
    MAPI_E_INVALID_RECIPS = 25,
};

// The id buffer that MAPI_LONG_MSGID requires.
constexpr size_t kMessageIdSize = 512;

using PFN_MAPILogon = uint32_t(STDMETHODCALLTYPE *)(uintptr_t ui, char *profile, char *password, FLAGS flags,
                                                    uint32_t reserved, LHANDLE *session);
using PFN_MAPILogoff = uint32_t(STDMETHODCALLTYPE *)(LHANDLE session, uintptr_t ui, FLAGS flags, uint32_t reserved);
using PFN_MAPISendMail = uint32_t(STDMETHODCALLTYPE *)(LHANDLE session, uintptr_t ui, MapiMessage *message,
                                                       FLAGS flags, uint32_t reserved);
using PFN_MAPIFindNext = uint32_t(STDMETHODCALLTYPE *)(LHANDLE session, uintptr_t ui, char *messageType, char *seed,
                                                       FLAGS flags, uint32_t reserved, char *messageId);
using PFN_MAPIReadMail = uint32_t(STDMETHODCALLTYPE *)(LHANDLE session, uintptr_t ui, char *messageId, FLAGS flags,
                                                       uint32_t reserved, MapiMessage **message);
using PFN_MAPIDeleteMail = uint32_t(STDMETHODCALLTYPE *)(LHANDLE session, uintptr_t ui, char *messageId, FLAGS flags,
                                                         uint32_t reserved);
using PFN_MAPIFreeBuffer = uint32_t(STDMETHODCALLTYPE *)(void *buffer);

} // namespace kv::smapi
