#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "pal/com.h"
#include "runtime/com_util.h"
#include "settings/option_list.h"

namespace {

uint32_t Prefix(BSTR b) { uint32_t n; return std::memcpy(&n, reinterpret_cast<const uint8_t *>(b) - 4, 4), n; }

std::u16string Text(BSTR b) { return b ? std::u16string(b, SysStringLen(b)) : std::u16string(); }

TEST(ComBstr, LengthPrefixTerminatorAndReAlloc) {
    BSTR b = SysAllocString(OLESTR("abc"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Prefix(b), 6u) << "byte count, not character count";
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[3], 0);
    ASSERT_TRUE(SysReAllocString(&b, OLESTR("a much longer text")));
    EXPECT_EQ(Text(b), u"a much longer text");
    // From the string's own characters: the old block is freed only after copying.
    ASSERT_TRUE(SysReAllocString(&b, b + 7));
    EXPECT_EQ(Text(b), u"longer text");
    ASSERT_TRUE(SysReAllocStringLen(&b, OLESTR("x\0y"), 3));
    EXPECT_EQ(Text(b), std::u16string(u"x\0y", 3));
    EXPECT_EQ(Prefix(b), 6u);
    SysFreeString(b);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFFu), nullptr) << "refused, not wrapped";
    EXPECT_FALSE(SysReAllocString(nullptr, OLESTR("x")));
}

using kv::clsVariant;

clsVariant Of(VARTYPE vt, double r8 = 0) {
    clsVariant v;
    v.ptr()->vt = vt, v.ptr()->dblVal = r8; // read only as VT_R8
    return v;
}

struct Expect { HRESULT hr; VARTYPE vt = VT_EMPTY; long long i = 0; const char16_t *s = nullptr; };

void Check(const VARIANT &src, USHORT flags, VARTYPE to, const Expect &e, const char *what) {
    SCOPED_TRACE(what);
    clsVariant dest = clsVariant::FromInt(12345); // a failed conversion leaves it alone
    HRESULT hr = VariantChangeType(dest.ptr(), &src, flags, to);
    ASSERT_EQ(hr, e.hr);
    const VARIANT &d = dest.get();
    if (FAILED(hr)) {
        EXPECT_EQ(d.vt, VT_I4);
        EXPECT_EQ(d.lVal, 12345);
        return;
    }
    ASSERT_EQ(d.vt, e.vt);
    switch (e.vt) {
    case VT_BSTR: EXPECT_EQ(Text(d.bstrVal), e.s); break;
    case VT_I4: EXPECT_EQ(d.lVal, e.i); break;
    case VT_UI4: EXPECT_EQ((long long)d.ulVal, e.i); break;
    case VT_BOOL: EXPECT_EQ((long long)d.boolVal, e.i); break;
    default: break;
    }
}

TEST(ComVariant, ChangeTypeTable) {
    const struct { const char *what; clsVariant src; USHORT flags; VARTYPE to; Expect e; } rows[] = {
        {"\"25\" -> I4", clsVariant::FromText(u"25"), 0, VT_I4, {S_OK, VT_I4, 25}},
        {"\"abc\" -> I4", clsVariant::FromText(u"abc"), 0, VT_I4, {DISP_E_TYPEMISMATCH}},
        {"\"25abc\" -> I4", clsVariant::FromText(u"25abc"), 0, VT_I4, {DISP_E_TYPEMISMATCH}},
        {"\"3000000000\" -> I4", clsVariant::FromText(u"3000000000"), 0, VT_I4, {DISP_E_OVERFLOW}},
        {"\"3000000000\" -> UI4", clsVariant::FromText(u"3000000000"), 0, VT_UI4, {S_OK, VT_UI4, 3000000000LL}},
        {"\"-2147483649\" -> I4", clsVariant::FromText(u"-2147483649"), 0, VT_I4, {DISP_E_OVERFLOW}},
        {"\"2.5\" -> I4", clsVariant::FromText(u"2.5"), 0, VT_I4, {S_OK, VT_I4, 2}},
        {"3.5 -> I4", Of(VT_R8, 3.5), 0, VT_I4, {S_OK, VT_I4, 4}},
        {"1e10 -> I4", Of(VT_R8, 1e10), 0, VT_I4, {DISP_E_OVERFLOW}},
        {"300 -> UI1", clsVariant::FromInt(300), 0, VT_UI1, {DISP_E_OVERFLOW}},
        {"-1 -> UI4", clsVariant::FromInt(-1), 0, VT_UI4, {DISP_E_OVERFLOW}},
        {"true -> BSTR", clsVariant::FromBool(true), 0, VT_BSTR, {S_OK, VT_BSTR, 0, u"-1"}},
        {"true -> BSTR alpha", clsVariant::FromBool(true), VARIANT_ALPHABOOL, VT_BSTR, {S_OK, VT_BSTR, 0, u"True"}},
        {"true -> I4", clsVariant::FromBool(true), 0, VT_I4, {S_OK, VT_I4, -1}},
        {"\"true\" -> BOOL", clsVariant::FromText(u"true"), 0, VT_BOOL, {S_OK, VT_BOOL, VARIANT_TRUE}},
        {"\"2\" -> BOOL", clsVariant::FromText(u"2"), 0, VT_BOOL, {S_OK, VT_BOOL, VARIANT_TRUE}},
        {"\"yes\" -> BOOL", clsVariant::FromText(u"yes"), 0, VT_BOOL, {DISP_E_TYPEMISMATCH}},
        {"EMPTY -> I4", clsVariant(), 0, VT_I4, {S_OK, VT_I4, 0}},
        {"NULL -> I4", Of(VT_NULL), 0, VT_I4, {DISP_E_TYPEMISMATCH}},
        {"2.5 -> BSTR", Of(VT_R8, 2.5), 0, VT_BSTR, {S_OK, VT_BSTR, 0, u"2.5"}},
        {"I4 -> unsupported", clsVariant::FromInt(1), 0, VT_DECIMAL, {DISP_E_BADVARTYPE}},
        {"I4 -> BYREF", clsVariant::FromInt(1), 0, VARTYPE(VT_BYREF | VT_I4), {DISP_E_BADVARTYPE}},
    };
    for (const auto &row : rows) Check(row.src.get(), row.flags, row.to, row.e, row.what);
}

