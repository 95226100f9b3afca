// zentar_ui_event: one input event of a match turned into selections, hover
// targets, sends and redirects; keys, the wheel and the slider change the
// send percentage; the map overview zooms in and out of a large map.
//
// The slider and the overview work in logical screen units; past them every
// pointer event is carried in world units (to_world), its logical values
// kept in the raw_ fields.
#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "mods/mods_api.h"
#include "render/zentar_ui.h"
#include "shell/builds.h"
#include "shell/game_parts.h"
#include "world/zentar.h"
#include "shell/game_video.h"
#include "shell/game_settings.h"
#include "world/zentar_sim.h"

ZentarUICommands zentar_ui_commands{};

namespace {

enum { EV_KEY = 6, EV_PRESS = 8, EV_MOTION = 9, EV_RELEASE = 10, EV_WHEEL = 14 };
const int MOUSE = 1;
const int BACKQUOTE = 96;
const int STEPS_MAX = 1024;  // a fling across a huge map is walked in at most this many steps

// The running game's parts when this world is its own, or null for a world
// of its own.
GameParts* _ui_game(Zentar& world) {
    GameParts* g = game_parts();
    return g && &g->world == &world ? g : nullptr;
}

Item* _ui_item(Zentar& world, int n) {
    if (!zt_used(world, n)) return nullptr;
    return &world.items[n];
}

// With no local player nothing counts as one's own.
bool _ui_own(const Item& it, int user) { return user != 0 && it.owner_n == user; }

bool _ui_pointer(const Event& e) {
    return e.type == EV_PRESS || e.type == EV_MOTION || e.type == EV_RELEASE;
}

int _ui_top(Zentar& world) { return std::clamp(world.top, 0, ZT_ITEMS); }

int _ui_clamp_percent(int p) { return std::clamp(p, 5, 100); }

void _ui_send(Zentar& world, int percent, int from, int to) {
    if (zentar_ui_commands.send && zentar_ui_commands.send(world, percent, from, to)) return;
    z2_send(world, percent, from, to);
}

void _ui_redirect(Zentar& world, int fleet, int to) {
    if (zentar_ui_commands.redirect && zentar_ui_commands.redirect(world, fleet, to)) return;
    z2_redirect(world, fleet, to);
}

void _ui_recalc(Zentar& world, ZentarUI& ui) {
    _ui_calc_view(world, ui);
    _ui_calc_trans(world, ui);
    _ui_calc_matrix(world, ui);
}

// What the steps of one movement share. A movement is walked in up to 1,025
// steps, and a step would look at every item slot to count the selection and
// find the item under the pointer. During a movement nothing but the rubber
// band changes the selection and nothing changes the items, so this is
// worked out once: the items close enough to the path to be found, the
// selection counts (kept up to date by the band), and the band's own
// planets and units when it needs them.
struct UIMotion {
    std::vector<int> near;              // may be found at some step, in slot order
    std::vector<int> here;              // of them, those that may be found at this step, in slot order
    int top = 0;                        // slots counted: 1 .. top-1
    int count = 0, mine = 0;            // selected items; of them, by this pointer
    bool band_lists = false;            // planets and units below are filled
    std::vector<int> planets, units;    // own planets the band may take; own units
};

// Items in use that ui_find may return somewhere within `reach` of the
// segment (x0, y0)-(x1, y1): those past it by more than their radius can
// never be under a step.
void _ui_motion_near(Zentar& world, int user, double x0, double y0, double x1, double y1, double reach,
                     std::vector<int>& out) {
    Item* u = _ui_item(world, user);
    bool redirect = u && u->ui_fleet_redirect;
    double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    int top = _ui_top(world);
    for (int n = 1; n < top; n++) {
        const Item& it = world.items[n];
        if (!it.in_use || !it.has_select) continue;
        if (it.has_unit && !(_ui_own(it, user) && redirect)) continue;
        if (it.has_planet && (it.planet_mask & 8)) continue;
        double px = it.position_x, py = it.position_y, r = it.fleet_r;
        if (std::isfinite(px) && std::isfinite(py) && std::isfinite(r)) {
            double t = len2 > 0 ? std::clamp(((px - x0) * dx + (py - y0) * dy) / len2, 0.0, 1.0) : 0.0;
            double ex = x0 + t * dx - px, ey = y0 + t * dy - py;
            double limit = reach + r;
            if (limit < 0 || ex * ex + ey * ey > limit * limit) continue;
        }
        out.push_back(n);
    }
}

// The steps 0 .. n of the segment (x0, y0)-(x1, y1) at which item n can be
// within `reach` of the pointer: those near where the segment passes the
// item. A long flick across a crowded map passes many items, each close to
// only a few of its steps. Every step outside the range is farther from
// the item than reach plus its radius, with room to spare for the
// rounding of the steps' positions (which reach covers); an item whose
// numbers are not finite may be found anywhere.
void _ui_motion_range(const Item& it, double x0, double y0, double x1, double y1, double reach, int n,
                      int& lo, int& hi) {
    lo = 0;
    hi = n;
    double px = it.position_x, py = it.position_y, r = it.fleet_r;
    if (!std::isfinite(px) || !std::isfinite(py) || !std::isfinite(r)) return;
    double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    if (!(len2 > 0)) return;
    double limit = reach + r;
    double t = ((px - x0) * dx + (py - y0) * dy) / len2;  // closest approach, in lengths of the segment
    double ex = x0 + t * dx - px, ey = y0 + t * dy - py;
    double h2 = (limit * limit - (ex * ex + ey * ey)) / len2;
    if (!(h2 >= 0)) h2 = 0;  // near the ends only; the clamp below keeps the end steps
    double h = std::sqrt(h2);
    double first = std::floor((t - h) * n) - 1, last = std::ceil((t + h) * n) + 1;
    lo = first <= 0 ? 0 : first >= n ? n : static_cast<int>(first);
    hi = last >= n ? n : last <= 0 ? 0 : static_cast<int>(last);
}

}  // namespace

