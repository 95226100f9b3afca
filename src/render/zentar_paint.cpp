// zentar_paint: the match frame. The calling screen has set the 2D mode;
// the view transform is loaded on top of it so every layer draws in world
// units, and the plain 2D mode is restored for the HUD that follows.
#include "render/zentar_paint.h"

#include <GL/gl.h>

#include <cmath>

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"
#include "world/zentar.h"
#include "render/zentar_bkgr.h"
#include "render/zentar_draw_paint.h"
#include "render/zentar_planet_paint.h"
#include "render/zentar_ui.h"

// Last GL error seen at each check point: a lasting error is logged once.
static GLenum _sys_paint_err[9];

static void _sys_paint_check(int point) {
    GLenum e = glGetError();
    if (e == _sys_paint_err[point]) return;
    _sys_paint_err[point] = e;
    _qel_iprintf(__FILE__, __LINE__, "sys_paint", 0, "glGetError() -> %d\n", (int)e);
}

void sys_paint(Zentar& world, ZentarUI& ui, int viewer, int with_background) {
    if (!ui.inited) ui_init(world, ui, 0);
    _sys_paint_check(0);

    if (with_background) bkgr_paint(world);
    _sys_paint_check(1);

    // to_screen is row by row, GL takes columns.
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) ui.to_screen_gl[c * 4 + r] = ui.to_screen.m[r * 4 + c];
    glLoadMatrixf(ui.to_screen_gl);
    _sys_paint_check(2);

    draw_paint_pre();
    draw_paint(world, viewer, ui.rot, -1);
    _sys_paint_check(3);

    planets_paint(world, 1.0f / (ui.scale * ui.zoom));
    _sys_paint_check(4);

    parts_paint(world);
    _sys_paint_check(5);

    draw_paint(world, viewer, ui.rot, 0);
    // Over the ships: the ships are layer-0 items that take whatever slot is
    // free, so a mod's bar or buttons in layer 0 would have ships drawn over
    // them as soon as a fleet takes a later slot.
    draw_paint(world, viewer, ui.rot, 1);
    draw_paint_post();
    _sys_paint_check(6);

    you_paint(world);
    _sys_paint_check(7);

    gfx_ortho();
    _sys_paint_check(8);
}

void you_paint(Zentar& world) {
    glBlendFunc(GL_ONE, GL_ONE);
    if (world.intro_time < 3.0f) {
        int k = zt_sat_int((3.0f - world.intro_time) * 255 * 0.5f);
        if (k > 255) k = 255;
        glColor4ub(0, (GLubyte)(k * 255 / 256), (GLubyte)(k * 85 / 256), 255);
        double angle = -((double)driver_timer_get_ticks() * 60 / 1000) * 4;
        int img = gfx_img_load("you");
        int top = world.top < ZT_ITEMS ? world.top : ZT_ITEMS;
        for (int n = 1; n < top; n++) {
            const Item& it = world.items[n];
            if (it.in_use != 1 || !it.has_planet) continue;
            int o = it.owner_n;
            if (o < 1 || o >= ZT_ITEMS || !world.items[o].has_player) continue;
            float r = it.fleet_r;
            glPushMatrix();
            glTranslatef(it.position_x, it.position_y, 0);
            glRotatef((float)angle, 0, 0, 1);
            gfx_img_blit(img, -2 * r, -2 * r, 4 * r, 4 * r);
            glPopMatrix();
        }
    }
    glColor4f(1, 1, 1, 1);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}
