// zentar_draw_items: the items mods draw with (shapes, sprites, pixel art,
// labels) and the planets' ship-count labels, one layer at a time.
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "shell/builds.h"      // builds_font_play
#include "render/colorblind.h"  // colorblind_map
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"
#include "world/zentar.h"
#include "render/zentar_draw_paint.h"

namespace {

// What one layer's items may fill, in screens. A match's own draw a few
// screens' worth; a host that sends thousands of screen-sized items (or a
// mod that makes them) would hold every frame for seconds. Past it the
// items that would still cover much are skipped; small ones still draw.
constexpr double DRAW_FILL_SCREENS = 8;

// The fill budget of the layer being painted.
struct DrawFill {
    double per_unit = 0;  // screens one square world unit fills under the current transform
    double left = 0;      // screens the layer may still fill
    bool said = false;    // the log told once that items were skipped
    float clip[16] = {};  // projection x modelview of the layer, column by column
};

// Module state: the pixel-art cache, keyed by the whole text, and the fill
// budget of the layer being painted.
struct _DrawItemsData {
    std::map<std::string, PixArt*> _draw_pixart_map;  // text -> widget, null once freed (the key stays)
    std::map<std::string, int> _draw_pixart_used;     // text -> drawn in this frame
    DrawFill fill;
};
_DrawItemsData _draw;

// Screens per square world unit: the area factor of the current view in x
// and y, against the 2 x 2 of the clip square.
double _draw_screens_per_unit(const float m[16]) { return std::fabs((double)m[0] * m[5] - (double)m[4] * m[1]) / 4; }

// Whether the world box (x0, y0)-(x1, y1) lies wholly off the screen, so
// that nothing in it can be seen. Zoomed into a big map most items are:
// they are neither drawn nor charged to the fill budget, which is for what
// the screen shows. Numbers a view cannot place count as on screen.
bool _draw_off_screen(double x0, double y0, double x1, double y1) {
    const float* m = _draw.fill.clip;
    const double xs[2] = {x0, x1}, ys[2] = {y0, y1};
    bool left = true, right = true, below = true, above = true;
    for (double x : xs)
        for (double y : ys) {
            const double w = m[3] * x + m[7] * y + m[15];
            if (!(w > 0)) return false;
            const double cx = (m[0] * x + m[4] * y + m[12]) / w, cy = (m[1] * x + m[5] * y + m[13]) / w;
            left = left && cx < -1;
            right = right && cx > 1;
            below = below && cy < -1;
            above = above && cy > 1;
        }
    return left || right || below || above;
}

// The same for a disc of radius r about (x, y).
bool _draw_off_screen_disc(double x, double y, double r) { return _draw_off_screen(x - r, y - r, x + r, y + r); }

// Whether an item covering `area` square world units may still be drawn in
// this layer; pays for it when so. An item pays at most one screen (the
// rest is clipped away).
bool _draw_afford(double area) {
    double screens = std::fabs(area) * _draw.fill.per_unit;
    if (!(screens < 1)) screens = 1;  // NaN too
    if (screens <= _draw.fill.left) {
        _draw.fill.left -= screens;
        return true;
    }
    if (!_draw.fill.said) {
        _draw.fill.said = true;
        qel_log("paint: the items of one layer would fill the screen more than %d times; the largest of the "
                "rest are not drawn (said once)\n",
                (int)DRAW_FILL_SCREENS);
    }
    return false;
}

// Square world units an item's picture covers.
double _image_area(const Item& it) {
    return (double)it.image_w * it.image_h * it.image_scale * it.image_scale;
}

// Whether an item's picture (a sprite or pixel art), turned any way about
// its anchor, is off the screen.
bool _image_off_screen(const Item& it) {
    const double w = it.image_w, h = it.image_h, cx = it.image_cx, cy = it.image_cy;
    const double reach = std::hypot(std::max(std::fabs(cx), std::fabs(w - cx)), std::max(std::fabs(cy), std::fabs(h - cy)));
    return _draw_off_screen_disc(it.position_x, it.position_y, std::fabs((double)it.image_scale) * reach);
}

// Whether a drawing item's shape is off the screen (lines and rings are 20 wide).
bool _draw_shape_off_screen(const Item& it) {
    const double x = it.position_x, y = it.position_y;
    switch (it.draw_type) {
        case 'C':
            return _draw_off_screen_disc(x, y, std::fabs((double)it.draw_r) + 10);
        case 'L':
            return _draw_off_screen(std::min(x, (double)it.draw_x2) - 10, std::min(y, (double)it.draw_y2) - 10,
                                    std::max(x, (double)it.draw_x2) + 10, std::max(y, (double)it.draw_y2) + 10);
        case 'T':
            return _draw_off_screen(std::min({x, (double)it.draw_x2, (double)it.draw_x3}),
                                    std::min({y, (double)it.draw_y2, (double)it.draw_y3}),
                                    std::max({x, (double)it.draw_x2, (double)it.draw_x3}),
                                    std::max({y, (double)it.draw_y2, (double)it.draw_y3}));
        case 'P':
            return _image_off_screen(it);
        default:
            return false;
    }
}

// Square world units a drawing item covers.
double _draw_area(const Item& it) {
    double x = it.position_x, y = it.position_y;
    switch (it.draw_type) {
        case 'C': {  // a ring 20 units wide
            double r = it.draw_r, inner = r > 10 ? r - 10 : 0;
            return M_PI * ((r + 10) * (r + 10) - inner * inner);
        }
        case 'L':
            return std::hypot(it.draw_x2 - x, it.draw_y2 - y) * 20;
        case 'T':
            return ((it.draw_x2 - x) * (it.draw_y3 - y) - (it.draw_x3 - x) * (it.draw_y2 - y)) / 2;
        case 'P':  // pixel art is drawn as the item's picture
            return _image_area(it);
        default:
            return 0;
    }
}

// A fixed item field as a terminated string (fields from the network may be full).
template <size_t N>
std::string _field(const char (&f)[N]) {
    return std::string(f, strnlen(f, N));
}

int _blend_of(const Item& it) { return it.render_blend ? GBATCH_ADD : GBATCH_PREMUL; }

// Lookups remembered for the previous item within one draw_paint call.
struct Lookups {
    std::string img_name;
    int img = 0;
    std::string font_name;
    int font_size = -1;
    int font = 0;