// ==== dispatcher ====================================================================

int ui_event(Zentar& world, ZentarUI& ui, int user, Event e) {
    return _ui_event(world, ui, user, e, 1);
}

int _ui_event(Zentar& world, ZentarUI& ui, int user, Event e, int allow) {
    ui_init(world, ui, 0);
    if (allow) {
        if (ui.gmap_mode != 1) {
            if (int r = ui_slider(world, ui, user, e)) return r;
        }
        if (int r = ui_gmap(world, ui, user, e)) return r;
        if (ui.gmap_mode == 1) return 0;
    }

    bool accepted = true;
    GameParts* g = _ui_game(world);
    if (g && g->mods_engine && g->mods_api) {
        std::string state = g->mods_api->param_get("state").__str__();
        accepted = state != "tabs" && state != "scene";
    }

    if (_ui_pointer(e)) {
        Event w = e;
        Vector3 p = ui_to_world(ui, e.x, e.y);
        Vector3 d = ui_to_world_delta(ui, e.dx, e.dy);
        w.x = p.x;
        w.y = p.y;
        w.dx = d.x;
        w.dy = d.y;
        w.raw_x = e.x;
        w.raw_y = e.y;
        w.raw_dx = e.dx;
        w.raw_dy = e.dy;
        if (ui_event_button(world, ui, w)) return 1;
        if (!accepted) return 0;
        ui_event_motion(world, ui, user, w);
        return 1;
    }
    if (!accepted) return 0;

    if (e.type == EV_KEY) {
        int step = 0;
        switch (e.key) {
            case 1: step = 5; break;
            case 3: step = -5; break;
            case 77: step = 25; break;
            case 78: step = -25; break;
            default: break;
        }
        if (step) {
            ui.percent = _ui_clamp_percent(ui.percent + step);
            return 1;
        }
        // The digit as typed, or from its key (main row 64..73, keypad 28..37)
        // when text input is off; both set the same value.
        int digit = -1;
        if (e.unicode >= '0' && e.unicode <= '9') digit = e.unicode - '0';
        else if (e.key >= 64 && e.key <= 73) digit = e.key - 64;
        else if (e.key >= 28 && e.key <= 37) digit = e.key - 28;
        if (digit >= 0) {
            ui.percent = _ui_clamp_percent(digit ? digit * 10 : 100);
            return 1;
        }
        return 0;
    }
    if (e.type == EV_WHEEL) {
        float v = ui.options.ui_wheel_invert > 0 ? -e.dy : e.dy;
        ui.percent = _ui_clamp_percent(ui.percent + (v > 0 ? -5 : 5));
        return 1;
    }
    return 0;
}

// ==== touch buttons and lookup =======================================================

