#include "providers/xmapi/xmapi_system_site.h"

#include <cstddef>
#include <cstring>

#include "runtime/com_util.h"

namespace kv::xmapi {

namespace {

size_t Aligned(size_t n) { return (n + 7) & ~size_t(7); }

size_t DataSize(const Prop &p) {
    switch (TypeOf(p.tag)) {
    case PT_STRING8: return Aligned(p.text8.size() + 1);
    case PT_UNICODE: return Aligned((p.text.size() + 1) * sizeof(char16_t));
    case PT_BINARY: return Aligned(p.bytes.size());
    default: return 0;
    }
}

void *EntryData(const std::string &entryId) {
    return entryId.empty() ? nullptr : const_cast<char *>(entryId.data());
}

// The values of a property array (a row, an address entry, what GetProps gave).
std::vector<Prop> PropsOf(const SPropValue *values, uint32_t count) {
    std::vector<Prop> props;
    for (uint32_t k = 0; values && k < count; ++k) props.push_back(PropOf(values[k]));
    return props;
}

std::vector<std::vector<Prop>> RowsOf(const SRowSet *rows) {
    std::vector<std::vector<Prop>> out;
    for (uint32_t i = 0; rows && i < rows->cRows; ++i) out.push_back(PropsOf(rows->aRow[i].lpProps, rows->aRow[i].cValues));
    return out;
}

// A counted tag array: the count, then the tags.
std::vector<uint32_t> TagArray(const std::vector<uint32_t> &tags) {
    std::vector<uint32_t> array{uint32_t(tags.size())};
    array.insert(array.end(), tags.begin(), tags.end());
    return array;
}

// HrQueryAllRows with these columns, the rows as values.
HRESULT QueryAll(const Functions &f, IMAPITable *table, const std::vector<uint32_t> &columns,
                 SRestriction *restriction, std::vector<std::vector<Prop>> &rows) {
    if (!f.HrQueryAllRows || !f.FreeProws) return E_NOTIMPL;
    std::vector<uint32_t> tags = TagArray(columns);
    SRowSet *set = nullptr;
    HRESULT hr = f.HrQueryAllRows(table, tags.data(), restriction, nullptr, 0, &set);
    if (FAILED(hr)) return hr;
    rows = RowsOf(set);
    if (set) f.FreeProws(set);
    return hr;
}

class SysStream final : public PropStream {
  public:
    explicit SysStream(IStream *stream) : stream_(stream) {}
    HRESULT Write(const void *data, size_t size) override {
        const char *p = static_cast<const char *>(data);
        while (size) {
            ULONG chunk = size > 0x40000000 ? 0x40000000 : ULONG(size), written = 0;
            HRESULT hr = stream_.get()->Write(p, chunk, &written);
            if (FAILED(hr)) return hr;
            if (written == 0) return HRESULT(0x80030070); // STG_E_MEDIUMFULL
            p += written;
            size -= written;
        }
        return S_OK;
    }
    HRESULT CopyFrom(IStream *source) override {
        ULARGE_INTEGER all;
        all.QuadPart = ~uint64_t(0);
        return source->CopyTo(stream_.get(), all, nullptr, nullptr);
    }
    HRESULT Commit() override { return stream_.get()->Commit(0); }
    IStream *Raw() const { return stream_.get(); }

