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
