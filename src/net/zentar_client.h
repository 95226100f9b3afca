// zentar_client: the client side of world sync.
//
// A client simulates its own copy of the world; host records correct it.
// Host items live in local slots (client_map_local), fleets fly locally and
// only take the host's target, speed and ship count, and the player's own
// sends are predicted at once under a temporary id until the host's fleet
// arrives and is adopted into the same local slot. The message layouts are
// at the top of zentar_server.cpp.
#pragma once

#include "net/net.h"
#include "world/zentar.h"

// What a client takes from host records: a real beyond these becomes 0 (the
// simulation handles none beyond them, and a host sends none). Coordinates
// reach 40 times the widest field the shipped mods lay out, radii ten times
// that of a planet of production 100, and a user's units fly at 40 times
// its speed factor.
constexpr float ZC_COORD_MAX = 100000.0f;  // positions, view and bounds
constexpr float ZC_RADIUS_MAX = 256.0f;    // collide_r, planet_r, fleet_r
constexpr float ZC_MASS_MAX = 1.0e6f;      // collide_mass (pi 256^2 is about 2e5)
constexpr float ZC_SPEED_MAX = 10000.0f;   // unit_speed, motion per second
constexpr float ZC_SHIPS_MAX = 1.0e9f;     // ship counts and production
constexpr float ZC_FACTOR_MAX = 1000.0f;   // a user's production and ships multipliers
// What the match painter draws from: sizes, anchors and the ends of drawn
// lines and triangles lie within the coordinates; a picture is scaled at
// most this much, and a label's font is at most this many units high.
constexpr float ZC_IMAGE_SCALE_MAX = 1000.0f;
constexpr int32_t ZC_LABEL_SIZE_MAX = 256;

// Applies one host message; does nothing on a local endpoint (whose world is
// the host's own).
void zentar_client_handle(Net* net, Zentar& world, NetMessage& msg);
// The ping, once a second; call every frame while the match runs.
void zentar_client_loop(Net* net, Zentar& world);
// The player's commands; slots are local.
void zentar_client_send(Net* net, Zentar& world, int percent, int from, int to);
void zentar_client_redirect(Net* net, Zentar& world, int fleet, int to);

// ---- internals the tests look at -------------------------------------------------

// Local slot of the provisional fleet of a temporary id, 0 when unknown.
// Never inserts.
int _zentar_client_temp_lookup(int temp_id);
int _zentar_client_temp_count();
// Forgets the ping schedule: the next loop pings at once.
void _zentar_client_schedule_reset();
