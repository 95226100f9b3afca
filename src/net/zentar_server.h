// zentar_server: the host side of world sync.
//
// The host mirrors its world to the clients and applies their "send" and
// "redirect" commands. Each synced item goes out whole once ("I"), that copy
// becomes its base, and from then on it travels as a 640-byte XOR delta
// against the base ("D"), which stays correct whatever deltas were lost.
// Message layouts are at the top of zentar_server.cpp.
#pragma once

#include <string>

#include "net/net.h"
#include "world/zentar.h"

// Once per frame while the hosting mod's state is "play": "X" when the world
// header changed, a full pass about once a second and a dirty pass otherwise.
void zentar_server_loop(Net* net, Zentar& world);
// Applies one message the host endpoint delivered, before the mod sees it.
void zentar_server_handle(Net* net, Zentar& world, NetMessage& msg);

// Sends slot n: mode 0 (whole when flagged, else an unreliable delta) or
// mode 1 (refresh: base "S" then a reliable "D") to uid ("" for all).
void zentar_server_sync_item(Net* net, Zentar& world, int n, int mode, const std::string& uid);
void zentar_server_sync_ext(Net* net, Zentar& world, const std::string& uid);
void zentar_server_sync_active(Net* net, Zentar& world);
void zentar_server_sync_items_all(Net* net, Zentar& world);
void zentar_server_sync_items_now(Net* net, Zentar& world);

// Through the Game's host endpoint, when there is one: slot n at once to all,
// then its fleet_source is cleared. Used by the mod API.
void zentar_server_sync_item_now(int n);
// After a fleet was redirected; reissue 1 gives a fleet made for a client's
// send a new uid and tells the clients with "F".
void zentar_server_sync_redirect_now(int n, int reissue);

// World hooks: a fleet is about to be released; the world was reset.
void _zentar_server_on_destroy(Zentar& world, int n);
void _zentar_server_on_reset(Zentar& world);

// ---- internals the tests look at -------------------------------------------------

// Host slot of the fleet made for a temporary id, 0 when unknown. Never
// inserts.
int _zentar_server_temp_lookup(int temp_id);
// Entries in the temporary-id lookup.
int _zentar_server_temp_count();
// Forgets the full-pass schedule: the next loop runs a full pass.
void _zentar_server_schedule_reset();
