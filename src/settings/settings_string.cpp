#include "settings/settings_string.h"

#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include <zlib.h>

#include "pal/system.h"
#include "settings/blowfish.h"
#include "settings/settings_base64.h"

namespace kv {

namespace {

constexpr uint32_t kRecordFormat = 2;
constexpr int kStringVersion = 1;
const char kOldPackedMarker[] = "ChK_Packed"; // stored with its zero: 11 bytes

class clsByteWriter {
  public:
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) bytes_.push_back(uint8_t(v >> (8 * i)));
    }
    // Length with the terminating zero, the text, the zero.
    void Text(std::string_view text) {
        U32(uint32_t(text.size() + 1));
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.push_back(0);
    }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

  private:
    std::vector<uint8_t> bytes_;
};

// Every read is checked against what is left; a short read fails the record.
class clsByteReader {
  public:
    clsByteReader(const uint8_t *data, size_t size) : data_(data), left_(size) {}

    bool U32(uint32_t &v) {
        uint64_t w = 0;
        if (!Little(4, w)) return false;
        v = uint32_t(w);
        return true;
    }
    bool U64(uint64_t &v) { return Little(8, v); }
    bool Bytes(uint64_t count, const uint8_t *&at) {
        if (count > left_) return false;
        at = data_;
        data_ += count;
        left_ -= size_t(count);
        return true;
    }
    // Length-prefixed 8-bit text; ends at the first zero within its length.
    bool Text(String &out) {
        uint32_t n = 0;
        const uint8_t *at = nullptr;
        if (!U32(n) || !Bytes(n, at)) return false;
        const void *zero = n ? std::memchr(at, 0, n) : nullptr;
        size_t len = zero ? size_t(static_cast<const uint8_t *>(zero) - at) : n;
        out.assign(reinterpret_cast<const char *>(at), len);
        return true;
    }
    // Length-prefixed UTF-16LE text (length in characters).
    bool WideText(WString &out) {
        uint32_t n = 0;
        const uint8_t *at = nullptr;
        if (!U32(n) || !Bytes(uint64_t(n) * 2, at)) return false;
        out.clear();
        for (uint32_t i = 0; i < n; ++i) {
            char16_t c = char16_t(at[2 * i] | at[2 * i + 1] << 8);
            if (!c) break;
            out.push_back(c);
        }
        return true;
    }

  private:
    bool Little(int count, uint64_t &v) {
        const uint8_t *at = nullptr;
        if (!Bytes(uint64_t(count), at)) return false;
        v = 0;
        for (int i = count - 1; i >= 0; --i) v = v << 8 | at[i];
        return true;
    }

    const uint8_t *data_;
    size_t left_;
};

clsVariant MakeVariant(VARTYPE vt, uint64_t bits) {
    clsVariant v;
    VARIANT *p = v.ptr();
    p->vt = vt;
    switch (vt) {
    case VT_I4: p->lVal = LONG(uint32_t(bits)); break;
    case VT_UI4: p->ulVal = ULONG(bits); break;
    case VT_I8: p->llVal = LONGLONG(bits); break;
    case VT_UI8: p->ullVal = bits; break;
    default: break;
    }
    return v;
}

bool ReadValue(clsByteReader &in, uint32_t tag, clsVariant &value) {
    uint32_t u32 = 0;
    uint64_t u64 = 0;
    switch (tag) {
    case kTagEmpty:
        value = clsVariant();
        return true;
    case kTagBool:
        if (!in.U32(u32)) return false;
        value = clsVariant::FromBool(u32 != 0);
        return true;
    case kTagInt32: case 4: case 6:
        if (!in.U32(u32)) return false;
        value = MakeVariant(VT_I4, u32);
        return true;
    case kTagUInt32: case 5: case 7: case 8:
        if (!in.U32(u32)) return false;
        value = MakeVariant(VT_UI4, u32);
        return true;
    case kTagText: {
        String text;
        if (!in.Text(text)) return false;
        value = clsVariant::FromText(Widen(text, 0));
        return true;
    }
    case kTagWideText: {
        WString text;
        if (!in.WideText(text)) return false;
        value = clsVariant::FromText(text);
        return true;
    }
    case kTagDouble: {
        if (!in.U64(u64)) return false;
        value = clsVariant();
        double d;
        std::memcpy(&d, &u64, sizeof d);
        value.ptr()->vt = VT_R8;
        value.ptr()->dblVal = d;
        return true;
    }
    case kTagInt64:
        if (!in.U64(u64)) return false;
        value = MakeVariant(VT_I8, u64);
        return true;
    case kTagUInt64:
        if (!in.U64(u64)) return false;
        value = MakeVariant(VT_UI8, u64);
        return true;
    default:
        return false; // unknown tag: its data length is unknown too
    }
}