TEST(ComVariant, ByRefIsResolved) {
    LONG value = 7;
    BSTR text = SysAllocString(OLESTR("19"));
    VARIANT ref{}, sref{}, dangling{};
    ref.vt = dangling.vt = VT_BYREF | VT_I4, ref.plVal = &value;
    sref.vt = VT_BYREF | VT_BSTR, sref.pbstrVal = &text;
    Check(ref, 0, VT_BSTR, {S_OK, VT_BSTR, 0, u"7"}, "byref I4 -> BSTR");
    Check(ref, 0, VT_I4, {S_OK, VT_I4, 7}, "byref I4 -> I4");
    Check(sref, 0, VT_I4, {S_OK, VT_I4, 19}, "byref BSTR -> I4");

    clsVariant copy(sref); // VariantCopyInd
    ASSERT_EQ(copy.vt(), VT_BSTR);
    EXPECT_NE(copy.get().bstrVal, text) << "a copy of its own";
    EXPECT_EQ(Text(copy.get().bstrVal), u"19");
    SysFreeString(text);

    clsVariant dest;
    EXPECT_TRUE(FAILED(VariantChangeType(dest.ptr(), &dangling, 0, VT_I4)));
}

struct Stream {
    kv::clsAutoRelease<IStream> s;
    explicit Stream(const std::string &text) {
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, s.put()), S_OK);
        ULONG n = 0;
        EXPECT_EQ(s->Write(text.data(), ULONG(text.size()), &n), S_OK);
        EXPECT_EQ(n, text.size());
    }
    // The new position in *pos, 0xDEAD when the stream leaves it alone.
    HRESULT Seek(long long to, DWORD origin, uint64_t *pos = nullptr) {
        LARGE_INTEGER li;
        ULARGE_INTEGER np;
        li.QuadPart = to, np.QuadPart = 0xDEAD;
        HRESULT hr = s->Seek(li, origin, &np);
        if (pos) *pos = np.QuadPart;
        return hr;
    }
    uint64_t Pos() { uint64_t p = 0; return Seek(0, STREAM_SEEK_CUR, &p), p; }
};

TEST(ComStream, ReadWriteSeek) {
    Stream st("hello");
    EXPECT_EQ(st.Pos(), 5u);
    char buf[16] = {};
    ULONG n = 99;
    ASSERT_EQ(st.s->Read(buf, sizeof buf, &n), S_OK);
    EXPECT_EQ(n, 0u) << "at the end";
    uint64_t pos;
    ASSERT_EQ(st.Seek(-2, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos, 3u);
    ASSERT_EQ(st.s->Read(buf, sizeof buf, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "lo");
    ASSERT_EQ(st.Seek(1, STREAM_SEEK_SET), S_OK);
    ASSERT_EQ(st.Seek(-1, STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(st.Seek(-1, STREAM_SEEK_CUR), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(st.Pos(), 0u) << "a refused seek does not move";
    ASSERT_EQ(st.Seek(LLONG_MAX, STREAM_SEEK_SET), S_OK);
    EXPECT_EQ(st.Seek(LLONG_MAX, STREAM_SEEK_CUR), STG_E_INVALIDFUNCTION) << "overflow refused";
    ULONG w = 7;
    EXPECT_EQ(st.s->Write("x", 1, &w), STG_E_MEDIUMFULL) << "far beyond 4 GB";
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(kv::StreamSize(st.s.get()), 5u);
}

TEST(ComStream, CopyToCounts) {
    Stream src("0123456789"), dst("");
    src.Seek(2, STREAM_SEEK_SET);
    ULARGE_INTEGER cb, r, w;
    cb.QuadPart = 3;
    ASSERT_EQ(src.s->CopyTo(dst.s.get(), cb, &r, &w), S_OK);
    EXPECT_EQ(r.QuadPart, 3u);
    EXPECT_EQ(w.QuadPart, 3u);
    EXPECT_EQ(src.Pos(), 5u);
    cb.QuadPart = 100;
    ASSERT_EQ(src.s->CopyTo(dst.s.get(), cb, &r, &w), S_OK);
    EXPECT_EQ(r.QuadPart, 5u) << "only what is there";
    EXPECT_EQ(kv::StreamBytes(dst.s.get()), "23456789");
    EXPECT_EQ(src.s->CopyTo(nullptr, cb, &r, &w), STG_E_INVALIDPOINTER);

    // Into itself: what was there once, and it stops.
    Stream same("abc");
    same.Seek(0, STREAM_SEEK_SET);
    cb.QuadPart = ~0ull;
    ASSERT_EQ(same.s->CopyTo(same.s.get(), cb, &r, &w), S_OK);
    EXPECT_EQ(r.QuadPart, 3u);
    EXPECT_EQ(kv::StreamBytes(same.s.get()), "abcabc");
}

} // namespace
