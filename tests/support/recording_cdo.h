// A recording stand-in for the CDO objects: every call with its arguments
// goes into one log, and any call can be made to fail by its log prefix.
#pragma once

#include <memory>
#include <vector>

#include "providers/cdosys/cdo_objects.h"
#include "stack_doubles.h"

namespace testsupport {

namespace cdo = kv::cdo;

struct CdoLog : CallLog {
    int parts = 0, streams = 0;
};

inline std::string Text(const kv::WString &w) { return kv::Narrow(w); }

// Every CDO object in one class, named in the log: a call goes in as
// "<object>.<member> <argument>", a field's value as "<field>=<kind>:<value>".
class RecCdo final : public cdo::Platform, public cdo::Message, public cdo::Configuration, public cdo::BodyPart,
                     public cdo::Fields, public cdo::Field, public cdo::Stream {
  public:
    RecCdo(CdoLog &log, std::string name) : log_(log), name_(std::move(name)) {}
    HRESULT Log(const std::string &line) { return log_.Record(name_ + line); }
    template <class T> HRESULT Make(const std::string &line, std::unique_ptr<T> &out, const std::string &name) {
        HRESULT hr = Log(line);
        if (SUCCEEDED(hr)) out = std::make_unique<RecCdo>(log_, name);
        return hr;
    }

    HRESULT CreateMessage(std::unique_ptr<cdo::Message> &m) override { return Make("CreateMessage", m, "Msg"); }
    HRESULT CreateConfiguration(std::unique_ptr<cdo::Configuration> &c) override {
        return Make("CreateConfiguration", c, "Config");
    }
    HRESULT PutConfiguration(cdo::Configuration &) override { return Log(".Configuration"); }
    HRESULT PutFrom(const kv::WString &t) override { return Log(".From " + Text(t)); }
    HRESULT PutSubject(const kv::WString &t) override { return Log(".Subject " + Text(t)); }
    HRESULT PutTo(const kv::WString &t) override { return Log(".To " + Text(t)); }
    HRESULT PutCC(const kv::WString &t) override { return Log(".CC " + Text(t)); }
    HRESULT PutBCC(const kv::WString &t) override { return Log(".BCC " + Text(t)); }
    HRESULT GetFields(std::unique_ptr<cdo::Fields> &fields) override { return Make(".Fields", fields, name_ + ".Fields"); }
    HRESULT GetBodyPart(std::unique_ptr<cdo::BodyPart> &root) override { return Make(".BodyPart", root, "Root"); }
    HRESULT Send() override { return Log(".Send"); }
    HRESULT Load(int32_t source) override { return Log(".Load " + std::to_string(source)); }
    HRESULT AddBodyPart(int32_t index, std::unique_ptr<cdo::BodyPart> &part) override {
        const std::string child = "Part" + std::to_string(++log_.parts);
        return Make(".AddBodyPart(" + std::to_string(index) + ") " + child, part, child);
    }
    HRESULT PutContentMediaType(const kv::WString &t) override { return Log(".ContentMediaType " + Text(t)); }
    HRESULT PutContentTransferEncoding(const kv::WString &t) override {
        return Log(".ContentTransferEncoding " + Text(t));
    }
    HRESULT GetDecodedContentStream(std::unique_ptr<cdo::Stream> &stream) override {
        const std::string s = "Stream" + std::to_string(++log_.streams);
        return Make(".GetDecodedContentStream " + s, stream, s);
    }
    HRESULT Item(const kv::WString &name, std::unique_ptr<cdo::Field> &field) override {
        return Make(".Item " + Text(name), field, Text(name));
    }
    HRESULT Update() override { return Log(".Update"); }
    HRESULT PutValue(const cdo::Value &v) override {
        return Log(v.kind == cdo::Value::Int    ? "=i4:" + std::to_string(v.number)
                   : v.kind == cdo::Value::Bool ? std::string("=bool:") + (v.flag ? "true" : "false")
                                                : "=text:" + Text(v.text));
    }
    HRESULT PutCharset(const kv::WString &c) override { return Log(".Charset " + Text(c)); }
    HRESULT WriteText(const kv::WString &t) override { return Log(".WriteText " + Text(t)); }
    HRESULT Write(const uint8_t *, size_t size) override { return Log(".Write " + std::to_string(size)); }
    HRESULT LoadFromFile(const kv::WString &p) override { return Log(".LoadFromFile " + Text(p)); }
    HRESULT Flush() override { return Log(".Flush"); }

  private:
    CdoLog &log_;
    std::string name_;
};

} // namespace testsupport
