// The one recording stand-in for the Extended MAPI platform the unit tests
// use. Every object a send or a read reaches is one class, named in the log;
// any call can be made to answer a result by a prefix of its line.
#pragma once

#include <algorithm>
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
using Table = std::vector<std::vector<xm::Prop>>;

struct Stored {
    std::string entryId;
    std::vector<xm::Prop> props;
    std::vector<std::pair<std::vector<xm::Prop>, std::string>> attachments;
    int32_t flags = 0;
};

struct XmapiLog : CallLog {
    std::vector<HRESULT> submits{S_OK}; // SubmitMessage's answers in turn
    bool loaded = true, narrowOnly = false, hasSpooler = true;
    uint32_t mask = xm::STORE_CREATE_OK | xm::STORE_UNICODE_OK, statusType = xm::MAPI_STATUS;
    std::set<std::string> missing; // functions the library lacks
    std::vector<xm::ProfileRow> profiles;
    std::vector<Stored> messages;
    Table hierarchy, gal; // of the address book's root and global list
    int attaches = 0, streams = 0;
};

inline xm::Prop S8(uint32_t id, const std::string &text) {
    xm::Prop p;
    p.tag = xm::Tag(id, xm::PT_STRING8);
    p.text8 = text;
    return p;
}
inline xm::Prop L(uint32_t id, int32_t n, uint32_t type = xm::PT_LONG) {
    xm::Prop p;
    p.tag = xm::Tag(id, type);
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
        const uint32_t type = xm::TypeOf(p.tag);
        out += (out.empty() ? "" : " ") + kv::Format("%08X=", unsigned(p.tag)) +
               (type == xm::PT_STRING8 ? "a:" + p.text8 : type == xm::PT_UNICODE ? "u:" + kv::Narrow(p.text) : "?");
    }
    return out;
}

template <class T, class Object>
HRESULT Give(XmapiLog &log, const std::string &line, std::unique_ptr<T> &out, std::unique_ptr<Object> made) {
    HRESULT hr = log.Record(line);
    if (SUCCEEDED(hr)) out = std::move(made);
    return hr;
}

