// qel_utf: conversion between UTF-8 (at most four-byte sequences), UTF-16 and UTF-32.
#include "ruvezor/util/qel_utf.h"

// ---- module-internal ---------------------------------------------------------

static const UTF32 UNI_REPLACEMENT_CHAR = 0xFFFD;
static const UTF32 UNI_MAX_BMP = 0xFFFF;
static const UTF32 UNI_MAX_UTF16 = 0x10FFFF;
static const UTF32 UNI_MAX_LEGAL_UTF32 = 0x10FFFF;
static const UTF32 UNI_SUR_HIGH_START = 0xD800;
static const UTF32 UNI_SUR_HIGH_END = 0xDBFF;
static const UTF32 UNI_SUR_LOW_START = 0xDC00;
static const UTF32 UNI_SUR_LOW_END = 0xDFFF;

// Trailing bytes announced by each possible first byte (0xF8 and up are never legal).
struct _utf_trailing_table {
    unsigned char n[256];
    constexpr _utf_trailing_table() : n{}
    {
        for (int b = 0; b < 256; b++) n[b] = b < 0xC0 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
    }
};
static constexpr _utf_trailing_table trailingBytesForUTF8;

// Accumulating (v << 6) + byte leaves the lead and continuation marks in; these take them out.
static const UTF32 offsetsFromUTF8[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                                         0x03C82080UL, 0xFA082080UL, 0x82082080UL};

