// The one recording stand-in for the Extended MAPI platform the unit tests
// use: subsystem, session, store, outbox, message, address book with its
// global list, inbox and spooler. Every call goes into one log as a line,
// and any call can be made to answer a result by a prefix of its line.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "providers/xmapi/xmapi_platform.h"
#include "providers/xmapi/xmapi_read.h"
#include "runtime/kvlog.h"
#include "stack_doubles.h"
#include "test_text.h"

// Its own namespace: the CDO double has classes of the same names.
namespace testsupport::mapi {

namespace xm = kv::xmapi;

// A received message of the inbox.
struct Stored {
    std::string entryId;
    std::vector<xm::Prop> props;
    std::vector<std::pair<std::vector<xm::Prop>, std::string>> attachments;
    int32_t flags = 0;
};

struct XmapiLog : CallLog {
    std::vector<HRESULT> submits{S_OK};      // SubmitMessage's answers in turn
    bool loaded = true, narrowOnly = false, hasSpooler = true;
    uint32_t mask = xm::STORE_CREATE_OK | xm::STORE_UNICODE_OK, statusType = xm::MAPI_STATUS;
    std::set<std::string> missing; // functions the library lacks
    std::vector<xm::ProfileRow> profiles;
    std::vector<Stored> messages;
    std::vector<std::vector<xm::Prop>> hierarchy, gal; // of the address book's root and global list
    std::map<std::string, std::string> files;          // what OpenStreamOnFile finds
    int attaches = 0, streams = 0;

