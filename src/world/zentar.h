// zentar: the match world record and its item slots.
//
// Everything in a match is an entry of the fixed table of 4096 `Item` slots:
// planets, fleets, units, users, teams and the labels, images, buttons and
// drawing primitives that mods create. Slot 0 is never used. A new item takes
// the lowest free slot and a uid that is never handed out twice while the
// program runs.
//
// `Item` travels raw between host and clients, so its 640 bytes are a wire
// format: little-endian integers, IEEE single floats, character arrays
// NUL-terminated and NUL-padded, byte flags 0 or 1. The offset of every field
// is written beside it and checked by the static_asserts below the record.
//
// Lifetimes: the world lives inside `Game` for the whole run; `sys_init`
// clears it for every new match and keeps only the uid counter.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

static_assert(std::endian::native == std::endian::little, "items travel little-endian");

// ---- planet style block -------------------------------------------------------

// A lit sphere layer of a planet; off while flags is 0. (32 bytes)
struct PlanetLayer {
    int32_t color;  //  0 0xRRGGBB
    char tex[16];   //  4 texture image name
    int32_t core;   // 20 reserved for the style setter, 0 here
    int32_t flags;  // 24 draw bits, 0 = layer off
    float alpha;    // 28 light strength
};

// A flat sprite layer drawn over the sphere; off while enabled is 0. (24 bytes)
struct PlanetSprite {
    int32_t color;  //  0 0xRRGGBB
    char tex[16];   //  4 image name
    int32_t enabled;  // 20
};

// Two surface layers, then two sprite layers; the second sprite is the aura.
struct PlanetStyle {
    PlanetLayer layer[2];    //  0, 32
    PlanetSprite sprite[2];  // 64, 88
};

static_assert(sizeof(PlanetLayer) == 32 && offsetof(PlanetLayer, tex) == 4 &&
              offsetof(PlanetLayer, core) == 20 && offsetof(PlanetLayer, flags) == 24 &&
              offsetof(PlanetLayer, alpha) == 28, "PlanetLayer layout");
static_assert(sizeof(PlanetSprite) == 24 && offsetof(PlanetSprite, tex) == 4 &&
              offsetof(PlanetSprite, enabled) == 20, "PlanetSprite layout");
static_assert(sizeof(PlanetStyle) == 112 && offsetof(PlanetStyle, sprite) == 64, "PlanetStyle layout");

// ---- item record (640 bytes, wire format) -------------------------------------