  private:
    clsAutoRelease<IStream> stream_;
};

// IMAPIProp's part of every object.
template <class Base, class Object> class PropOn : public Base {
  public:
    PropOn(const Functions &f, Object *object) : f_(f), object_(object) {}
    HRESULT GetProps(const std::vector<uint32_t> &tags, std::vector<Prop> &values) override {
        std::vector<uint32_t> array = TagArray(tags);
        uint32_t count = 0;
        SPropValue *got = nullptr;
        HRESULT hr = object_.get()->GetProps(array.data(), 0, &count, &got);
        if (FAILED(hr)) return hr;
        std::vector<Prop> props = PropsOf(got, count);
        values.insert(values.end(), props.begin(), props.end());
        if (got && f_.MAPIFreeBuffer) f_.MAPIFreeBuffer(got);
        return hr;
    }
    HRESULT SetProps(const std::vector<Prop> &values) override {
        SPropValue *packed = PackProps(f_, values);
        if (!packed) return E_OUTOFMEMORY;
        HRESULT hr = object_.get()->SetProps(uint32_t(values.size()), packed, nullptr);
        f_.MAPIFreeBuffer(packed);
        return hr;
    }
    HRESULT OpenProperty(uint32_t tag, uint32_t interfaceOptions, uint32_t flags,
                         std::unique_ptr<PropStream> &stream) override {
        IUnknown *opened = nullptr;
        HRESULT hr = object_.get()->OpenProperty(tag, &IID_IStream, interfaceOptions, flags, &opened);
        if (SUCCEEDED(hr) && opened) stream = std::make_unique<SysStream>(static_cast<IStream *>(opened));
        return hr;
    }
    HRESULT SaveChanges(uint32_t flags) override { return object_.get()->SaveChanges(flags); }
    Object *Raw() const { return object_.get(); }

  protected:
    const Functions &f_;
    clsAutoRelease<Object> object_;
};

using SysStore = PropOn<MapiProp, IMsgStore>;
using SysAttach = PropOn<Attach, IAttach>;

// A recipient list for the address book and the message, each entry's
// values in a buffer of its own as the platform expects them.
class SysAdrList final : public AdrList {
  public:
    SysAdrList(const Functions &f, const std::vector<std::vector<Prop>> &rows) : f_(f) {
        if (!f_.MAPIAllocateBuffer || !f_.MAPIFreeBuffer) {
            result_ = E_NOTIMPL;
            return;
        }
        void *raw = nullptr;
        size_t size = offsetof(ADRLIST, aEntries) + (rows.empty() ? 1 : rows.size()) * sizeof(ADRENTRY);
        result_ = f_.MAPIAllocateBuffer(uint32_t(size), &raw);
        if (FAILED(result_) || !raw) return;
        std::memset(raw, 0, size);
        list_ = static_cast<ADRLIST *>(raw);
        for (const auto &row : rows) {
            ADRENTRY &entry = list_->aEntries[list_->cEntries++];
            entry.rgPropVals = PackProps(f_, row, &result_);
            if (!entry.rgPropVals) {
                Free();
                return;
            }
            entry.cValues = uint32_t(row.size());
        }
    }
    ~SysAdrList() override { Free(); }
    SysAdrList(const SysAdrList &) = delete;
    SysAdrList &operator=(const SysAdrList &) = delete;
    // What the allocation answered; the list exists only after success.
    HRESULT Result() const { return list_ ? S_OK : FAILED(result_) ? result_ : E_OUTOFMEMORY; }
    ADRLIST *get() const { return list_; }
    std::vector<std::vector<Prop>> Rows() const override {
        std::vector<std::vector<Prop>> rows;
        for (uint32_t i = 0; list_ && i < list_->cEntries; ++i)
            rows.push_back(PropsOf(list_->aEntries[i].rgPropVals, list_->aEntries[i].cValues));
        return rows;
    }

  private:
    void Free() {
        if (!list_) return;
        if (f_.FreePadrlist) {
            f_.FreePadrlist(list_);
        } else {
            for (uint32_t i = 0; i < list_->cEntries; ++i)
                if (list_->aEntries[i].rgPropVals) f_.MAPIFreeBuffer(list_->aEntries[i].rgPropVals);
            f_.MAPIFreeBuffer(list_);
        }
        list_ = nullptr;
    }
    const Functions &f_;
    ADRLIST *list_ = nullptr;
    HRESULT result_ = S_OK;
};

class SysMessage final : public PropOn<Message, IMessage> {
  public:
    using PropOn::PropOn;
    HRESULT ModifyRecipients(uint32_t flags, AdrList &list) override {
        auto *ours = dynamic_cast<SysAdrList *>(&list);
        return ours ? Raw()->ModifyRecipients(flags, ours->get()) : E_INVALIDARG;
    }
    HRESULT CreateAttach(std::unique_ptr<Attach> &attach) override {
        uint32_t number = 0;
        IAttach *created = nullptr;
        HRESULT hr = Raw()->CreateAttach(nullptr, 0, &number, &created);
        if (SUCCEEDED(hr) && created) attach = std::make_unique<SysAttach>(f_, created);
        return hr;
    }
    HRESULT SubmitMessage(uint32_t flags) override { return Raw()->SubmitMessage(flags); }
};

class SysFolder final : public Folder {
  public:
    SysFolder(const Functions &f, IMAPIFolder *folder) : f_(f), folder_(folder) {}
    HRESULT CreateMessage(std::unique_ptr<Message> &message) override {
        IMessage *created = nullptr;
        HRESULT hr = folder_.get()->CreateMessage(nullptr, 0, &created);
        if (SUCCEEDED(hr) && created) message = std::make_unique<SysMessage>(f_, created);
        return hr;
    }