    int image(const std::string& name) {
        if (name != img_name) {
            img_name = name;
            img = gfx_img_load(name.c_str());
        }
        return img;
    }
    int font_of(const std::string& name, int size) {
        if (name != font_name || size != font_size) {
            font_name = name;
            font_size = size;
            font = font_load(name.c_str(), size);
        }
        return font;
    }
};

// Whether the viewer sees this planet's ship count; writes or clears the label.
void _ship_label(Zentar& world, Item& it, int viewer) {
    const Item& v = _item_read(world, viewer);
    const Item& owner = _item_read(world, it.owner_n);
    int mask = viewer ? (int)v.ui_ships_show_mask : 23;
    int kind = owner.user_neutral ? 4 : 8;
    if (viewer) {
        if (v.user_team_n == owner.user_team_n) kind = 2;
        if (viewer == it.owner_n)
            kind = 1;
        else if (kind == 8 && (it.planet_mask & 4))
            kind = 0;
    }
    if (owner.user_reveal) kind += 16;
    if ((mask & kind) == 0) {
        it.has_label = 0;
        return;
    }
    it.has_label = 1;
    int ships = it.ships_value > 0 ? zt_sat_int(it.ships_value) : 0;
    snprintf(it.label_text, sizeof it.label_text, "%d", ships);
    snprintf(it.label_font, sizeof it.label_font, "%s", builds_font_play());
    it.label_size = 24;
    it.render_color = 0xFFFFFF;
    it.render_alpha = 255;
}

// Draws over what the batch holds, which goes first; a label that is not
// drawn leaves the batch's run whole.
void _draw_label(GBatch& batch, Item& it, float angle, Lookups& look) {
    int font = look.font_of(_field(it.label_font), it.label_size ? it.label_size : 20);
    std::string text = _field(it.label_text);
    LabelBox box = draw_label_box(it, font);
    // Turned about its anchor, the text stays within this reach of it: the
    // box measures one line, and each new line goes one more below; a line's
    // height more on every side covers glyphs that overhang it.
    const double pad = (double)box.h;
    const double lines = 1 + (double)std::count(text.begin(), text.end(), '\n');
    const double reach = std::hypot(std::max(std::fabs((double)box.x), std::fabs((double)box.x + box.w)) + pad,
                                    std::max(std::fabs((double)box.y), std::fabs((double)box.y + box.h * lines)) + pad);
    if (_draw_off_screen_disc(it.position_x, it.position_y, reach)) return;
    if (!_draw_afford((double)box.w * (double)box.h)) return;
    batch.flush();
    glPushMatrix();
    glTranslatef(it.position_x, it.position_y, 0);
    glRotatef(angle, 0, 0, 1);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    draw_color((unsigned)it.render_color, it.render_alpha);
    font_draw(font, text.c_str(), box.x, box.y, 0, -1);
    glColor4f(1, 1, 1, 1);
    glPopMatrix();
}

unsigned _item_color(const Item& it) {
    return (unsigned)(it.has_unit ? colorblind_map(it.render_color) : it.render_color) & 0xFFFFFF;
}

}  // namespace

void draw_paint_pre() { _draw._draw_pixart_used.clear(); }

namespace {

// The cached widget of an item's pixel-art text, made when missing, and
// kept for this frame.
PixArt* _draw_pixart_keep(const Item& item) {
    std::string text(item.draw_pixart, strnlen(item.draw_pixart, sizeof item.draw_pixart));
    PixArt*& w = _draw._draw_pixart_map[text];
    if (!w) {
        w = _draw_pixart_new(text.c_str());
        if (w) qel_log("pixart add: %s\n", text.c_str());
    }
    _draw._draw_pixart_used[text] = 1;
    return w;
}

}  // namespace

