// The Extended MAPI objects a send reaches (store, folder, message,
// attachment, address book, property streams), as an interface of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv::xmapi {

constexpr uint32_t PT_LONG = 0x0003;
constexpr uint32_t PT_BOOLEAN_ = 0x000B;
constexpr uint32_t PT_ERROR = 0x000A;
constexpr uint32_t PT_STRING8 = 0x001E;
constexpr uint32_t PT_UNICODE = 0x001F;
constexpr uint32_t PT_BINARY = 0x0102;
constexpr uint32_t PT_MV_STRING8 = 0x101E;
constexpr uint32_t Tag(uint32_t id, uint32_t type) { return (id << 16) | type; }
constexpr uint32_t IdOf(uint32_t tag) { return tag >> 16; }
constexpr uint32_t TypeOf(uint32_t tag) { return tag & 0xFFFF; }

// Property ids (the published tags without their type).
enum : uint32_t {
    ID_MESSAGE_CLASS = 0x001A,
    ID_SUBJECT = 0x0037,
    ID_RECIPIENT_TYPE = 0x0C15,
    ID_DELETE_AFTER_SUBMIT = 0x0E01,
    ID_SENTMAIL_ENTRYID = 0x0E0A,
    ID_BODY = 0x1000,
    ID_RTF_COMPRESSED = 0x1009,
    ID_BODY_HTML = 0x1013,
    ID_ENTRYID = 0x0FFF,
    ID_DISPLAY_NAME = 0x3001,
    ID_ADDRTYPE = 0x3002,
    ID_EMAIL_ADDRESS = 0x3003,
    ID_IPM_OUTBOX_ENTRYID = 0x35E2,
    ID_IPM_SENTMAIL_ENTRYID = 0x35E4,
    ID_ATTACH_DATA_BIN = 0x3701,
    ID_ATTACH_EXTENSION = 0x3703,
    ID_ATTACH_FILENAME = 0x3704,
    ID_ATTACH_METHOD = 0x3705,
    ID_ATTACH_LONG_FILENAME = 0x3707,
    ID_RENDERING_POSITION = 0x370B,
    ID_ATTACH_CONTENT_ID = 0x3712,
    ID_ATTACH_FLAGS = 0x3714,
    ID_INTERNET_CPID = 0x3FDE,
};

constexpr HRESULT MAPI_W_ERRORS_RETURNED = HRESULT(0x00040380);
constexpr HRESULT MAPI_E_BAD_CHARWIDTH = HRESULT(0x80040103);
constexpr HRESULT MAPI_E_OBJECT_CHANGED = HRESULT(0x80040109);
constexpr HRESULT MAPI_E_CORRUPT_DATA = HRESULT(0x8004011B);
constexpr uint32_t MAPI_MODIFY = 0x1;
constexpr uint32_t MAPI_CREATE = 0x2;
constexpr uint32_t STGM_CREATE_WRITE = 0x1001;
constexpr uint32_t STGM_READ_ONLY = 0x0; // STGM_READ
constexpr uint32_t KEEP_OPEN_READWRITE = 0x2;
constexpr uint32_t FORCE_SAVE = 0x4;
constexpr uint32_t MODRECIP_ADD = 0x2;
constexpr uint32_t MAPI_SEND_NO_RICH_INFO = 0x10000;
constexpr uint32_t RTF_SYNC_RTF_CHANGED = 0x1;
constexpr int32_t ATTACH_BY_VALUE = 1;

// One property value; `tag` carries its type.
struct Prop {
    uint32_t tag = 0;
    int32_t number = 0; // PT_LONG, PT_BOOLEAN, PT_ERROR
    String text8;       // PT_STRING8
    WString text;       // PT_UNICODE
    std::string bytes;  // PT_BINARY
    uint64_t time = 0;  // PT_SYSTIME: 100 ns units since 1601 (UTC)
    std::vector<String> texts8; // PT_MV_STRING8
    bool operator==(const Prop &o) const {
        return tag == o.tag && number == o.number && text8 == o.text8 && text == o.text && bytes == o.bytes &&
               time == o.time && texts8 == o.texts8;
    }
};

