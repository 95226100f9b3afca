// mods_api_item: the item key table that mods read and write through
// ModsAPI::item_get / item_set.
//
// Keys are the Item field names (zentar.h). Each entry says where the field
// sits, how wide it is, how a value converts and which range a write must
// meet. Values come from scripts, so every conversion is total: NaN, the
// infinities and huge numbers never reach a cast unchecked.
#include "mods/mods_api.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "world/zentar.h"
#include "net/zentar_server.h"
#include "world/zentar_sim.h"

namespace {

// How the field is stored.
enum FieldType : uint8_t { F_F32, F_I32, F_U32, F_I16, F_I8, F_U8, F_TEXT };

// How a value is converted.
enum Conv : uint8_t {
    C_NUMBER,     // float field, set from the number
    C_BOOL,       // 0/1, read as a boolean
    C_INT,        // truncated integer, range lo..hi
    C_TEXT,       // NUL-terminated text cut to the field size less one
    C_DRAW_TYPE,  // one character code
    C_PLANET_R,   // number, mirrored into collide_r and fleet_r
    C_STYLE,      // JSON style text for planet_style_set
    C_PIXART,     // text into the style bytes; never on planets
};

enum Access : uint8_t { A_GET = 1, A_SET = 2, A_BOTH = 3 };

struct ItemKey {
    const char* name;
    uint16_t off;
    uint16_t size;  // bytes of the field
    FieldType type;
    Conv conv;
    Access access;
    int64_t lo, hi;  // C_INT only
};

constexpr int64_t I32_LO = INT32_MIN, I32_HI = INT32_MAX;

#define K_NUM(f, acc) {#f, offsetof(Item, f), sizeof(Item::f), F_F32, C_NUMBER, acc, 0, 0}
#define K_BOOL(f, t) {#f, offsetof(Item, f), sizeof(Item::f), t, C_BOOL, A_BOTH, 0, 0}
#define K_INT(f, t, lo, hi) {#f, offsetof(Item, f), sizeof(Item::f), t, C_INT, A_BOTH, lo, hi}
#define K_TEXT(f) {#f, offsetof(Item, f), sizeof(Item::f), F_TEXT, C_TEXT, A_BOTH, 0, 0}
#define K_GET(f, t) {#f, offsetof(Item, f), sizeof(Item::f), t, C_INT, A_GET, 0, 0}
#define K_GETB(f) {#f, offsetof(Item, f), sizeof(Item::f), F_U8, C_BOOL, A_GET, 0, 0}

// In lookup order; "planet_crash" is renamed to "planet_mask" before the search.
const ItemKey ITEM_KEYS[] = {
    K_NUM(ships_value, A_BOTH),
    K_BOOL(user_reveal, F_U32),
    K_BOOL(user_neutral, F_U32),
    K_TEXT(user_rank),
    K_BOOL(ships_production_enabled, F_U32),
    K_BOOL(has_bot, F_U8),
    K_BOOL(has_player, F_U8),
    K_INT(owner_n, F_I32, 1, ZT_ITEMS - 1),
    K_NUM(position_x, A_BOTH),
    K_NUM(position_y, A_BOTH),
    K_NUM(_position_x, A_BOTH),
    K_NUM(_position_y, A_BOTH),
    K_NUM(ships_production, A_BOTH),
    K_INT(user_team_n, F_I32, 1, ZT_ITEMS - 1),
    K_BOOL(has_position, F_U8),
    K_BOOL(has_label, F_U8),
    K_TEXT(label_text),
    K_TEXT(label_font),
    K_INT(label_align, F_I16, -1, 1),
    K_INT(label_valign, F_I16, -1, 1),
    K_INT(label_size, F_I32, I32_LO, I32_HI),
    K_INT(render_color, F_I32, 0, 0xffffff),
    K_INT(render_alpha, F_I16, 0, 255),
    K_INT(render_zindex, F_I8, -1, 1),
    K_INT(render_blend, F_I8, 0, 255),  // one byte; 128..255 read back negative
    K_GETB(has_planet),
    K_GETB(has_fleet),
    K_GET(fleet_target, F_I32),
    K_NUM(fleet_ships, A_GET),
    K_NUM(collide_r, A_GET),
    K_BOOL(has_draw, F_U8),
    {"draw_type", offsetof(Item, draw_type), 4, F_I32, C_DRAW_TYPE, A_BOTH, 0, 0},
    K_NUM(draw_r, A_BOTH),
    K_NUM(draw_x2, A_BOTH),
    K_NUM(draw_y2, A_BOTH),
    K_NUM(draw_x3, A_BOTH),
    K_NUM(draw_y3, A_BOTH),
    K_NUM(_draw_x2, A_BOTH),
    K_NUM(_draw_y2, A_BOTH),
    K_NUM(_draw_x3, A_BOTH),
    K_NUM(_draw_y3, A_BOTH),
    {"planet_r", offsetof(Item, planet_r), 4, F_F32, C_PLANET_R, A_BOTH, 0, 0},
    K_NUM(fleet_r, A_GET),
    K_GETB(has_title),
    K_TEXT(title_value),
    K_TEXT(user_uid),
    K_BOOL(has_image, F_U8),
    K_NUM(image_w, A_BOTH),
    K_NUM(image_h, A_BOTH),
    K_NUM(image_cx, A_BOTH),
    K_NUM(image_cy, A_BOTH),
    K_NUM(image_scale, A_BOTH),
    K_NUM(image_a, A_BOTH),
    K_TEXT(image_src),
    K_BOOL(has_button, F_U8),
    K_TEXT(button_name),
    K_NUM(fleet_v_factor, A_BOTH),
    K_BOOL(ui_fleet_redirect, F_U8),
    K_INT(ui_ships_show_mask, F_I8, 0, 31),
    K_INT(ui_to_mask, F_I8, 0, 15),
    K_INT(fleet_color, F_I32, 0, 0xffffff),
    K_TEXT(fleet_image),
    K_NUM(ships_production_factor, A_BOTH),
    K_NUM(ships_value_factor, A_BOTH),
    K_INT(planet_color, F_I32, 0, 0xffffff),
    K_INT(fleet_crash, F_I32, 0, 1000),
    K_INT(planet_mask, F_I32, 0, 15),
    K_BOOL(has_collide, F_U8),
    K_BOOL(has_owner, F_U8),
    K_BOOL(has_render, F_U8),
    K_BOOL(has_ships, F_U8),
    K_BOOL(has_user, F_U8),
    K_BOOL(has_physics, F_U8),
    K_BOOL(has_motion, F_U8),
    K_NUM(motion_vx, A_BOTH),
    K_NUM(motion_vy, A_BOTH),
    K_BOOL(has_xflag, F_U8),
    K_GET(sync_id, F_I32),
    {"planet_style", offsetof(Item, planet_style), sizeof(PlanetStyle), F_TEXT, C_STYLE, A_SET, 0, 0},
    {"parts_style", offsetof(Item, parts_style), 4, F_I32, C_INT, A_SET, 0, I32_HI},
    {"draw_pixart", offsetof(Item, draw_pixart), sizeof(Item::draw_pixart), F_TEXT, C_PIXART, A_SET, 0, 0},
};

#undef K_NUM
#undef K_BOOL
#undef K_INT
#undef K_TEXT
#undef K_GET
#undef K_GETB

const ItemKey* _item_key_find(const std::string& key) {
    // Compared as whole strings: a key with a NUL inside names nothing.
    const std::string& name = key == "planet_crash" ? std::string("planet_mask") : key;
    for (const ItemKey& k : ITEM_KEYS)
        if (name == k.name) return &k;
    return nullptr;
}

// Field bytes are read and written through memcpy: the record is a byte
// layout and the widths differ per key.
int64_t _item_int_read(const Item& it, const ItemKey& k) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&it) + k.off;
    switch (k.type) {
    case F_I32: { int32_t v; std::memcpy(&v, p, 4); return v; }
    case F_U32: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    case F_I16: { int16_t v; std::memcpy(&v, p, 2); return v; }
    case F_I8: { int8_t v; std::memcpy(&v, p, 1); return v; }
    case F_U8: return *p;
    default: return 0;
    }
}