    std::vector<std::string> With(const std::string &prefix) const {
        std::vector<std::string> out;
        for (const auto &c : calls)
            if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
        return out;
    }
};

inline xm::Prop S8(uint32_t id, const std::string &text) {
    xm::Prop p;
    p.tag = xm::Tag(id, xm::PT_STRING8);
    p.text8 = text;
    return p;
}
inline xm::Prop L(uint32_t id, int32_t n) {
    xm::Prop p;
    p.tag = xm::Tag(id, xm::PT_LONG);
    p.number = n;
    return p;
}
inline xm::Prop Bin(uint32_t id, const std::string &bytes) {
    xm::Prop p;
    p.tag = xm::Tag(id, xm::PT_BINARY);
    p.bytes = bytes;
    return p;
}

inline std::string Show(const std::vector<xm::Prop> &props) {
    std::string out;
    for (const auto &p : props) {
        std::string v;
        switch (xm::TypeOf(p.tag)) {
        case xm::PT_STRING8: v = "a:" + p.text8; break;
        case xm::PT_UNICODE: v = "u:" + kv::Narrow(p.text); break;
        default: v = "?"; break;
        }
        out += (out.empty() ? "" : " ") + kv::Format("%08X=", unsigned(p.tag)) + v;
    }
    return out;
}

// The log and the object's name in it.
struct Named {
    Named(XmapiLog &log, std::string name = "") : log_(log), name_(std::move(name)) {}
    XmapiLog &log_;
    std::string name_;
};

class RecStream final : public xm::PropStream, Named {
  public:
    using Named::Named;
    HRESULT Write(const void *, size_t size) override { return log_.Record(name_ + ".Write " + std::to_string(size)); }
    HRESULT CopyFrom(IStream *source) override {
        return log_.Record(name_ + ".CopyFrom " + std::to_string(testsupport::BytesOf(source).size()));
    }
    HRESULT Commit() override { return log_.Record(name_ + ".Commit"); }
};

// The property calls of a store, message or attachment, named in the log.
template <class Base> class RecProp : public Base, protected Named {
  public:
    using Named::Named;
    // Only the store is asked, for its outbox's or sent items' entry id.
    HRESULT GetProps(const std::vector<uint32_t> &tags, std::vector<xm::Prop> &values) override {
        HRESULT hr = log_.Record(kv::Format("%s.GetProps %08X", name_.c_str(), unsigned(tags[0])));
        values = {Bin(xm::IdOf(tags[0]), xm::IdOf(tags[0]) == xm::ID_IPM_OUTBOX_ENTRYID ? "OUTBOX" : "SENT")};
        return hr;
    }
    HRESULT SetProps(const std::vector<xm::Prop> &values) override {
        if (log_.narrowOnly)
            for (const auto &p : values)
                if (xm::TypeOf(p.tag) == xm::PT_UNICODE) {
                    log_.calls.push_back(name_ + ".SetProps refused " + Show(values));
                    return xm::MAPI_E_BAD_CHARWIDTH;
                }
        return log_.Record(name_ + ".SetProps " + Show(values));
    }
    HRESULT OpenProperty(uint32_t tag, uint32_t options, uint32_t flags, std::unique_ptr<xm::PropStream> &s) override {
        std::string stream = "S" + std::to_string(++log_.streams);
        HRESULT hr = log_.Record(kv::Format("%s.OpenProperty %08X %x %x ", name_.c_str(), unsigned(tag),
                                            unsigned(options), unsigned(flags)) +
                                 stream);
        if (SUCCEEDED(hr)) s = std::make_unique<RecStream>(log_, stream);
        return hr;
    }
    HRESULT SaveChanges(uint32_t flags) override {
        return log_.Record(name_ + ".SaveChanges " + std::to_string(flags));
    }
};

struct RecList final : xm::AdrList {
    explicit RecList(std::vector<std::vector<xm::Prop>> r) : rows(std::move(r)) {}
    std::vector<std::vector<xm::Prop>> rows;
    std::vector<std::vector<xm::Prop>> Rows() const override { return rows; }
};

class RecMessage final : public RecProp<xm::Message> {
  public:
    using RecProp::RecProp;
    HRESULT ModifyRecipients(uint32_t flags, xm::AdrList &list) override {
        std::string line = "Msg.ModifyRecipients " + std::to_string(flags);
        for (const auto &row : list.Rows()) line += " [" + Show(row) + "]";
        return log_.Record(line);
    }
    HRESULT CreateAttach(std::unique_ptr<xm::Attach> &attach) override {
        std::string a = "A" + std::to_string(++log_.attaches);
        HRESULT hr = log_.Record("Msg.CreateAttach " + a);
        if (SUCCEEDED(hr)) attach = std::make_unique<RecProp<xm::Attach>>(log_, a);
        return hr;
    }
    HRESULT SubmitMessage(uint32_t flags) override {
        log_.calls.push_back("Msg.SubmitMessage " + std::to_string(flags));
        HRESULT hr = log_.submits.front();
        if (log_.submits.size() > 1) log_.submits.erase(log_.submits.begin());
        return hr;
    }
};

class RecFolder final : public xm::Folder, Named {
  public:
    using Named::Named;
    HRESULT CreateMessage(std::unique_ptr<xm::Message> &m) override {
        HRESULT hr = log_.Record("Outbox.CreateMessage");
        if (SUCCEEDED(hr)) m = std::make_unique<RecMessage>(log_, "Msg");
        return hr;
    }
};

// The address book, its containers and their tables in one class, each call
// recorded under the name of what it was made on.
class RecBook final : public xm::AddrBook, public xm::AbContainer, public xm::AbTable {
  public:
    RecBook(XmapiLog &log, std::string name, const std::vector<std::vector<xm::Prop>> *rows = nullptr)
        : log_(log), name_(std::move(name)), rows_(rows) {}
    HRESULT CreateOneOff(const kv::WString &name, const kv::WString &type, const kv::WString &address, uint32_t flags,
                         std::string &entryId) override {
        entryId = "EID:" + kv::Narrow(address);
        return log_.Record(kv::Format("Book.CreateOneOff %s|%s|%s|%x", kv::Narrow(name).c_str(),
                                      kv::Narrow(type).c_str(), kv::Narrow(address).c_str(), unsigned(flags)));
    }
    HRESULT ResolveName(xm::AdrList &list) override {
        return log_.Record("Book.ResolveName " + std::to_string(list.Rows().size()));
    }
    HRESULT OpenEntry(const std::string &id, std::unique_ptr<xm::AbContainer> &container) override {
        container = std::make_unique<RecBook>(log_, id.empty() ? "Root" : "GAL");
        return log_.Record("Book.OpenEntry " + (id.empty() ? "root" : id));
    }
    HRESULT GetHierarchyTable(std::unique_ptr<xm::AbTable> &t) override {
        t = std::make_unique<RecBook>(log_, "Hierarchy", &log_.hierarchy);
        return log_.Record(name_ + ".GetHierarchyTable");
    }
    HRESULT GetContentsTable(std::unique_ptr<xm::AbTable> &t) override {
        t = std::make_unique<RecBook>(log_, "Contents", &log_.gal);
        return log_.Record(name_ + ".GetContentsTable");
    }
    HRESULT QueryAllRows(const std::vector<uint32_t> &, std::vector<std::vector<xm::Prop>> &rows) override {
        rows = *rows_;
        return log_.Record(name_ + ".QueryAllRows");
    }

