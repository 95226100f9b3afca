// pixart: the pixel-art widget (see pixart.h) and the three hooks the match
// painter's pixel-art cache reaches it through.
#include "render/pixart.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "ruvezor/util/qel_driver.h"  // _driver_tex_load_from_data
#include "ruvezor/util/qel_gfx.h"  // GL names that outlive their context
#include "ruvezor/util/qel_gfx_draw.h"
#include "render/zentar_draw_paint.h"

namespace {

constexpr int SIDE = PIXART_SIDE;
constexpr int MID = SIDE * 3;  // 42, after the first upscaling

// Event coordinates come from the pointer; a widget of no width or a wild
// value must still give a cell index, not an undefined conversion.
int _cell(float v, int cells) {
    if (!(v == v)) return 0;
    if (v < 0) return 0;
    if (v >= (float)cells) return cells - 1;
    return (int)v;
}

int _at(const int32_t* g, int w, int h, int x, int y) {
    x = std::clamp(x, 0, w - 1);
    y = std::clamp(y, 0, h - 1);
    return g[y * w + x];
}

// The corner of source cell (x, y) toward (sx, sy), each -1 or +1.
int _corner(const int32_t* g, int w, int h, int x, int y, int sx, int sy, bool lonely, int n) {
    int e = _at(g, w, h, x, y);
    if (lonely) return n;
    int X = _at(g, w, h, x + sx, y + sy);
    int P = _at(g, w, h, x, y + sy);
    int Q = _at(g, w, h, x + sx, y);
    if (X == e || P == e || Q == e) return e;
    if (P != Q) return e;
    int R = _at(g, w, h, x - sx, y + sy);
    int S = _at(g, w, h, x + sx, y - sy);
    if (R == e || S == e) return P;
    return e;
}

}  // namespace

void _rescale_brom3x(int w, int h, const int32_t* src, int32_t* dst) {
    if (w <= 0 || h <= 0) return;
    const int W = w * 3;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int e = _at(src, w, h, x, y);
            // An isolated cell: all eight neighbours agree on another value.
            int n = _at(src, w, h, x - 1, y - 1);
            bool lonely = n != e;
            for (int dy = -1; dy <= 1 && lonely; dy++)
                for (int dx = -1; dx <= 1; dx++)
                    if ((dx || dy) && _at(src, w, h, x + dx, y + dy) != n) {
                        lonely = false;
                        break;
                    }
            int32_t* o = dst + (y * 3) * W + x * 3;
            for (int r = 0; r < 3; r++)
                for (int c = 0; c < 3; c++) o[r * W + c] = e;
            o[0] = _corner(src, w, h, x, y, -1, -1, lonely, n);
            o[2] = _corner(src, w, h, x, y, 1, -1, lonely, n);
            o[2 * W] = _corner(src, w, h, x, y, -1, 1, lonely, n);
            o[2 * W + 2] = _corner(src, w, h, x, y, 1, 1, lonely, n);
        }
}

PixArt::PixArt(const char* value, int edit_, int background_, int border_) {
    for (int i = 0; i < 64; i++) palette[i] = (int32_t)pixart_color(i);
    data.version = 0;
    data.palette[0] = 0;
    data.palette[1] = 3;
    data.palette[2] = 48;
    data.palette[3] = 63;
    std::fill(std::begin(data.pixels), std::end(data.pixels), 0);
    std::fill(std::begin(big), std::end(big), 0);
    std::memset(rgba, 0, sizeof rgba);
    edit = edit_;
    background = background_;
    border = border_;

    // Picker order: greys first, then by hue, brightness and saturation.
    int32_t keys[64];
    for (int i = 0; i < 64; i++) {
        int r = (palette[i] >> 16) & 255, g = (palette[i] >> 8) & 255, b = palette[i] & 255;
        int mx = std::max({r, g, b}), mn = std::min({r, g, b}), d = mx - mn;
        int s = mx ? d * 255 / mx : 0;
        if (!mx || !s) {
            keys[i] = i;
            continue;
        }
        int hue;
        if (r == mx)
            hue = (g - b) * 43 / d;
        else if (g == mx)
            hue = (b - r) * 43 / d + 85;
        else
            hue = (r - g) * 43 / d - 85;
        keys[i] = (int32_t)(((uint32_t)(hue & 255) << 23) + ((uint32_t)mx << 15) + ((uint32_t)s << 7) + (uint32_t)i);
    }
    std::sort(keys, keys + 64);
    for (int j = 0; j < 64; j++) order[j] = keys[j] % 128;

    pixart_decode(value ? value : "", data);
    texture = 0;
    tex_u = tex_v = 1.0f;
    rebuild();
    if (edit) focusable = 1;
}