Item* ui_find_button(Zentar& world, float x, float y) {
    Item* best = nullptr;
    float best_d = 0;
    int top = _ui_top(world);
    for (int n = 1; n < top; n++) {
        Item& it = world.items[n];
        if (!it.in_use || !it.has_button) continue;
        float x0 = it.position_x - it.image_cx * it.image_scale;
        float x1 = it.position_x + (it.image_w - it.image_cx) * it.image_scale;
        float y0 = it.position_y - it.image_cy * it.image_scale;
        float y1 = it.position_y + (it.image_h - it.image_cy) * it.image_scale;
        if (x < x0 || x > x1 || y < y0 || y > y1) continue;
        float d = std::hypot(x - (x0 + x1) / 2, y - (y0 + y1) / 2);
        if (!best || d <= best_d) {
            best = &it;
            best_d = d;
        }
    }
    return best;
}

int ui_event_button(Zentar& world, ZentarUI&, Event e) {
    if (!_ui_pointer(e)) return 0;
    Item* button = ui_find_button(world, e.x, e.y);
    GameParts* g = _ui_game(world);
    if (g && g->mods_engine) {
        var ev(VAR_DICT, 0);
        ev["type"] = var(e.type == EV_PRESS ? "ui:down" : e.type == EV_MOTION ? "ui:motion" : "ui:up");
        ev["value"] = var(button ? std::string(button->button_name,
                                               strnlen(button->button_name, sizeof(button->button_name)))
                                 : std::string());
        ev["x"] = var(e.x);
        ev["y"] = var(e.y);
        ev["dx"] = var(e.dx);
        ev["dy"] = var(e.dy);
        ev["n"] = var(button ? button->n : 0);
        ev["b"] = var(e.b);
        mods_event(*g, ev);
    }
    return button ? 1 : 0;
}

namespace {

// ui_find over the given slots (in slot order), or over the whole table.
Item* _ui_find_among(Zentar& world, int user, float x, float y, int own_equal, const std::vector<int>* slots) {
    Item* u = _ui_item(world, user);
    bool redirect = u && u->ui_fleet_redirect;
    Item* best = nullptr;
    float best_score = -99999;
    int top = _ui_top(world);
    int count = slots ? static_cast<int>(slots->size()) : std::max(top - 1, 0);
    for (int k = 0; k < count; k++) {
        int n = slots ? (*slots)[static_cast<size_t>(k)] : k + 1;
        Item& it = world.items[n];
        if (!it.in_use || !it.has_select) continue;
        if (it.has_unit && !(_ui_own(it, user) && redirect)) continue;
        if (it.has_planet && (it.planet_mask & 8)) continue;
        float d = std::hypot(x - it.position_x, y - it.position_y) - it.fleet_r;
        if (!(d <= 15)) continue;
        float pref = (it.has_planet ? 1.0f : 0.0f) + (_ui_own(it, user) && !own_equal ? 2.0f : 0.0f);
        float penalty = 0;
        if (it.has_unit) {
            Item* f = _ui_item(world, it.unit_fleet);
            float fd = f ? std::hypot(x - f->position_x, y - f->position_y) : 0.0f;
            float ships = f ? std::max(0.0f, f->fleet_ships) : 0.0f;
            penalty = 100 * (1 - std::pow(0.5f, std::log10(std::max(1.0f, fd)))) +
                      100 * std::pow(0.5f, std::log10(std::max(1.0f, std::sqrt(ships))));
        }
        float score = 1000 * pref - (penalty + d);
        if (score >= best_score) {
            best_score = score;
            best = &it;
        }
    }
    if (best && best->has_unit) best = _ui_item(world, best->unit_fleet);
    return best;
}

}  // namespace

Item* ui_find(Zentar& world, ZentarUI&, int user, float x, float y, int own_equal) {
    return _ui_find_among(world, user, x, y, own_equal, nullptr);
}

// ==== commands ========================================================================

int ui_to_set(Zentar& world, ZentarUI& ui, int user, int id, int target) {
    if (id < 0 || id >= UI_PTRS) return 0;
    PointerSlot& s = ui.ptr[id];
    Item* t = _ui_item(world, target);
    if (t && t->has_unit) t = _ui_item(world, t->unit_fleet);
    if (!t) {
        s.target = 0;
        return 0;
    }
    Item* u = _ui_item(world, user);
    int mask = u ? (uint8_t)u->ui_to_mask : 15;
    s.target = (zt_aim_kinds(world, user, *t) & mask) ? t->n : 0;
    return s.target ? 1 : 0;
}