void WriteValue(clsByteWriter &out, const VARIANT &v) {
    switch (v.vt) {
    case VT_BOOL:
        out.U32(kTagBool);
        out.U32(v.boolVal ? 1 : 0);
        break;
    case VT_I1:
        out.U32(kTagInt32);
        out.U32(uint32_t(int32_t(v.cVal)));
        break;
    case VT_I2:
        out.U32(kTagInt32);
        out.U32(uint32_t(int32_t(v.iVal)));
        break;
    case VT_I4: case VT_INT:
        out.U32(kTagInt32);
        out.U32(uint32_t(v.lVal));
        break;
    case VT_UI1:
        out.U32(kTagUInt32);
        out.U32(v.bVal);
        break;
    case VT_UI2:
        out.U32(kTagUInt32);
        out.U32(v.uiVal);
        break;
    case VT_UI4: case VT_UINT:
        out.U32(kTagUInt32);
        out.U32(v.ulVal);
        break;
    case VT_UI8:
        // Kept whole: readers take the 64-bit tag, and cutting it to 32 bits
        // would store a different number.
        out.U32(kTagUInt64);
        out.U64(v.ullVal);
        break;
    case VT_I8:
        out.U32(kTagInt64);
        out.U64(uint64_t(v.llVal));
        break;
    case VT_R4: case VT_R8: {
        double d = v.vt == VT_R4 ? double(v.fltVal) : v.dblVal;
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        out.U32(kTagDouble);
        out.U64(bits);
        break;
    }
    case VT_BSTR: {
        std::u16string_view text;
        if (v.bstrVal) text = {reinterpret_cast<const char16_t *>(v.bstrVal), SysStringLen(v.bstrVal)};
        out.U32(kTagText);
        out.Text(Narrow(text, 0));
        break;
    }
    default:
        out.U32(kTagEmpty);
        break;
    }
}

// Inflates in one pass to exactly the declared length.
bool Inflate(const uint8_t *data, size_t size, uint32_t declared, std::vector<uint8_t> &out) {
    if (declared > kMaxUnpackedSettings) {
        pal::DebugOutput(Format("ERR: packed settings declare %u bytes, more than %u", declared,
                                kMaxUnpackedSettings));
        return false;
    }
    if (size > UINT_MAX) return false;
    std::vector<uint8_t> buffer(size_t(declared) + 1); // never empty: zlib wants a real pointer
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = uInt(size);
    z.next_out = buffer.data();
    z.avail_out = uInt(declared);
    int rc = inflate(&z, Z_FINISH);
    bool ok = rc == Z_STREAM_END && z.total_out == declared;
    inflateEnd(&z);
    if (!ok) return false;
    buffer.resize(declared);
    out = std::move(buffer);
    return true;
}

bool Unpack(std::vector<uint8_t> &data, bool secondForm) {
    size_t header = secondForm ? 4 : 4 + sizeof kOldPackedMarker;
    if (data.size() < header) return false;
    uint32_t declared = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    if (!secondForm && std::memcmp(data.data() + 4, kOldPackedMarker, sizeof kOldPackedMarker) != 0) return false;
    std::vector<uint8_t> unpacked;
    if (!Inflate(data.data() + header, data.size() - header, declared, unpacked)) return false;
    data = std::move(unpacked);
    return true;
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::vector<uint8_t> SerializeOptionList(const clsOptionList &list) {
    clsByteWriter out;
    out.U32(kRecordFormat);
    out.U32(uint32_t(list.Size()));
    for (const auto &entry : list.Entries()) {
        out.Text(entry.first.str());
        WriteValue(out, entry.second.get());
    }
    return out.Take();
}

bool ParseOptionRecords(const uint8_t *data, size_t size, clsOptionList &list) {
    clsByteReader in(data, size);
    uint32_t format = 0, count = 0;
    if (!in.U32(format) || !in.U32(count)) return false; // one layout exists; its number is passed over
    // Collected first so that a bad record leaves the list as it was.
    std::vector<std::pair<String, clsVariant>> entries;
    for (uint32_t i = 0; i < count; ++i) {
        String key;
        uint32_t tag = 0;
        clsVariant value;
        if (!in.Text(key) || !in.U32(tag) || !ReadValue(in, tag, value)) return false;
        entries.emplace_back(std::move(key), std::move(value));
    }
    for (const auto &entry : entries) list.Set(entry.first, entry.second);
    return true;
}

WString WriteSettingsString(const clsOptionList &list) {
    std::vector<uint8_t> bytes = SerializeOptionList(list);
    if (bytes.size() >= 8) clsBlowfish(kSettingsStringKey).Encode(bytes.data(), bytes.size());
    return Widen(Format("%02d:", kStringVersion) + settings::Base64Encode(bytes.data(), bytes.size()), 0);
}

bool ReadSettingsString(std::u16string_view text, clsOptionList &list) try {
    if (!StartsWith(text, u"01:")) return false;
    text.remove_prefix(3);
    bool packed = false, secondForm = false;
    if (StartsWith(text, u"@2@")) {
        packed = true;
        text.remove_prefix(3);
    }
    if (StartsWith(text, u"@1@")) {
        secondForm = true;
        text.remove_prefix(3);
    }
    std::vector<uint8_t> data;
    if (!settings::Base64Decode(text, data,
                                secondForm ? settings::Base64Groups::Whole : settings::Base64Groups::Padded))
        return false;
    if (data.size() >= 8) clsBlowfish(kSettingsStringKey).Decode(data.data(), data.size());
    if (packed && !Unpack(data, secondForm)) return false;
    return ParseOptionRecords(data.data(), data.size(), list);
} catch (const std::bad_alloc &) {
    return false; // a string too large to hold is refused like a malformed one
}

} // namespace kv
