/*
 * orkv14 public interface: everything a host needs to use the mail component.
 * Usable from C (C11) and C++. On Windows it builds on the SDK's COM headers;
 * elsewhere on kvcom.h, the COM subset that the library itself exports.
 *
 * The identifiers below are a contract with hosts: they never change.
 */
#ifndef ORKV14_H
#define ORKV14_H

/* The version of this header and of the library built with it (the Windows
 * version resource carries the same numbers). ORKV14_VERSION_NUMBER is
 * 0xMMmmpp for comparisons in the preprocessor. */
#define ORKV14_VERSION_MAJOR 14
#define ORKV14_VERSION_MINOR 0
#define ORKV14_VERSION_PATCH 0
#define ORKV14_VERSION_NUMBER                                                                     \
    ((ORKV14_VERSION_MAJOR << 16) | (ORKV14_VERSION_MINOR << 8) | ORKV14_VERSION_PATCH)
#define ORKV14_TEXT_(x) #x
#define ORKV14_TEXT(x) ORKV14_TEXT_(x)
#define ORKV14_VERSION_STRING                                                                     \
    ORKV14_TEXT(ORKV14_VERSION_MAJOR) "." ORKV14_TEXT(ORKV14_VERSION_MINOR) "." ORKV14_TEXT(ORKV14_VERSION_PATCH)

#ifdef _WIN32
#include <objbase.h>
#include <oleauto.h>
#define ORKV14_API EXTERN_C
#else
#include "kvcom.h"
#define ORKV14_API KVCOM_API
#endif

#if defined(__GNUC__)
#define ORKV14_UNUSED __attribute__((unused))
#else
#define ORKV14_UNUSED
#endif

#define ORKV14_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                             \
    static const GUID name ORKV14_UNUSED = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