class PropStream {
  public:
    virtual ~PropStream() = default;
    virtual HRESULT Write(const void *data, size_t size) = 0;
    // The whole content of `source` from its position, through its CopyTo.
    virtual HRESULT CopyFrom(IStream *source) = 0;
    virtual HRESULT Commit() = 0;
};

class MapiProp {
  public:
    virtual ~MapiProp() = default;
    // One value per tag; MAPI_W_ERRORS_RETURNED with PT_ERROR values as the platform answers.
    virtual HRESULT GetProps(const std::vector<uint32_t> &tags, std::vector<Prop> &values) = 0;
    virtual HRESULT SetProps(const std::vector<Prop> &values) = 0;
    virtual HRESULT OpenProperty(uint32_t tag, uint32_t interfaceOptions, uint32_t flags,
                                 std::unique_ptr<PropStream> &stream) = 0;
    virtual HRESULT SaveChanges(uint32_t flags) = 0;
};

class Attach : public MapiProp {};

// A recipient list in the platform's buffers: resolved in place by the
// address book, then handed to the message.
class AdrList {
  public:
    virtual ~AdrList() = default;
    virtual std::vector<std::vector<Prop>> Rows() const = 0;
};

class Message : public MapiProp {
  public:
    virtual HRESULT ModifyRecipients(uint32_t flags, AdrList &list) = 0;
    virtual HRESULT CreateAttach(std::unique_ptr<Attach> &attach) = 0;
    virtual HRESULT SubmitMessage(uint32_t flags) = 0;
};

class Folder {
  public:
    virtual ~Folder() = default;
    virtual HRESULT CreateMessage(std::unique_ptr<Message> &message) = 0;
};

constexpr uint32_t ID_DISPLAY_TYPE = 0x3900;
constexpr int32_t DT_GLOBAL = 0x20000;
constexpr uint32_t PR_EMS_AB_PROXY_ADDRESSES = 0x800F101E;

// A table of the address book, read whole.
class AbTable {
  public:
    virtual ~AbTable() = default;
    virtual HRESULT QueryAllRows(const std::vector<uint32_t> &columns, std::vector<std::vector<Prop>> &rows) = 0;
};

// The address book's root or one of its address lists.
class AbContainer {
  public:
    virtual ~AbContainer() = default;
    virtual HRESULT GetHierarchyTable(std::unique_ptr<AbTable> &table) = 0;
    virtual HRESULT GetContentsTable(std::unique_ptr<AbTable> &table) = 0;
};

class AddrBook {
  public:
    virtual ~AddrBook() = default;
    virtual HRESULT CreateOneOff(const WString &name, const WString &type, const WString &address, uint32_t flags,
                                 std::string &entryId) = 0;
    virtual HRESULT ResolveName(AdrList &list) = 0;
    // The container an entry identifier names; an empty one names the root.
    // MAPI_W_ERRORS_RETURNED comes with a container opened despite errors.
    virtual HRESULT OpenEntry(const std::string &entryId, std::unique_ptr<AbContainer> &container) {
        return E_NOTIMPL;
    }
};

constexpr uint32_t MSGFLAG_READ = 0x1;
enum : uint32_t {
    ID_SENDER_ADDRTYPE = 0x0C1E,
    ID_SENDER_EMAIL_ADDRESS = 0x0C1F,
    ID_SENDER_NAME = 0x0C1A,
    ID_SENT_REPRESENTING_NAME = 0x0042,
    ID_MESSAGE_FLAGS = 0x0E07,
    ID_ATTACH_SIZE = 0x0E20,
    ID_ATTACH_NUM = 0x0E21,
    ID_CREATION_TIME = 0x3007,
    ID_SMTP_ADDRESS = 0x39FE,
};
constexpr uint32_t PT_SYSTIME = 0x0040;