  private:
    const Functions &f_;
    clsAutoRelease<IMAPIFolder> folder_;
};

class SysAbTable final : public AbTable {
  public:
    SysAbTable(const Functions &f, IMAPITable *table) : f_(f), table_(table) {}
    HRESULT QueryAllRows(const std::vector<uint32_t> &columns, std::vector<std::vector<Prop>> &rows) override {
        return QueryAll(f_, table_.get(), columns, nullptr, rows);
    }

  private:
    const Functions &f_;
    clsAutoRelease<IMAPITable> table_;
};

class SysAbContainer final : public AbContainer {
  public:
    SysAbContainer(const Functions &f, IMAPIContainer *container, uint32_t stringType)
        : f_(f), container_(container), stringType_(stringType) {}
    HRESULT GetHierarchyTable(std::unique_ptr<AbTable> &table) override {
        IMAPITable *opened = nullptr;
        HRESULT hr = container_.get()->GetHierarchyTable(0, &opened);
        if (SUCCEEDED(hr) && opened) table = std::make_unique<SysAbTable>(f_, opened);
        return hr;
    }
    HRESULT GetContentsTable(std::unique_ptr<AbTable> &table) override {
        IMAPITable *opened = nullptr;
        HRESULT hr = container_.get()->GetContentsTable(stringType_ == PT_UNICODE ? MAPI_UNICODE : 0, &opened);
        if (SUCCEEDED(hr) && opened) table = std::make_unique<SysAbTable>(f_, opened);
        return hr;
    }

  private:
    const Functions &f_;
    clsAutoRelease<IMAPIContainer> container_;
    uint32_t stringType_;
};

class SysAddrBook final : public AddrBook {
  public:
    SysAddrBook(const Functions &f, IAddrBook *book, uint32_t stringType)
        : f_(f), book_(book), stringType_(stringType) {}
    HRESULT CreateOneOff(const WString &name, const WString &type, const WString &address, uint32_t flags,
                         std::string &entryId) override {
        WString n = name, t = type, a = address;
        uint32_t size = 0;
        void *id = nullptr;
        HRESULT hr = book_.get()->CreateOneOff(n.data(), t.data(), a.data(), flags | MAPI_UNICODE, &size, &id);
        if (FAILED(hr)) return hr;
        if (id) {
            entryId.assign(static_cast<const char *>(id), size);
            if (f_.MAPIFreeBuffer) f_.MAPIFreeBuffer(id);
        }
        return hr;
    }
    HRESULT ResolveName(AdrList &list) override {
        auto *ours = dynamic_cast<SysAdrList *>(&list);
        return ours ? book_.get()->ResolveName(0, 0, nullptr, ours->get()) : E_INVALIDARG;
    }
    HRESULT OpenEntry(const std::string &entryId, std::unique_ptr<AbContainer> &container) override {
        uint32_t type = 0;
        IUnknown *opened = nullptr;
        HRESULT hr = book_.get()->OpenEntry(uint32_t(entryId.size()), EntryData(entryId), nullptr, 0, &type, &opened);
        if (FAILED(hr) || !opened) return hr;
        // Only a container may be called as one.
        if (type != MAPI_ABCONT) {
            opened->Release();
            return MAPI_E_NOT_FOUND;
        }
        container = std::make_unique<SysAbContainer>(f_, static_cast<IMAPIContainer *>(opened), stringType_);
        return hr;
    }