struct Item {
    int32_t in_use;              //   0 1 while the slot is used
    int32_t n;                   //   4 own slot index, 0 on the scratch record
    int32_t ticks;               //   8 simulation steps lived
    uint8_t has_position;        //  12
    uint8_t has_image;           //  13
    uint8_t has_user;            //  14
    uint8_t has_bot;             //  15
    uint8_t has_player;          //  16
    uint8_t has_ships;           //  17
    uint8_t has_label;           //  18
    uint8_t has_fleet;           //  19
    uint8_t has_owner;           //  20
    uint8_t has_team;            //  21 only tested by item queries
    uint8_t has_title;           //  22
    uint8_t has_unit;            //  23
    uint8_t has_planet;          //  24
    uint8_t has_collide;         //  25
    uint8_t has_object;          //  26
    uint8_t has_select;          //  27
    uint8_t has_draw;            //  28
    uint8_t has_sync;            //  29 sent to clients
    uint8_t has_button;          //  30
    uint8_t _reserved31;         //  31
    uint8_t has_render;          //  32
    uint8_t has_motion;          //  33
    uint8_t has_physics;         //  34
    uint8_t has_xflag;           //  35
    uint8_t _reserved36[8];      //  36
    int32_t sync_id;             //  44 uid
    int32_t sync_full;           //  48 send whole at next sync
    int32_t sync_index;          //  52 host slot (client side)
    int32_t sync_temp_id;        //  56 prediction id
    int32_t sync_hold_until;     //  60 ms; -1 on predicted fleets
    int32_t sync_ships_sent;     //  64
    float position_x;            //  68
    float position_y;            //  72
    float collide_r;             //  76
    float collide_mass;          //  80
    int32_t collide_target;      //  84 largest touching neighbour, 0 = none
    int32_t collide_group;       //  88
    int32_t collide_yield_mask;  //  92
    int32_t collide_yield_id;    //  96
    float collide_box[4];        // 100 min x, min y, max x, max y
    int32_t render_color;        // 116 0xRRGGBB
    int16_t render_alpha;        // 120 0..255
    int8_t render_zindex;        // 122 -1..1
    int8_t render_blend;         // 123 non-zero = additive
    char image_src[16];          // 124
    float image_w;               // 140
    float image_h;               // 144
    float image_cx;              // 148
    float image_cy;              // 152
    float image_scale;           // 156
    float image_a;               // 160 radians
    int32_t unit_fleet;          // 164
    int32_t unit_target;         // 168
    int32_t unit_arrived;        // 172
    float unit_speed;            // 176
    float unit_heading;          // 180
    float unit_last_x;           // 184
    float unit_last_y;           // 188
    float unit_course;           // 192
    float unit_turn_rate;        // 196
    float unit_turn_time;        // 200
    float unit_face;             // 204
    int32_t unit_face_steps;     // 208
    float ships_value;           // 212
    float ships_production;      // 216
    uint32_t ships_production_enabled;  // 220
    float ships_production_factor;      // 224
    float ships_value_factor;    // 228
    int32_t fleet_units;         // 232
    float fleet_ships;           // 236
    int32_t fleet_target;        // 240
    float fleet_v_factor;        // 244
    int32_t fleet_color;         // 248
    char fleet_image[16];        // 252
    int32_t fleet_crash;         // 268 0..1000
    char title_value[16];        // 272
    int32_t user_team_n;         // 288
    uint32_t user_neutral;       // 292
    char user_rank[4];           // 296
    char user_uid[16];           // 300
    uint32_t user_reveal;        // 316
    int8_t ui_ships_show_mask;   // 320
    int8_t ui_to_mask;           // 321
    uint8_t ui_fleet_redirect;   // 322
    uint8_t _reserved323;        // 323
    float fleet_r;               // 324 spread / pick radius
    int32_t owner_n;             // 328
    float planet_r;              // 332
    int32_t planet_seed;         // 336 0..9998
    int32_t planet_color;        // 340
    int32_t planet_mask;         // 344 1 crash, 2 no loss, 4 and 8 for input
    union {
        PlanetStyle planet_style;  // 348
        char draw_pixart[112];     // 348 same bytes, for pixel-art primitives
    };
    char button_name[16];        // 460
    char label_text[40];         // 476
    char label_font[16];         // 516
    int32_t label_size;          // 532
    int16_t label_align;         // 536
    int16_t label_valign;        // 538
    int32_t draw_type;           // 540 'C', 'L', 'T', 'P'
    float draw_r;                // 544
    float draw_x2;               // 548
    float draw_y2;               // 552
    int32_t fleet_source;        // 556
    int32_t parts_style;         // 560
    float motion_vx;             // 564
    float motion_vy;             // 568
    float _position_x;           // 572 storage for mods
    float _position_y;           // 576
    float _draw_x2;              // 580
    float _draw_y2;              // 584
    float draw_x3;               // 588
    float draw_y3;               // 592
    float _draw_x3;              // 596
    float _draw_y3;              // 600
    uint8_t _reserved604[36];    // 604
};

static_assert(sizeof(Item) == 640, "Item is 640 bytes on the wire");

// ---- Item fields by kind -----------------------------------------------------------
// Every field of Item in order, with its wire offset and what its bytes hold.
// Code that handles records as bytes takes its field lists from here (the
// client sync cleans every record from the network by it). The checks below
// fail the build when a field is added, moved, resized or given a type that
// does not fit its kind, so no such list can be left behind.
enum ZtFieldKind : uint8_t {
    ZT_INT,   // integers and byte flags
    ZT_F32,   // IEEE single reals, alone or in an array
    ZT_TEXT,  // characters, NUL-terminated and NUL-padded
    ZT_SLOT,  // int32 slot number of another item (a client maps it to its own)
    ZT_RAW,   // reserved bytes; the planet style block that doubles as pixel art
};

struct ZtField {
    const char* name;
    uint16_t off;   // wire offset as written beside the field
    uint16_t size;  // bytes
    ZtFieldKind kind;
    uint16_t at;    // offsetof, for the checks
    bool fits;      // the C++ type suits the kind
};

