// qel_base64: Base64 text for bytes (standard alphabet, "=" padding, no line breaks).
#include "ruvezor/util/qel_base64.h"

const char* base64_chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// ---- module-internal ---------------------------------------------------------

// 6-bit value of c, or -1 when c is not in the alphabet. Plain ASCII range tests:
// no locale tables, so bytes 0x80 and above never count as letters.
static int _base64_value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// ---- public ------------------------------------------------------------------

std::string base64_encode(const unsigned char* bytes, unsigned int len)
{
    std::string out;
    if (!bytes || len == 0) return out;
    out.reserve(((size_t)len + 2) / 3 * 4);
    unsigned int i = 0;
    for (; i + 3 <= len; i += 3) {
        unsigned int g = ((unsigned int)bytes[i] << 16) | ((unsigned int)bytes[i + 1] << 8) | bytes[i + 2];
        out += base64_chars[(g >> 18) & 63];
        out += base64_chars[(g >> 12) & 63];
        out += base64_chars[(g >> 6) & 63];
        out += base64_chars[g & 63];
    }
    unsigned int rest = len - i;
    if (rest) {
        unsigned int g = (unsigned int)bytes[i] << 16;
        if (rest == 2) g |= (unsigned int)bytes[i + 1] << 8;
        out += base64_chars[(g >> 18) & 63];
        out += base64_chars[(g >> 12) & 63];
        out += rest == 2 ? base64_chars[(g >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64_decode(const std::string& text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned int g = 0;  // bits of the group being read
    int n = 0;           // characters in the group so far
    for (unsigned char c : text) {
        int v = _base64_value(c);
        if (v < 0) break;  // "=" and anything foreign end the text
        g = (g << 6) | (unsigned int)v;
        if (++n == 4) {
            out += (char)((g >> 16) & 0xff);
            out += (char)((g >> 8) & 0xff);
            out += (char)(g & 0xff);
            g = 0;
            n = 0;
        }
    }
    // a partial group of 2 or 3 characters carries 1 or 2 bytes; 1 carries none
    if (n == 2) {
        out += (char)((g >> 4) & 0xff);
    } else if (n == 3) {
        out += (char)((g >> 10) & 0xff);
        out += (char)((g >> 2) & 0xff);
    }
    return out;
}