  private:
    XmapiLog &log_;
    std::string name_;
    const std::vector<std::vector<xm::Prop>> *rows_;
};

class StoredMessage final : public xm::ReadMessage {
  public:
    StoredMessage(XmapiLog &log, const Stored &m) : log_(log), m_(m) {}
    HRESULT GetProps(const std::vector<uint32_t> &tags, std::vector<xm::Prop> &values) override {
        for (const xm::Prop &p : m_.props)
            if (p.tag == tags[0]) {
                values = {p};
                return S_OK;
            }
        values = {L(xm::IdOf(tags[0]), int32_t(xm::MAPI_E_NOT_FOUND))};
        values[0].tag = xm::Tag(xm::IdOf(tags[0]), xm::PT_ERROR);
        return xm::MAPI_W_ERRORS_RETURNED;
    }
    HRESULT SetProps(const std::vector<xm::Prop> &) override { return E_NOTIMPL; }
    HRESULT OpenProperty(uint32_t, uint32_t, uint32_t, std::unique_ptr<xm::PropStream> &) override { return E_NOTIMPL; }
    HRESULT SaveChanges(uint32_t) override { return E_NOTIMPL; }
    HRESULT RecipientRows(std::vector<std::vector<xm::Prop>> &) override { return S_OK; }
    HRESULT AttachmentRows(std::vector<std::vector<xm::Prop>> &rows) override {
        for (const auto &a : m_.attachments) rows.push_back(a.first);
        return S_OK;
    }
    HRESULT AttachmentData(int32_t number, std::string &bytes) override {
        bytes = m_.attachments.at(size_t(number)).second;
        return log_.Record("AttachmentData " + std::to_string(number));
    }
    HRESULT SetReadFlag(uint32_t) override { return log_.Record("SetReadFlag " + kv::EntryIdText(m_.entryId)); }

  private:
    XmapiLog &log_;
    const Stored &m_;
};

class StoredInbox final : public xm::Inbox, Named {
  public:
    using Named::Named;
    HRESULT ContentsRows(std::vector<std::vector<xm::Prop>> &rows) override {
        for (const Stored &m : log_.messages)
            rows.push_back({S8(xm::ID_SENT_REPRESENTING_NAME, "x"), S8(xm::ID_SUBJECT, "s"),
                            Bin(xm::ID_ENTRYID, m.entryId), L(xm::ID_MESSAGE_FLAGS, m.flags)});
        return log_.Record("Inbox.ContentsRows");
    }
    HRESULT OpenMessage(const std::string &entryId, std::unique_ptr<xm::ReadMessage> &message) override {
        HRESULT hr = log_.Record("Inbox.OpenMessage " + kv::EntryIdText(entryId));
        for (const Stored &m : log_.messages)
            if (SUCCEEDED(hr) && m.entryId == entryId) {
                message = std::make_unique<StoredMessage>(log_, m);
                return S_OK;
            }
        return FAILED(hr) ? hr : xm::MAPI_E_NOT_FOUND;
    }
    HRESULT DeleteMessage(const std::string &entryId) override {
        return log_.Record("Inbox.DeleteMessage " + kv::EntryIdText(entryId));
    }
};

class RecSpooler final : public xm::StatusTable, public xm::Status, Named {
  public:
    using Named::Named;
    HRESULT QueryRows(int32_t type, std::vector<std::vector<xm::Prop>> &rows) override {
        if (log_.hasSpooler) rows.push_back({L(xm::ID_RESOURCE_TYPE, type), Bin(xm::ID_ENTRYID, "SPOOL")});
        return log_.Record("QueryRows " + std::to_string(type));
    }
    HRESULT FlushQueues(uint32_t flags) override { return log_.Record(kv::Format("FlushQueues %x", unsigned(flags))); }
};

class RecSite final : public xm::SendSite {
  public:
    explicit RecSite(XmapiLog &log) : log_(log), store_(log, "Store") {}
    xm::MapiProp &Store() override { return store_; }
    HRESULT OpenFolder(const std::string &id, std::unique_ptr<xm::Folder> &folder) override {
        folder = std::make_unique<RecFolder>(log_);
        return log_.Record("OpenFolder " + id);
    }
    HRESULT OpenAddressBook(std::unique_ptr<xm::AddrBook> &book) override {
        book = std::make_unique<RecBook>(log_, "Book");
        return log_.Record("OpenAddressBook");
    }
    HRESULT AllocateAdrList(const std::vector<std::vector<xm::Prop>> &rows,
                            std::unique_ptr<xm::AdrList> &list) override {
        list = std::make_unique<RecList>(rows);
        return log_.Record("AllocateAdrList " + std::to_string(rows.size()));
    }
    HRESULT OpenStreamOnFile(const kv::String &path, IStream **stream) override {
        HRESULT hr = log_.Record("OpenStreamOnFile " + path);
        auto file = log_.files.find(path);
        if (file == log_.files.end()) return xm::MAPI_E_NOT_FOUND;
        if (SUCCEEDED(hr)) *stream = testsupport::StreamOf(file->second);
        return hr;
    }
    HRESULT WrapCompressedRTFStream(xm::PropStream &, uint32_t flags, std::unique_ptr<xm::PropStream> &rtf) override {
        std::string s = "S" + std::to_string(++log_.streams);
        rtf = std::make_unique<RecStream>(log_, s);
        return log_.Record(kv::Format("Wrap %x ", unsigned(flags)) + s);
    }
    HRESULT RTFSync(xm::Message &, uint32_t flags) override { return log_.Record("RTFSync " + std::to_string(flags)); }
    HRESULT OpenInbox(std::unique_ptr<xm::Inbox> &inbox) override {
        inbox = std::make_unique<StoredInbox>(log_);
        return log_.Record("OpenInbox");
    }
    HRESULT GetStatusTable(std::unique_ptr<xm::StatusTable> &table) override {
        table = std::make_unique<RecSpooler>(log_);
        return log_.Record("GetStatusTable");
    }
    HRESULT OpenStatus(const std::string &id, uint32_t &type, std::unique_ptr<xm::Status> &status) override {
        type = log_.statusType;
        status = std::make_unique<RecSpooler>(log_);
        return log_.Record("OpenStatus " + id);
    }