template <class T>
constexpr bool zt_field_fits(ZtFieldKind kind) {
    using E = std::remove_all_extents_t<T>;
    switch (kind) {
    case ZT_F32: return std::is_same_v<E, float>;
    case ZT_TEXT: return std::is_same_v<E, char>;
    case ZT_SLOT: return std::is_same_v<T, int32_t>;
    case ZT_INT: return std::is_integral_v<T>;
    default: return true;
    }
}

#define ZT_FIELD(field, off, kind)                                      \
    ZtField{#field, off, sizeof(Item::field), kind, offsetof(Item, field), \
            zt_field_fits<decltype(Item::field)>(kind)}
inline constexpr ZtField ZT_ITEM_FIELDS[] = {
    ZT_FIELD(in_use, 0, ZT_INT), ZT_FIELD(n, 4, ZT_INT), ZT_FIELD(ticks, 8, ZT_INT),
    ZT_FIELD(has_position, 12, ZT_INT), ZT_FIELD(has_image, 13, ZT_INT),
    ZT_FIELD(has_user, 14, ZT_INT), ZT_FIELD(has_bot, 15, ZT_INT),
    ZT_FIELD(has_player, 16, ZT_INT), ZT_FIELD(has_ships, 17, ZT_INT),
    ZT_FIELD(has_label, 18, ZT_INT), ZT_FIELD(has_fleet, 19, ZT_INT),
    ZT_FIELD(has_owner, 20, ZT_INT), ZT_FIELD(has_team, 21, ZT_INT),
    ZT_FIELD(has_title, 22, ZT_INT), ZT_FIELD(has_unit, 23, ZT_INT),
    ZT_FIELD(has_planet, 24, ZT_INT), ZT_FIELD(has_collide, 25, ZT_INT),
    ZT_FIELD(has_object, 26, ZT_INT), ZT_FIELD(has_select, 27, ZT_INT),
    ZT_FIELD(has_draw, 28, ZT_INT), ZT_FIELD(has_sync, 29, ZT_INT),
    ZT_FIELD(has_button, 30, ZT_INT), ZT_FIELD(_reserved31, 31, ZT_RAW),
    ZT_FIELD(has_render, 32, ZT_INT), ZT_FIELD(has_motion, 33, ZT_INT),
    ZT_FIELD(has_physics, 34, ZT_INT), ZT_FIELD(has_xflag, 35, ZT_INT),
    ZT_FIELD(_reserved36, 36, ZT_RAW), ZT_FIELD(sync_id, 44, ZT_INT),
    ZT_FIELD(sync_full, 48, ZT_INT), ZT_FIELD(sync_index, 52, ZT_INT),
    ZT_FIELD(sync_temp_id, 56, ZT_INT), ZT_FIELD(sync_hold_until, 60, ZT_INT),
    ZT_FIELD(sync_ships_sent, 64, ZT_INT), ZT_FIELD(position_x, 68, ZT_F32),
    ZT_FIELD(position_y, 72, ZT_F32), ZT_FIELD(collide_r, 76, ZT_F32),
    ZT_FIELD(collide_mass, 80, ZT_F32), ZT_FIELD(collide_target, 84, ZT_SLOT),
    ZT_FIELD(collide_group, 88, ZT_INT), ZT_FIELD(collide_yield_mask, 92, ZT_INT),
    ZT_FIELD(collide_yield_id, 96, ZT_INT), ZT_FIELD(collide_box, 100, ZT_F32),
    ZT_FIELD(render_color, 116, ZT_INT), ZT_FIELD(render_alpha, 120, ZT_INT),
    ZT_FIELD(render_zindex, 122, ZT_INT), ZT_FIELD(render_blend, 123, ZT_INT),
    ZT_FIELD(image_src, 124, ZT_TEXT), ZT_FIELD(image_w, 140, ZT_F32),
    ZT_FIELD(image_h, 144, ZT_F32), ZT_FIELD(image_cx, 148, ZT_F32),
    ZT_FIELD(image_cy, 152, ZT_F32), ZT_FIELD(image_scale, 156, ZT_F32),
    ZT_FIELD(image_a, 160, ZT_F32), ZT_FIELD(unit_fleet, 164, ZT_SLOT),
    ZT_FIELD(unit_target, 168, ZT_SLOT), ZT_FIELD(unit_arrived, 172, ZT_INT),
    ZT_FIELD(unit_speed, 176, ZT_F32), ZT_FIELD(unit_heading, 180, ZT_F32),
    ZT_FIELD(unit_last_x, 184, ZT_F32), ZT_FIELD(unit_last_y, 188, ZT_F32),
    ZT_FIELD(unit_course, 192, ZT_F32), ZT_FIELD(unit_turn_rate, 196, ZT_F32),
    ZT_FIELD(unit_turn_time, 200, ZT_F32), ZT_FIELD(unit_face, 204, ZT_F32),
    ZT_FIELD(unit_face_steps, 208, ZT_INT), ZT_FIELD(ships_value, 212, ZT_F32),
    ZT_FIELD(ships_production, 216, ZT_F32), ZT_FIELD(ships_production_enabled, 220, ZT_INT),
    ZT_FIELD(ships_production_factor, 224, ZT_F32), ZT_FIELD(ships_value_factor, 228, ZT_F32),
    ZT_FIELD(fleet_units, 232, ZT_INT), ZT_FIELD(fleet_ships, 236, ZT_F32),
    ZT_FIELD(fleet_target, 240, ZT_SLOT), ZT_FIELD(fleet_v_factor, 244, ZT_F32),
    ZT_FIELD(fleet_color, 248, ZT_INT), ZT_FIELD(fleet_image, 252, ZT_TEXT),
    ZT_FIELD(fleet_crash, 268, ZT_INT), ZT_FIELD(title_value, 272, ZT_TEXT),
    ZT_FIELD(user_team_n, 288, ZT_SLOT), ZT_FIELD(user_neutral, 292, ZT_INT),
    ZT_FIELD(user_rank, 296, ZT_TEXT), ZT_FIELD(user_uid, 300, ZT_TEXT),
    ZT_FIELD(user_reveal, 316, ZT_INT), ZT_FIELD(ui_ships_show_mask, 320, ZT_INT),
    ZT_FIELD(ui_to_mask, 321, ZT_INT), ZT_FIELD(ui_fleet_redirect, 322, ZT_INT),
    ZT_FIELD(_reserved323, 323, ZT_RAW), ZT_FIELD(fleet_r, 324, ZT_F32),
    ZT_FIELD(owner_n, 328, ZT_SLOT), ZT_FIELD(planet_r, 332, ZT_F32),
    ZT_FIELD(planet_seed, 336, ZT_INT), ZT_FIELD(planet_color, 340, ZT_INT),
    ZT_FIELD(planet_mask, 344, ZT_INT), ZT_FIELD(planet_style, 348, ZT_RAW),
    ZT_FIELD(button_name, 460, ZT_TEXT), ZT_FIELD(label_text, 476, ZT_TEXT),
    ZT_FIELD(label_font, 516, ZT_TEXT), ZT_FIELD(label_size, 532, ZT_INT),
    ZT_FIELD(label_align, 536, ZT_INT), ZT_FIELD(label_valign, 538, ZT_INT),
    ZT_FIELD(draw_type, 540, ZT_INT), ZT_FIELD(draw_r, 544, ZT_F32),
    ZT_FIELD(draw_x2, 548, ZT_F32), ZT_FIELD(draw_y2, 552, ZT_F32),
    ZT_FIELD(fleet_source, 556, ZT_SLOT), ZT_FIELD(parts_style, 560, ZT_INT),
    ZT_FIELD(motion_vx, 564, ZT_F32), ZT_FIELD(motion_vy, 568, ZT_F32),
    ZT_FIELD(_position_x, 572, ZT_F32), ZT_FIELD(_position_y, 576, ZT_F32),
    ZT_FIELD(_draw_x2, 580, ZT_F32), ZT_FIELD(_draw_y2, 584, ZT_F32),
    ZT_FIELD(draw_x3, 588, ZT_F32), ZT_FIELD(draw_y3, 592, ZT_F32),
    ZT_FIELD(_draw_x3, 596, ZT_F32), ZT_FIELD(_draw_y3, 600, ZT_F32),
    ZT_FIELD(_reserved604, 604, ZT_RAW),
};
#undef ZT_FIELD

