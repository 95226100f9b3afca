// zentar_ui_paint: the percentage slider with its corner cell and the map
// overview's zoom icon, drawn in logical screen units over the match.
#include <GL/gl.h>

#include <cstdio>

#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "render/zentar_ui.h"

void ui_paint_slider(Zentar& world, ZentarUI& ui) {
    ui_init(world, ui, 0);
    UIRect r = ui_slider_rect(world, ui);
    glColor4f(1, 1, 1, 1);

    int font = font_load("font-outline", 20);
    char text[16];
    snprintf(text, sizeof(text), "%d%%", ui.percent);
    float tx = r.x + (r.w - font_get_width(font, text)) / 2;
    // "100%" is wide: nudge it toward the middle of the screen.
    if (ui.percent == 100) tx += ui.options.ui_lefty > 0 ? 5 : -5;
    int th = (int)font_get_height(font, text, 0);
    float ty = r.y + r.h + 22 + (44 - th) / 2;
    font_draw(font, text, tx, ty, 0, -1);

    if (ui.options.ui_slider <= 0) return;
    gfx_img_box(gfx_img_load("slider-line"), (int)(r.x + 11), 66, 22, (int)r.h, 7);
    float dot_y = 66 + (100 - ui.percent) * (r.h - 22) / 95;
    gfx_img_blit(gfx_img_load("slider-dot"), r.x + 11, dot_y, 22, 22);
}

void ui_paint_gmap(Zentar&, ZentarUI& ui) {
    if (ui.gmap_mode != -1) return;
    UIRect r = ui_gmap_rect();
    glColor4f(1.0f / 3, 1.0f / 3, 1.0f / 3, 1.0f / 3);
    gfx_img_blit(gfx_img_load("icon-zoom"), r.x, r.y, r.w, r.h);
    glColor4f(1, 1, 1, 1);
}