/* The class identifier and the interface identifiers. */
ORKV14_GUID(CLSID_KvComponent, 0xDEB0E19B, 0xDD04, 0x4128, 0x95, 0xA3, 0xC4, 0x55, 0x9F, 0x1B, 0x43, 0xEB);
ORKV14_GUID(IID_IKvMail, 0xF30DDAAC, 0xA950, 0x4041, 0x81, 0x6F, 0xDB, 0x2D, 0x6E, 0x11, 0x4D, 0x37);
ORKV14_GUID(IID_IKvMail2, 0x2418A05C, 0xE62A, 0x4E3C, 0x8B, 0x34, 0xD1, 0xE2, 0x7A, 0x9F, 0xB4, 0x08);
ORKV14_GUID(IID_IKvMail3, 0x253572A3, 0xD1E4, 0x4DF1, 0x80, 0x47, 0x25, 0x1E, 0xB2, 0xF8, 0x0E, 0x9A);
ORKV14_GUID(IID_IKvMailBody, 0xB136730F, 0x6298, 0x4A1F, 0xB1, 0x0B, 0x44, 0x0A, 0x36, 0x5F, 0x12, 0xBC);
ORKV14_GUID(IID_IKvMailAttachment, 0x438DD76F, 0xFD86, 0x4211, 0xB9, 0xD4, 0xE5, 0xDE, 0xD5, 0x3F, 0x94, 0x20);
ORKV14_GUID(IID_IKvEnumMail, 0x25D28EAE, 0x1CEE, 0x42AB, 0xBF, 0x43, 0x4B, 0xF4, 0xEF, 0x2D, 0x0A, 0x58);
ORKV14_GUID(IID_IKvEnumMailBody, 0x5C1794D2, 0x5030, 0x4BA1, 0x8E, 0x1B, 0x9A, 0xD2, 0x24, 0x2C, 0xDC, 0xDE);
ORKV14_GUID(IID_IKvEnumMailAttachment, 0x1AC8AE10, 0x06E6, 0x45AA, 0xA3, 0xB8, 0xC4, 0xF9, 0x19, 0x7B, 0x1F, 0x6E);
ORKV14_GUID(IID_IKvEnumMAPIProfiles, 0x48CF7541, 0x8F13, 0x4896, 0xB6, 0x14, 0x87, 0x03, 0x42, 0x7B, 0xD9, 0x49);
ORKV14_GUID(IID_IKvMailConnection, 0xF03CE052, 0x4659, 0x43C3, 0xAC, 0xF9, 0xC1, 0xB3, 0x6C, 0x92, 0x6F, 0x3B);
ORKV14_GUID(IID_IKvMailConnection2, 0xF35FA2BC, 0x5BD2, 0x41C5, 0x85, 0xD5, 0x83, 0xDE, 0x8D, 0xF6, 0x80, 0xC4);
ORKV14_GUID(IID_IKvConfiguration, 0x3340E19D, 0x5B29, 0x47B4, 0xBD, 0xFD, 0x9E, 0x7E, 0x82, 0xCD, 0xEF, 0x81);
ORKV14_GUID(IID_IKvConfiguration2, 0xCC5E9DFC, 0xAFC1, 0x4539, 0xAF, 0x77, 0x50, 0x33, 0x7E, 0xB2, 0xB3, 0x65);
ORKV14_GUID(IID_IKvLog, 0x10718CC3, 0x3BA3, 0x4F5C, 0x92, 0x66, 0x9B, 0x2A, 0xA0, 0x11, 0xCB, 0xAE);
ORKV14_GUID(IID_IKvLogSlot, 0x336CC075, 0xE68B, 0x4CBB, 0x83, 0xB4, 0x77, 0xAA, 0x01, 0xA2, 0x3A, 0xDC);
ORKV14_GUID(IID_IKvMailStateNotificationSlot, 0xD487D46C, 0xC666, 0x4926, 0x89, 0xA8, 0x28, 0xBF, 0x6E, 0xF3, 0xDB, 0xF7);
ORKV14_GUID(IID_IKvSMTPSendConnection, 0xB6E00C71, 0x8A69, 0x43E6, 0xA2, 0xC8, 0xF5, 0x73, 0xFD, 0x92, 0xFD, 0x89);
ORKV14_GUID(IID_IKvPOP3RecvConnection, 0x8AC59FCE, 0x05D6, 0x4F2B, 0xAC, 0x87, 0xC6, 0xBD, 0x1E, 0xD5, 0x6A, 0xB1);
ORKV14_GUID(IID_IKvSMAPISendConnection, 0x7F02BEFC, 0x38B8, 0x407F, 0xA2, 0x75, 0x49, 0x03, 0x13, 0x42, 0x75, 0xA2);
ORKV14_GUID(IID_IKvSMAPIRecvConnection, 0x08130AB0, 0x2A12, 0x46C2, 0x8A, 0x53, 0xD5, 0xEE, 0xFB, 0x47, 0xBA, 0xF6);
ORKV14_GUID(IID_IKvXMAPISendConnection, 0x9DFDA7DF, 0xFDC6, 0x440C, 0xB9, 0xC9, 0x02, 0x65, 0xC0, 0xCC, 0x7C, 0x9B);
ORKV14_GUID(IID_IKvXMAPIRecvConnection, 0x587FB293, 0xC7F8, 0x4E8F, 0x82, 0xD2, 0x55, 0x43, 0x58, 0xE1, 0x5D, 0x3C);
ORKV14_GUID(IID_IKvCDOSYSSendConnection, 0x8FF77D9F, 0x8D90, 0x47E2, 0x87, 0xE5, 0x7C, 0xFE, 0x18, 0xC8, 0xFA, 0x21);
ORKV14_GUID(IID_IKvCDOSYSRecvConnection, 0x76957829, 0x2AFA, 0x47FA, 0xA8, 0x27, 0xDF, 0x22, 0x01, 0x1B, 0x84, 0xB3);
ORKV14_GUID(IID_IKvIMAPRecvConnection, 0xCDCA68DF, 0x5718, 0x4385, 0x9E, 0xF5, 0xD7, 0xC3, 0xFA, 0x39, 0x40, 0xB7);