  private:
    const Functions &f_;
    clsAutoRelease<IAddrBook> book_;
    uint32_t stringType_;
};

class SysReadMessage final : public PropOn<ReadMessage, IMessage> {
  public:
    SysReadMessage(const Functions &f, IMessage *message, uint32_t stringType)
        : PropOn(f, message), stringType_(stringType) {}
    HRESULT RecipientRows(std::vector<std::vector<Prop>> &rows) override {
        clsAutoRelease<IMAPITable> table;
        HRESULT hr = Raw()->GetRecipientTable(Flags(), table.put());
        if (FAILED(hr)) return hr;
        return QueryAll(f_, table.get(),
                        {Tag(ID_DISPLAY_NAME, stringType_), Tag(ID_ADDRTYPE, stringType_),
                         Tag(ID_EMAIL_ADDRESS, stringType_), Tag(ID_SMTP_ADDRESS, stringType_),
                         Tag(ID_RECIPIENT_TYPE, PT_LONG)},
                        nullptr, rows);
    }
    HRESULT AttachmentRows(std::vector<std::vector<Prop>> &rows) override {
        clsAutoRelease<IMAPITable> table;
        HRESULT hr = Raw()->GetAttachmentTable(Flags(), table.put());
        if (FAILED(hr)) return hr;
        return QueryAll(f_, table.get(),
                        {Tag(ID_ATTACH_NUM, PT_LONG), Tag(ID_ATTACH_SIZE, PT_LONG),
                         Tag(ID_ATTACH_FILENAME, stringType_)},
                        nullptr, rows);
    }
    HRESULT AttachmentData(int32_t number, std::string &bytes) override {
        clsAutoRelease<IAttach> attach;
        HRESULT hr = Raw()->OpenAttach(uint32_t(number), nullptr, 0, attach.put());
        if (FAILED(hr)) return hr;
        if (!attach.get()) return E_POINTER;
        clsAutoRelease<IUnknown> opened;
        hr = attach.get()->OpenProperty(Tag(ID_ATTACH_DATA_BIN, PT_BINARY), &IID_IStream, 0, 0, opened.put());
        if (FAILED(hr)) return hr;
        if (!opened.get()) return E_POINTER;
        auto *stream = static_cast<IStream *>(opened.get());
        char buffer[65536];
        for (;;) {
            ULONG got = 0;
            hr = stream->Read(buffer, sizeof buffer, &got);
            if (FAILED(hr)) return hr;
            if (got == 0) break;
            bytes.append(buffer, got);
        }
        return S_OK;
    }
    HRESULT SetReadFlag(uint32_t flags) override { return Raw()->SetReadFlag(flags); }

  private:
    uint32_t Flags() const { return stringType_ == PT_UNICODE ? MAPI_UNICODE : 0; }
    uint32_t stringType_;
};

class SysInbox final : public Inbox {
  public:
    SysInbox(const Functions &f, IMAPIFolder *folder, uint32_t stringType)
        : f_(f), folder_(folder), stringType_(stringType) {}
    HRESULT ContentsRows(std::vector<std::vector<Prop>> &rows) override {
        clsAutoRelease<IMAPITable> table;
        HRESULT hr = folder_.get()->GetContentsTable(stringType_ == PT_UNICODE ? MAPI_UNICODE : 0, table.put());
        if (FAILED(hr)) return hr;
        return QueryAll(f_, table.get(),
                        {Tag(ID_SENT_REPRESENTING_NAME, stringType_), Tag(ID_SUBJECT, stringType_),
                         Tag(ID_ENTRYID, PT_BINARY), Tag(ID_MESSAGE_FLAGS, PT_LONG)},
                        nullptr, rows);
    }
    HRESULT OpenMessage(const std::string &entryId, std::unique_ptr<ReadMessage> &message) override {
        uint32_t type = 0;
        IUnknown *opened = nullptr;
        HRESULT hr = folder_.get()->OpenEntry(uint32_t(entryId.size()), EntryData(entryId), nullptr,
                                              MAPI_BEST_ACCESS, &type, &opened);
        if (FAILED(hr) || !opened) return hr;
        // The id comes from the host: any other object would be called
        // through the wrong interface.
        if (type != MAPI_MESSAGE) {
            opened->Release();
            return MAPI_E_NOT_FOUND;
        }
        message = std::make_unique<SysReadMessage>(f_, static_cast<IMessage *>(opened), stringType_);
        return hr;
    }
    HRESULT DeleteMessage(const std::string &entryId) override {
        SBinary id{uint32_t(entryId.size()), reinterpret_cast<uint8_t *>(EntryData(entryId))};
        ENTRYLIST list{1, &id};
        return folder_.get()->DeleteMessages(&list, 0, nullptr, 0);
    }

  private:
    const Functions &f_;
    clsAutoRelease<IMAPIFolder> folder_;
    uint32_t stringType_;
};

class SysStatusTable final : public StatusTable {
  public:
    SysStatusTable(const Functions &f, IMAPITable *table) : f_(f), table_(table) {}
    HRESULT QueryRows(int32_t resourceType, std::vector<std::vector<Prop>> &rows) override {
        SPropValue value{};
        value.ulPropTag = PR_RESOURCE_TYPE;
        value.Value.l = resourceType;
        SRestriction restriction{};
        restriction.rt = RES_PROPERTY;
        restriction.res.resProperty = {RELOP_EQ, PR_RESOURCE_TYPE, &value};
        return QueryAll(f_, table_.get(), {PR_ENTRYID, PR_RESOURCE_TYPE}, &restriction, rows);
    }

