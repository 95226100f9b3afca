// zentar_ui_track: the in-match input record's set-up and resets, the
// pointer tracker and the view transform (margins, fit, quarter turn and the
// screen/world matrices).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "shell/game_parts.h"
#include "world/zentar.h"
#include "shell/game_video.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "render/zentar_ui.h"
#include "ruvezor/util/qel_gfx.h"

// ==== tracker ======================================================================

void UITracker::track_reset() {
    pointers.clear();
    count = 0;
    factor = 1.0f;
    flags[0] = flags[1] = 0;
}

bool UITracker::event(const Event&) { return false; }

void UITracker::loop() {}

// Trackers live as long as the process: a ZentarUI is copied and cleared
// wholesale by its users, so it cannot own one.
static std::vector<std::unique_ptr<UITracker>>& _ui_trackers() {
    static std::vector<std::unique_ptr<UITracker>> all;
    return all;
}

void _ui_reset_track(ZentarUI& ui) {
    if (!ui.tracker) {
        _ui_trackers().push_back(std::make_unique<UITracker>());
        ui.tracker = _ui_trackers().back().get();
    }
    ui.tracker->track_reset();
}

// ==== resets =======================================================================

void _ui_reset_controls_all(ZentarUI& ui) {
    std::memset(ui.ptr, 0, sizeof(ui.ptr));
}

void _ui_reset_controls(ZentarUI& ui, int id) {
    if (id >= 0 && id < UI_PTRS) ui.ptr[id] = PointerSlot{};
}

void ui_reset_all(Zentar&, ZentarUI& ui) {
    std::memset(ui.sel, 0, sizeof(ui.sel));
    _ui_reset_controls_all(ui);
    // A slider drag or zoom-icon hold whose release went to another screen
    // (the pause page) is over too; left running, it would replay its old
    // press into the next drag and undo the percentage the slider shows.
    ui.slider_prev = 0;
    ui.gmap_icon = 0;
    _ui_reset_track(ui);
}

void ui_reset(Zentar&, ZentarUI& ui, int id) {
    for (int32_t& s : ui.sel)
        if (s == id) s = 0;
    _ui_reset_controls(ui, id);
    _ui_reset_track(ui);
}

// ==== sizes ========================================================================

void ui_draw_size(int* w, int* h) {
    // Without a GL context (headless, or before the window opens) 2D drawing
    // is not set up; the shell's virtual screen stands in.
    if (!_gfx_is_ready()) {
        *w = game_get_sw();
        *h = game_get_sh();
        return;
    }
    gfx_get_size(w, h);
}

void _ui_zoom_out(Zentar& world, ZentarUI&, float out[4]) {
    if (world.view[2] != 0 && world.view[3] != 0) {
        std::memcpy(out, world.view, sizeof(float) * 4);
        return;
    }
    float x0 = 99999, y0 = 99999, x1 = -99999, y1 = -99999;
    int top = std::min(world.top, ZT_ITEMS);
    for (int n = 1; n < top; n++) {
        const Item& it = world.items[n];
        if (!it.in_use || !it.has_select || !it.has_planet) continue;
        float r = it.fleet_r;
        x0 = std::min(x0, it.position_x - r);
        y0 = std::min(y0, it.position_y - r);
        x1 = std::max(x1, it.position_x + r);
        y1 = std::max(y1, it.position_y + r);
    }
    out[0] = x0;
    out[1] = y0;
    out[2] = x1 - x0;
    out[3] = y1 - y0;
}

// ==== transform ====================================================================

void _ui_calc_view(Zentar&, ZentarUI& ui) {
    GameParts* g = game_parts();
    float s = ui.options.ui_slider > 0 ? UI_EDGE : 0;
    float l, r, t, b;
    if (g && g->settings.x_hide == 1) {
        l = r = t = b = 44;
    } else if (ui.gmap_mode == 1) {
        l = r = t = b = 10;
    } else if (ui.orient_lock == 2) {
        l = r = 0;
        t = b = 44;
    } else if (ui.orient_lock == 1) {
        l = r = t = b = 0;
    } else if (ui.options.ui_lefty > 0) {
        l = 10 + s;
        r = 10;
        t = b = 22;
    } else {
        l = 10;
        r = 10 + s;
        t = b = 22;
    }
    ui.area[0] = ui.screen[0] + l;
    ui.area[1] = ui.screen[1] + t;
    ui.area[2] = ui.screen[2] - l - r;
    ui.area[3] = ui.screen[3] - t - b;
}

// A ratio that stays finite when the area has no size (a tiny window).
static float _ui_ratio(float a, float b) {
    if (b <= 0) return a > 0 ? 1e9f : 0.0f;
    return a / b;
}