void ui_deploy(Zentar& world, ZentarUI& ui, int user, int id) {
    if (id < 0 || id >= UI_PTRS) return;
    int t = ui.ptr[id].target;
    if (zt_slot(t)) {
        ui.sel[t] = 0;
        for (int n = 1; n < ZT_ITEMS; n++) {
            if (ui.sel[n] != id) continue;
            Item& it = world.items[n];
            if (!it.in_use || !_ui_own(it, user)) continue;
            if (it.has_planet) _ui_send(world, ui.percent, n, t);
            else if (it.has_fleet) _ui_redirect(world, n, t);
        }
    }
    for (int32_t& s : ui.sel)
        if (s == id) s = 0;
    _ui_reset_controls(ui, id);
    _ui_reset_track(ui);
}

void ui_select_all(Zentar& world, ZentarUI& ui, int user, int id) {
    std::fill(std::begin(ui.sel), std::end(ui.sel), 0);
    int top = _ui_top(world);
    for (int n = 1; n < top; n++) {
        const Item& it = world.items[n];
        if (it.in_use && it.has_planet && _ui_own(it, user)) ui.sel[n] = id;
    }
}

namespace {

// Marks slot n with pointer id, keeping a movement's counts.
void _ui_mark(ZentarUI& ui, int n, int id, UIMotion* m) {
    if (m && n < m->top) {
        m->count += ui.sel[n] == 0;
        m->mine += ui.sel[n] != id;
    }
    ui.sel[n] = id;
}

void _ui_box(Zentar& world, ZentarUI& ui, int user, int id, int final, UIMotion* m) {
    PointerSlot& s = ui.ptr[id];
    float l = std::min(s.box_x0, s.box_x1), r = std::max(s.box_x0, s.box_x1);
    float t = std::min(s.box_y0, s.box_y1), b = std::max(s.box_y0, s.box_y1);
    if (r - l > 5 || b - t > 5) {
        s.box = 1;
        ui_to_set(world, ui, user, id, 0);
    }
    if (s.box == 1) {
        std::fill(std::begin(ui.sel), std::end(ui.sel), 0);
        if (m) m->count = m->mine = 0;
    }

    int top = _ui_top(world);
    if (m && !m->band_lists) {
        for (int n = 1; n < top; n++) {
            const Item& it = world.items[n];
            if (!it.in_use || !_ui_own(it, user)) continue;
            if (it.has_planet && !(it.planet_mask & 8)) m->planets.push_back(n);
            if (it.has_unit) m->units.push_back(n);
        }
        m->band_lists = true;
    }
    bool any = false;
    auto band_planet = [&](int n) {
        const Item& it = world.items[n];
        if (!it.in_use || !it.has_planet || !_ui_own(it, user) || (it.planet_mask & 8)) return;
        if (it.position_x < l || it.position_x > r || it.position_y < t || it.position_y > b) return;
        _ui_mark(ui, n, id, m);
        any = true;
    };
    if (m) {
        for (int n : m->planets) band_planet(n);
    } else {
        for (int n = 1; n < top; n++) band_planet(n);
    }
    if (any) return;

    if (std::hypot(r - l, b - t) < 15) {
        Item* hit = ui_find(world, ui, user, (l + r) / 2, (t + b) / 2, 0);
        if (hit && _ui_own(*hit, user)) _ui_mark(ui, hit->n, id, m);
        return;
    }

    bool marked = false;
    Item* u = _ui_item(world, user);
    if (u && u->ui_fleet_redirect) {
        float cx = (l + r) / 2, cy = (t + b) / 2;
        float hw = std::max(r - l, 15.0f) / 2, hh = std::max(b - t, 15.0f) / 2;
        auto band_unit = [&](int n) {
            const Item& it = world.items[n];
            if (!it.in_use || !it.has_unit || !_ui_own(it, user)) return;
            if (std::fabs(it.position_x - cx) > hw || std::fabs(it.position_y - cy) > hh) return;
            if (!_ui_item(world, it.unit_fleet)) return;
            _ui_mark(ui, it.unit_fleet, id, m);
            marked = true;
        };
        if (m) {
            for (int n : m->units) band_unit(n);
        } else {
            for (int n = 1; n < top; n++) band_unit(n);
        }
    }
    if (final && !marked) {
        for (int32_t& v : ui.sel)
            if (v == id) v = 0;
        _ui_reset_controls(ui, id);
        _ui_reset_track(ui);
    }
}

}  // namespace

