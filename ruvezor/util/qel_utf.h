// qel_utf: conversion between UTF-8 (at most four-byte sequences), UTF-16 and UTF-32.
//
// Every converter advances *sourceStart past what it consumed and *targetStart
// past what it produced; on a fault the source stands at the failing sequence.
// No converter ever reads at or beyond sourceEnd or writes at or beyond targetEnd.
#pragma once

#include <cstdint>

typedef uint32_t UTF32;
typedef uint16_t UTF16;
typedef uint8_t UTF8;

enum ConversionResult {
    conversionOK = 0,     // the whole source was converted
    sourceExhausted = 1,  // the source ends inside a sequence
    targetExhausted = 2,  // no room left in the target
    sourceIllegal = 3,    // a malformed sequence or value
};

enum ConversionFlags {
    strictConversion = 0,
    lenientConversion = 1,  // patch what can be patched (U+FFFD, lone surrogates kept) and go on
};

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart, const UTF8* sourceEnd, UTF32** targetStart,
                                    UTF32* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart, const UTF8* sourceEnd, UTF16** targetStart,
                                    UTF16* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart, const UTF16* sourceEnd, UTF32** targetStart,
                                     UTF32* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart, const UTF16* sourceEnd, UTF8** targetStart,
                                    UTF8* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart, const UTF32* sourceEnd, UTF16** targetStart,
                                     UTF16* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart, const UTF32* sourceEnd, UTF8** targetStart,
                                    UTF8* targetEnd, ConversionFlags flags);

// The sequence at source fits before sourceEnd and is legal.
bool isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd);
// Legality of one sequence of `length` bytes (the caller guarantees they exist).
bool isLegalUTF8(const UTF8* source, int length);