void _ui_calc_trans(Zentar&, ZentarUI& ui) {
    float vw = ui.view[2], vh = ui.view[3], aw = ui.area[2], ah = ui.area[3];
    float fit = std::max(_ui_ratio(vw, aw), _ui_ratio(vh, ah));
    float turned = std::max(_ui_ratio(vw, ah), _ui_ratio(vh, aw));
    ui.rot = 0;
    ui.scale = fit;
    if (ui.orient_lock == 0 && fit > turned) {
        ui.rot = 90;
        ui.scale = turned;
    }
}

void _ui_calc_matrix(Zentar&, ZentarUI& ui) {
    float acx = ui.area[0] + ui.area[2] / 2, acy = ui.area[1] + ui.area[3] / 2;
    float vcx = ui.view[0] + ui.view[2] / 2, vcy = ui.view[1] + ui.view[3] / 2;
    // Transforms stack onto the left: the last one written acts last.
    Matrix4 m;
    m.translate(-acx, -acy, 0);
    m.rotateZ(ui.rot);
    m.scale(ui.scale);
    m.scale(ui.zoom);
    m.translate(vcx, vcy, 0);
    m.translate(ui.pan_x, ui.pan_y, 0);
    ui.to_world = m;
    // The steps undone in reverse. A close view (a few world units across)
    // scales by so little that a general inverse takes the matrix for a
    // singular one and gives the identity: the frame then showed another
    // part of the map at another size. A view of no size has no inverse.
    if (!(ui.scale > 0 && ui.zoom > 0 && std::isfinite(1 / ui.scale) && std::isfinite(1 / ui.zoom))) {
        ui.to_screen = m;
        ui.to_screen.invert();
        return;
    }
    Matrix4 s;
    s.translate(-ui.pan_x, -ui.pan_y, 0);
    s.translate(-vcx, -vcy, 0);
    s.scale(1 / ui.zoom);
    s.scale(1 / ui.scale);
    s.rotateZ(-ui.rot);
    s.translate(acx, acy, 0);
    ui.to_screen = s;
}

Vector3 ui_to_world(const ZentarUI& ui, float x, float y) {
    return ui.to_world * Vector3{x, y, 0};
}

Vector3 ui_to_world_delta(const ZentarUI& ui, float dx, float dy) {
    const float* m = ui.to_world.m;
    return Vector3{m[0] * dx + m[1] * dy, m[4] * dx + m[5] * dy, m[8] * dx + m[9] * dy};
}

// ==== life =========================================================================

void ui_init(Zentar& world, ZentarUI& ui, int force) {
    if (!force && ui.inited) return;
    ui_reset_all(world, ui);
    ui.inited = 1;
    ui.percent = ui.options.ui_percent ? ui.options.ui_percent : 50;
    if (ui.percent_next) {
        ui.percent = ui.percent_next;
        ui.percent_next = 0;
    }
    if (!ui.screen_set) {
        int w = 0, h = 0;
        ui_draw_size(&w, &h);
        ui.screen_set = 1;
        ui.screen[0] = ui.screen[1] = 0;
        ui.screen[2] = (float)w;
        ui.screen[3] = (float)h;
    }
    _ui_calc_view(world, ui);
    _ui_zoom_out(world, ui, ui.view);
    ui.gmap_mode = 0;
    ui.view_target[2] = ui.view_target[3] = 0;
    ui.rot = 0;
    ui.zoom = 1.0f;
    ui.pan_x = ui.pan_y = 0;
    _ui_calc_trans(world, ui);
    _ui_calc_matrix(world, ui);
}

void ui_calc_trans(Zentar& world, ZentarUI& ui) {
    ui_init(world, ui, 0);
    _ui_calc_view(world, ui);
    _ui_calc_trans(world, ui);
    _ui_calc_matrix(world, ui);
}

void ui_view_set(Zentar& world, ZentarUI& ui, float x, float y, float w, float h) {
    world.view[0] = x;
    world.view[1] = y;
    world.view[2] = w;
    world.view[3] = h;
    ui_init(world, ui, 0);
    ui.view[0] = x;
    ui.view[1] = y;
    ui.view[2] = w;
    ui.view[3] = h;
    _ui_calc_view(world, ui);
    _ui_calc_trans(world, ui);
    _ui_calc_matrix(world, ui);
}

int ui_loop(Zentar& world, ZentarUI& ui) {
    ui_init(world, ui, 0);
    if (!ui.tracker) _ui_reset_track(ui);  // a record marked set up from outside
    ui_gmap_loop(world, ui);
    if (ui.gmap_mode) ui.tracker->loop();
    return ui.tracker->track_size();
}