/* Log output modes (IKvLog::SetOutputMode). */
#define KVLOG_MODE_OFF 0
#define KVLOG_MODE_DEBUGGER 1
#define KVLOG_MODE_SINK 2
#define KVLOG_MODE_CHANNEL 3

/* Log levels (IKvLog::SetLogLevel). */
#define KVLOG_LEVEL_EXCEPTIONS 1
#define KVLOG_LEVEL_CALLS 2
#define KVLOG_LEVEL_DETAILS 3
#define KVLOG_LEVEL_PROTOCOL 128

/* Mail states and body kinds. */
#define KVMAIL_STATE_NEW 0
#define KVMAIL_STATE_LISTED 1
#define KVMAIL_STATE_LOADED 2
#define KVMAIL_STATE_DELETED 3
#define KVBODY_PLAIN 1
#define KVBODY_HTML 2
#define KVBODY_RTF 4

typedef interface IKvLogSlot IKvLogSlot;
typedef interface IKvLog IKvLog;
typedef interface IKvMailStateNotificationSlot IKvMailStateNotificationSlot;
typedef interface IKvEnumMailAttachment IKvEnumMailAttachment;
typedef interface IKvMailAttachment IKvMailAttachment;
typedef interface IKvEnumMailBody IKvEnumMailBody;
typedef interface IKvMailBody IKvMailBody;
typedef interface IKvMail IKvMail;
typedef interface IKvMail2 IKvMail2;
typedef interface IKvMail3 IKvMail3;
typedef interface IKvEnumMail IKvEnumMail;
typedef interface IKvMailConnection IKvMailConnection;
typedef interface IKvMailConnection2 IKvMailConnection2;
typedef interface IKvConfiguration IKvConfiguration;
typedef interface IKvConfiguration2 IKvConfiguration2;
typedef interface IKvEnumMAPIProfiles IKvEnumMAPIProfiles;

