// zentar_parts_paint: drawing of the particle ring.
//
// Each live particle is a rotated square with additive blending; runs of
// particles that share a texture go out in one draw call from fixed arrays.
#include <GL/gl.h>

#include <cmath>

#include "ruvezor/util/qel_gfx_image.h"
#include "world/zentar.h"

namespace {

// Texture of a particle's image, looked up once. -1 remembers an image that
// is missing, so its lookup (and log line) is not repeated every frame.
int _part_tex(Part& p) {
    if (p.tex == 0) {
        char name[sizeof p.src + 1] = {};
        for (size_t i = 0; i < sizeof p.src && p.src[i]; i++) name[i] = p.src[i];
        int img = gfx_img_load(name);
        p.tex = img ? _gfx_get_img(img)->tex : -1;
        if (p.tex == 0) p.tex = -1;
    }
    return p.tex > 0 ? p.tex : 0;
}

}  // namespace

void parts_paint(Zentar& world) {
    static float pos[ZT_PARTS * 6 * 2];
    static float tc[ZT_PARTS * 6 * 2];
    static uint8_t col[ZT_PARTS * 6 * 4];
    static bool tc_done = false;
    if (!tc_done) {
        static const float corner[12] = {0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 1, 1};
        for (int i = 0; i < ZT_PARTS * 6; i++) {
            tc[i * 2] = corner[(i % 6) * 2];
            tc[i * 2 + 1] = corner[(i % 6) * 2 + 1];
        }
        tc_done = true;
    }
    int count = world.parts_count;
    if (count <= 0) return;
    if (count > ZT_PARTS) count = ZT_PARTS;

    glBlendFunc(GL_ONE, GL_ONE);
    glEnableClientState(GL_COLOR_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, 0, tc);
    glVertexPointer(2, GL_FLOAT, 0, pos);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, col);

    int quads = 0, run_tex = 0;
    auto draw_run = [&]() {
        if (quads == 0) return;
        glBindTexture(GL_TEXTURE_2D, run_tex ? gfx_tex_get_id(run_tex) : 0);
        glDrawArrays(GL_TRIANGLES, 0, quads * 6);
        quads = 0;
    };
    int start = world.parts_start;
    if (start < 0 || start >= ZT_PARTS) start = 0;
    for (int k = 0; k < count; k++) {
        Part& p = world.parts[(start + k) % ZT_PARTS];
        if (!p.alive) continue;
        int tex = _part_tex(p);
        if (tex != run_tex) {
            draw_run();
            run_tex = tex;
        }
        float t = p.age;
        float x = p.x + p.vx * t, y = p.y + p.vy * t, r = p.r + p.vr * t, q = p.q + p.vq * t;
        float a = p.a + p.va * t;
        a = a > 1 ? 1 : (a > 0 ? a : 0);
        uint8_t ab = (uint8_t)(a * 255);
        float c = std::cos(q), s = std::sin(q);
        const float cx[6] = {-r, r, -r, r, -r, r};
        const float cy[6] = {-r, -r, r, -r, r, r};
        for (int v = 0; v < 6; v++) {
            int o = quads * 6 + v;
            pos[o * 2] = x + cx[v] * c - cy[v] * s;
            pos[o * 2 + 1] = y + cx[v] * s + cy[v] * c;
            col[o * 4] = col[o * 4 + 1] = col[o * 4 + 2] = col[o * 4 + 3] = ab;
        }
        quads++;
    }
    draw_run();
    glDisableClientState(GL_COLOR_ARRAY);
    glColor4f(1, 1, 1, 1);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}
