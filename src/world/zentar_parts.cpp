// zentar_parts: the world's particle ring and the ship and planet bursts.
//
// A particle stores start values and rates, so only its age advances. The
// ring holds the window parts_start .. parts_start + parts_count - 1 (mod
// 2048); new entries go behind it and overwrite the oldest when it is full.
#include "world/zentar.h"

#include <algorithm>  // min
#include <cmath>    // cos, sin, sqrt, isfinite
#include <cstdlib>  // rand
#include <cstring>  // memset, strcpy
#include <numbers>  // pi

#include "ruvezor/util/qel_log.h"

// ---- internal ------------------------------------------------------------------

static float _parts_rand01() {
    return static_cast<float>(rand() / 2147483648.0);
}

static float _parts_rad(int degrees) {
    return static_cast<float>(degrees) * std::numbers::pi_v<float> / 180.0f;
}

// The ring indexes come with the world record; a damaged window is dropped
// rather than followed outside the array.
static void _parts_check(Zentar& world) {
    if (world.parts_start < 0 || world.parts_start >= ZT_PARTS || world.parts_count < 0 ||
        world.parts_count > ZT_PARTS) {
        qel_log("parts: bad ring window %d+%d, emptied\n", world.parts_start, world.parts_count);
        world.parts_start = 0;
        world.parts_count = 0;
    }
}

// A point of the disc of radius rad around (x, y), by rejection. A hit comes
// within a few tries; the bound only stops NaN or overflowing input from
// looping for ever, and then the centre is used.
static void _parts_in_disc(float x, float y, float rad, float& px, float& py) {
    for (int tries = 0; tries < 64; tries++) {
        px = _parts_rand01() * 2.0f * rad + x - rad;
        py = _parts_rand01() * 2.0f * rad + y - rad;
        float dx = px - x, dy = py - y;
        if (std::sqrt(dx * dx + dy * dy) <= rad) return;
    }
    px = x;
    py = y;
}

// Angle first, then speed (0 .. 39.6).
static void _parts_velocity(Part& p) {
    float ang = _parts_rad(rand() % 360);
    float speed = static_cast<float>(rand() % 100) * 40.0f / 100.0f;
    p.vx = speed * std::cos(ang);
    p.vy = speed * std::sin(ang);
}

// ---- public ----------------------------------------------------------------------

Part* part_init(Zentar& world) {
    _parts_check(world);
    int index = (world.parts_start + world.parts_count) % ZT_PARTS;
    if (world.parts_count < ZT_PARTS)
        world.parts_count += 1;
    else
        world.parts_start = (world.parts_start + 1) % ZT_PARTS;
    Part& p = world.parts[index];
    std::memset(static_cast<void*>(&p), 0, sizeof(Part));
    p.alive = 1;
    return &p;
}

void parts_loop(Zentar& world, float dt) {
    _parts_check(world);
    int passed = 0;
    bool front = true;  // still looking for the first live entry
    for (int i = 0; i < world.parts_count; i++) {
        Part& p = world.parts[(world.parts_start + i) % ZT_PARTS];
        p.age += dt;
        if (p.age >= p.d) p.alive = 0;
        if (front) {
            if (p.alive)
                front = false;
            else
                passed++;
        }
    }
    world.parts_start = (world.parts_start + passed) % ZT_PARTS;
    world.parts_count -= passed;
}

void parts_ship_explode(Zentar& world, float x, float y, int style) {
    (void)style;  // every style bursts alike
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    for (int i = 0; i < 16; i++) {
        Part& p = *part_init(world);
        std::strcpy(p.src, "spark");
        p.r = static_cast<float>(rand() % 5 + 4);
        _parts_in_disc(x, y, 1.0f, p.x, p.y);
        _parts_velocity(p);
        float flight = static_cast<float>(rand() % 100) / 100.0f / 40.0f;
        p.x += p.vx * flight;
        p.y += p.vy * flight;
        p.d = 0.5f + _parts_rand01() * 0.2f;
        p.a = 1.0f;
        p.q = _parts_rad(rand() % 360);
        p.va = -p.a / p.d;
    }
}

void parts_planet_explode(Zentar& world, float x, float y, float radius, int style) {
    (void)style;
    // The ring holds 2048, so more than that would only overwrite this burst;
    // the cap also keeps a huge or broken radius from looping for ever.
    if (!std::isfinite(radius) || !std::isfinite(x) || !std::isfinite(y)) return;
    radius = std::fabs(radius);
    float want = radius * radius / 35.0f;
    int count = std::min(zt_sat_int(want), static_cast<int32_t>(ZT_PARTS));
    for (int i = 0; i < count; i++) {
        Part& p = *part_init(world);
        std::strcpy(p.src, "spark");
        p.r = static_cast<float>((rand() % 5 + 4) * 3);
        _parts_in_disc(x, y, radius, p.x, p.y);
        _parts_velocity(p);
        p.a = 1.0f;
        p.d = 0.5f + _parts_rand01() * 0.2f;
        p.q = _parts_rad(rand() % 360);
        p.va = -1.0f / p.d;
    }
}
