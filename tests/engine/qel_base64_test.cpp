// Base64 against RFC 4648's vectors, round trips and the decoder's stop rules.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ruvezor/util/qel_base64.h"
#include "ruvezor/util/qel_md5.h"

namespace {

std::string enc(const std::string& s) { return base64_encode((const unsigned char*)s.data(), (unsigned int)s.size()); }

}  // namespace

TEST(Base64, Rfc4648VectorsAndLengths)
{
    const char* pairs[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto& p : pairs) {
        EXPECT_EQ(enc(p[0]), p[1]);
        EXPECT_EQ(base64_decode(p[1]), p[0]);
    }
    EXPECT_EQ(enc(std::string(1, '\xff')), "/w==");
    for (unsigned n = 0; n < 40; n++) EXPECT_EQ(enc(std::string(n, 'x')).size(), (n + 2) / 3 * 4);
    EXPECT_EQ(base64_encode(nullptr, 0), "");
}

// The encodings of every pattern length 0..299 hashed together, reference from an
// independent encoder: catches bit-order slips a round trip alone would miss.
TEST(Base64, EncodingsAgreeWithReference)
{
    md5_state_s st;
    md5_init(&st);
    for (size_t n = 0; n < 300; n++) {
        std::string p(n, '\0');
        for (size_t i = 0; i < n; i++) p[i] = (char)((i * 131 + (i >> 3)) & 0xff);
        std::string e = enc(p);
        md5_append(&st, (const unsigned char*)e.data(), (int)e.size());
    }
    unsigned char d[16];
    md5_finish(&st, d);
    char hex[33];
    for (int i = 0; i < 16; i++) snprintf(hex + i * 2, 3, "%02x", d[i]);
    EXPECT_STREQ(hex, "948e9b140ee69c9bb838c8508bc1704c");
}

TEST(Base64, RandomRoundTripsWithAllByteValues)
{
    std::mt19937 rng(4648);
    for (int iter = 0; iter < 1000; iter++) {
        std::string s(rng() % 200, '\0');
        for (auto& c : s) c = (char)(rng() & 0xff);
        std::string e = enc(s);
        ASSERT_EQ(base64_decode(e), s);
        // split on a group boundary, the halves decode to the two parts
        size_t cut = (rng() % (e.size() / 4 + 1)) * 4;
        ASSERT_EQ(base64_decode(e.substr(0, cut)) + base64_decode(e.substr(cut)), s);
    }
}

TEST(Base64, DecoderStopsAtForeignCharacters)
{
    EXPECT_EQ(base64_decode("Zg"), "f");            // padding is optional
    EXPECT_EQ(base64_decode("Zm9v\nYmFy"), "foo");  // a line break ends the text
    EXPECT_EQ(base64_decode("Zm9vY"), "foo");       // a single leftover gives nothing
    EXPECT_EQ(base64_decode("Zm8=Zm9v"), "fo");     // nothing after "=" counts
    EXPECT_EQ(base64_decode("Zm-v"), "f");          // URL-safe characters are foreign
    EXPECT_EQ(base64_decode("Zm_v"), "f");
    EXPECT_EQ(base64_decode(std::string("Zm9v\0Zm9v", 9)), "foo");
    // Latin-1 letters and UTF-8 lead bytes end decoding, whatever the locale
    for (int b = 0x80; b <= 0xff; b++) EXPECT_EQ(base64_decode("Zm9v" + std::string(1, (char)b) + "YmFy"), "foo") << b;
}
