// embed_scripts: the zlib writer of the built-in script generator.
//
// zlib stream (RFC 1950): CMF 0x78, FLG 0x01 (no dictionary), one deflate
// block (RFC 1951), then the Adler-32 of the input, big-endian. The block is
// final (BFINAL 1) and uses the fixed Huffman codes (BTYPE 01): literals and
// <length, distance> pairs found by a hash-chain search over a 32 KiB
// window, ended by the code 256. Bits are packed from the least significant
// end of each byte; Huffman codes go most significant bit first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline uint32_t embed_adler32(const std::string& data) {
    uint32_t a = 1, b = 0;
    for (unsigned char c : data) {
        a = (a + c) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

struct EmbedBits {
    std::string out;
    uint32_t buf = 0;
    int count = 0;

    void put(uint32_t bits, int n) {  // n <= 24
        buf |= bits << count;
        count += n;
        while (count >= 8) {
            out += (char)(buf & 0xFF);
            buf >>= 8;
            count -= 8;
        }
    }
    void code(uint32_t code, int n) {  // a Huffman code, first bit on top
        uint32_t r = 0;
        for (int i = 0; i < n; i++) r |= ((code >> i) & 1u) << (n - 1 - i);
        put(r, n);
    }
    void flush() {
        if (count > 0) out += (char)(buf & 0xFF);
        buf = 0;
        count = 0;
    }
    // Literal/length symbol 0..287 in the fixed code.
    void symbol(int s) {
        if (s < 144) code(0x30 + s, 8);
        else if (s < 256) code(0x190 + (s - 144), 9);
        else if (s < 280) code(s - 256, 7);
        else code(0xC0 + (s - 280), 8);
    }
};

inline void embed_put_match(EmbedBits& w, int len, int dist) {
    static const int len_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int dist_base[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                      33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                      1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const int dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    int l = 28;
    while (len_base[l] > len) l--;
    w.symbol(257 + l);
    w.put((uint32_t)(len - len_base[l]), len_extra[l]);
    int d = 29;
    while (dist_base[d] > dist) d--;
    w.code((uint32_t)d, 5);
    w.put((uint32_t)(dist - dist_base[d]), dist_extra[d]);
}

inline std::string embed_zlib(const std::string& data) {
    const int window = 32768, min_match = 3, max_match = 258, max_chain = 128;
    const int n = (int)data.size();
    const unsigned char* p = (const unsigned char*)data.data();
    std::vector<int> head(1 << 15, -1), prev((size_t)n, -1);
    auto hash = [&](int i) { return ((p[i] << 10) ^ (p[i + 1] << 5) ^ p[i + 2]) & 0x7FFF; };
    auto insert = [&](int i) {
        if (i + min_match > n) return;
        int h = hash(i);
        prev[(size_t)i] = head[(size_t)h];
        head[(size_t)h] = i;
    };

    EmbedBits w;
    w.out += (char)0x78;
    w.out += (char)0x01;  // (0x78 * 256 + 0x01) % 31 == 0
    w.put(1, 1);          // BFINAL
    w.put(1, 2);          // BTYPE 01, fixed codes
    int i = 0;
    while (i < n) {
        int best_len = 0, best_dist = 0;
        if (i + min_match <= n) {
            int limit = n - i < max_match ? n - i : max_match;
            int chain = max_chain;
            for (int j = head[(size_t)hash(i)]; j >= 0 && i - j <= window && chain-- > 0;
                 j = prev[(size_t)j]) {
                int k = 0;
                while (k < limit && p[j + k] == p[i + k]) k++;
                if (k > best_len) {
                    best_len = k;
                    best_dist = i - j;
                    if (k == limit) break;
                }
            }
        }
        if (best_len >= min_match) {
            embed_put_match(w, best_len, best_dist);
            for (int k = 0; k < best_len; k++) insert(i + k);
            i += best_len;
        } else {
            w.symbol(p[i]);
            insert(i);
            i++;
        }
    }
    w.symbol(256);
    w.flush();
    uint32_t adler = embed_adler32(data);
    for (int shift = 24; shift >= 0; shift -= 8) w.out += (char)((adler >> shift) & 0xFF);
    return w.out;
}
