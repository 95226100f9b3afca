// zentar_planet: planet creation and the planet name generator.
#include "world/zentar.h"

#include <cmath>    // fmax
#include <cstdlib>  // rand
#include <cstring>  // memcpy, strncpy
#include <numbers>  // pi

// ---- name generator tables ----------------------------------------------------

// Indexed by the low 8 bits of the generator state.
static const uint8_t _zt_name_table[256] = {
    0x1e, 0xc1, 0x2f, 0xec, 0x0d, 0x08, 0x97, 0x09, 0x97, 0xc3, 0xbe, 0xcb, 0x44, 0xe1, 0x7d, 0x2c,
    0x92, 0x66, 0x65, 0xa8, 0x79, 0x4c, 0x0a, 0x9e, 0xb8, 0x7d, 0x7c, 0xd8, 0x13, 0xc8, 0xab, 0xb8,
    0x16, 0x64, 0x9a, 0x43, 0xa6, 0x7f, 0x20, 0x69, 0xa8, 0xec, 0x4e, 0xbb, 0x63, 0x4e, 0x4c, 0xcb,
    0x65, 0x1a, 0x89, 0xcc, 0x41, 0x87, 0x5c, 0x85, 0x5a, 0xb0, 0xd2, 0xcd, 0x1d, 0x5e, 0x81, 0xfb,
    0xe2, 0x87, 0x88, 0x6c, 0x5f, 0xc1, 0xda, 0xda, 0xc0, 0x5e, 0x76, 0xf3, 0x8f, 0xef, 0x54, 0x9b,
    0xf7, 0x42, 0xba, 0xe3, 0xd2, 0x6f, 0x4f, 0x03, 0x59, 0x0f, 0x84, 0xcf, 0x2d, 0xa1, 0x44, 0x61,
    0xb9, 0x29, 0xf7, 0x32, 0x2b, 0xc0, 0xe7, 0xcd, 0xbd, 0x47, 0x7d, 0x3d, 0x12, 0x05, 0x40, 0xaa,
    0x57, 0xea, 0xb7, 0xfc, 0x8d, 0x26, 0x6e, 0x90, 0xbd, 0x28, 0x39, 0xc1, 0xb9, 0x67, 0xc1, 0x41,
    0xdd, 0xa7, 0x73, 0x9a, 0xe8, 0x03, 0x13, 0xf9, 0x13, 0x01, 0x2c, 0xbd, 0x04, 0x58, 0x13, 0x92,
    0xb9, 0xf4, 0xb6, 0x26, 0xa6, 0x58, 0x11, 0x56, 0x21, 0x7c, 0x1e, 0x94, 0x7b, 0x2a, 0x7f, 0x89,
    0xc3, 0xba, 0xdb, 0x9b, 0xcc, 0x49, 0xe7, 0xdc, 0x9a, 0xdd, 0x96, 0xfb, 0x38, 0x55, 0xf9, 0x63,
    0xb5, 0x5a, 0xe2, 0x96, 0x30, 0x3d, 0x4e, 0xb6, 0xb2, 0xb7, 0x63, 0xd2, 0xb1, 0xa9, 0x20, 0xe9,
    0xa1, 0xa4, 0xc7, 0x76, 0xe7, 0x9d, 0x42, 0x8f, 0x6f, 0x00, 0xb0, 0x9a, 0xe8, 0xbb, 0x97, 0x21,
    0xd4, 0x81, 0x92, 0x41, 0x16, 0x49, 0xdf, 0x5e, 0xfb, 0x8d, 0x67, 0xaf, 0x86, 0x98, 0xea, 0xa8,
    0xbf, 0x0c, 0x58, 0x63, 0x31, 0x18, 0x60, 0x04, 0x6e, 0x07, 0x4e, 0xba, 0x13, 0x84, 0xa1, 0xb0,
    0x4f, 0x61, 0xfc, 0x19, 0xf9, 0x0d, 0x3a, 0x5a, 0xe4, 0xe1, 0x61, 0x64, 0xb8, 0x15, 0x11, 0xc7,
};

static const char _zt_first_letters[] = "bdfgjklmnprstvxzaeiou";  // 21
static const char _zt_vowels[] = "aeiou";                          // 5
static const char _zt_consonants[] = "bdfgjklmnprstvxz";           // 16

// ---- internal ------------------------------------------------------------------

// Truncation into 32-bit unsigned arithmetic (negative values wrap). Mods can
// put anything in these fields: NaN counts as 0 and huge values saturate.
static uint32_t _zt_trunc_u32(float v) {
    return static_cast<uint32_t>(zt_sat_int(v));
}

static uint32_t _zt_name_seed(float production, float ships, float x, float y) {
    uint32_t s = _zt_trunc_u32(production);
    s = s * 256u + _zt_trunc_u32(ships);
    s = s * 256u + _zt_trunc_u32(x);
    s = s * 256u + _zt_trunc_u32(y);
    return s;
}

static uint32_t _zt_pick(uint32_t s, uint32_t mod) {
    return (_zt_name_table[s & 255u] + s) % mod;
}

static bool _zt_is_vowel(char c) {
    return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u';
}

// ---- public ----------------------------------------------------------------------

uint32_t _zt_gen_rand(uint32_t& state) {
    uint32_t r = _zt_name_table[state & 255u] + state;
    state >>= 4;
    return r;
}

const char* _zt_gen_name(uint32_t seed) {
    static char name[32];
    std::memset(name, 0, sizeof(name));
    int len = static_cast<int>(_zt_pick(seed, 5)) + 4;
    name[0] = _zt_first_letters[_zt_pick(seed >> 4, 21)];
    uint32_t s = seed >> 8;
    for (int i = 1; i < len; i++) {
        if (_zt_is_vowel(name[i - 1]))
            name[i] = _zt_consonants[_zt_pick(s, 16)];
        else
            name[i] = _zt_vowels[_zt_pick(s, 5)];
        s >>= 4;
    }
    return name;
}

void zt_gen_name(Item& planet) {
    uint32_t seed = _zt_name_seed(planet.ships_production, planet.ships_value, planet.position_x,
                                  planet.position_y);
    std::memset(planet.title_value, 0, sizeof(planet.title_value));
    std::strncpy(planet.title_value, _zt_gen_name(seed), sizeof(planet.title_value) - 1);
}

Item* planet_init(Zentar& world, int owner, float x, float y, float production, float ships) {
    Item* p = item_init(world);
    const Item& o = _item_read(world, owner);
    p->has_planet = 1;
    p->has_object = 1;
    p->has_ships = 1;
    p->has_owner = 1;
    p->has_position = 1;
    p->has_title = 1;
    p->has_collide = 1;
    p->has_select = 1;

    p->owner_n = owner;
    p->ships_value = ships * o.ships_value_factor;
    p->ships_production = production;
    p->ships_production_enabled = o.ships_production_enabled;
    p->planet_mask = o.planet_mask;
    p->position_x = x;
    p->position_y = y;

    zt_gen_name(*p);  // the ships term is the scaled value

    float r = 12.0f + std::fmax(0.0f, production - 15.0f) * 12.0f / 85.0f;
    p->planet_r = r;
    p->planet_seed = rand() % 9999;
    std::memcpy(&p->planet_style, &o.planet_style, sizeof(PlanetStyle));

    p->collide_r = r;
    p->fleet_r = r;
    p->collide_mass = std::numbers::pi_v<float> * r * r;
    p->collide_group = 1;
    p->collide_yield_mask = 0;
    p->collide_yield_id = 0;
    return p;
}