// A message of the inbox, opened for reading.
class ReadMessage : public MapiProp {
  public:
    // Rows of PR_DISPLAY_NAME, PR_ADDRTYPE, PR_EMAIL_ADDRESS, PR_SMTP_ADDRESS, PR_RECIPIENT_TYPE.
    virtual HRESULT RecipientRows(std::vector<std::vector<Prop>> &rows) = 0;
    // Rows of PR_ATTACH_NUM, PR_ATTACH_SIZE, PR_ATTACH_FILENAME.
    virtual HRESULT AttachmentRows(std::vector<std::vector<Prop>> &rows) = 0;
    // PR_ATTACH_DATA_BIN of one attachment.
    virtual HRESULT AttachmentData(int32_t number, std::string &bytes) = 0;
    virtual HRESULT SetReadFlag(uint32_t flags) = 0;
};

// The receive folder of the default store.
class Inbox {
  public:
    virtual ~Inbox() = default;
    // Rows of PR_SENT_REPRESENTING_NAME, PR_SUBJECT, PR_ENTRYID, PR_MESSAGE_FLAGS.
    virtual HRESULT ContentsRows(std::vector<std::vector<Prop>> &rows) = 0;
    virtual HRESULT OpenMessage(const std::string &entryId, std::unique_ptr<ReadMessage> &message) = 0;
    virtual HRESULT DeleteMessage(const std::string &entryId) = 0;
};

constexpr uint32_t ID_RESOURCE_TYPE = 0x3E03;
constexpr int32_t MAPI_SPOOLER = 37; // PR_RESOURCE_TYPE of the spooler
constexpr uint32_t MAPI_STATUS = 10;
constexpr uint32_t FLUSH_UPLOAD_NO_UI_ASYNC = 0x32;
constexpr HRESULT MAPI_E_BUSY = HRESULT(0x8004010B);
constexpr HRESULT MAPI_E_NOT_FOUND = HRESULT(0x8004010F);

class StatusTable {
  public:
    virtual ~StatusTable() = default;
    // HrQueryAllRows with the restriction PR_RESOURCE_TYPE == resourceType.
    virtual HRESULT QueryRows(int32_t resourceType, std::vector<std::vector<Prop>> &rows) = 0;
};

class Status {
  public:
    virtual ~Status() = default;
    virtual HRESULT FlushQueues(uint32_t flags) = 0;
};

// The session's side of a send.
class SendSite {
  public:
    virtual ~SendSite() = default;
    virtual MapiProp &Store() = 0;
    virtual HRESULT OpenFolder(const std::string &entryId, std::unique_ptr<Folder> &folder) = 0;
    virtual HRESULT OpenAddressBook(std::unique_ptr<AddrBook> &book) = 0;
    // A recipient list of these rows (MAPIAllocateBuffer).
    virtual HRESULT AllocateAdrList(const std::vector<std::vector<Prop>> &rows, std::unique_ptr<AdrList> &list) {
        return E_NOTIMPL;
    }
    // A read-only stream on a file (OpenStreamOnFile); one reference for the caller.
    virtual HRESULT OpenStreamOnFile(const String &path, IStream **stream) { return E_NOTIMPL; }
    virtual HRESULT WrapCompressedRTFStream(PropStream &compressed, uint32_t flags,
                                            std::unique_ptr<PropStream> &rtf) = 0;
    virtual HRESULT RTFSync(Message &message, uint32_t flags) = 0;
    // The default store's receive folder.
    virtual HRESULT OpenInbox(std::unique_ptr<Inbox> &inbox) { return E_NOTIMPL; }
    virtual HRESULT GetStatusTable(std::unique_ptr<StatusTable> &table) { return E_NOTIMPL; }
    // OpenEntry with MAPI_BEST_ACCESS; `type` receives the object type.
    virtual HRESULT OpenStatus(const std::string &entryId, uint32_t &type, std::unique_ptr<Status> &status) {
        return E_NOTIMPL;
    }
};

} // namespace kv::xmapi
