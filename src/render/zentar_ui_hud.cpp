// zentar_ui_hud: the controls over a painted match. Rings, connectors and
// hover labels are drawn in world units through the view transform; the
// status line, rank badge and slider in screen units. Only stale selections
// and pointer targets are changed here.
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "shell/builds.h"
#include "render/colorblind.h"
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "world/zentar.h"
#include "render/zentar_draw_paint.h"
#include "render/zentar_paint.h"
#include "render/zentar_ui.h"

static const unsigned HUD_CYAN = 0x00FFFF;

// Fixed-size text fields set by mods or the network need not end in a NUL.
template <size_t N>
static std::string _hud_text(const char (&field)[N]) {
    size_t len = 0;
    while (len < N && field[len]) len++;
    return std::string(field, len);
}

static void _hud_ring(unsigned tex, const ZentarUI& ui, const Item& it) {
    float r = it.fleet_r + 8;
    draw_circle(tex, HUD_CYAN, it.position_x, it.position_y, r, zt_sat_int(ui.scale * ui.zoom * r), 16);
}

// Other planets whose count a label box would cover: the box is in the
// label's own frame (upright on screen, origin at the item), and a planet
// counts with its whole disc.
static int _hud_label_covers(const Zentar& world, const ZentarUI& ui, const Item& it, float x0, float x1, float y0,
                             float y1) {
    float a = -ui.rot * 3.14159265f / 180.0f, c = std::cos(a), s = std::sin(a);
    int n = 0;
    for (int i = 1; i < world.top && i < ZT_ITEMS; i++) {
        const Item& q = world.items[i];
        if (!q.in_use || !q.has_planet || i == it.n) continue;
        float dx = q.position_x - it.position_x, dy = q.position_y - it.position_y;
        float lx = dx * c - dy * s, ly = dx * s + dy * c;
        float nx = std::fmax(x0, std::fmin(lx, x1)), ny = std::fmax(y0, std::fmin(ly, y1));
        float r = q.fleet_r;
        if ((lx - nx) * (lx - nx) + (ly - ny) * (ly - ny) < r * r) n++;
    }
    return n;
}

// The owner's name beside a hovered or aimed-at item, and its production
// when it grows (a neutral planet holds what it has). The label goes to the
// side away from the nearer screen edge, unless there it would cover the
// count of a planet nearby: then to the other side, above or below, where it
// covers the fewest and stays on the screen.
static void _hud_label(Zentar& world, ZentarUI& ui, const Item& it, int font) {
    int o = it.owner_n;
    const Item* owner = zt_slot(o) ? &world.items[o] : nullptr;
    std::string name = _hud_text(owner && !owner->user_neutral ? owner->title_value : it.title_value);
    bool grows = it.has_planet && it.ships_production_enabled && owner && owner->ships_production_factor > 0;
    char prod[16] = "";
    // The sign comes with the number: a planet a mod makes shrink reads "-5", not "+-5".
    if (grows) snprintf(prod, sizeof(prod), "%+d", zt_sat_int(it.ships_production));

    Vector3 s = ui.to_screen * Vector3{it.position_x, it.position_y, 0};
    float r = it.fleet_r;
    // The item's own label (a planet's count) as it is drawn: a count of
    // many digits reaches past the disc, and the name keeps clear of both.
    float left = r, right = r, top = r, bottom = r;
    if (it.has_label) {
        LabelBox c = draw_label_box(it, font_load(_hud_text(it.label_font).c_str(), it.label_size ? it.label_size : 20));
        left = std::fmax(r, -c.x);
        right = std::fmax(r, c.x + (float)c.w);
        top = std::fmax(r, -c.y);
        bottom = std::fmax(r, c.y + (float)c.h);
    }
    float nw = font_get_width(font, name.c_str()), nh = font_get_height(font, name.c_str(), 0);
    float pw = grows ? font_get_width(font, prod) : 0, ph = grows ? font_get_height(font, prod, 0) : 0;
    float w = std::fmax(nw, pw), h = nh + ph;
    // Boxes in the label's frame: x0, y0, x1, y1 (the name's top at y0).
    const float box[4][4] = {
        {right + 12, -nh, right + 12 + w, ph},              // right
        {-(left + 12 + w), -nh, -(left + 12), ph},          // left
        {-w / 2, -(top + 12) - h, w / 2, -(top + 12)},      // above
        {-w / 2, bottom + 12, w / 2, bottom + 12 + h},      // below
    };
    int pick = s.x <= game_get_sw() / 2 ? 0 : 1;
    int least = _hud_label_covers(world, ui, it, box[pick][0], box[pick][2], box[pick][1], box[pick][3]);
    float k = 1.0f / (ui.scale * ui.zoom);
    for (int c = 0; c < 4 && least > 0; c++) {
        const float* b = box[c];
        bool on_screen = s.x + b[0] * k >= 0 && s.x + b[2] * k <= game_get_sw() && s.y + b[1] * k >= 0 &&
                         s.y + b[3] * k <= game_get_sh();
        if (c == pick || !on_screen) continue;
        int n = _hud_label_covers(world, ui, it, b[0], b[2], b[1], b[3]);
        if (n < least) least = n, pick = c;
    }

    glPushMatrix();
    glTranslatef(it.position_x, it.position_y, 0);
    glRotatef(ui.rot, 0, 0, 1);  // upright on screen
    const float* b = box[pick];
    // Right-hand text starts at the box's left edge, left-hand text ends at
    // its right edge, and text above or below is centred.
    auto x_of = [&](float tw) { return pick == 0 ? b[0] : pick == 1 ? b[2] - tw : -tw / 2; };
    float y = pick < 2 ? -nh : b[1];
    font_draw(font, name.c_str(), x_of(nw), y, 0, -1);
    if (grows) font_draw(font, prod, x_of(pw), y + nh, 0, -1);
    glPopMatrix();
}