// Every object of a send or a read (the session's site, store, outbox,
// message, attachment, stream, recipient list, address book and its tables,
// inbox and its messages, spooler): a call is logged under the object's name.
class Obj final : public xm::SendSite, public xm::PropStream, public xm::Message, public xm::Attach, public xm::ReadMessage,
                  public xm::AdrList, public xm::Folder, public xm::AddrBook, public xm::AbContainer,
                  public xm::AbTable, public xm::Inbox, public xm::StatusTable, public xm::Status {
  public:
    Obj(XmapiLog &log, std::string name = "", Table rows = {}, const Stored *stored = nullptr)
        : log_(log), name_(std::move(name)), rows_(std::move(rows)), stored_(stored) {}
    template <class T> HRESULT Make(const std::string &line, std::unique_ptr<T> &out, std::string name, Table rows = {}) {
        return Give(log_, name_ + line, out, std::make_unique<Obj>(log_, std::move(name), std::move(rows)));
    }
    HRESULT Log(const std::string &line) { return log_.Record(name_ + line); }

    HRESULT Write(const void *, size_t) override { return S_OK; }
    HRESULT CopyFrom(IStream *) override { return Log(".CopyFrom"); }
    HRESULT Commit() override { return Log(".Commit"); }
    // The store answers its folders' ids, a stored message its properties.
    HRESULT GetProps(const std::vector<uint32_t> &tags, std::vector<xm::Prop> &values) override {
        const uint32_t id = xm::IdOf(tags[0]);
        if (!stored_) {
            values = {Bin(id, id == xm::ID_IPM_OUTBOX_ENTRYID ? "OUTBOX" : "SENT")};
            return Log(kv::Format(".GetProps %08X", unsigned(tags[0])));
        }
        for (const xm::Prop &p : stored_->props)
            if (p.tag == tags[0]) return values = {p}, S_OK;
        values = {L(id, int32_t(xm::MAPI_E_NOT_FOUND), xm::PT_ERROR)};
        return xm::MAPI_W_ERRORS_RETURNED;
    }
    HRESULT SetProps(const std::vector<xm::Prop> &values) override {
        const bool refused = log_.narrowOnly && std::any_of(values.begin(), values.end(), [](const xm::Prop &p) {
                                 return xm::TypeOf(p.tag) == xm::PT_UNICODE;
                             });
        HRESULT hr = Log((refused ? ".SetProps refused " : ".SetProps ") + Show(values));
        return refused ? xm::MAPI_E_BAD_CHARWIDTH : hr;
    }
    HRESULT OpenProperty(uint32_t tag, uint32_t options, uint32_t flags, std::unique_ptr<xm::PropStream> &s) override {
        const std::string stream = "S" + std::to_string(++log_.streams);
        return Make(kv::Format(".OpenProperty %08X %x %x ", unsigned(tag), unsigned(options), unsigned(flags)) + stream,
                    s, stream);
    }
    HRESULT SaveChanges(uint32_t flags) override { return Log(".SaveChanges " + std::to_string(flags)); }
    HRESULT ModifyRecipients(uint32_t, xm::AdrList &) override { return Log(".ModifyRecipients"); }
    HRESULT CreateAttach(std::unique_ptr<xm::Attach> &attach) override {
        return Make(".CreateAttach", attach, "A" + std::to_string(++log_.attaches));
    }
    HRESULT SubmitMessage(uint32_t flags) override {
        log_.calls.push_back(name_ + ".SubmitMessage " + std::to_string(flags));
        HRESULT hr = log_.submits.front();
        if (log_.submits.size() > 1) log_.submits.erase(log_.submits.begin());
        return hr;
    }
    HRESULT RecipientRows(Table &) override { return S_OK; }
    HRESULT AttachmentRows(Table &rows) override {
        for (const auto &a : stored_->attachments) rows.push_back(a.first);
        return S_OK;
    }
    HRESULT AttachmentData(int32_t number, std::string &bytes) override {
        bytes = stored_->attachments.at(size_t(number)).second;
        return log_.Record("AttachmentData " + std::to_string(number));
    }
    HRESULT SetReadFlag(uint32_t) override { return log_.Record("SetReadFlag " + name_); }
    Table Rows() const override { return rows_; }
    HRESULT CreateMessage(std::unique_ptr<xm::Message> &m) override { return Make(".CreateMessage", m, "Msg"); }
    HRESULT CreateOneOff(const kv::WString &, const kv::WString &, const kv::WString &, uint32_t, std::string &) override {
        return Log(".CreateOneOff");
    }
    HRESULT ResolveName(xm::AdrList &) override { return Log(".ResolveName"); }
    HRESULT OpenEntry(const std::string &id, std::unique_ptr<xm::AbContainer> &container) override {
        return Make(".OpenEntry " + (id.empty() ? "root" : id), container, id.empty() ? "Root" : "GAL");
    }
    HRESULT GetHierarchyTable(std::unique_ptr<xm::AbTable> &t) override {
        return Make(".GetHierarchyTable", t, "Hierarchy", log_.hierarchy);
    }
    HRESULT GetContentsTable(std::unique_ptr<xm::AbTable> &t) override {
        return Make(".GetContentsTable", t, "Contents", log_.gal);
    }
    HRESULT QueryAllRows(const std::vector<uint32_t> &, Table &rows) override { return rows = rows_, Log(".QueryAllRows"); }
    HRESULT ContentsRows(Table &rows) override {
        for (const Stored &m : log_.messages)
            rows.push_back({Bin(xm::ID_ENTRYID, m.entryId), L(xm::ID_MESSAGE_FLAGS, m.flags)});
        return Log(".ContentsRows");
    }
    HRESULT OpenMessage(const std::string &entryId, std::unique_ptr<xm::ReadMessage> &message) override {
        HRESULT hr = Log(".OpenMessage " + kv::EntryIdText(entryId));
        for (const Stored &m : log_.messages)
            if (SUCCEEDED(hr) && m.entryId == entryId)
                return message = std::make_unique<Obj>(log_, kv::EntryIdText(entryId), Table{}, &m), S_OK;
        return FAILED(hr) ? hr : xm::MAPI_E_NOT_FOUND;
    }
    HRESULT DeleteMessage(const std::string &entryId) override { return Log(".DeleteMessage " + kv::EntryIdText(entryId)); }
    HRESULT QueryRows(int32_t type, Table &rows) override {
        if (log_.hasSpooler) rows.push_back({L(xm::ID_RESOURCE_TYPE, type), Bin(xm::ID_ENTRYID, "SPOOL")});
        return Log(".QueryRows");
    }
    HRESULT FlushQueues(uint32_t) override { return Log(".FlushQueues"); }

    // The site: its calls go in without a name.
    xm::MapiProp &Store() override {
        if (!store_) store_ = std::make_unique<Obj>(log_, "Store");
        return static_cast<xm::Message &>(*store_);
    }
    HRESULT OpenFolder(const std::string &id, std::unique_ptr<xm::Folder> &f) override {
        return Make("OpenFolder " + id, f, "Outbox");
    }
    HRESULT OpenAddressBook(std::unique_ptr<xm::AddrBook> &book) override { return Make("OpenAddressBook", book, "Book"); }
    HRESULT AllocateAdrList(const Table &rows, std::unique_ptr<xm::AdrList> &list) override {
        return Make("AllocateAdrList", list, "List", rows);
    }
    HRESULT OpenStreamOnFile(const kv::String &path, IStream **stream) override {
        HRESULT hr = Log("OpenStreamOnFile " + path);
        if (SUCCEEDED(hr)) *stream = testsupport::StreamOf("");
        return hr;
    }
    HRESULT WrapCompressedRTFStream(xm::PropStream &, uint32_t flags, std::unique_ptr<xm::PropStream> &rtf) override {
        const std::string s = "S" + std::to_string(++log_.streams);
        return Make(kv::Format("Wrap %x ", unsigned(flags)) + s, rtf, s);
    }
    HRESULT RTFSync(xm::Message &, uint32_t flags) override { return Log("RTFSync " + std::to_string(flags)); }
    HRESULT OpenInbox(std::unique_ptr<xm::Inbox> &inbox) override { return Make("OpenInbox", inbox, "Inbox"); }
    HRESULT GetStatusTable(std::unique_ptr<xm::StatusTable> &table) override {
        return Make("GetStatusTable", table, "Spooler");
    }
    HRESULT OpenStatus(const std::string &id, uint32_t &type, std::unique_ptr<xm::Status> &status) override {
        type = log_.statusType;
        return Make("OpenStatus " + id, status, "Spooler");
    }

  private:
    XmapiLog &log_;
    std::string name_;
    Table rows_;
    const Stored *stored_;
    std::unique_ptr<Obj> store_;
};