  private:
    const Functions &f_;
    clsAutoRelease<IMAPITable> table_;
};

class SysStatus final : public Status {
  public:
    explicit SysStatus(IMAPIStatus *status) : status_(status) {}
    HRESULT FlushQueues(uint32_t flags) override { return status_.get()->FlushQueues(0, 0, nullptr, flags); }

  private:
    clsAutoRelease<IMAPIStatus> status_;
};

class SysSite final : public SendSite {
  public:
    SysSite(const Functions &f, IMAPISession *session, IMsgStore *store, bool unicode)
        : f_(f), session_(session), store_(f, store), stringType_(unicode ? PT_UNICODE : PT_STRING8) {
        store->AddRef();
    }
    MapiProp &Store() override { return store_; }
    HRESULT OpenFolder(const std::string &entryId, std::unique_ptr<Folder> &folder) override {
        uint32_t type = 0;
        IUnknown *opened = nullptr;
        HRESULT hr = store_.Raw()->OpenEntry(uint32_t(entryId.size()), EntryData(entryId), nullptr,
                                             MAPI_BEST_ACCESS, &type, &opened);
        if (SUCCEEDED(hr) && opened) folder = std::make_unique<SysFolder>(f_, static_cast<IMAPIFolder *>(opened));
        return hr;
    }
    HRESULT OpenAddressBook(std::unique_ptr<AddrBook> &book) override {
        IAddrBook *opened = nullptr;
        HRESULT hr = session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &opened);
        // Warnings (a provider of the book missing) still give a usable book.
        if (SUCCEEDED(hr) && opened) book = std::make_unique<SysAddrBook>(f_, opened, stringType_);
        return hr;
    }
    HRESULT AllocateAdrList(const std::vector<std::vector<Prop>> &rows, std::unique_ptr<AdrList> &list) override {
        auto made = std::make_unique<SysAdrList>(f_, rows);
        HRESULT hr = made->Result();
        if (SUCCEEDED(hr)) list = std::move(made);
        return hr;
    }
    HRESULT OpenStreamOnFile(const String &path, IStream **stream) override {
        if (!f_.OpenStreamOnFile || !f_.MAPIAllocateBuffer || !f_.MAPIFreeBuffer) return E_NOTIMPL;
        return f_.OpenStreamOnFile(f_.MAPIAllocateBuffer, f_.MAPIFreeBuffer, STGM_READ_ONLY, path.c_str(), nullptr,
                                   stream);
    }
    HRESULT WrapCompressedRTFStream(PropStream &compressed, uint32_t flags,
                                    std::unique_ptr<PropStream> &rtf) override {
        auto *ours = dynamic_cast<SysStream *>(&compressed);
        if (!ours || !f_.WrapCompressedRTFStream) return E_NOTIMPL;
        IStream *wrapped = nullptr;
        HRESULT hr = f_.WrapCompressedRTFStream(ours->Raw(), flags, &wrapped);
        if (SUCCEEDED(hr) && wrapped) rtf = std::make_unique<SysStream>(wrapped);
        return hr;
    }
    HRESULT RTFSync(Message &message, uint32_t flags) override {
        auto *ours = dynamic_cast<SysMessage *>(&message);
        if (!ours || !f_.RTFSync) return E_NOTIMPL;
        int32_t updated = 0;
        return f_.RTFSync(ours->Raw(), flags, &updated);
    }
    HRESULT OpenInbox(std::unique_ptr<Inbox> &inbox) override {
        uint32_t size = 0;
        void *id = nullptr;
        HRESULT hr = store_.Raw()->GetReceiveFolder(nullptr, 0, &size, &id, nullptr);
        if (FAILED(hr)) return hr;
        if (!id) return MAPI_E_NOT_FOUND;
        uint32_t type = 0;
        IUnknown *opened = nullptr;
        hr = store_.Raw()->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, &opened);
        if (f_.MAPIFreeBuffer) f_.MAPIFreeBuffer(id);
        if (SUCCEEDED(hr) && opened)
            inbox = std::make_unique<SysInbox>(f_, static_cast<IMAPIFolder *>(opened), stringType_);
        return hr;
    }
    HRESULT GetStatusTable(std::unique_ptr<StatusTable> &table) override {
        IMAPITable *opened = nullptr;
        HRESULT hr = session_->GetStatusTable(0, &opened);
        if (SUCCEEDED(hr) && opened) table = std::make_unique<SysStatusTable>(f_, opened);
        return hr;
    }
    HRESULT OpenStatus(const std::string &entryId, uint32_t &type, std::unique_ptr<Status> &status) override {
        IUnknown *opened = nullptr;
        HRESULT hr = session_->OpenEntry(uint32_t(entryId.size()), EntryData(entryId), nullptr, MAPI_BEST_ACCESS,
                                         &type, &opened);
        if (SUCCEEDED(hr) && opened) status = std::make_unique<SysStatus>(static_cast<IMAPIStatus *>(opened));
        return hr;
    }