void ui_box(Zentar& world, ZentarUI& ui, int user, int id, int final) { _ui_box(world, ui, user, id, final, nullptr); }

// ==== the mouse gesture ================================================================

void ui_event_motion(Zentar& world, ZentarUI& ui, int user, Event e) {
    int cls = 0;
    if (e.type == EV_MOTION) {
        if (e.b == 2) return;  // middle button alone pans the overview
        cls = e.b ? 1 : 0;
    } else {
        cls = (e.b >= 1 && e.b <= 3) ? e.b : 0;
        if (cls == 2) return;
    }
    ui.ptr[MOUSE].active = -1;
    _ui_event_motion(world, ui, user, MOUSE, cls, e);
    if (e.type == EV_RELEASE) _ui_reset_controls(ui, MOUSE);
    if (e.type == EV_PRESS || e.type == EV_RELEASE) {
        // The hover state follows at once.
        Event m = e;
        m.type = EV_MOTION;
        m.dx = m.dy = 0;
        ui.ptr[MOUSE].active = -1;
        _ui_event_motion(world, ui, user, MOUSE, cls, m);
    }
}

namespace {

void _ui_motion_step(Zentar& world, ZentarUI& ui, int user, int id, int button, Event e, UIMotion* m);

}  // namespace

void _ui_event_motion(Zentar& world, ZentarUI& ui, int user, int id, int button, Event e) {
    if (e.type != EV_MOTION) {
        _ui_event_motion_do(world, ui, user, id, button, e);
        return;
    }
    float len = std::hypot(e.dx, e.dy);
    int n = std::isfinite(len) ? (int)std::min(len + 1, (float)STEPS_MAX) : 1;
    float x0 = e.x - e.dx, y0 = e.y - e.dy, x1 = e.x, y1 = e.y;
    if (!std::isfinite(x0) || !std::isfinite(y0)) x0 = x1, y0 = y1;

    // The steps lie on the segment but for rounding, which the reach covers.
    UIMotion motion;
    UIMotion* m = nullptr;
    double reach = 16 + 1e-5 * (std::fabs(x0) + std::fabs(y0) + std::fabs(x1) + std::fabs(y1));
    // Pointer 0 would mark slots with the value that means unselected, which
    // the counts cannot follow; it takes the slow road.
    if (std::isfinite(x1) && std::isfinite(y1) && id >= 1 && id < UI_PTRS) {
        _ui_motion_near(world, user, x0, y0, x1, y1, reach, motion.near);
        int top = motion.top = _ui_top(world);
        for (int k = 1; k < top; k++) {
            motion.count += ui.sel[k] != 0;
            motion.mine += ui.sel[k] == id;
        }
        m = &motion;
    }
    // Each step looks only at the near items it can find: they enter the
    // list at the first step of their range and leave after the last.
    struct Span {
        int lo, hi, slot;
    };
    std::vector<Span> spans;
    if (m) {
        spans.reserve(m->near.size());
        for (int slot : m->near) {
            Span sp{0, n, slot};
            _ui_motion_range(world.items[slot], x0, y0, x1, y1, reach, n, sp.lo, sp.hi);
            spans.push_back(sp);
        }
        std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.lo < b.lo; });
    }
    size_t entered = 0;
    std::vector<Span> open;  // entered, in slot order
    for (int i = 0; i <= n; i++) {
        if (m) {
            for (; entered < spans.size() && spans[entered].lo <= i; entered++) {
                const Span& sp = spans[entered];
                auto at = std::lower_bound(open.begin(), open.end(), sp.slot,
                                           [](const Span& a, int slot) { return a.slot < slot; });
                open.insert(at, sp);
            }
            open.erase(std::remove_if(open.begin(), open.end(), [i](const Span& sp) { return sp.hi < i; }),
                       open.end());
            m->here.clear();
            for (const Span& sp : open) m->here.push_back(sp.slot);
        }
        Event s = e;
        s.x = ((n - i) * x0 + i * x1) / n;
        s.y = ((n - i) * y0 + i * y1) / n;
        s.dx = s.dy = 0;
        _ui_motion_step(world, ui, user, id, button, s, m);
    }
}

void _ui_event_motion_do(Zentar& world, ZentarUI& ui, int user, int id, int button, Event e) {
    _ui_motion_step(world, ui, user, id, button, e, nullptr);
}

