#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "pal/com.h"

namespace {

uint32_t Prefix(BSTR b) {
    uint32_t n;
    std::memcpy(&n, reinterpret_cast<const uint8_t *>(b) - 4, 4);
    return n;
}

std::u16string Text(BSTR b) { return b ? std::u16string(b, SysStringLen(b)) : std::u16string(); }

TEST(ComBstr, LengthPrefixAndTerminator) {
    BSTR b = SysAllocString(OLESTR("abc"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Prefix(b), 6u) << "byte count, not character count";
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[3], 0);
    SysFreeString(b);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFFu), nullptr) << "refused, not wrapped";
}

TEST(ComBstr, ReAllocReplacesAndFrees) {
    BSTR b = SysAllocString(OLESTR("short"));
    ASSERT_TRUE(SysReAllocString(&b, OLESTR("a much longer text")));
    EXPECT_EQ(Text(b), u"a much longer text");
    // From the string's own characters: the old block is freed only after copying.
    ASSERT_TRUE(SysReAllocString(&b, b + 7));
    EXPECT_EQ(Text(b), u"longer text");
    ASSERT_TRUE(SysReAllocStringLen(&b, OLESTR("x\0y"), 3));
    EXPECT_EQ(Text(b), std::u16string(u"x\0y", 3));
    EXPECT_EQ(Prefix(b), 6u);
    SysFreeString(b);

    EXPECT_FALSE(SysReAllocString(nullptr, OLESTR("x")));
}

// ---- VARIANT ----

struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    ~Var() { VariantClear(&v); }
    static Var Str(const char16_t *s) {
        Var r;
        r.v.vt = VT_BSTR;
        r.v.bstrVal = SysAllocString(s);
        return r;
    }
    static Var I4(LONG x) {
        Var r;
        r.v.vt = VT_I4;
        r.v.lVal = x;
        return r;
    }
    static Var R8(double x) {
        Var r;
        r.v.vt = VT_R8;
        r.v.dblVal = x;
        return r;
    }
    static Var Null() {
        Var r;
        r.v.vt = VT_NULL;
        return r;
    }
    static Var Bool(bool x) {
        Var r;
        r.v.vt = VT_BOOL;
        r.v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
        return r;
    }
    Var(Var &&o) noexcept : v(o.v) { VariantInit(&o.v); }
};

struct Expect {
    HRESULT hr;
    VARTYPE vt = VT_EMPTY;
    long long i = 0;         // integer and boolean results
    const char16_t *s = nullptr; // string results
};

void Check(const VARIANT &src, USHORT flags, VARTYPE to, const Expect &e, const char *what) {
    SCOPED_TRACE(what);
    Var dest = Var::I4(12345); // a failed conversion leaves it alone
    HRESULT hr = VariantChangeType(&dest.v, &src, flags, to);
    ASSERT_EQ(hr, e.hr);
    if (FAILED(hr)) {
        EXPECT_EQ(dest.v.vt, VT_I4);
        EXPECT_EQ(dest.v.lVal, 12345);
        return;
    }
    ASSERT_EQ(dest.v.vt, e.vt);
    switch (e.vt) {
    case VT_BSTR: EXPECT_EQ(Text(dest.v.bstrVal), e.s); break;
    case VT_I4: EXPECT_EQ(dest.v.lVal, e.i); break;
    case VT_UI4: EXPECT_EQ((long long)dest.v.ulVal, e.i); break;
    case VT_BOOL: EXPECT_EQ((long long)dest.v.boolVal, e.i); break;
    default: break;
    }
}