// The subsystem and each session it gives, with or without a site.
class RecPlatform final : public xm::Platform, public xm::Session {
  public:
    explicit RecPlatform(std::shared_ptr<XmapiLog> log, bool withSite = false)
        : log_(std::move(log)), site_(withSite ? std::make_unique<Obj>(*log_) : nullptr) {}
    bool Loaded() const override { return log_->loaded; }
    bool Has(const char *f) const override { return !log_->missing.count(f); }
    HRESULT InitializeOle() override { return log_->Record("OleInitialize"); }
    void UninitializeOle() override { log_->Record("OleUninitialize"); }
    HRESULT Initialize(uint32_t flags) override { return log_->Record("Initialize " + std::to_string(flags)); }
    void Uninitialize() override { log_->Record("Uninitialize"); }
    HRESULT LogonEx(uintptr_t, const char *profile, const char *password, uint32_t flags,
                    std::unique_ptr<xm::Session> &session) override {
        return Give(*log_,
                    kv::Format("LogonEx %s %s 0x%x", profile ? profile : "(null)", password ? password : "(null)",
                               unsigned(flags)),
                    session, std::make_unique<RecPlatform>(log_, site_ != nullptr));
    }
    HRESULT ProfileTable(std::vector<xm::ProfileRow> &rows) override {
        return rows = log_->profiles, log_->Record("ProfileTable");
    }
    HRESULT Logoff(uintptr_t) override { return log_->Record("Logoff"); }
    HRESULT OpenDefaultStore(uint32_t &mask) override { return mask = log_->mask, log_->Record("OpenDefaultStore"); }
    kv::String LastErrorText(HRESULT) override { return "no default store\norkv14"; }
    xm::SendSite *Site() override { return site_.get(); }

  private:
    std::shared_ptr<XmapiLog> log_;
    std::unique_ptr<Obj> site_;
};

} // namespace testsupport::mapi
