// UTF-8/16/32 conversion: legality rules, fault positions and never reading past the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "ruvezor/util/qel_utf.h"

namespace {

template <class S, class T>
struct Run {
    ConversionResult rc;
    size_t consumed;
    std::vector<T> out;
};

// Runs a converter from and into exact-size heap blocks, so the sanitizer
// catches any access past either end.
template <class S, class T, class F>
Run<S, T> run(F convert, const std::vector<S>& in, size_t room, ConversionFlags flags = strictConversion)
{
    std::unique_ptr<S[]> src(new S[in.size() + !in.size()]);
    std::copy(in.begin(), in.end(), src.get());
    std::unique_ptr<T[]> dst(new T[room + !room]);
    const S* s = src.get();
    T* t = dst.get();
    Run<S, T> r;
    r.rc = convert(&s, src.get() + in.size(), &t, dst.get() + room, flags);
    r.consumed = (size_t)(s - src.get());
    r.out.assign(dst.get(), t);
    return r;
}

Run<UTF8, UTF32> to32(const std::vector<UTF8>& in, size_t room = 16, ConversionFlags f = lenientConversion)
{
    return run<UTF8, UTF32>(ConvertUTF8toUTF32, in, room, f);
}

// One wrapper per converter, so calls read plainly (and fit in test macros).
#define Z2_UTF_WRAP(name, S, T, fn) \
    Run<S, T> name(const std::vector<S>& in, size_t room, ConversionFlags f = strictConversion) \
    { return run<S, T>(fn, in, room, f); }
Z2_UTF_WRAP(u8to16, UTF8, UTF16, ConvertUTF8toUTF16)
Z2_UTF_WRAP(u16to32, UTF16, UTF32, ConvertUTF16toUTF32)
Z2_UTF_WRAP(u16to8, UTF16, UTF8, ConvertUTF16toUTF8)
Z2_UTF_WRAP(u32to16, UTF32, UTF16, ConvertUTF32toUTF16)
Z2_UTF_WRAP(u32to8, UTF32, UTF8, ConvertUTF32toUTF8)

// Well-formed UTF-8 by the Unicode standard's table of byte ranges, written apart
// from the converter: the length of the legal sequence at p, or 0.
int well_formed(const UTF8* p, size_t left)
{
    static const UTF8 rows[][5] = {
        {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
        {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
        {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
    };
    for (auto& r : rows) {
        if (p[0] < r[0] || p[0] > r[1]) continue;
        if (r[4] > left || (r[4] > 1 && (p[1] < r[2] || p[1] > r[3]))) return 0;
        for (int i = 2; i < r[4]; i++)
            if (p[i] < 0x80 || p[i] > 0xBF) return 0;
        return r[4];
    }
    return 0;
}

}  // namespace

TEST(Utf, Utf8ToUtf32Faults)
{
    auto r = to32({0xE2, 0x82, 0xAC});
    EXPECT_EQ(r.rc, conversionOK);
    EXPECT_EQ(r.out, std::vector<UTF32>{0x20AC});

    r = to32({0xC0, 0x80});  // over-long NUL
    EXPECT_EQ(r.rc, sourceIllegal);
    EXPECT_TRUE(r.out.empty());

    r = to32({'a', 0xE2, 0x82});  // ends inside a sequence
    EXPECT_EQ(r.rc, sourceExhausted);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(r.out.size(), 1u);

    for (ConversionFlags f : {strictConversion, lenientConversion}) {
        EXPECT_EQ(to32({0xED, 0xA0, 0x80}, 4, f).rc, sourceIllegal);        // surrogate
        EXPECT_EQ(to32({0xF4, 0x90, 0x80, 0x80}, 4, f).rc, sourceIllegal);  // past U+10FFFF
    }
    // an ASCII byte never passes for a continuation byte, after ED and F4 included
    const UTF8 ed_ascii[] = {0xED, 0x3D, 0x96}, f4_ascii[] = {0xF4, 0x3D, 0x96, 0x9E}, top[] = {0xF4, 0x8F, 0xBF, 0xBF};
    EXPECT_FALSE(isLegalUTF8(ed_ascii, 3));
    EXPECT_FALSE(isLegalUTF8(f4_ascii, 4));
    EXPECT_TRUE(isLegalUTF8(top, 4));
    EXPECT_EQ(to32({0xF4, '=', 0x96, 0x9E, 'S'}).consumed, 0u);

    r = to32({'a', 'b', 'c'}, 2);  // target full
    EXPECT_EQ(r.rc, targetExhausted);
    EXPECT_EQ(r.out.size(), 2u);
    EXPECT_EQ(r.consumed, 2u);

    // the sequence test never looks past its end
    std::unique_ptr<UTF8[]> one(new UTF8[2]{0xC3, 0xA9});
    EXPECT_TRUE(isLegalUTF8Sequence(one.get(), one.get() + 2));
    EXPECT_FALSE(isLegalUTF8Sequence(one.get(), one.get() + 1));
    EXPECT_FALSE(isLegalUTF8Sequence(one.get(), one.get()));
    std::unique_ptr<UTF8[]> six(new UTF8[6]{0xFC, 0x80, 0x80, 0x80, 0x80, 0x80});
    EXPECT_FALSE(isLegalUTF8Sequence(six.get(), six.get() + 6));
}

// Random byte strings against the standard's table, through both UTF-8 readers.
TEST(Utf, RandomBytesAgreeWithTheStandardTable)
{
    std::mt19937 rng(1123);
    for (int iter = 0; iter < 20000; iter++) {
        std::vector<UTF8> in(rng() % 12);
        for (auto& b : in) b = (UTF8)((rng() % 3) ? 0x80 + rng() % 128 : rng() & 0x7F);  // mostly high bytes
        std::vector<UTF32> want;
        ConversionResult want_rc = conversionOK;
        size_t pos = 0;
        while (pos < in.size()) {
            UTF8 b = in[pos];
            size_t n = b < 0xC0 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
            if (n >= in.size() - pos) { want_rc = sourceExhausted; break; }
            int len = well_formed(&in[pos], in.size() - pos);
            if ((size_t)len != n + 1) { want_rc = sourceIllegal; break; }
            UTF32 ch = len == 1 ? b : (UTF32)(b & (0x7F >> len));
            for (int i = 1; i < len; i++) ch = (ch << 6) | (in[pos + i] & 0x3F);
            want.push_back(ch);
            pos += len;
        }
        auto r = to32(in);
        ASSERT_EQ(r.rc, want_rc) << ::testing::PrintToString(in);
        ASSERT_EQ(r.consumed, pos) << ::testing::PrintToString(in);
        ASSERT_EQ(r.out, want);
        auto r16 = u8to16(in, 32);
        ASSERT_EQ(r16.rc, want_rc);
        ASSERT_EQ(r16.consumed, pos);
    }
}

// Every scalar value through UTF-8 and UTF-16 and back.
TEST(Utf, AllScalarValuesRoundTrip)
{
    std::vector<UTF32> all;
    for (UTF32 c = 0; c <= 0x10FFFF; c++)
        if (c < 0xD800 || c > 0xDFFF) all.push_back(c);
    auto u8 = u32to8(all, all.size() * 4);
    ASSERT_EQ(u8.rc, conversionOK);
    EXPECT_EQ(u8.out.size(), 128u + 1920u * 2 + 61440u * 3 + 1048576u * 4);
    auto u16 = u8to16(u8.out, all.size() * 2);
    ASSERT_EQ(u16.rc, conversionOK);
    EXPECT_EQ(u16.out.size(), 63488u + 1048576u * 2);
    EXPECT_EQ(u16to32(u16.out, all.size()).out, all);
    EXPECT_EQ(u16to8(u16.out, u8.out.size()).out, u8.out);
    EXPECT_EQ(u32to16(all, u16.out.size()).out, u16.out);
    EXPECT_EQ(to32(u8.out, all.size()).out, all);
}

TEST(Utf, SurrogatesAndOutOfRangeValues)
{
    // UTF-16: a high surrogate as the last unit waits for more input
    auto r = u16to32({'a', 0xD83D}, 4);
    EXPECT_EQ(r.rc, sourceExhausted);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(u16to32({0xDC00, 'b'}, 4).rc, sourceIllegal);
    EXPECT_EQ(u16to32({0xDC00, 'b'}, 4, lenientConversion).out.size(), 2u);
    // a pair with no room for it stays whole in the source
    auto p = u16to8({0xD83D, 0xDE00}, 3);
    EXPECT_EQ(p.rc, targetExhausted);
    EXPECT_EQ(p.consumed, 0u);
    EXPECT_TRUE(p.out.empty());
    auto q = u8to16({0xF0, 0x9F, 0x98, 0x80}, 1);
    EXPECT_EQ(q.rc, targetExhausted);
    EXPECT_EQ(q.consumed, 0u);

    // UTF-32 past U+10FFFF: strict stops there, lenient writes U+FFFD
    auto w = u32to16({0x110000, 'z'}, 4);
    EXPECT_EQ(w.rc, sourceIllegal);
    EXPECT_EQ(w.consumed, 0u);
    EXPECT_EQ(u32to16({0x110000, 'z'}, 4, lenientConversion).out,
              (std::vector<UTF16>{0xFFFD, 'z'}));
    // into UTF-8 it is replaced and reported, and conversion goes on
    auto e = u32to8({0x110000, 'z'}, 8, lenientConversion);
    EXPECT_EQ(e.rc, sourceIllegal);
    EXPECT_EQ(e.out, (std::vector<UTF8>{0xEF, 0xBF, 0xBD, 'z'}));
    EXPECT_EQ(u32to8({0xD800}, 8).rc, sourceIllegal);
}
