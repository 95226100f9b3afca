// zentar_draw_paint: the triangle batch of the match painters and the small
// immediate primitives (ring, thick line, box outline, connecting line).
//
// Colours are 0xRRGGBB with a separate alpha 0..255. Everything blends on
// premultiplied alpha; a batch only switches the destination factor between
// premultiplied (GL_ONE_MINUS_SRC_ALPHA) and additive (GL_ONE), and every
// flush leaves premultiplied blending and opaque white behind.
//
// Vertex layout (20 bytes, interleaved for client arrays, stride 20):
//   0  u  f32    4  v  f32    texture coordinates
//   8  x  f32   12  y  f32    position in the current coordinates
//  16  r, g, b, a  u8         colour
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ruvezor/util/qel_gfx.h"  // GfxImage, GfxTexture

struct Item;

// GL blend factors, spelled out so this header does not need GL.
inline constexpr int GBATCH_PREMUL = 0x0303;  // GL_ONE_MINUS_SRC_ALPHA
inline constexpr int GBATCH_ADD = 1;          // GL_ONE

// A run is cut at this many triangles.
inline constexpr int GBATCH_MAX = 8192;

struct GVert {
    float u, v;
    float x, y;
    uint8_t r, g, b, a;
};
static_assert(sizeof(GVert) == 20 && offsetof(GVert, x) == 8 && offsetof(GVert, r) == 16, "GVert layout");

struct GTri {
    GVert p[3];
};
static_assert(sizeof(GTri) == 60, "GTri layout");

struct GBatch {
    std::vector<GTri> tris;
    int32_t texture = 0;             // GL name shared by every triangle held
    int32_t blend = GBATCH_PREMUL;   // destination factor; the source is GL_ONE

    // Draws and empties the batch; nothing happens when it is empty.
    void flush();
    // Appends one triangle, flushing first when the texture or blend changes
    // and afterwards when the run reaches GBATCH_MAX.
    void add(int tex, int blend_factor, const GTri& t);
    int size() const { return (int)tris.size(); }
};

// One vertex; colour channels taken from rgb and a as given.
GVert gvert(float u, float v, float x, float y, unsigned rgb, int a);

void batch_draw_triangle(GBatch& batch, int texture, unsigned color, int blend, float x1, float y1, float x2,
                         float y2, float x3, float y3);
void batch_draw_line(GBatch& batch, int texture, unsigned color, int blend, float x1, float y1, float x2,
                     float y2, float width);
// Rotated (radians), anchored at (cx, cy) of the w x h picture, scaled image
// in a premultiplied colour.
void batch_ext_blit_ra(GBatch& batch, const GfxImage& image, const GfxTexture& texture, float x, float y, float w,
                       float h, float cx, float cy, float scale, float angle, unsigned color, int alpha,
                       int blend);

// The current projection times modelview, column by column as GL keeps
// matrices: where the painters' world points land in clip space.
void draw_clip_matrix(float m[16]);

// Current GL colour: the premultiplied form of rgb at alpha 0..255.
void draw_color(unsigned int rgb, int alpha);
// 0xRRGGBB over (x, y, w, h) at alpha 0..255, untextured; leaves the colour
// opaque white and texturing on.
void my_gfx_fill_a(unsigned colour, float x, float y, float w, float h, unsigned char alpha);

// Immediate primitives: they bind the GL texture, set (r, g, b, 255) and
// draw from client arrays; the colour stays as they set it.
void draw_circle(unsigned texture, unsigned color, float x, float y, float r, int points, float width);
void draw_line(unsigned texture, unsigned color, float x1, float y1, float x2, float y2, float width);
void draw_box(unsigned texture, unsigned color, float x, float y, float w, float h, float width);
// Line between the rims of a and b (pick radius plus gap); nothing when the
// rims touch or overlap.
void draw_connect(unsigned texture, unsigned color, const Item& a, const Item& b, float width, float gap);

// Planet painter helper: light colours (r f / 255, g f / 255, b f / 255, 1)
// in a shared array.
float* _color_2f(unsigned color, float f);

// Points the ring uses for a requested count (33..128).
int _draw_circle_points(int points);

// ---- mod drawing items (zentar_draw_items.cpp) -------------------------------------

struct Zentar;
class PixArt;

// Per frame: draw_paint_pre, draw_paint for layer -1, the planets and
// particles, draw_paint for layer 0 (the ships among them) and for layer 1
// (over the ships), draw_paint_post.
void draw_paint_pre();
// Draws every item of the layer; viewer is the local user's item (0 none),
// angle the view rotation in degrees that labels are turned by.
void draw_paint(Zentar& world, int viewer, float angle, int layer);
void draw_paint_post();
void draw_pixart_do(GBatch& batch, Item& item);
void draw_pixart_post();

// The pixel-art widget as the cache uses it: a non-editable widget with
// background 0 and a border, its GL texture and the fraction of the texture
// its picture fills. Null or 0 when no widget can be made.
PixArt* _draw_pixart_new(const char* text);
void _draw_pixart_delete(PixArt* w);
unsigned _draw_pixart_texture(PixArt* w, float* tex_u, float* tex_v);

// Where an item's label (a planet's ship count) is drawn, around the item's
// position before its turn: the text's top left and its size.
struct LabelBox {
    float x, y;
    long long w, h;
};
LabelBox draw_label_box(const Item& it, int font);