#undef INTERFACE
#define INTERFACE IKvLogSlot
DECLARE_INTERFACE_(IKvLogSlot, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(WriteLine)(THIS_ BSTR line) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvLog
DECLARE_INTERFACE_(IKvLog, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(SetLogSlot)(THIS_ IKvLogSlot *slot) PURE;
    STDMETHOD(SetOutputMode)(THIS_ LONG mode) PURE;
    STDMETHOD(SetLogLevel)(THIS_ LONG level) PURE;
    END_INTERFACE
};

/* The host's slot for connection events (IKvMailConnection::SetMailStateNotificationSlot).
 * Its result is ignored, with one exception: answering E_ABORT to an event of a
 * running Send (event 8, detail below 100) or QueryMailbox (events 9, 10, 11)
 * cancels that call. It then fails with E_ABORT and the error record
 * KVERR_CANCELLED, "cancelled by the host". An SMTP send cancelled before its
 * mail text sends RSET and stays connected; one cancelled during the text
 * closes the connection (the server never sees the text's end, so the mail is
 * not delivered) and the next Send needs a Connect. A cancelled receive keeps
 * the mails read so far and stays connected. Other failure results do nothing. */
#define KVERR_CANCELLED (-15)

#undef INTERFACE
#define INTERFACE IKvMailStateNotificationSlot
DECLARE_INTERFACE_(IKvMailStateNotificationSlot, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(NotifyConnectionState)(THIS_ LONG event, LONG detail) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvEnumMailAttachment
DECLARE_INTERFACE_(IKvEnumMailAttachment, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(Next)(THIS_ ULONG count, IKvMailAttachment * *items, ULONG *fetched) PURE;
    STDMETHOD(Skip)(THIS_ ULONG count) PURE;
    STDMETHOD(Reset)(THIS) PURE;
    STDMETHOD(Clone)(THIS_ IKvEnumMailAttachment **clone) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvMailAttachment
DECLARE_INTERFACE_(IKvMailAttachment, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(SetName)(THIS_ BSTR name) PURE;
    STDMETHOD(GetName)(THIS_ BSTR *name) PURE;
    STDMETHOD(SetContents)(THIS_ IStream *source) PURE;
    STDMETHOD(GetContents)(THIS_ IStream *destination) PURE;
    STDMETHOD(GetHeaderEntry)(THIS_ BSTR name, BSTR *value) PURE;
    STDMETHOD(GetHeaderEntry2)(THIS_ BSTR name, BSTR *value, IEnumString **parameters) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvEnumMailBody
DECLARE_INTERFACE_(IKvEnumMailBody, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(Next)(THIS_ ULONG count, IKvMailBody * *items, ULONG *fetched) PURE;
    STDMETHOD(Skip)(THIS_ ULONG count) PURE;
    STDMETHOD(Reset)(THIS) PURE;
    STDMETHOD(Clone)(THIS_ IKvEnumMailBody **clone) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvMailBody
DECLARE_INTERFACE_(IKvMailBody, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(GetType)(THIS_ BSTR *mediaType) PURE;
    STDMETHOD(SetContents)(THIS_ IStream *source) PURE;
    STDMETHOD(GetContents)(THIS_ IStream *destination) PURE;
    STDMETHOD(GetCharset)(THIS_ BSTR *charset, ULONG *codepage, ULONG *gdiCharset) PURE;
    STDMETHOD(GetHeaderEntry)(THIS_ BSTR name, BSTR *value) PURE;
    STDMETHOD(CreateAndAddAttachment)(THIS_ IKvMailAttachment **attachment) PURE;
    STDMETHOD(EnumAttachments)(THIS_ IKvEnumMailAttachment **attachments) PURE;
    STDMETHOD(GetHeaderEntry2)(THIS_ BSTR name, BSTR *value, IEnumString **parameters) PURE;
    STDMETHOD(GetCodepage)(THIS_ ULONG *codepage) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvMail
DECLARE_INTERFACE_(IKvMail, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(GetCookie)(THIS_ BSTR *cookie) PURE;
    STDMETHOD(SetSender)(THIS_ BSTR address) PURE;
    STDMETHOD(GetSender)(THIS_ BSTR *address) PURE;
    STDMETHOD(SetSubject)(THIS_ BSTR subject) PURE;
    STDMETHOD(GetSubject)(THIS_ BSTR *subject) PURE;
    STDMETHOD(GetCharset)(THIS_ BSTR *charset, ULONG *codepage, ULONG *gdiCharset) PURE;
    STDMETHOD(SetHeaderEntry)(THIS_ BSTR name, BSTR value) PURE;
    STDMETHOD(GetHeaderEntry)(THIS_ BSTR name, BSTR *value) PURE;
    STDMETHOD(IsValid)(THIS) PURE;
    STDMETHOD(AddRecipients)(THIS_ BSTR list) PURE;
    STDMETHOD(EnumRecipients)(THIS_ IEnumString **recipients) PURE;
    STDMETHOD(AddCCRecipients)(THIS_ BSTR list) PURE;
    STDMETHOD(EnumCCRecipients)(THIS_ IEnumString **recipients) PURE;
    STDMETHOD(CreateAndAddAttachment)(THIS_ IKvMailAttachment **attachment) PURE;
    STDMETHOD(EnumAttachments)(THIS_ IKvEnumMailAttachment **attachments) PURE;
    STDMETHOD(CreateAndAddBody)(THIS_ IKvMailBody **body, BSTR mediaType, ULONG codepage) PURE;
    STDMETHOD(EnumBodies)(THIS_ IKvEnumMailBody **bodies) PURE;
    STDMETHOD(SetRawText)(THIS_ IStream *source) PURE;
    STDMETHOD(GetRawText)(THIS_ IStream *destination) PURE;
    STDMETHOD(Edit)(THIS_ HWND parent, LONG value, LONG editable, DWORD flags) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvMail2
DECLARE_INTERFACE_(IKvMail2, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(GetCookie)(THIS_ BSTR *cookie) PURE;
    STDMETHOD(SetSender)(THIS_ BSTR address) PURE;
    STDMETHOD(GetSender)(THIS_ BSTR *address) PURE;
    STDMETHOD(SetReplyAddress)(THIS_ BSTR address) PURE;
    STDMETHOD(GetReplyAddress)(THIS_ BSTR *address) PURE;
    STDMETHOD(SetSubject)(THIS_ BSTR subject) PURE;
    STDMETHOD(GetSubject)(THIS_ BSTR *subject) PURE;
    STDMETHOD(GetCharset)(THIS_ BSTR *charset, ULONG *codepage, ULONG *gdiCharset) PURE;
    STDMETHOD(SetHeaderEntry)(THIS_ BSTR name, BSTR value) PURE;
    STDMETHOD(GetHeaderEntry)(THIS_ BSTR name, BSTR *value) PURE;
    STDMETHOD(IsValid)(THIS) PURE;
    STDMETHOD(AddRecipients)(THIS_ BSTR list) PURE;
    STDMETHOD(EnumRecipients)(THIS_ IEnumString **recipients) PURE;
    STDMETHOD(AddCCRecipients)(THIS_ BSTR list) PURE;
    STDMETHOD(EnumCCRecipients)(THIS_ IEnumString **recipients) PURE;
    STDMETHOD(AddBCCRecipients)(THIS_ BSTR list) PURE;
    STDMETHOD(EnumBCCRecipients)(THIS_ IEnumString **recipients) PURE;
    STDMETHOD(CreateAndAddAttachment)(THIS_ IKvMailAttachment **attachment) PURE;
    STDMETHOD(EnumAttachments)(THIS_ IKvEnumMailAttachment **attachments) PURE;
    STDMETHOD(CreateAndAddBody)(THIS_ IKvMailBody **body, BSTR mediaType, ULONG codepage) PURE;
    STDMETHOD(EnumBodies)(THIS_ IKvEnumMailBody **bodies) PURE;
    STDMETHOD(SetRawText)(THIS_ IStream *source) PURE;
    STDMETHOD(GetRawText)(THIS_ IStream *destination) PURE;
    STDMETHOD(Edit)(THIS_ HWND parent, LONG value, LONG editable, DWORD flags) PURE;
    STDMETHOD(GetHeaderEntry2)(THIS_ BSTR name, BSTR *value, IEnumString **parameters) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvMail3
DECLARE_INTERFACE_(IKvMail3, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(GetCookie)(THIS_ BSTR *cookie) PURE;
    STDMETHOD(SetSender)(THIS_ BSTR address) PURE;
    STDMETHOD(GetSender)(THIS_ BSTR *address) PURE;
    STDMETHOD(SetReplyAddress)(THIS_ BSTR address) PURE;
    STDMETHOD(GetReplyAddress)(THIS_ BSTR *address) PURE;
    STDMETHOD(SetSubject)(THIS_ BSTR subject) PURE;
    STDMETHOD(GetSubject)(THIS_ BSTR *subject) PURE;
    STDMETHOD(GetCharset)(THIS_ BSTR *charset, ULONG *codepage, ULONG *gdiCharset) PURE;
    STDMETHOD(SetHeaderEntry)(THIS_ BSTR name, BSTR value) PURE;
    STDMETHOD(GetHeaderEntry)(THIS_ BSTR name, BSTR *value) PURE;
    STDMETHOD(IsValid)(THIS) PURE;
    STDMETHOD(AddRecipients)(THIS_ BSTR list) PURE;
    STDMETHOD(EnumRecipients)(THIS_ IEnumString **recipients) PURE;
    STDMETHOD(AddCCRecipients)(THIS_ BSTR list) PURE;
    STDMETHOD(EnumCCRecipients)(THIS_ IEnumString **recipients) PURE;
    STDMETHOD(AddBCCRecipients)(THIS_ BSTR list) PURE;
    STDMETHOD(EnumBCCRecipients)(THIS_ IEnumString **recipients) PURE;
    STDMETHOD(CreateAndAddAttachment)(THIS_ IKvMailAttachment **attachment) PURE;
    STDMETHOD(EnumAttachments)(THIS_ IKvEnumMailAttachment **attachments) PURE;
    STDMETHOD(CreateAndAddBody)(THIS_ IKvMailBody **body, BSTR mediaType, ULONG codepage) PURE;
    STDMETHOD(EnumBodies)(THIS_ IKvEnumMailBody **bodies) PURE;
    STDMETHOD(SetRawText)(THIS_ IStream *source) PURE;
    STDMETHOD(GetRawText)(THIS_ IStream *destination) PURE;
    STDMETHOD(Edit)(THIS_ HWND parent, LONG value, LONG editable, DWORD flags) PURE;
    STDMETHOD(GetHeaderEntry2)(THIS_ BSTR name, BSTR *value, IEnumString **parameters) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvEnumMail
DECLARE_INTERFACE_(IKvEnumMail, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(Next)(THIS_ ULONG count, IKvMail * *items, ULONG *fetched) PURE;
    STDMETHOD(Skip)(THIS_ ULONG count) PURE;
    STDMETHOD(Reset)(THIS) PURE;
    STDMETHOD(Clone)(THIS_ IKvEnumMail **clone) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvMailConnection
DECLARE_INTERFACE_(IKvMailConnection, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(SetOption)(THIS_ LPCWSTR name, VARIANT *value) PURE;
    STDMETHOD(SetMailStateNotificationSlot)(THIS_ IKvMailStateNotificationSlot *slot) PURE;
    STDMETHOD(GetErrorInformation)(THIS_ LONG *code, BSTR *text) PURE;
    STDMETHOD(Connect)(THIS) PURE;
    STDMETHOD(Disconnect)(THIS) PURE;
    STDMETHOD(CreateMail)(THIS_ LONG codepage, LPCWSTR cookie, IKvMail **mail) PURE;
    STDMETHOD(Send)(THIS_ IKvMail *mail) PURE;
    STDMETHOD(QueryMailbox)(THIS_ BYTE flag) PURE;
    STDMETHOD(EnumMails)(THIS_ IKvEnumMail **mails) PURE;
    STDMETHOD(DeleteMail)(THIS_ LPCWSTR id) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvMailConnection2
DECLARE_INTERFACE_(IKvMailConnection2, IKvMailConnection) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(SetOption)(THIS_ LPCWSTR name, VARIANT *value) PURE;
    STDMETHOD(SetMailStateNotificationSlot)(THIS_ IKvMailStateNotificationSlot *slot) PURE;
    STDMETHOD(GetErrorInformation)(THIS_ LONG *code, BSTR *text) PURE;
    STDMETHOD(Connect)(THIS) PURE;
    STDMETHOD(Disconnect)(THIS) PURE;
    STDMETHOD(CreateMail)(THIS_ LONG codepage, LPCWSTR cookie, IKvMail **mail) PURE;
    STDMETHOD(Send)(THIS_ IKvMail *mail) PURE;
    STDMETHOD(QueryMailbox)(THIS_ BYTE flag) PURE;
    STDMETHOD(EnumMails)(THIS_ IKvEnumMail **mails) PURE;
    STDMETHOD(DeleteMail)(THIS_ LPCWSTR id) PURE;
    STDMETHOD(MarkMailAsRead)(THIS_ LPCWSTR id) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvConfiguration
DECLARE_INTERFACE_(IKvConfiguration, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(ConfigDlg)(THIS_ HWND parent, LONG value, DWORD flags) PURE;
    STDMETHOD(SetUserParameters)(THIS_ LPCWSTR settings) PURE;
    STDMETHOD(GetUserParameters)(THIS_ BSTR *settings) PURE;
    STDMETHOD(SetGlobalParameters)(THIS_ LPCWSTR settings) PURE;
    STDMETHOD(GetGlobalParameters)(THIS_ BSTR *settings) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvConfiguration2
DECLARE_INTERFACE_(IKvConfiguration2, IKvConfiguration) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(ConfigDlg)(THIS_ HWND parent, LONG value, DWORD flags) PURE;
    STDMETHOD(SetUserParameters)(THIS_ LPCWSTR settings) PURE;
    STDMETHOD(GetUserParameters)(THIS_ BSTR *settings) PURE;
    STDMETHOD(SetGlobalParameters)(THIS_ LPCWSTR settings) PURE;
    STDMETHOD(GetGlobalParameters)(THIS_ BSTR *settings) PURE;
    STDMETHOD(SetParametersToRegistry)(THIS_ LPCWSTR applicationKey, DWORD flags) PURE;
    STDMETHOD(GetParametersFromRegistry)(THIS_ LPCWSTR applicationKey, DWORD flags) PURE;
    END_INTERFACE
};

#undef INTERFACE
#define INTERFACE IKvEnumMAPIProfiles
DECLARE_INTERFACE_(IKvEnumMAPIProfiles, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(Next)(THIS_ ULONG count, BSTR *items, ULONG *fetched) PURE;
    STDMETHOD(Skip)(THIS_ ULONG count) PURE;
    STDMETHOD(Reset)(THIS) PURE;
    STDMETHOD(Clone)(THIS_ IKvEnumMAPIProfiles **clone) PURE;
    END_INTERFACE
};
#undef INTERFACE

/* The four entry points of the in-process server. */
ORKV14_API HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object);
ORKV14_API HRESULT STDAPICALLTYPE DllCanUnloadNow(void);
ORKV14_API HRESULT STDAPICALLTYPE DllRegisterServer(void);
ORKV14_API HRESULT STDAPICALLTYPE DllUnregisterServer(void);

typedef HRESULT(STDAPICALLTYPE *PFN_DllGetClassObject)(REFCLSID, REFIID, LPVOID *);
typedef HRESULT(STDAPICALLTYPE *PFN_DllCanUnloadNow)(void);

#if defined(__cplusplus) && !defined(CINTERFACE)
/* kv_uuidof<T>(): the identifier of an interface type, on every platform. */
template <class T> const IID &kv_uuidof();
#define ORKV14_UUIDOF(T)                                                                          \
    template <> inline const IID &kv_uuidof<T>() { return IID_##T; }
ORKV14_UUIDOF(IUnknown)
ORKV14_UUIDOF(IClassFactory)
ORKV14_UUIDOF(IStream)
ORKV14_UUIDOF(IEnumString)
ORKV14_UUIDOF(IKvLogSlot)
ORKV14_UUIDOF(IKvLog)
ORKV14_UUIDOF(IKvMailStateNotificationSlot)
ORKV14_UUIDOF(IKvEnumMailAttachment)
ORKV14_UUIDOF(IKvMailAttachment)
ORKV14_UUIDOF(IKvEnumMailBody)
ORKV14_UUIDOF(IKvMailBody)
ORKV14_UUIDOF(IKvMail)
ORKV14_UUIDOF(IKvMail2)
ORKV14_UUIDOF(IKvMail3)
ORKV14_UUIDOF(IKvEnumMail)
ORKV14_UUIDOF(IKvMailConnection)
ORKV14_UUIDOF(IKvMailConnection2)
ORKV14_UUIDOF(IKvConfiguration)
ORKV14_UUIDOF(IKvConfiguration2)
ORKV14_UUIDOF(IKvEnumMAPIProfiles)
#undef ORKV14_UUIDOF
#endif

#endif /* ORKV14_H */