namespace {

// One step of the gesture; m, when given, holds what the steps of a
// movement share (a press or release has none).
void _ui_motion_step(Zentar& world, ZentarUI& ui, int user, int id, int button, Event e, UIMotion* m) {
    if (id < 0 || id >= UI_PTRS) return;
    PointerSlot& s = ui.ptr[id];
    const UIOptions& o = ui.options;
    bool press = e.type == EV_PRESS, motion = e.type == EV_MOTION, release = e.type == EV_RELEASE;
    bool tap = o.ui_drag_drop <= 0;

    int count = 0, mine = 0;
    if (m) {
        count = m->count;
        mine = m->mine;
    } else {
        int top = _ui_top(world);
        for (int n = 1; n < top; n++) {
            if (ui.sel[n]) count++;
            if (ui.sel[n] == id) mine++;
        }
    }
    if (count > 0) world.intro_time = std::max(world.intro_time, 1.0f);

    Item* hit = _ui_find_among(world, user, e.x, e.y, mine > 0, m ? &m->here : nullptr);
    Item* planet = hit && hit->has_planet ? hit : nullptr;

    if (release) s.over = 0;
    else s.over = planet ? planet->n : 0;
    if (press) s.pressed = 1;

    if (e.b != 0 && !press && !s.pressed) return;

    bool band = o.ui_box > 0 && s.box != 0;
    if (motion && !planet && !band) {
        if (button == 0) ui_to_set(world, ui, user, id, 0);
        s.source = std::abs(s.source);
        return;
    }
    if (count > 0 && !band && motion && planet) {
        if (button == 0) ui_to_set(world, ui, user, id, 0);
        if (planet->n != s.source && planet->n != -s.source) {
            ui_to_set(world, ui, user, id, planet->n);
            s.source = std::abs(s.source);
        } else {
            ui_to_set(world, ui, user, id, 0);
        }
        return;
    }

    if (button == 3 && (press || release)) {
        if (count == 0) return;
        if (planet) ui_to_set(world, ui, user, id, planet->n);
        if (s.target) ui_deploy(world, ui, user, id);
        return;
    }

    if (press && planet && _ui_own(*planet, user) && (SDL_GetModState() & KMOD_SHIFT)) {
        s.box = 0;
        ui_select_all(world, ui, user, id);
        ui_to_set(world, ui, user, id, 0);
        s.source = planet->n;
        return;
    }

    if (band) {
        if (motion) {
            s.box_x1 = e.x;
            s.box_y1 = e.y;
            _ui_box(world, ui, user, id, 0, m);
            if (s.box == 1) s.over = 0;
        } else if (release) {
            ui_box(world, ui, user, id, 1);
            s.box = 0;
            s.source = 0;
        }
        return;
    }

    Item* cand = count > 0 ? hit : (hit && _ui_own(*hit, user) ? hit : nullptr);
    if (cand && cand->has_fleet) {
        if (!(o.ui_drag_drop > 0 && ui.sel[cand->n])) cand = nullptr;
    } else if (cand && tap && count == 0) {
        cand = nullptr;
    }

    if (o.ui_box > 0 && !cand) {
        if (press) {
            s.box = -1;
            s.box_x0 = s.box_x1 = e.x;
            s.box_y0 = s.box_y1 = e.y;
            return;
        }
    } else if (press && hit) {
        if (!_ui_own(*hit, user)) return;
        if (ui.sel[hit->n]) {
            s.source = -hit->n;
        } else {
            ui.sel[hit->n] = id;
            s.source = hit->n;
        }
        if (o.ui_double_reinforce <= 0) ui_to_set(world, ui, user, id, 0);
        return;
    }

    if (!release) return;

    bool right = button == 3;
    if (count > 0 && !hit) {
        if (tap) ui_reset(world, ui, id);
        else if (o.ui_right_only > 0 && !right && s.source == 0) return;
        else if (s.target) ui_deploy(world, ui, user, id);
        else if (s.source == 0) ui_reset_all(world, ui);
        return;
    }
    if (!hit) return;

    bool own = _ui_own(*hit, user);
    bool again = hit->n == -s.source;  // a second tap on a planet that was selected
    if (o.ui_double_select > 0 && count == 1 && hit->has_planet && own && ui.sel[hit->n] && again) {
        ui_select_all(world, ui, user, id);
        s.source = hit->n;
        return;
    }
    if (o.ui_double_reinforce <= 0) {
        if (own && again) {
            ui.sel[hit->n] = 0;
            s.source = 0;
            ui_to_set(world, ui, user, id, 0);
            return;
        }
    } else if (o.ui_right_only <= 0) {
        if (hit->has_planet && own && ui.sel[hit->n] && again) {
            // Through the mask like every other target: a mod that blocks
            // sends blocks this one too (a host would refuse it anyway).
            ui_to_set(world, ui, user, id, hit->n);
            ui_deploy(world, ui, user, id);
            return;
        }
    }
    if (o.ui_right_only > 0 && !right && s.source == 0) return;

    if (tap && s.source != 0) return;
    if (own && (hit->n == s.source || hit->n == -s.source)) {
        ui_to_set(world, ui, user, id, 0);
        s.source = 0;
        return;
    }
    if (hit->has_planet) {
        ui_to_set(world, ui, user, id, hit->n);
        ui_deploy(world, ui, user, id);
    } else {
        ui_to_set(world, ui, user, id, 0);
        s.source = 0;
    }
}

}  // namespace