// Each field at its written offset, with a type that fits its kind, right
// after the one before; together they fill the record.
constexpr bool zt_item_fields_ok() {
    size_t end = 0;
    for (const ZtField& f : ZT_ITEM_FIELDS) {
        if (f.at != f.off || f.off != end || !f.fits) return false;
        end = f.off + f.size;
    }
    return end == sizeof(Item);
}
static_assert(zt_item_fields_ok(), "ZT_ITEM_FIELDS must list every field of Item in order");
static_assert(offsetof(Item, draw_pixart) == 348 && sizeof(Item::draw_pixart) == sizeof(PlanetStyle),
              "draw_pixart shares the planet style bytes");

// ---- particle (64 bytes) -------------------------------------------------------

// State at age t is start + rate * t; only the age advances.
struct Part {
    int32_t alive;  //  0 1 until age reaches d
    char src[8];    //  4 image name
    int32_t tex;    // 12 texture of src, filled at the first draw
    float age;      // 16 seconds lived
    float d;        // 20 lifetime in seconds
    float x, y;     // 24 start position
    float r;        // 32 start size (half the side of the square)
    float q;        // 36 start angle, radians
    float a;        // 40 start alpha
    float vx, vy, vr, vq, va;  // 44 rates per second
};
static_assert(sizeof(Part) == 64 && offsetof(Part, tex) == 12 && offsetof(Part, age) == 16 &&
              offsetof(Part, a) == 40 && offsetof(Part, va) == 60, "Part layout");