void draw_pixart_do(GBatch& batch, Item& item) {
    PixArt* w = _draw_pixart_keep(item);
    if (!w) return;
    float tu = 1, tv = 1;
    unsigned gl = _draw_pixart_texture(w, &tu, &tv);
    GfxImage img = {};
    img.src = {tu / 28, tv / 28, tu * 26 / 28, tv * 26 / 28};
    GfxTexture tex = {};
    tex.gl_name = gl;
    tex.rect = {0, 0, 1, 1};
    batch_ext_blit_ra(batch, img, tex, item.position_x, item.position_y, item.image_w, item.image_h, item.image_cx,
                      item.image_cy, item.image_scale, item.image_a, _item_color(item), item.render_alpha,
                      _blend_of(item));
}

void draw_pixart_post() {
    for (auto& [text, w] : _draw._draw_pixart_map) {
        if (!w || _draw._draw_pixart_used.count(text)) continue;
        qel_log("pixart remove: %s\n", text.c_str());
        _draw_pixart_delete(w);
        w = nullptr;
    }
}

void draw_paint_post() { draw_pixart_post(); }

void draw_paint(Zentar& world, int viewer, float angle, int layer) {
    static GBatch batch;
    Lookups look;
    unsigned line_tex = gfx_img_get_tex(gfx_img_load("line"));
    unsigned white_tex = gfx_img_get_tex(gfx_img_load("white"));
    int top = world.top < ZT_ITEMS ? world.top : ZT_ITEMS;
    draw_clip_matrix(_draw.fill.clip);
    _draw.fill.per_unit = _draw_screens_per_unit(_draw.fill.clip);
    _draw.fill.left = DRAW_FILL_SCREENS;
    for (int n = 1; n < top; n++) {
        Item& it = world.items[n];
        if (it.in_use != 1 || it.render_zindex != layer) continue;
        unsigned rgb = (unsigned)it.render_color & 0xFFFFFF;
        // A picture scrolled off the screen keeps its cached widget.
        bool shape_off = it.has_draw && _draw_shape_off_screen(it);
        if (shape_off && it.draw_type == 'P') _draw_pixart_keep(it);
        if (it.has_draw && !shape_off && _draw_afford(_draw_area(it))) {
            switch (it.draw_type) {
                case 'C':
                    batch.flush();
                    glBlendFunc(GL_ONE, GL_ONE);
                    draw_circle(line_tex, rgb, it.position_x, it.position_y, it.draw_r, zt_sat_int(it.draw_r), 20);
                    break;
                case 'L': {
                    std::string src = _field(it.image_src);
                    unsigned tex = src.empty() ? line_tex : gfx_img_get_tex(look.image(src));
                    // A named picture that is missing has no texture: no line, not a plain white one.
                    if (!tex) break;
                    batch_draw_line(batch, (int)tex, rgb, _blend_of(it), it.position_x, it.position_y, it.draw_x2,
                                    it.draw_y2, 20);
                    break;
                }
                case 'T':
                    batch_draw_triangle(batch, (int)white_tex, rgb, _blend_of(it), it.position_x, it.position_y,
                                        it.draw_x2, it.draw_y2, it.draw_x3, it.draw_y3);
                    break;
                case 'P':
                    draw_pixart_do(batch, it);
                    break;
                default:
                    break;
            }
        }
        if (it.has_image && !_image_off_screen(it) && _draw_afford(_image_area(it))) {
            int img = look.image(_field(it.image_src));
            gfx_img_get_tex(img);  // reloads a texture freed while idle
            GfxImage im = *_gfx_get_img(img);
            GfxTexture tx = *_gfx_get_tex(im.tex);
            // A picture that is missing or failed to load has no texture: it
            // draws nothing, where texture 0 would show a plain white quad.
            if (tx.gl_name)
                batch_ext_blit_ra(batch, im, tx, it.position_x, it.position_y, it.image_w, it.image_h,
                                  it.image_cx, it.image_cy, it.image_scale, it.image_a, _item_color(it),
                                  it.render_alpha, _blend_of(it));
        }
        if (it.has_planet && zt_in_clip(world, it.position_x, it.position_y)) {
            _ship_label(world, it, viewer);
            if (!it.has_label) continue;
        }
        if (it.has_label) _draw_label(batch, it, angle, look);
    }
    batch.flush();
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

LabelBox draw_label_box(const Item& it, int font) {
    std::string text = _field(it.label_text);
    long long W = zt_sat_int(font_get_width(font, text.c_str()));
    long long H = zt_sat_int(font_get_height(font, text.c_str(), 0));
    return LabelBox{(float)(((it.label_align - 1) * W) / 2), (float)(((it.label_valign - 1) * H) / 2), W, H};
}