// ==== slider =============================================================================

UIRect ui_slider_rect(Zentar&, ZentarUI& ui) {
    int sw = 0, sh = 0;
    ui_draw_size(&sw, &sh);
    GameParts* g = game_parts();
    bool hide = g && g->settings.x_hide == 1;
    UIRect r;
    r.x = ui.options.ui_lefty > 0 ? -1.0f : (float)sw - UI_EDGE;
    r.y = 66;
    r.w = hide ? 0 : UI_EDGE;
    r.h = (float)sh - 132;
    return r;
}

int ui_slider_percent(float y, float h) {
    float p = 100 - ((y - 77) * 95) / (h - 22);
    if (!std::isfinite(p)) return y <= 77 ? 100 : 5;  // a strip too short to slide on
    if (p > 100) return 100;
    if (p < 5) return 5;
    return ((int)p * 2 + 7) / 10 * 5;
}

int ui_slider(Zentar& world, ZentarUI& ui, int user, Event e) {
    float x = e.x, y = e.y;
    int b = e.b;
    if ((e.type == EV_PRESS || e.type == EV_RELEASE) && b == 3) return 0;
    int sw = 0, sh = 0;
    ui_draw_size(&sw, &sh);
    UIRect r = ui_slider_rect(world, ui);
    bool strictly_in = x > r.x && x < r.x + r.w;
    bool in_column = x >= r.x && x <= r.x + r.w;

    if (e.type == EV_PRESS && y > (float)sh - UI_EDGE && strictly_in) {
        ui.slider_press = e;
        ui.slider_prev = -ui.percent;
        GameParts* g = game_parts();
        if (g && g->settings.x_pause == 1) return 1;
        ui.percent = (ui.percent + 25) / 25 * 25;
        if (ui.percent > 100) ui.percent = 25;
        return 1;
    }

    if (ui.slider_prev != 0 && ui.slider_press.b == b) {
        if (e.type == EV_MOTION) {
            if (b == 0) return 0;
            if (in_column) {
                if (ui.slider_prev >= 1) ui.percent = ui_slider_percent(y, r.h);
                return 1;
            }
            ui.percent = std::abs(ui.slider_prev);
            ui.slider_prev = 0;
            Event press = ui.slider_press;
            _ui_event(world, ui, user, press, 0);
            return 0;
        }
        if (e.type == EV_RELEASE) {
            ui.slider_prev = 0;
            return 0;
        }
    }

    if (ui.options.ui_slider > 0 && e.type == EV_PRESS && y >= 66 && y <= r.h + 66 && in_column) {
        ui.slider_prev = ui.percent;
        ui.percent = ui_slider_percent(y, r.h);
        ui.slider_press = e;
        return 1;
    }
    return 0;
}

// ==== map overview =========================================================================

UIRect ui_gmap_rect() { return UIRect{0, 0, UI_EDGE, UI_EDGE}; }

void ui_gmap_loop(Zentar& world, ZentarUI& ui) {
    int was = ui.gmap_mode;
    if (ui.gmap_mode == 0) {
        float sw = (float)game_get_sw(), sh = (float)game_get_sh();
        float W = std::ceil(1.5f * sw + 1), H = std::ceil(1.5f * sh + 1);
        float vw = ui.view[2], vh = ui.view[3];
        if ((vw > W || vh > H) && (vw > H || vh > W)) ui.gmap_mode = 1;
    }
    if (ui.orient_lock != 0 || !builds_zentar_ui_use_gmap()) ui.gmap_mode = 0;
    if (ui.gmap_mode != was) _ui_recalc(world, ui);  // the margins follow the mode

    if (ui.gmap_mode != 0 && ui.view_target[2] != 0 && ui.view_target[3] != 0) {
        bool close = true;
        for (int i = 0; i < 4; i++)
            if (!(std::fabs(ui.view[i] - ui.view_target[i]) < 1)) close = false;
        if (!close) {
            for (int i = 0; i < 4; i++) ui.view[i] = 0.65f * ui.view[i] + 0.35f * ui.view_target[i];
            _ui_calc_trans(world, ui);
            _ui_calc_matrix(world, ui);
        }
    }
}