TEST(ComVariant, ChangeTypeTable) {
    struct Row {
        const char *what;
        Var src;
        USHORT flags;
        VARTYPE to;
        Expect e;
    };
    Row rows[] = {
        {"\"25\" -> I4", Var::Str(u"25"), 0, VT_I4, {S_OK, VT_I4, 25}},
        {"\"abc\" -> I4", Var::Str(u"abc"), 0, VT_I4, {DISP_E_TYPEMISMATCH}},
        {"\"25abc\" -> I4", Var::Str(u"25abc"), 0, VT_I4, {DISP_E_TYPEMISMATCH}},
        {"\"3000000000\" -> I4", Var::Str(u"3000000000"), 0, VT_I4, {DISP_E_OVERFLOW}},
        {"\"3000000000\" -> UI4", Var::Str(u"3000000000"), 0, VT_UI4, {S_OK, VT_UI4, 3000000000LL}},
        {"\"-2147483649\" -> I4", Var::Str(u"-2147483649"), 0, VT_I4, {DISP_E_OVERFLOW}},
        {"\"2.5\" -> I4", Var::Str(u"2.5"), 0, VT_I4, {S_OK, VT_I4, 2}},
        {"3.5 -> I4", Var::R8(3.5), 0, VT_I4, {S_OK, VT_I4, 4}},
        {"1e10 -> I4", Var::R8(1e10), 0, VT_I4, {DISP_E_OVERFLOW}},
        {"300 -> UI1", Var::I4(300), 0, VT_UI1, {DISP_E_OVERFLOW}},
        {"-1 -> UI4", Var::I4(-1), 0, VT_UI4, {DISP_E_OVERFLOW}},
        {"true -> BSTR", Var::Bool(true), 0, VT_BSTR, {S_OK, VT_BSTR, 0, u"-1"}},
        {"true -> BSTR alpha", Var::Bool(true), VARIANT_ALPHABOOL, VT_BSTR, {S_OK, VT_BSTR, 0, u"True"}},
        {"true -> I4", Var::Bool(true), 0, VT_I4, {S_OK, VT_I4, -1}},
        {"\"true\" -> BOOL", Var::Str(u"true"), 0, VT_BOOL, {S_OK, VT_BOOL, VARIANT_TRUE}},
        {"\"2\" -> BOOL", Var::Str(u"2"), 0, VT_BOOL, {S_OK, VT_BOOL, VARIANT_TRUE}},
        {"\"yes\" -> BOOL", Var::Str(u"yes"), 0, VT_BOOL, {DISP_E_TYPEMISMATCH}},
        {"EMPTY -> I4", Var(), 0, VT_I4, {S_OK, VT_I4, 0}},
        {"NULL -> I4", Var::Null(), 0, VT_I4, {DISP_E_TYPEMISMATCH}},
        {"2.5 -> BSTR", Var::R8(2.5), 0, VT_BSTR, {S_OK, VT_BSTR, 0, u"2.5"}},
        {"I4 -> unsupported", Var::I4(1), 0, VT_DECIMAL, {DISP_E_BADVARTYPE}},
        {"I4 -> BYREF", Var::I4(1), 0, VARTYPE(VT_BYREF | VT_I4), {DISP_E_BADVARTYPE}},
    };
    for (auto &row : rows) Check(row.src.v, row.flags, row.to, row.e, row.what);
}

TEST(ComVariant, ByRefIsResolved) {
    LONG value = 7;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = &value;
    Check(ref, 0, VT_BSTR, {S_OK, VT_BSTR, 0, u"7"}, "byref I4 -> BSTR");
    Check(ref, 0, VT_I4, {S_OK, VT_I4, 7}, "byref I4 -> I4");

    BSTR text = SysAllocString(OLESTR("19"));
    VARIANT sref;
    VariantInit(&sref);
    sref.vt = VT_BYREF | VT_BSTR;
    sref.pbstrVal = &text;
    Check(sref, 0, VT_I4, {S_OK, VT_I4, 19}, "byref BSTR -> I4");

    Var copy;
    ASSERT_EQ(VariantCopyInd(&copy.v, &sref), S_OK);
    ASSERT_EQ(copy.v.vt, VT_BSTR);
    EXPECT_NE(copy.v.bstrVal, text) << "a copy of its own";
    EXPECT_EQ(Text(copy.v.bstrVal), u"19");
    SysFreeString(text);

    VARIANT dangling;
    VariantInit(&dangling);
    dangling.vt = VT_BYREF | VT_I4;
    dangling.plVal = nullptr;
    Var dest;
    EXPECT_TRUE(FAILED(VariantChangeType(&dest.v, &dangling, 0, VT_I4)));
}

