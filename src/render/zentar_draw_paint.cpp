// zentar_draw_paint: triangle batch and immediate draw primitives.
#include "render/zentar_draw_paint.h"

#include <GL/gl.h>

#include <cmath>

#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "world/zentar.h"

static_assert(GBATCH_PREMUL == GL_ONE_MINUS_SRC_ALPHA && GBATCH_ADD == GL_ONE, "blend factors");

static inline uint8_t _ch(unsigned rgb, int shift) { return (uint8_t)((rgb >> shift) & 0xFF); }

static inline int _alpha_clamp(int a) { return a < 0 ? 0 : (a > 255 ? 255 : a); }

GVert gvert(float u, float v, float x, float y, unsigned rgb, int a) {
    return GVert{u, v, x, y, _ch(rgb, 16), _ch(rgb, 8), _ch(rgb, 0), (uint8_t)_alpha_clamp(a)};
}

// ---- batch ----------------------------------------------------------------------

void GBatch::flush() {
    if (tris.empty()) return;
    glBlendFunc(GL_ONE, (GLenum)blend);
    glEnableClientState(GL_COLOR_ARRAY);
    glBindTexture(GL_TEXTURE_2D, (GLuint)texture);
    const GVert* v0 = &tris[0].p[0];
    glTexCoordPointer(2, GL_FLOAT, sizeof(GVert), &v0->u);
    glVertexPointer(2, GL_FLOAT, sizeof(GVert), &v0->x);
    glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(GVert), &v0->r);
    glDrawArrays(GL_TRIANGLES, 0, (GLsizei)(3 * tris.size()));
    glDisableClientState(GL_COLOR_ARRAY);
    glColor4f(1, 1, 1, 1);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    tris.clear();  // keeps the storage for the next run
    texture = 0;
}

void GBatch::add(int tex, int blend_factor, const GTri& t) {
    if (tex != texture || blend_factor != blend) {
        flush();
        texture = tex;
        blend = blend_factor;
    }
    tris.push_back(t);
    if ((int)tris.size() >= GBATCH_MAX) flush();
}

void batch_draw_triangle(GBatch& batch, int texture, unsigned color, int blend, float x1, float y1, float x2,
                         float y2, float x3, float y3) {
    GTri t = {{gvert(0, 0, x1, y1, color, 255), gvert(0, 1, x2, y2, color, 255), gvert(1, 0, x3, y3, color, 255)}};
    batch.add(texture, blend, t);
}

// Corners of a thick line: P0, P1 at the start, P2, P3 at the end; false
// for a line of no length.
static bool _line_corners(float x1, float y1, float x2, float y2, float width, float out[8]) {
    float dx = x2 - x1, dy = y2 - y1;
    float len = std::sqrt(dx * dx + dy * dy);
    if (!(len > 0)) return false;
    float a = dy / len * width / 2, b = dx / len * width / 2;
    float c[8] = {x1 - a, y1 + b, x1 + a, y1 - b, x2 - a, y2 + b, x2 + a, y2 - b};
    for (int i = 0; i < 8; i++) out[i] = c[i];
    return true;
}

void batch_draw_line(GBatch& batch, int texture, unsigned color, int blend, float x1, float y1, float x2,
                     float y2, float width) {
    float c[8];
    if (!_line_corners(x1, y1, x2, y2, width, c)) return;
    GVert p0 = gvert(0, 0, c[0], c[1], color, 255), p1 = gvert(0, 1, c[2], c[3], color, 255);
    GVert p2 = gvert(1, 0, c[4], c[5], color, 255), p3 = gvert(1, 1, c[6], c[7], color, 255);
    batch.add(texture, blend, GTri{{p0, p1, p2}});
    batch.add(texture, blend, GTri{{p1, p2, p3}});
}

void batch_ext_blit_ra(GBatch& batch, const GfxImage& image, const GfxTexture& texture, float x, float y, float w,
                       float h, float cx, float cy, float scale, float angle, unsigned color, int alpha,
                       int blend) {
    float x0 = -scale * cx, y0 = -scale * cy, x1 = scale * (w - cx), y1 = scale * (h - cy);
    float co = std::cos(angle), si = std::sin(angle);
    auto px = [&](float a, float b) { return x + a * co - b * si; };
    auto py = [&](float a, float b) { return y + a * si + b * co; };
    // A texture without a size (a missing one) maps the whole picture.
    float tw = texture.rect.w, th = texture.rect.h;
    float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
    if (tw > 0 && th > 0) {
        u0 = image.src.x / tw;
        v0 = image.src.y / th;
        u1 = u0 + image.src.w / tw;
        v1 = v0 + image.src.h / th;
    }
    alpha = _alpha_clamp(alpha);
    unsigned pm = (unsigned)(_ch(color, 16) * alpha / 255) << 16 | (unsigned)(_ch(color, 8) * alpha / 255) << 8 |
                  (unsigned)(_ch(color, 0) * alpha / 255);
    GVert a = gvert(u0, v0, px(x0, y0), py(x0, y0), pm, alpha);
    GVert b = gvert(u1, v0, px(x1, y0), py(x1, y0), pm, alpha);
    GVert c = gvert(u0, v1, px(x0, y1), py(x0, y1), pm, alpha);
    GVert d = gvert(u1, v1, px(x1, y1), py(x1, y1), pm, alpha);
    int tex = (int)texture.gl_name;
    batch.add(tex, blend, GTri{{a, b, c}});
    batch.add(tex, blend, GTri{{b, c, d}});
}

