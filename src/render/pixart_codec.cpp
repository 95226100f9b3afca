// pixart_codec: pixel-art record <-> base64 text.
#include "render/pixart_codec.h"

#include "ruvezor/util/qel_base64.h"

unsigned pixart_color(int i) {
    static const unsigned level[4] = {0x00, 0x55, 0xAA, 0xFF};
    i &= 63;
    return level[i / 16] << 16 | level[(i / 4) % 4] << 8 | level[i % 4];
}

std::string pixart_encode(const PixArtData& data) {
    unsigned char b[PIXART_BYTES] = {1, PIXART_SIDE, PIXART_SIDE, 4};
    for (int i = 0; i < 4; i++) b[4 + i] = (unsigned char)(data.palette[i] & 0xFF);
    // Values are masked to two bits so a stray one cannot spill into its neighbours.
    for (int i = 0; i < PIXART_PIXELS; i++)
        b[8 + i / 4] |= (unsigned char)((data.pixels[i] & 3) << (6 - 2 * (i % 4)));
    return base64_encode(b, PIXART_BYTES);
}

void pixart_decode(const std::string& text, PixArtData& data) {
    std::string b = base64_decode(text);
    int n = (int)b.size();
    if (n > PIXART_BYTES) n = PIXART_BYTES;
    if (n == 0 || (unsigned char)b[0] > 1) return;
    for (int off = 4; off < n; off++) {
        int v = (unsigned char)b[off];
        if (off < 8) {
            data.palette[off - 4] = v > 63 ? 63 : v;
        } else {
            int p = 4 * (off - 8);
            for (int k = 0; k < 4; k++) data.pixels[p + k] = (v >> (6 - 2 * k)) & 3;
        }
    }
}