// ---- world record ----------------------------------------------------------------

inline constexpr int ZT_ITEMS = 4096;  // item table size; slots 1 .. 4095 are usable
inline constexpr int ZT_PARTS = 2048;  // particle ring size
inline constexpr int ZT_SCRATCH_BYTES = 920 * 1024;  // the step's tables (world/zentar_scratch.h)
// Seconds after which the match clock starts again from 0 (a whole number of
// turns of every planet).
inline constexpr float ZT_CLOCK_TURN = 3600.0f;

struct Zentar {
    float time;             // match clock, seconds, 0 .. ZT_CLOCK_TURN
    float intro_time;       // advances only while non-zero
    int32_t seed_time;      // wall-clock seconds at the last reset
    char bkgr_src[16];      // background image name
    float bkgr_zoom;        // 1.0 after a reset
    int32_t bkgr_stars;     // star style 0..3, 1 after a reset
    float bkgr_dx, bkgr_dy; // background drift
    char status[256];       // status line
    float view[4];          // view rectangle x, y, w, h
    int32_t view_set;       // 1 once a mod set the view

    Item items[ZT_ITEMS];   // slot 0 is never used
    int32_t free_hint;      // lowest slot that may be free
    int32_t top;            // one above the highest used slot
    int32_t live;           // used slots

    Part parts[ZT_PARTS];   // particle ring
    int32_t parts_start;    // oldest entry of the window, 0..2047
    int32_t parts_count;    // entries in the window, 0..2048

    uint32_t uid_counter;   // last uid handed out; survives the reset

    // Client side: host slot -> local slot / uid / adopted temporary id.
    int32_t client_map_local[ZT_ITEMS];
    int32_t client_map_count;  // one above the highest host slot mapped
    int32_t client_map_uid[ZT_ITEMS];
    int32_t client_map_temp[ZT_ITEMS];

    Item base[ZT_ITEMS];    // last full copy sent or received, base of XOR deltas
    int32_t active_changed; // active map must be sent reliably
    int32_t lost_fleet;     // fleet whose last-stand sound played
    int32_t lag;            // smoothed round trip in ms (client)
    int32_t chat_first_done;  // one-shot flag of the chat panel
    float bounds[4];        // bounce rectangle; off while w or h is 0
    float clip[4];          // clip rectangle; off while w or h is not positive
    int32_t ext_changed;    // background, view or bounds changed

    // The simulation step's own tables (world/zentar_scratch.h), after the
    // fields above: not world state, cleared with them.
    alignas(64) unsigned char step_scratch[ZT_SCRATCH_BYTES];
};

// ---- conversions -------------------------------------------------------------------