PixArt::~PixArt() { gfx_gl_name_free(texture, texture_context); }

bool PixArt::texture_dropped() {
    if (!gfx_gl_name_dropped(texture, texture_context)) return false;
    rebuild();
    return true;
}

var PixArt::get_value() { return var(pixart_encode(data)); }

void PixArt::set_value(var v) {
    pixart_decode(v.__str__(), data);
    rebuild();  // what is shown always matches the value
}

void PixArt::rebuild() {
    gfx_gl_name_free(texture, texture_context);
    std::vector<int32_t> tmp(MID * MID), up(PIXART_BIG * PIXART_BIG);
    _rescale_brom3x(SIDE, SIDE, data.pixels, tmp.data());
    _rescale_brom3x(MID, MID, tmp.data(), up.data());
    for (int i = 0; i < PIXART_BIG * PIXART_BIG; i++) big[i] = (uint8_t)(up[i] & 3);

    for (int y = 0; y < PIXART_BIG; y++) {
        int m = (21420 - 170 * y) / 126;  // highlight: strongest on the top row
        for (int x = 0; x < PIXART_BIG; x++) {
            int p = big[y * PIXART_BIG + x];
            uint8_t* o = rgba + (y * PIXART_BIG + x) * 4;
            bool frame = border && (x < 9 || y < 9 || x >= PIXART_BIG - 9 || y >= PIXART_BIG - 9);
            if (p == 0 || frame) {
                if (background < 0) {
                    o[0] = o[1] = o[2] = o[3] = 0;
                } else {
                    unsigned c = pixart_color(background);
                    o[0] = (uint8_t)(c >> 16);
                    o[1] = (uint8_t)(c >> 8);
                    o[2] = (uint8_t)c;
                    o[3] = 255;
                }
                continue;
            }
            unsigned c = pixart_color(data.palette[p]);
            for (int k = 0; k < 3; k++) {
                int ch = (int)((c >> (16 - 8 * k)) & 255);
                o[k] = (uint8_t)std::min(255, (ch * (255 - m) + m * 255) / 255);
            }
            o[3] = 255;
        }
    }

    // The loader premultiplies in place: hand it a copy.
    std::vector<uint8_t> scratch(rgba, rgba + sizeof rgba);
    int iw = 0, ih = 0, tw = 0, th = 0;
    texture = _driver_tex_load_from_data(scratch.data(), PIXART_BIG, PIXART_BIG, &iw, &ih, &tw, &th);
    texture_context = driver_gl_context_serial();
    if (!texture || tw <= 0 || th <= 0) {
        gfx_gl_name_free(texture, texture_context);
        return;
    }
    tex_u = (float)PIXART_BIG / (float)tw;
    tex_v = (float)PIXART_BIG / (float)th;
}