// Lead-byte marks for sequences of 0..6 bytes.
static const UTF8 firstByteMark[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

static bool _utf_is_surrogate(UTF32 ch) { return ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_LOW_END; }

// Bytes needed to write ch as UTF-8; values past U+10FFFF are written as U+FFFD.
static int _utf8_length(UTF32& ch, ConversionResult& result)
{
    if (ch < 0x80) return 1;
    if (ch < 0x800) return 2;
    if (ch < 0x10000) return 3;
    if (ch <= UNI_MAX_LEGAL_UTF32) return 4;
    ch = UNI_REPLACEMENT_CHAR;
    result = sourceIllegal;
    return 3;
}

// Writes ch as `bytes` UTF-8 bytes; the caller has checked the room.
static void _utf8_write(UTF8* target, UTF32 ch, int bytes)
{
    for (int i = bytes - 1; i > 0; i--) {
        target[i] = (UTF8)((ch | 0x80) & 0xBF);
        ch >>= 6;
    }
    target[0] = (UTF8)(ch | firstByteMark[bytes]);
}

// Reads one legal UTF-8 sequence of n + 1 bytes (already checked) into its value.
static UTF32 _utf8_read(const UTF8* s, int n)
{
    UTF32 ch = 0;
    for (int i = 0; i <= n; i++) ch = (ch << 6) + s[i];
    return ch - offsetsFromUTF8[n];
}

// Reads the UTF-8 sequence at source into *ch and its length into *len,
// checking in this order that it is whole, that the target has room and
// that it is legal.
static ConversionResult _utf8_peek(const UTF8* source, const UTF8* sourceEnd, bool room, UTF32* ch, int* len)
{
    int n = trailingBytesForUTF8.n[*source];
    if (n >= sourceEnd - source) return sourceExhausted;
    if (!room) return targetExhausted;
    if (!isLegalUTF8(source, n + 1)) return sourceIllegal;
    *ch = _utf8_read(source, n);
    *len = n + 1;
    return conversionOK;
}

// Writes ch as UTF-16, a surrogate pair past the BMP, and moves *target past
// it; the caller has checked the room for one unit. On a fault nothing is written.
static ConversionResult _utf16_write(UTF32 ch, UTF16** target, UTF16* targetEnd, ConversionFlags flags)
{
    UTF16* t = *target;
    if (ch <= UNI_MAX_BMP) {
        if (_utf_is_surrogate(ch)) {
            if (flags == strictConversion) return sourceIllegal;
            ch = UNI_REPLACEMENT_CHAR;
        }
        *t++ = (UTF16)ch;
    } else if (ch > UNI_MAX_UTF16) {
        if (flags == strictConversion) return sourceIllegal;
        *t++ = (UTF16)UNI_REPLACEMENT_CHAR;
    } else {
        if (targetEnd - t < 2) return targetExhausted;
        ch -= 0x10000;
        *t++ = (UTF16)((ch >> 10) + UNI_SUR_HIGH_START);
        *t++ = (UTF16)((ch & 0x3FF) + UNI_SUR_LOW_START);
    }
    *target = t;
    return conversionOK;
}

// ---- public ------------------------------------------------------------------

bool isLegalUTF8(const UTF8* source, int length)
{
    if (length < 1 || length > 4) return false;
    UTF8 a;
    switch (length) {
    case 4:
        a = source[3];
        if (a < 0x80 || a > 0xBF) return false;
        [[fallthrough]];
    case 3:
        a = source[2];
        if (a < 0x80 || a > 0xBF) return false;
        [[fallthrough]];
    case 2:
        a = source[1];
        if (a > 0xBF) return false;
        switch (source[0]) {
        case 0xE0: if (a < 0xA0) return false; break;  // over-long three-byte forms
        // ED and F4 need the continuation floor too, or an ASCII byte would pass as one
        case 0xED: if (a < 0x80 || a > 0x9F) return false; break;  // surrogates
        case 0xF0: if (a < 0x90) return false; break;               // over-long four-byte forms
        case 0xF4: if (a < 0x80 || a > 0x8F) return false; break;  // past U+10FFFF
        default: if (a < 0x80) return false; break;
        }
        [[fallthrough]];
    case 1:
        if (source[0] >= 0x80 && source[0] < 0xC2) return false;
    }
    return source[0] <= 0xF4;
}

bool isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd)
{
    if (!source || source >= sourceEnd) return false;
    int length = trailingBytesForUTF8.n[*source] + 1;
    if (length > sourceEnd - source) return false;
    return isLegalUTF8(source, length);
}

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart, const UTF8* sourceEnd, UTF32** targetStart,
                                    UTF32* targetEnd, ConversionFlags flags)
{
    ConversionResult result = conversionOK;
    const UTF8* source = *sourceStart;
    UTF32* target = *targetStart;
    while (source < sourceEnd) {
        UTF32 ch;
        int len;
        ConversionResult r = _utf8_peek(source, sourceEnd, target < targetEnd, &ch, &len);
        if (r != conversionOK) { result = r; break; }
        if (ch <= UNI_MAX_LEGAL_UTF32) {
            if (_utf_is_surrogate(ch)) {
                if (flags == strictConversion) { result = sourceIllegal; break; }
                ch = UNI_REPLACEMENT_CHAR;
            }
        } else {
            result = sourceIllegal;
            ch = UNI_REPLACEMENT_CHAR;
        }
        *target++ = ch;
        source += len;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart, const UTF8* sourceEnd, UTF16** targetStart,
                                    UTF16* targetEnd, ConversionFlags flags)
{
    ConversionResult result = conversionOK;
    const UTF8* source = *sourceStart;
    UTF16* target = *targetStart;
    while (source < sourceEnd) {
        UTF32 ch;
        int len;
        result = _utf8_peek(source, sourceEnd, target < targetEnd, &ch, &len);
        if (result != conversionOK) break;
        result = _utf16_write(ch, &target, targetEnd, flags);
        if (result != conversionOK) break;
        source += len;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

// Reads one UTF-16 character, pairing surrogates. Leaves *source past it on success.
static ConversionResult _utf16_read(const UTF16** source, const UTF16* sourceEnd, ConversionFlags flags,
                                    UTF32* out)
{
    const UTF16* s = *source;
    UTF32 ch = *s++;
    if (ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_HIGH_END) {
        if (s >= sourceEnd) return sourceExhausted;  // the pair's second half may still come
        UTF32 ch2 = *s;
        if (ch2 >= UNI_SUR_LOW_START && ch2 <= UNI_SUR_LOW_END) {
            ch = ((ch - UNI_SUR_HIGH_START) << 10) + (ch2 - UNI_SUR_LOW_START) + 0x10000;
            s++;
        } else if (flags == strictConversion) {
            return sourceIllegal;
        }
    } else if (flags == strictConversion && ch >= UNI_SUR_LOW_START && ch <= UNI_SUR_LOW_END) {
        return sourceIllegal;
    }
    *source = s;
    *out = ch;
    return conversionOK;
}

ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart, const UTF16* sourceEnd, UTF32** targetStart,
                                     UTF32* targetEnd, ConversionFlags flags)
{
    ConversionResult result = conversionOK;
    const UTF16* source = *sourceStart;
    UTF32* target = *targetStart;
    while (source < sourceEnd) {
        const UTF16* start = source;
        UTF32 ch;
        result = _utf16_read(&source, sourceEnd, flags, &ch);
        if (result != conversionOK) break;
        if (target >= targetEnd) { source = start; result = targetExhausted; break; }
        *target++ = ch;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart, const UTF16* sourceEnd, UTF8** targetStart,
                                    UTF8* targetEnd, ConversionFlags flags)
{
    ConversionResult result = conversionOK;
    const UTF16* source = *sourceStart;
    UTF8* target = *targetStart;
    while (source < sourceEnd) {
        const UTF16* start = source;
        UTF32 ch;
        result = _utf16_read(&source, sourceEnd, flags, &ch);
        if (result != conversionOK) break;
        int bytes = _utf8_length(ch, result);
        if (targetEnd - target < bytes) { source = start; result = targetExhausted; break; }
        _utf8_write(target, ch, bytes);
        target += bytes;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart, const UTF32* sourceEnd, UTF16** targetStart,
                                     UTF16* targetEnd, ConversionFlags flags)
{
    ConversionResult result = conversionOK;
    const UTF32* source = *sourceStart;
    UTF16* target = *targetStart;
    while (source < sourceEnd) {
        if (target >= targetEnd) { result = targetExhausted; break; }
        result = _utf16_write(*source, &target, targetEnd, flags);
        if (result != conversionOK) break;
        source++;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart, const UTF32* sourceEnd, UTF8** targetStart,
                                    UTF8* targetEnd, ConversionFlags flags)
{
    ConversionResult result = conversionOK;
    const UTF32* source = *sourceStart;
    UTF8* target = *targetStart;
    while (source < sourceEnd) {
        UTF32 ch = *source;
        if (flags == strictConversion && _utf_is_surrogate(ch)) { result = sourceIllegal; break; }
        ConversionResult r = result;
        int bytes = _utf8_length(ch, r);
        if (targetEnd - target < bytes) { result = targetExhausted; break; }
        result = r;
        _utf8_write(target, ch, bytes);
        target += bytes;
        source++;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}