TEST(ComVariant, InPlaceChangeAndCopy) {
    Var v = Var::Str(u"42");
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I4), S_OK); // the old BSTR is freed (ASan)
    EXPECT_EQ(v.v.vt, VT_I4);
    EXPECT_EQ(v.v.lVal, 42);
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(v.v.bstrVal), u"42");
    Var bad = Var::Str(u"x");
    EXPECT_EQ(VariantChangeType(&bad.v, &bad.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Text(bad.v.bstrVal), u"x") << "untouched after failure";
}

// ---- memory stream ----

struct Stream {
    IStream *s = nullptr;
    Stream() { EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK); }
    ~Stream() {
        if (s) s->Release();
    }
    HRESULT Seek(long long to, DWORD origin, uint64_t *pos = nullptr) {
        LARGE_INTEGER li;
        li.QuadPart = to;
        ULARGE_INTEGER np;
        np.QuadPart = 0xDEAD;
        HRESULT hr = s->Seek(li, origin, &np);
        if (pos) *pos = np.QuadPart;
        return hr;
    }
    uint64_t Pos() {
        uint64_t p = 0;
        Seek(0, STREAM_SEEK_CUR, &p);
        return p;
    }
    void Write(const std::string &t) {
        ULONG n = 0;
        ASSERT_EQ(s->Write(t.data(), ULONG(t.size()), &n), S_OK);
        ASSERT_EQ(n, t.size());
    }
    std::string All() {
        uint64_t keep = Pos();
        Seek(0, STREAM_SEEK_SET);
        std::string out(Size(), '\0');
        ULONG n = 0;
        s->Read(out.data(), ULONG(out.size()), &n);
        out.resize(n);
        Seek((long long)keep, STREAM_SEEK_SET);
        return out;
    }
    uint64_t Size() {
        STATSTG st;
        EXPECT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(st.type, DWORD(STGTY_STREAM));
        return st.cbSize.QuadPart;
    }
};

TEST(ComStream, ReadWriteSeek) {
    Stream st;
    st.Write("hello");
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
    EXPECT_EQ(st.Size(), 5u);
}

TEST(ComStream, CopyToCountsAndSharedMemory) {
    Stream src, dst;
    src.Write("0123456789");
    src.Seek(2, STREAM_SEEK_SET);
    ULARGE_INTEGER cb, r, w;
    cb.QuadPart = 3;
    ASSERT_EQ(src.s->CopyTo(dst.s, cb, &r, &w), S_OK);
    EXPECT_EQ(r.QuadPart, 3u);
    EXPECT_EQ(w.QuadPart, 3u);
    EXPECT_EQ(dst.All(), "234");
    EXPECT_EQ(src.Pos(), 5u);
    cb.QuadPart = 100;
    ASSERT_EQ(src.s->CopyTo(dst.s, cb, &r, &w), S_OK);
    EXPECT_EQ(r.QuadPart, 5u) << "only what is there";
    EXPECT_EQ(dst.All(), "23456789");
    EXPECT_EQ(src.s->CopyTo(nullptr, cb, &r, &w), STG_E_INVALIDPOINTER);

    // Into itself: what was there once, and it stops.
    Stream same;
    same.Write("abc");
    same.Seek(0, STREAM_SEEK_SET);
    cb.QuadPart = ~0ull;
    ASSERT_EQ(same.s->CopyTo(same.s, cb, &r, &w), S_OK);
    EXPECT_EQ(r.QuadPart, 3u);
    EXPECT_EQ(same.All(), "abcabc");
}

} // namespace
