// pixart: the widget that shows a 14 x 14 pixel-art picture as a smooth
// 126 x 126 texture and, when editable, lets the user paint it and pick its
// three colours from the 64-colour palette. Its value is the picture's text.
//
// The picture is upscaled twice by 3 (corners of each pixel are rounded off
// along diagonal steps, never blended), then lightened toward white from the
// top row down and uploaded as one texture. The texture is rebuilt at
// construction, after a stroke that changed a pixel, after a palette pick,
// when the value is set and on the first use after the GL context was
// re-created (the old name is dropped, not deleted).
#pragma once

#include <cstdint>

#include "render/pixart_codec.h"
#include "ruvezor/util/qel_gui.h"

inline constexpr int PIXART_BIG = 126;  // side of the upscaled picture

class PixArt : public Widget {
public:
    int32_t palette[64];                          // 0xRRGGBB of each palette index
    PixArtData data;                              // the picture
    int32_t order[64];                            // palette indexes in colour-picker order
    uint8_t big[PIXART_BIG * PIXART_BIG];         // upscaled pixel values 0..3
    uint8_t rgba[PIXART_BIG * PIXART_BIG * 4];    // the texture image, R, G, B, A
    int32_t edit = 0;        // editable
    int32_t picking = 0;     // 0 painting, 1 colour picker open
    int32_t slot = 3;        // pixel value painting writes and the picker changes
    int32_t consumed = 0;    // the current press went to the slot bar or the picker
    int32_t background = 0;  // palette index of background texels; negative: transparent
    int32_t border = 0;      // a 9-texel frame of background around the image
    uint32_t texture = 0;    // GL name, 0 when none
    uint32_t texture_context = 0;  // serial of the GL context the name belongs to
    float tex_u = 1.0f, tex_v = 1.0f;  // part of the texture the 126 x 126 image fills

    PixArt(const char* value, int edit, int background, int border);
    ~PixArt() override;

    var get_value() override;
    void set_value(var v) override;
    var event(Event* e) override;
    void paint() override;

    void rebuild();
    // Makes the texture again when the GL context it was made in is gone;
    // true when it had to.
    bool texture_dropped();
};

// One 3x upscaling of a w x h grid of values 0..3 into a 3w x 3h grid.
void _rescale_brom3x(int w, int h, const int32_t* src, int32_t* dst);