// ---- the view ----------------------------------------------------------------------

void draw_clip_matrix(float m[16]) {
    float p[16], v[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    glGetFloatv(GL_MODELVIEW_MATRIX, v);
    for (int c = 0; c < 4; c++)
        for (int r = 0; r < 4; r++) {
            float s = 0;
            for (int k = 0; k < 4; k++) s += p[k * 4 + r] * v[c * 4 + k];
            m[c * 4 + r] = s;
        }
}

// ---- colours ----------------------------------------------------------------------

void my_gfx_fill_a(unsigned colour, float x, float y, float w, float h, unsigned char alpha) {
    gfx_fill_a(colour, x, y, w, h, alpha);
}

void draw_color(unsigned int rgb, int alpha) {
    alpha = _alpha_clamp(alpha);
    glColor4ub((GLubyte)(_ch(rgb, 16) * alpha / 255), (GLubyte)(_ch(rgb, 8) * alpha / 255),
               (GLubyte)(_ch(rgb, 0) * alpha / 255), (GLubyte)alpha);
}

float* _color_2f(unsigned color, float f) {
    static float c[4];
    c[0] = _ch(color, 16) * f / 255;
    c[1] = _ch(color, 8) * f / 255;
    c[2] = _ch(color, 0) * f / 255;
    c[3] = 1.0f;
    return c;
}

// ---- immediate primitives ------------------------------------------------------------

static void _draw_begin(unsigned texture, unsigned color) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glColor4ub(_ch(color, 16), _ch(color, 8), _ch(color, 0), 255);
}

int _draw_circle_points(int points) { return points < 33 ? 33 : (points > 128 ? 128 : points); }

void draw_circle(unsigned texture, unsigned color, float x, float y, float r, int points, float width) {
    int n = _draw_circle_points(points);
    float v[128 * 4], t[128 * 4];
    float ri = r - width / 2, ro = r + width / 2;
    for (int i = 0; i < n; i++) {
        double a = i * 2 * M_PI / (n - 1);
        float s = (float)std::sin(a), c = (float)std::cos(a);
        v[i * 4 + 0] = x + ri * s;
        v[i * 4 + 1] = y + ri * c;
        v[i * 4 + 2] = x + ro * s;
        v[i * 4 + 3] = y + ro * c;
        t[i * 4 + 0] = 0;
        t[i * 4 + 1] = 0;
        t[i * 4 + 2] = 1;
        t[i * 4 + 3] = 1;
    }
    _draw_begin(texture, color);
    glVertexPointer(2, GL_FLOAT, 0, v);
    glTexCoordPointer(2, GL_FLOAT, 0, t);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 2 * n);
}

void draw_line(unsigned texture, unsigned color, float x1, float y1, float x2, float y2, float width) {
    float c[8];
    if (!_line_corners(x1, y1, x2, y2, width, c)) return;
    static const float t[8] = {0, 0, 0, 1, 1, 0, 1, 1};
    _draw_begin(texture, color);
    glVertexPointer(2, GL_FLOAT, 0, c);
    glTexCoordPointer(2, GL_FLOAT, 0, t);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void draw_box(unsigned texture, unsigned color, float x, float y, float w, float h, float width) {
    _draw_begin(texture, color);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    if (w < 1) {
        x += w / 2;
        w = 0;
    }
    if (h < 1) {
        y += h / 2;
        h = 0;
    }
    bool big = w >= width + 1 && h >= width + 1;
    const char* corner = big ? "corner" : "corner0";
    float S = big ? width : width / 2, c = big ? width / 2 : 0, s = width / 2;
    if (w >= 1) {
        draw_line(texture, color, x + c, y, x + w - c, y, width);
        draw_line(texture, color, x + w - c, y + h, x + c, y + h, width);
    }
    if (h >= 1) {
        draw_line(texture, color, x + w, y + c, x + w, y + h - c, width);
        draw_line(texture, color, x, y + h - c, x, y + c, width);
    }
    // A blit of size 0 would mean the picture's own size: no corners then.
    if (S == 0) return;
    int img = gfx_img_load(corner);
    gfx_img_blit(img, x - s, y - s, S, S);
    gfx_img_blit(img, x + w + s, y - s, -S, S);
    gfx_img_blit(img, x + w + s, y + h + s, -S, -S);
    gfx_img_blit(img, x - s, y + h + s, S, -S);
}

void draw_connect(unsigned texture, unsigned color, const Item& a, const Item& b, float width, float gap) {
    float x1 = a.position_x, y1 = a.position_y, x2 = b.position_x, y2 = b.position_y;
    float ra = a.fleet_r + gap, rb = b.fleet_r + gap;
    float dx = x2 - x1, dy = y2 - y1;
    float d = std::sqrt(dx * dx + dy * dy);
    if (!(d > 0) || ra + rb > d) return;
    draw_line(texture, color, x1 + ra * dx / d, y1 + ra * dy / d, x2 - rb * dx / d, y2 - rb * dy / d, width);
}
