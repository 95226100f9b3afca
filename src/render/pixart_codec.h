// pixart_codec: the 14 x 14, four-colour pixel-art picture and its text form.
//
// Text form: the 57-byte record below in standard base64, 76 characters.
//   offset  size  field
//        0     1  version: 1 written; 0 or 1 read, anything else ignored whole
//        1     1  width, 14 written, ignored on reading
//        2     1  height, 14 written, ignored on reading
//        3     1  colours, 4 written, ignored on reading
//        4     4  palette indexes 0..63 for pixel values 0..3 (read capped at 63)
//        8    49  196 pixels of 2 bits, four a byte, first pixel in bits 7-6
#pragma once

#include <cstdint>
#include <string>

inline constexpr int PIXART_SIDE = 14;
inline constexpr int PIXART_PIXELS = PIXART_SIDE * PIXART_SIDE;  // 196
inline constexpr int PIXART_BYTES = 57;
inline constexpr int PIXART_TEXT = 76;

struct PixArtData {
    int32_t version;                 // 0 in a fresh picture; decoding leaves it
    int32_t palette[4];              // indexes into the 64 colours; [0] is the background
    int32_t pixels[PIXART_PIXELS];   // values 0..3, row by row from the top left
};

// 0xRRGGBB of palette index i (0..63): two bits each of red, green, blue at
// the levels 0x00, 0x55, 0xAA, 0xFF; out-of-range indexes are taken mod 64.
unsigned pixart_color(int i);

std::string pixart_encode(const PixArtData& data);
// Reads what the text holds over data: a short text changes a prefix, a wrong
// version nothing; no errors are reported.
void pixart_decode(const std::string& text, PixArtData& data);