static bool _hud_has_rank(const Zentar& world, int n) { return zt_slot(n) && world.items[n].user_rank[0]; }

static void _hud_badge(const Item& owner) {
    std::string rank = _hud_text(owner.user_rank) + "000";
    int d[3];
    for (int i = 0; i < 3; i++) {
        char c = rank[i];
        d[i] = (c >= '0' && c <= '9') ? c - '0'
               : (c >= 'a' && c <= 'f') ? c - 'a' + 10
               : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                        : 0;
    }
    const char* fmt[3] = {"flag%d", "wings%d", "stars%d"};
    const int idx[3] = {d[0], d[2], d[1]};
    for (int i = 0; i < 3; i++) {
        char name[16];
        snprintf(name, sizeof(name), fmt[i], idx[i]);
        gfx_img_blit(gfx_img_load(name), 0, 7.333333f, 44, 29.333334f);
    }
}

static void _hud_rank_label(const Item& owner) {
    std::string title = _hud_text(owner.title_value), label = _hud_text(owner.label_text);
    std::string text = label.empty() ? title : title + " - " + label;
    int font = font_load("font-outline", 20);
    draw_color((unsigned)_chat_color_brighten(colorblind_map(owner.render_color)), 255);
    font_draw(font, text.c_str(), 49, (44 - font_get_height(font, text.c_str(), 0)) / 2, 0, -1);
    glColor4f(1, 1, 1, 1);
}

void ui_paint(Zentar& world, ZentarUI& ui, int user) {
    if (!ui.inited) ui_init(world, ui, 0);
    unsigned tex = gfx_img_get_tex(gfx_img_load("line"));
    float gl[16];
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) gl[c * 4 + r] = ui.to_screen.m[r * 4 + c];
    glLoadMatrixf(gl);

    glBlendFunc(GL_ONE, GL_ONE);
    for (int n = 0; n < UI_SEL; n++) {
        if (!ui.sel[n]) continue;
        if (n == 0 || n >= world.top || !world.items[n].in_use) {
            ui.sel[n] = 0;
            continue;
        }
        const Item& it = world.items[n];
        _hud_ring(tex, ui, it);
        int id = ui.sel[n];
        if (id >= 1 && id < UI_PTRS && zt_used(world, ui.ptr[id].target))
            draw_connect(tex, HUD_CYAN, it, world.items[ui.ptr[id].target], 16, 8);
    }
    for (int id = 1; id < UI_PTRS; id++) {
        PointerSlot& p = ui.ptr[id];
        if (!p.active) continue;
        if (p.target && !zt_used(world, p.target)) p.target = 0;
        if (p.over && !zt_used(world, p.over)) p.over = 0;
        if (p.target && !ui.sel[p.target]) _hud_ring(tex, ui, world.items[p.target]);
        if (p.over && p.over != p.target && !ui.sel[p.over]) _hud_ring(tex, ui, world.items[p.over]);
        if (p.box == 1)
            draw_box(tex, HUD_CYAN, p.box_x0, p.box_y0, p.box_x1 - p.box_x0, p.box_y1 - p.box_y0, 16);
    }

    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    draw_color(HUD_CYAN, 255);
    int label_item = 0;
    int play_font = font_load(builds_font_play(), 24);
    for (int id = 1; id < UI_PTRS; id++) {
        const PointerSlot& p = ui.ptr[id];
        if (!p.active) continue;
        int n = p.over ? p.over : p.target;
        if (!n) continue;
        _hud_label(world, ui, world.items[n], play_font);
        label_item = n;
    }

    glColor4f(1, 1, 1, 1);
    gfx_ortho();

    GameParts* game = game_parts();
    bool paused = game && game->view.in_stack("states_pause");
    bool status = ui.gmap_mode != 1 && !paused;
    if (status) ui_paint_status(world);
    bool zoom_icon = !paused && ui.gmap_mode == -1;
    if (zoom_icon) ui_paint_gmap(world, ui);

    if (game && game->settings.x_hide == 1) return;

    int badge = zoom_icon ? 0 : user;
    bool hovered = false;
    if (label_item) {
        int o = world.items[label_item].owner_n;
        if (_hud_has_rank(world, o)) {
            badge = o;
            hovered = true;
        }
    }
    if (!paused && _hud_has_rank(world, badge)) _hud_badge(world.items[badge]);
    if (hovered && builds_zentar_ui_show_rank_label()) _hud_rank_label(world.items[badge]);

    if (!status) return;
    ui_paint_slider(world, ui);  // percentage in the corner cell, then the strip
}

void ui_paint_status(Zentar& world) {
    std::string text = _hud_text(world.status);
    int font = font_load("font-outline", 20);
    int tw = (int)font_get_width(font, text.c_str());
    int th = (int)font_get_height(font, text.c_str(), 0);
    font_draw(font, text.c_str(), (float)((game_get_sw() - tw) / 2), (float)((22 - th) / 2), (float)tw, 0);
}

int _chat_color_brighten(int colour) {
    int r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
    int lum = (int)(0.21 * r + 0.71 * g + 0.07 * b);
    while (lum <= 84) {
        int add = 85 - lum;
        r = r + add > 255 ? 255 : r + add;
        g = g + add > 255 ? 255 : g + add;
        b = b + add > 255 ? 255 : b + add;
        lum = (int)(0.21 * r + 0.71 * g + 0.07 * b);
    }
    return (r << 16) | (g << 8) | b;
}