void ui_zoom_out(Zentar& world, ZentarUI& ui) {
    int sw = 0, sh = 0;
    ui_draw_size(&sw, &sh);
    Vector3 o = ui_to_world(ui, 0, 0);
    Vector3 d = ui_to_world_delta(ui, (float)sw, (float)sh);
    ui.gmap_window[0] = o.x;
    ui.gmap_window[1] = o.y;
    ui.gmap_window[2] = d.x;
    ui.gmap_window[3] = d.y;
    ui.pan_x = ui.pan_y = 0;
    ui.gmap_icon = 0;
    ui.gmap_mode = 1;
    ui.zoom = 1.0f;
    _ui_zoom_out(world, ui, ui.view_target);
    for (int32_t& s : ui.sel)
        if (s) s = 1;
    _ui_reset_controls_all(ui);
    _ui_calc_view(world, ui);
}

int ui_gmap(Zentar& world, ZentarUI& ui, int user, Event e) {
    float x = e.x, y = e.y;
    bool key_bq = e.type == EV_KEY && e.unicode == BACKQUOTE;
    if (ui.gmap_mode == 0) return 0;

    if (ui.gmap_mode == 1) {
        if (_ui_pointer(e)) {
            int sw = 0, sh = 0;
            ui_draw_size(&sw, &sh);
            Vector3 q = ui_to_world(ui, x, y);
            float m[4];
            _ui_zoom_out(world, ui, m);
            float w = (float)(ui.rot == 90 ? sh : sw), h = (float)(ui.rot == 90 ? sw : sh);
            w = std::min(w, m[2]);
            h = std::min(h, m[3]);
            float wx = q.x - w / 2, wy = q.y - h / 2;
            wx = std::max(m[0], std::min(wx, m[0] + m[2] - w));
            wy = std::max(m[1], std::min(wy, m[1] + m[3] - h));
            ui.gmap_window[0] = wx;
            ui.gmap_window[1] = wy;
            ui.gmap_window[2] = w;
            ui.gmap_window[3] = h;
        }
        if (e.type == EV_RELEASE || key_bq) {
            ui.gmap_mode = -1;
            for (int i = 0; i < 4; i++) ui.view_target[i] = ui.gmap_window[i];
            _ui_calc_view(world, ui);
        }
        return 1;
    }

    // Zoomed into part of the map.
    if (e.type == EV_PRESS && e.b == 2) {
        ui.gmap_press = e;
        return 1;
    }
    if (e.type == EV_PRESS && x > 0 && x < UI_EDGE && y > 0 && y < UI_EDGE) {
        ui.gmap_icon = -1;
        ui.gmap_press = e;
        return 1;
    }
    if (e.type == EV_MOTION && (e.b & 2)) {
        Vector3 d = ui_to_world_delta(ui, e.dx, e.dy);
        ui.view[0] -= d.x;
        ui.view[1] -= d.y;
        ui.view_target[0] -= d.x;
        ui.view_target[1] -= d.y;
        _ui_calc_trans(world, ui);
        _ui_calc_matrix(world, ui);
        return 1;
    }
    if (e.type == EV_RELEASE && e.b == 2) {
        if (std::fabs(x - ui.gmap_press.x) + std::fabs(y - ui.gmap_press.y) < 10) ui_zoom_out(world, ui);
        return 1;
    }
    if (key_bq) {
        ui_zoom_out(world, ui);
        return 1;
    }
    if (ui.gmap_icon == 0) return 0;
    if (e.type == EV_MOTION) {
        if (x >= 0 && x <= UI_EDGE && y >= 0 && y <= UI_EDGE) return 1;
        ui.gmap_icon = 0;
        Event press = ui.gmap_press;
        _ui_event(world, ui, user, press, 0);
        return 0;
    }
    if (e.type == EV_RELEASE) {
        ui_zoom_out(world, ui);
        return 1;
    }
    return 0;
}
