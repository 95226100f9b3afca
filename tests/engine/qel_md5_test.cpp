// MD5 against RFC 1321's test suite, block-boundary lengths and piecewise feeding.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "ruvezor/util/qel_md5.h"

namespace {

std::string hex(const unsigned char d[16])
{
    char s[33];
    for (int i = 0; i < 16; i++) snprintf(s + i * 2, 3, "%02x", d[i]);
    return s;
}

// Digest of s fed in pieces of random sizes (whole when rng is null).
std::string md5_of(const std::string& s, std::mt19937* rng = nullptr)
{
    md5_state_s st;
    unsigned char d[16];
    md5_init(&st);
    for (size_t pos = 0; pos < s.size();) {
        size_t take = rng ? (*rng)() % (s.size() - pos + 1) : s.size();
        md5_append(&st, (const unsigned char*)s.data() + pos, (int)take);
        pos += take;
    }
    md5_finish(&st, d);
    return hex(d);
}

}  // namespace

TEST(Md5, Rfc1321Suite)
{
    EXPECT_EQ(md5_of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5_of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_hex("message digest", 14), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int i = 0; i < 8; i++) digits += "1234567890";
    EXPECT_EQ(md5_of(digits), "57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_EQ(md5_of(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");

    // counts of 0 or less feed nothing
    md5_state_s st;
    unsigned char d[16];
    md5_init(&st);
    md5_append(&st, (const unsigned char*)"xyz", 0);
    md5_append(&st, (const unsigned char*)"xyz", -5);
    md5_append(&st, (const unsigned char*)"abc", 3);
    md5_finish(&st, d);
    EXPECT_EQ(hex(d), "900150983cd24fb0d6963f7d28e17f72");
}

// Lengths 0..299 cover every padding case (55, 56, 63, 64 bytes over); the digest
// of all their digests comes from an independent MD5.
TEST(Md5, AllLengthsAroundBlockBoundaries)
{
    std::string all;
    for (size_t n = 0; n < 300; n++) {
        std::string p(n, '\0');
        for (size_t i = 0; i < n; i++) p[i] = (char)((i * 131 + (i >> 3)) & 0xff);
        std::string h = md5_of(p);
        for (size_t i = 0; i < 16; i++) all += (char)std::stoi(h.substr(i * 2, 2), nullptr, 16);
    }
    EXPECT_EQ(md5_of(all), "7690b77790da23c05e492b6ec38517f7");
}

TEST(Md5, RandomSplitsMatchWholeFeed)
{
    std::mt19937 rng(1107);
    for (int iter = 0; iter < 500; iter++) {
        std::string s(rng() % 700, '\0');
        for (auto& c : s) c = (char)(rng() & 0xff);
        ASSERT_EQ(md5_of(s, &rng), md5_of(s)) << "length " << s.size();
    }
    std::string big(1000000, 'a');
    EXPECT_EQ(md5_of(big, &rng), "7707d6ae4e027c70eea2a935c2296f21");
}