// Float to int for values that mods or the network can set (ship counts,
// radii, positions, times): truncates toward zero like a cast, but NaN gives
// 0 and anything beyond the int range saturates instead of being undefined.
// Takes a double so floats and millisecond sums convert without rounding.
inline int32_t zt_sat_int(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// ---- slot numbers ----------------------------------------------------------------

// Slot numbers come from mods and the network: 1 .. 4095 lie in the table.
inline bool zt_slot(int n) { return n >= 1 && n < ZT_ITEMS; }
// A slot in the table whose item is in use.
inline bool zt_used(const Zentar& world, int n) { return zt_slot(n) && world.items[n].in_use; }

// The clip rectangle (view culling for sounds, the unit budget and the
// painters): off, and so holding everything, while its width or height is not
// positive; else it holds x <= px < x + w and y <= py < y + h.
inline bool zt_in_clip(const Zentar& world, float px, float py) {
    const float* c = world.clip;
    if (!(c[2] > 0) || !(c[3] > 0)) return true;
    return c[0] <= px && px < c[0] + c[2] && c[1] <= py && py < c[1] + c[3];
}

// ---- slots (zentar.cpp) ----------------------------------------------------------

// Clears the world for a new match; the uid counter survives.
void sys_init(Zentar& world);
// A fresh zeroed item in the lowest free slot; with the table full, a zeroed
// scratch record (never in the table) whose n is 0. Never null.
Item* item_init(Zentar& world);
// Frees the item's slot. The scratch record, items of other tables and
// already free slots are left alone.
void item_deinit(Zentar& world, Item* item);
// Slot n for reading; outside 1..4095 a zeroed record. Slot numbers stored in
// items come from mods and the network, so every lookup goes through here.
// Inline: the step's passes over every unit look targets and owners up here.
extern const Item _item_none;
inline const Item& _item_read(const Zentar& world, int n) {
    return n >= 1 && n < ZT_ITEMS ? world.items[n] : _item_none;
}

// ---- planets (zentar_planet.cpp, zentar_planet_style.cpp) ------------------------

Item* planet_init(Zentar& world, int owner, float x, float y, float production, float ships);
// Renames the planet from its production, ships and position.
void zt_gen_name(Item& planet);
// Name for a seed, in a static 32-byte buffer valid until the next call.
const char* _zt_gen_name(uint32_t seed);
// One draw of the name generator; advances state.
uint32_t _zt_gen_rand(uint32_t& state);
// style: null means "default"; aura: null means "planet-aura".
void planet_style_init(Zentar& world, int slot, int colour1, int colour2, const char* style,
                       const char* aura);

// ---- collision (zentar_collide.cpp) ------------------------------------------------

void collide_loop(Zentar& world);
void collide_do(Zentar& world, int* ids, int count);
// Split the group at the middle of the box (x0, y0)-(x1, y1); room is the
// space in ids, scratch beyond count included.
void collide_split_x0(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1);
void collide_split_x1(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1);
void collide_split_y0(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1);
void collide_split_y1(Zentar& world, int* ids, int count, int room, float x0, float y0, float x1, float y1);
// The pair tests run on the widest instructions the processor has: SSE2
// (the x86-64 baseline; plain code elsewhere), AVX2 or AVX-512, all to the
// same bits. Tests force each one the processor supports; false, and
// nothing changed, for one it lacks. 0 goes back to the widest.
enum { ZT_COLLIDE_BASE = 1, ZT_COLLIDE_AVX2 = 2, ZT_COLLIDE_AVX512 = 3 };
bool collide_force_width(int width);
int collide_width();
// Impulse between two physics items, then separation.
void zt_do_collide(Zentar& world, Item& a, Item& b);
// Separation; anchored keeps a in place.
void zt_do_move_apart(Zentar& world, Item& a, Item& b, int anchored);

// ---- particles (zentar_parts.cpp, zentar_parts_paint.cpp) ------------------------

// Next entry of the ring, zeroed with alive 1; overwrites the oldest when full.
Part* part_init(Zentar& world);
void parts_loop(Zentar& world, float dt);
// Draws the ring in world coordinates.
void parts_paint(Zentar& world);
void parts_ship_explode(Zentar& world, float x, float y, int style);
void parts_planet_explode(Zentar& world, float x, float y, float radius, int style);