  private:
    XmapiLog &log_;
    RecProp<xm::MapiProp> store_;
};

class RecSession final : public xm::Session {
  public:
    RecSession(XmapiLog &log, xm::SendSite *site) : log_(log), site_(site) {}
    HRESULT Logoff(uintptr_t) override { return log_.Record("Logoff"); }
    HRESULT OpenDefaultStore(uint32_t &mask) override {
        mask = log_.mask;
        return log_.Record("OpenDefaultStore");
    }
    kv::String LastErrorText(HRESULT) override { return "no default store\norkv14"; }
    xm::SendSite *Site() override { return site_; }

  private:
    XmapiLog &log_;
    xm::SendSite *site_;
};

// The subsystem; with a site its sessions reach those objects, without one
// they offer no outbox.
class RecPlatform final : public xm::Platform {
  public:
    explicit RecPlatform(std::shared_ptr<XmapiLog> log, bool withSite = false)
        : log_(std::move(log)), site_(withSite ? std::make_unique<RecSite>(*log_) : nullptr) {}
    bool Loaded() const override { return log_->loaded; }
    bool Has(const char *f) const override { return !log_->missing.count(f); }
    HRESULT InitializeOle() override { return log_->Record("OleInitialize"); }
    void UninitializeOle() override { log_->Record("OleUninitialize"); }
    HRESULT Initialize(uint32_t flags) override { return log_->Record("Initialize " + std::to_string(flags)); }
    void Uninitialize() override { log_->Record("Uninitialize"); }
    HRESULT LogonEx(uintptr_t, const char *profile, const char *password, uint32_t flags,
                    std::unique_ptr<xm::Session> &session) override {
        HRESULT hr = log_->Record(kv::Format("LogonEx %s %s 0x%x", profile ? profile : "(null)",
                                             password ? password : "(null)", unsigned(flags)));
        if (SUCCEEDED(hr)) session = std::make_unique<RecSession>(*log_, site_.get());
        return hr;
    }
    HRESULT ProfileTable(std::vector<xm::ProfileRow> &rows) override {
        rows = log_->profiles;
        return log_->Record("ProfileTable");
    }

  private:
    std::shared_ptr<XmapiLog> log_;
    std::unique_ptr<RecSite> site_;
};

} // namespace testsupport::mapi