// v is already inside the key's range, which fits the field except for
// render_blend, whose 128..255 wrap to the signed byte on purpose.
void _item_int_write(Item& it, const ItemKey& k, int64_t v) {
    unsigned char* p = reinterpret_cast<unsigned char*>(&it) + k.off;
    switch (k.type) {
    case F_I32: case F_U32: { uint32_t u = (uint32_t)v; std::memcpy(p, &u, 4); break; }
    case F_I16: { uint16_t u = (uint16_t)v; std::memcpy(p, &u, 2); break; }
    case F_I8: case F_U8: *p = (unsigned char)v; break;
    default: break;
    }
}

float _item_f32_read(const Item& it, const ItemKey& k) {
    float f;
    std::memcpy(&f, reinterpret_cast<const unsigned char*>(&it) + k.off, 4);
    return f;
}

void _item_f32_write(Item& it, size_t off, float f) {
    std::memcpy(reinterpret_cast<unsigned char*>(&it) + off, &f, 4);
}

void _item_text_write(Item& it, const ItemKey& k, const std::string& text) {
    str_put(reinterpret_cast<char*>(&it) + k.off, k.size, text);
}

std::string _item_text_read(const Item& it, const ItemKey& k) {
    const char* p = reinterpret_cast<const char*>(&it) + k.off;
    return std::string(p, strnlen(p, k.size));
}

}  // namespace