void PixArt::paint() {
    const int s = (int)w;
    const int H = (int)h;
    texture_dropped();
    if (edit) my_gfx_fill_a(0x222222, 0, 0, (float)s, (float)s, 255);
    if (picking) {
        for (int j = 0; j < 64; j++) {
            int col = j % 8, row = j / 8;
            int x = col * s / 8, y = row * s / 8;
            unsigned c = (unsigned)palette[order[j]];
            if (order[j] == data.palette[slot])
                my_gfx_fill_a(c, (float)(x + 2), (float)(y + 2), (float)(s / 8 - 5), (float)(s / 8 - 5), 255);
            else
                my_gfx_fill_a(c, (float)x, (float)y, (float)(s / 8 - 1), (float)(s / 8 - 1), 255);
        }
    } else if (edit) {
        if (texture) gfx_tex_blit2(texture, 0, 0, tex_u, tex_v, 0, 0, (float)s, (float)s);
        const float c = (float)s / SIDE;
        const float fs = (float)s;
        for (int k = 0; k <= SIDE; k++) {
            my_gfx_fill_a(0x000000, -0.5f, k * c - 0.5f, fs, 1, 85);
            my_gfx_fill_a(0x000000, k * c - 0.5f, -0.5f, 1, fs, 85);
        }
        my_gfx_fill_a(0x000000, 0, 0, fs, c, 85);
        my_gfx_fill_a(0x000000, fs - c, c, c, fs - c, 85);
        my_gfx_fill_a(0x000000, 0, fs - c, fs - c, c, 85);
        my_gfx_fill_a(0x000000, 0, c, c, fs - 2 * c, 85);
    } else if (texture) {
        // The outer ring of picture pixels is left out.
        const float e = tex_u / SIDE;
        gfx_tex_blit2(texture, e, e, tex_u - 2 * e, tex_v - 2 * e, 0, 0, (float)s, (float)s);
    }
    if (edit) {
        const int B = H - (s + 5);
        for (int i = 0; i < 4; i++) {
            float fx = (float)(i * s / 4);
            my_gfx_fill_a(i == slot ? 0x888888 : 0x333333, fx, (float)(s + 5), (float)(s / 4), (float)B, 255);
            unsigned c = i == 0 ? 0x222222u : (unsigned)palette[data.palette[i] & 63];
            my_gfx_fill_a(c, fx + 5, (float)(s + 10), (float)(s / 4 - 10), (float)(B - 10), 255);
        }
    }
}

var PixArt::event(Event* e) {
    if (!edit) return Widget::event(e);
    const bool press = e->type == GUI_EV_PRESS;
    const bool drag = e->type == GUI_EV_MOVE && e->b != 0;
    if (press)
        consumed = 0;
    else if (consumed)
        return Widget::event(e);
    const float fw = w;
    const bool below = e->y > fw + 5;

    if (!picking) {
        if (press && below) {
            int k = fw > 0 ? _cell(4 * e->x / fw, 4) : 0;
            if (k != slot)
                slot = k;
            else if (k > 0)
                picking = 1;
            consumed = 1;
            return var();
        }
        if (press || drag) {
            double dx = e->dx, dy = e->dy;
            double len = std::sqrt(dx * dx + dy * dy) + 1;
            if (!(len == len)) dx = dy = 0, len = 1;
            // Steps are capped: a wild movement must not stall the frame.
            int n = len < 4096 ? (int)len : 4096;
            bool changed = false;
            for (int k = 0; k <= n; k++) {
                float px = (float)(e->x - k * dx / n), py = (float)(e->y - k * dy / n);
                int row = fw > 0 ? _cell(py * SIDE / fw, SIDE) : 0;
                int col = fw > 0 ? _cell(px * SIDE / fw, SIDE) : 0;
                int32_t& p = data.pixels[row * SIDE + col];
                if (p != slot) {
                    p = slot;
                    changed = true;
                }
            }
            if (changed) rebuild();
            return var();
        }
        return Widget::event(e);
    }

    if (press && below) {
        slot = fw > 0 ? _cell(4 * e->x / fw, 4) : 0;
        picking = 0;
        consumed = 1;
        return var();
    }
    if (press || drag || e->type == GUI_EV_RELEASE) {
        int col = fw > 0 ? _cell(8 * e->x / fw, 8) : 0;
        int row = fw > 0 ? _cell(8 * e->y / fw, 8) : 0;
        data.palette[slot] = order[row * 8 + col];
        if (e->type == GUI_EV_RELEASE) {
            rebuild();
            picking = 0;
            consumed = 1;
        }
        return var();
    }
    return Widget::event(e);
}

// ---- the match painter's pixel-art cache ----------------------------------------------

PixArt* _draw_pixart_new(const char* text) { return new PixArt(text, 0, 0, 1); }

void _draw_pixart_delete(PixArt* w) { delete w; }

unsigned _draw_pixart_texture(PixArt* w, float* tex_u, float* tex_v) {
    if (!w) {
        *tex_u = *tex_v = 1;
        return 0;
    }
    w->texture_dropped();
    *tex_u = w->tex_u;
    *tex_v = w->tex_v;
    return w->texture;
}
