// The subset of the CDO message objects that the CDOSYS provider uses, as an
// interface of its own: the system's objects or a substitute stand behind it.
// Every object is owned by the one who obtained it and released with it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv::cdo {

// The published configuration namespace and the header-field prefix.
inline constexpr char16_t kConfigNamespace[] = u"http://schemas.microsoft.com/cdo/configuration/";
inline constexpr char16_t kMailHeader[] = u"urn:schemas:mailheader:";

// Configuration sources of Configuration::Load.
enum ConfigSource : int32_t { kSourceDefault = -1, kSourceIIS = 1, kSourceOutlookExpress = 2 };

// A field value: a 32-bit integer, a wide text or a boolean.
struct Value {
    enum Kind { Int, Text, Bool } kind = Text;
    int32_t number = 0;
    WString text;
    bool flag = false;

    static Value OfInt(int32_t n) { return Value{Int, n, {}, false}; }
    static Value OfText(WString t) { return Value{Text, 0, std::move(t), false}; }
    static Value OfBool(bool b) { return Value{Bool, 0, {}, b}; }
    bool operator==(const Value &o) const {
        return kind == o.kind && number == o.number && text == o.text && flag == o.flag;
    }
};

class Field {
  public:
    virtual ~Field() = default;
    virtual HRESULT PutValue(const Value &value) = 0;
};

class Fields {
  public:
    virtual ~Fields() = default;
    virtual HRESULT Item(const WString &name, std::unique_ptr<Field> &field) = 0;
    virtual HRESULT Update() = 0;
};

class Stream {
  public:
    virtual ~Stream() = default;
    virtual HRESULT PutCharset(const WString &charset) = 0;
    virtual HRESULT WriteText(const WString &text) = 0;
    // The system object takes the bytes as a variant array of unsigned bytes.
    virtual HRESULT Write(const uint8_t *bytes, size_t size) = 0;
    virtual HRESULT LoadFromFile(const WString &path) = 0;
    virtual HRESULT Flush() = 0;
};

class BodyPart {
  public:
    virtual ~BodyPart() = default;
    virtual HRESULT AddBodyPart(int32_t index, std::unique_ptr<BodyPart> &part) = 0;
    virtual HRESULT GetFields(std::unique_ptr<Fields> &fields) = 0;
    virtual HRESULT PutContentMediaType(const WString &mediaType) = 0;
    virtual HRESULT PutContentTransferEncoding(const WString &encoding) = 0;
    virtual HRESULT GetDecodedContentStream(std::unique_ptr<Stream> &stream) = 0;
};

class Configuration {
  public:
    virtual ~Configuration() = default;
    virtual HRESULT Load(int32_t source) = 0;
    virtual HRESULT GetFields(std::unique_ptr<Fields> &fields) = 0;
};

class Message {
  public:
    virtual ~Message() = default;
    virtual HRESULT PutConfiguration(Configuration &configuration) = 0;
    virtual HRESULT PutFrom(const WString &from) = 0;
    virtual HRESULT PutSubject(const WString &subject) = 0;
    virtual HRESULT PutTo(const WString &to) = 0;
    virtual HRESULT PutCC(const WString &cc) = 0;
    virtual HRESULT PutBCC(const WString &bcc) = 0;
    virtual HRESULT GetFields(std::unique_ptr<Fields> &fields) = 0;
    virtual HRESULT GetBodyPart(std::unique_ptr<BodyPart> &root) = 0;
    virtual HRESULT Send() = 0;
    // Lines that explain the last failure beyond its result code (oldest
    // first); the system objects have none.
    virtual std::vector<String> FailureDetail() const { return {}; }
};

// Creates the message and configuration objects (CoCreateInstance on the system).
class Platform {
  public:
    virtual ~Platform() = default;
    virtual HRESULT CreateMessage(std::unique_ptr<Message> &message) = 0;
    virtual HRESULT CreateConfiguration(std::unique_ptr<Configuration> &configuration) = 0;
};

} // namespace kv::cdo