var ModsAPI::item_get(int n, const std::string& key) {
    if (!_item_ok(n, "item_get:n")) return var();
    const ItemKey* k = _item_key_find(key);
    if (!k || !(k->access & A_GET)) {
        log_printf("ModsAPI::item_get(%d,\"%s\") invalid key\n", n, key.c_str());
        api_error_set("invalid key");
        return var();
    }
    const Item& it = game.world.items[n];
    switch (k->conv) {
    case C_NUMBER:
    case C_PLANET_R: return var((double)_item_f32_read(it, *k));
    case C_BOOL: return var(_item_int_read(it, *k) != 0);
    case C_INT:
    case C_DRAW_TYPE: return var((double)_item_int_read(it, *k));
    case C_TEXT: return var(_item_text_read(it, *k));
    default: return var();  // set-only kinds never get here
    }
}

void ModsAPI::item_set(int n, const std::string& key, const var& value) {
    if (!_item_ok(n, "item_set:n")) return;
    Item& it = game.world.items[n];
    const ItemKey* k = _item_key_find(key);
    if (!k || !(k->access & A_SET) || (k->conv == C_PIXART && it.has_planet)) {
        log_printf("ModsAPI::item_set(%d,\"%s\",?) invalid key\n", n, key.c_str());
        api_error_set("invalid key");
        return;
    }
    switch (k->conv) {
    case C_NUMBER:
    case C_PLANET_R: {
        double d = value.__num__();
        // A finite number beyond the float range would turn into an infinity
        // (and the cast is undefined); the infinities and NaN pass as they are.
        if (std::isfinite(d) && std::fabs(d) > FLT_MAX) {
            log_printf("ModsAPI::item_set(%d,\"%s\",%d) out of range\n", n, key.c_str(), zt_sat_int(d));
            api_error_set("out of range");
            return;
        }
        float f = (float)d;
        _item_f32_write(it, k->off, f);
        if (k->conv == C_PLANET_R) {
            it.collide_r = f;
            it.fleet_r = f;
        }
        break;
    }
    case C_BOOL: _item_int_write(it, *k, value.__bool__() ? 1 : 0); break;
    case C_INT: {
        // Ranges are checked on the number itself, so that 2^32 + 1 or 1e300
        // fail instead of wrapping or saturating into range.
        double d = std::trunc(value.__num__());
        int32_t v = zt_sat_int(d);
        if (!(d >= (double)k->lo && d <= (double)k->hi)) {
            log_printf("ModsAPI::item_set(%d,\"%s\",%d) out of range\n", n, key.c_str(), v);
            api_error_set("out of range");
            return;
        }
        _item_int_write(it, *k, v);
        break;
    }
    case C_TEXT:
    case C_PIXART: _item_text_write(it, *k, value.__str__()); break;
    case C_DRAW_TYPE: {
        std::string s = value.__str__();
        it.draw_type = s.empty() ? 0 : (unsigned char)s[0];
        break;
    }
    case C_STYLE: planet_style_set(game, it, value.__str__()); break;
    }
}

// ==== per-item operations ==========================================================

bool ModsAPI::item_selected(int n) {
    if (!_item_ok(n, "item_selected:n")) return false;
    return game.ui_selected(n);
}

void ModsAPI::item_sync(int n) {
    if (!_item_ok(n, "item_sync:n")) return;
    zentar_server_sync_item_now(n);
}

void ModsAPI::item_destroy(int n) {
    if (!_item_ok(n, "item_destroy:n")) return;
    z2_destroy(game.world, n);
}
