// game_net: the match client and host glue between the network endpoints,
// the world sync and the running mod.
//
// The application's frame loop calls game_server_loop, then game_client_loop;
// mods start and stop the endpoints (z2_net_host, z2_net_join); the in-match
// controls send ships and redirect fleets through game_send / game_redirect.
// Every message reaches the world sync first and then, as a "net:"-typed
// event, the mod (a client's mod hears only types of two or more characters,
// and none at all when this process hosts).
#pragma once

#include <string>

#include "world/zentar.h"

class Game;
class Chat;
struct NetMessage;
struct ZentarUI;

// ---- client (game_client.cpp) ------------------------------------------------------

// Replaces any client endpoint. An empty host joins this process's own host
// through a local endpoint to "localhost". Only built-in mods may use the
// login token; others join with an empty key. False, with the reason logged
// and no endpoint left, when ENet cannot make one (a port out of range).
bool game_client_init(Game& game, const char* host, int port, std::string token);
// Handles what the host sent, in order, at most GAME_CLIENT_FRAME_MESSAGES
// messages a frame, of them at most GAME_CLIENT_FRAME_MOD_EVENTS for the mod
// (pages, states, sounds and stored data cost far more than a record, and a
// host sends few) and at most one world reset; the rest waits for the next
// frame. Two records for every slot of the world (a refresh) fit one frame.
void game_client_loop(Game& game);
inline constexpr int GAME_CLIENT_FRAME_MESSAGES = 2 * ZT_ITEMS + 8;
inline constexpr int GAME_CLIENT_FRAME_MOD_EVENTS = 16;
void game_client_deinit(Game& game);
void game_send(Game& game, int percent, int from, int to);
void game_redirect(Game& game, int fleet, int to);
// Who this player joins as: the web account's uid in the form net_uid gives
// it or, without a web login, "lan" and 12 hexadecimal digits of a digest of
// the device id; named by the account's display name, else the player's web
// name, else an auto-name (made once and kept in the settings). The uid is
// empty only while there is no device id.
void game_net_identity(Game& game, std::string* uid, std::string* name);
inline constexpr size_t NET_LOCAL_UID_HEX = 12;
// The join key: digit-wise hexadecimal XOR of token and session key, at most
// 15 lowercase digits (characters that are no hex digit count as 0).
std::string mk_mask(const std::string& token, const std::string& session_key);

// ---- host (game_server.cpp) --------------------------------------------------------

// Replaces any host endpoint. False, with the reason logged and no endpoint
// left, when the port is out of range or cannot be bound (busy).
bool game_server_init(Game& game, int port, std::string key);
void game_server_loop(Game& game);
void game_server_deinit(Game& game);
// The host may wait in ENet: the idle test of the frame loop.
bool game_server_blocking_ok(Game& game);

// ---- shared by both halves (game_net.cpp) ------------------------------------------

// The running mod's "state" parameter; "" without a mod or when it is no string.
std::string _game_net_state(Game& game);
// Hands a message to the mod as a "net:"-typed event.
void _game_net_mods_event(Game& game, const NetMessage& msg);

