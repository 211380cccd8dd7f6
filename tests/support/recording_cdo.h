// A recording stand-in for the CDO objects: every call with its arguments
// goes into one log, and any call can be made to fail by its log prefix.
#pragma once

#include <memory>
#include <vector>

#include "providers/cdosys/cdo_objects.h"
#include "stack_doubles.h"

namespace testsupport {

struct CdoLog : CallLog {
    int nextPart = 1, nextStream = 1;
};

inline std::string Text(const kv::WString &w) { return kv::Narrow(w); }

// The log and the object's name in it.
struct CdoNamed {
    CdoNamed(CdoLog &log, std::string name = "") : log_(log), name_(std::move(name)) {}
    CdoLog &log_;
    std::string name_;
};

inline std::string ValueText(const kv::cdo::Value &v) {
    switch (v.kind) {
    case kv::cdo::Value::Int: return "i4:" + std::to_string(v.number);
    case kv::cdo::Value::Bool: return std::string("bool:") + (v.flag ? "true" : "false");
    default: return "text:" + Text(v.text);
    }
}

class RecField final : public kv::cdo::Field, CdoNamed {
  public:
    using CdoNamed::CdoNamed;
    HRESULT PutValue(const kv::cdo::Value &v) override {
        return log_.Record("Field.Value " + name_ + "=" + ValueText(v));
    }
};

class RecFields final : public kv::cdo::Fields, CdoNamed {
  public:
    using CdoNamed::CdoNamed;
    HRESULT Item(const kv::WString &name, std::unique_ptr<kv::cdo::Field> &field) override {
        HRESULT hr = log_.Record(name_ + ".Fields.Item " + Text(name));
        if (SUCCEEDED(hr)) field = std::make_unique<RecField>(log_, Text(name));
        return hr;
    }
    HRESULT Update() override { return log_.Record(name_ + ".Fields.Update"); }
};

class RecStream final : public kv::cdo::Stream, CdoNamed {
  public:
    using CdoNamed::CdoNamed;
    HRESULT PutCharset(const kv::WString &c) override { return log_.Record(name_ + ".Charset " + Text(c)); }
    HRESULT WriteText(const kv::WString &t) override { return log_.Record(name_ + ".WriteText " + Text(t)); }
    HRESULT Write(const uint8_t *, size_t size) override {
        return log_.Record(name_ + ".Write " + std::to_string(size));
    }
    HRESULT LoadFromFile(const kv::WString &p) override { return log_.Record(name_ + ".LoadFromFile " + Text(p)); }
    HRESULT Flush() override { return log_.Record(name_ + ".Flush"); }
};

class RecPart final : public kv::cdo::BodyPart, CdoNamed {
  public:
    using CdoNamed::CdoNamed;
    HRESULT AddBodyPart(int32_t index, std::unique_ptr<kv::cdo::BodyPart> &part) override {
        std::string child = "Part" + std::to_string(log_.nextPart);
        HRESULT hr = log_.Record(name_ + ".AddBodyPart(" + std::to_string(index) + ") " + child);
        if (SUCCEEDED(hr)) ++log_.nextPart, part = std::make_unique<RecPart>(log_, child);
        return hr;
    }
    HRESULT GetFields(std::unique_ptr<kv::cdo::Fields> &fields) override {
        HRESULT hr = log_.Record(name_ + ".Fields");
        if (SUCCEEDED(hr)) fields = std::make_unique<RecFields>(log_, name_);
        return hr;
    }
    HRESULT PutContentMediaType(const kv::WString &t) override {
        return log_.Record(name_ + ".ContentMediaType " + Text(t));
    }
    HRESULT PutContentTransferEncoding(const kv::WString &t) override {
        return log_.Record(name_ + ".ContentTransferEncoding " + Text(t));
    }
    HRESULT GetDecodedContentStream(std::unique_ptr<kv::cdo::Stream> &stream) override {
        std::string s = "Stream" + std::to_string(log_.nextStream);
        HRESULT hr = log_.Record(name_ + ".GetDecodedContentStream " + s);
        if (SUCCEEDED(hr)) ++log_.nextStream, stream = std::make_unique<RecStream>(log_, s);
        return hr;
    }
};

class RecConfiguration final : public kv::cdo::Configuration, CdoNamed {
  public:
    using CdoNamed::CdoNamed;
    HRESULT Load(int32_t source) override { return log_.Record("Config.Load " + std::to_string(source)); }
    HRESULT GetFields(std::unique_ptr<kv::cdo::Fields> &fields) override {
        HRESULT hr = log_.Record("Config.Fields");
        if (SUCCEEDED(hr)) fields = std::make_unique<RecFields>(log_, "Config");
        return hr;
    }
};

class RecMessage final : public kv::cdo::Message, CdoNamed {
  public:
    using CdoNamed::CdoNamed;
    HRESULT PutConfiguration(kv::cdo::Configuration &) override { return log_.Record("Msg.Configuration"); }
    HRESULT PutFrom(const kv::WString &t) override { return log_.Record("Msg.From " + Text(t)); }
    HRESULT PutSubject(const kv::WString &t) override { return log_.Record("Msg.Subject " + Text(t)); }
    HRESULT PutTo(const kv::WString &t) override { return log_.Record("Msg.To " + Text(t)); }
    HRESULT PutCC(const kv::WString &t) override { return log_.Record("Msg.CC " + Text(t)); }
    HRESULT PutBCC(const kv::WString &t) override { return log_.Record("Msg.BCC " + Text(t)); }
    HRESULT GetFields(std::unique_ptr<kv::cdo::Fields> &fields) override {
        HRESULT hr = log_.Record("Msg.Fields");
        if (SUCCEEDED(hr)) fields = std::make_unique<RecFields>(log_, "Msg");
        return hr;
    }
    HRESULT GetBodyPart(std::unique_ptr<kv::cdo::BodyPart> &root) override {
        HRESULT hr = log_.Record("Msg.BodyPart Root");
        if (SUCCEEDED(hr)) root = std::make_unique<RecPart>(log_, "Root");
        return hr;
    }
    HRESULT Send() override { return log_.Record("Msg.Send"); }
};

class RecPlatform final : public kv::cdo::Platform {
  public:
    explicit RecPlatform(std::shared_ptr<CdoLog> log) : log_(std::move(log)) {}
    HRESULT CreateMessage(std::unique_ptr<kv::cdo::Message> &m) override {
        HRESULT hr = log_->Record("CreateMessage");
        if (SUCCEEDED(hr)) m = std::make_unique<RecMessage>(*log_);
        return hr;
    }
    HRESULT CreateConfiguration(std::unique_ptr<kv::cdo::Configuration> &c) override {
        HRESULT hr = log_->Record("CreateConfiguration");
        if (SUCCEEDED(hr)) c = std::make_unique<RecConfiguration>(*log_);
        return hr;
    }

  private:
    std::shared_ptr<CdoLog> log_;
};

} // namespace testsupport