  private:
    const Functions &f_;
    IMAPISession *session_;
    SysStore store_;
    uint32_t stringType_;
};

} // namespace

SPropValue *PackProps(const Functions &f, const std::vector<Prop> &values, HRESULT *result) {
    HRESULT ignored = S_OK;
    HRESULT &hr = result ? *result : ignored;
    hr = E_OUTOFMEMORY;
    if (!f.MAPIAllocateBuffer || !f.MAPIFreeBuffer) return nullptr;
    size_t size = Aligned(values.size() * sizeof(SPropValue));
    for (const Prop &p : values) size += DataSize(p);
    if (size == 0) size = sizeof(SPropValue);
    void *raw = nullptr;
    if (size > 0xFFFFFFF0u) return nullptr;
    hr = f.MAPIAllocateBuffer(uint32_t(size), &raw);
    if (FAILED(hr) || !raw) {
        if (SUCCEEDED(hr)) hr = E_OUTOFMEMORY;
        return nullptr;
    }
    std::memset(raw, 0, size);
    auto *array = static_cast<SPropValue *>(raw);
    char *data = static_cast<char *>(raw) + Aligned(values.size() * sizeof(SPropValue));
    for (size_t i = 0; i < values.size(); ++i) {
        const Prop &p = values[i];
        SPropValue &v = array[i];
        v.ulPropTag = p.tag;
        switch (TypeOf(p.tag)) {
        case PT_LONG: v.Value.l = p.number; break;
        case PT_BOOLEAN: v.Value.b = p.number ? 1 : 0; break;
        case PT_ERROR: v.Value.err = p.number; break;
        case PT_SYSTIME:
            v.Value.ft.low = uint32_t(p.time);
            v.Value.ft.high = uint32_t(p.time >> 32);
            break;
        case PT_STRING8:
            std::memcpy(data, p.text8.c_str(), p.text8.size() + 1);
            v.Value.lpszA = data;
            break;
        case PT_UNICODE:
            std::memcpy(data, p.text.c_str(), (p.text.size() + 1) * sizeof(char16_t));
            v.Value.lpszW = reinterpret_cast<char16_t *>(data);
            break;
        case PT_BINARY:
            if (!p.bytes.empty()) std::memcpy(data, p.bytes.data(), p.bytes.size());
            v.Value.bin = {uint32_t(p.bytes.size()), reinterpret_cast<uint8_t *>(data)};
            break;
        default: break;
        }
        data += DataSize(p);
    }
    return array;
}

Prop PropOf(const SPropValue &value) {
    Prop p;
    p.tag = value.ulPropTag;
    switch (TypeOf(p.tag)) {
    case PT_LONG: p.number = value.Value.l; break;
    case PT_BOOLEAN: p.number = value.Value.b ? 1 : 0; break;
    case PT_ERROR: p.number = value.Value.err; break;
    case PT_SYSTIME: p.time = (uint64_t(value.Value.ft.high) << 32) | value.Value.ft.low; break;
    case PT_STRING8:
        if (value.Value.lpszA) p.text8 = value.Value.lpszA;
        break;
    case PT_UNICODE:
        if (value.Value.lpszW) p.text = value.Value.lpszW;
        break;
    case PT_BINARY:
        if (value.Value.bin.lpb) p.bytes.assign(reinterpret_cast<const char *>(value.Value.bin.lpb), value.Value.bin.cb);
        break;
    case PT_MV_STRING8:
        for (uint32_t i = 0; value.Value.MVszA.lppszA && i < value.Value.MVszA.cValues; ++i)
            if (value.Value.MVszA.lppszA[i]) p.texts8.push_back(value.Value.MVszA.lppszA[i]);
        break;
    default: break;
    }
    return p;
}

std::unique_ptr<SendSite> MakeSystemSite(const Functions &f, IMAPISession *session, IMsgStore *store, bool unicode) {
    return std::make_unique<SysSite>(f, session, store, unicode);
}

} // namespace kv::xmapi
