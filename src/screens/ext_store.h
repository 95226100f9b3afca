// ext_store: the Zencoin store screen and the purchase receipts.
//
// The web API describes the offer in a "store" reply; ExtStoreView shows it
// as a grid of product buttons over the previous screen. Purchases run in a
// platform store behind ext_store_call; this desktop edition has none, so the
// hook answers none and the receipt callbacks are never reached from here.
//
// Document files, both compact JSON objects written whole:
//   "receipts.dat"  receipt key -> receipt text (only grows)
//   "valid.dat"     receipt key -> number, 0 = not yet confirmed
// Missing, empty or unreadable files read as {}. Main thread only.
#pragma once

#include <string>

#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

struct GameParts;

class ExtStoreView : public State {
public:
    GameParts* game;
    var data;        // the last store reply; {} until the first
    Container root;

    explicit ExtStoreView(GameParts* g);
    void init() override;
    void paint() override;
    void event(Event e) override;
    void loop(float dt) override;
    var call(var msg) override;

    void please_wait();
    void do_success();
};

void ext_store_init(GameParts& game);
void ext_store_loop(GameParts& game);

// The platform store hook ("store:products", "store:buy"); none here.
var ext_store_call(GameParts& game, std::string name, var arg);

var ext_store_receipts_load();
var ext_store_valid_load();
void ext_store_receipts_save(var receipts);
void ext_store_valid_save(var valid);

// {"receipts": <unconfirmed receipts>, "valid": <all verdicts>}.
var ext_store_web_data();
// The server's verdicts; nothing unless a non-empty dict, and nothing when
// they take more than STORE_VERDICTS_MAX_BYTES as JSON.
void ext_store_web_receipts_callback(var valid);
enum { STORE_VERDICTS_MAX_BYTES = 256 * 1024 };
// Shows the store for a "store" reply.
void ext_store_web_store_callback(var reply);

// Purchase hooks for a platform store; no store on the desktop calls them.
void _ext_store_callback_receipt(std::string key, std::string receipt);
void _ext_store_callback_success();
void _ext_store_callback_failed();

// The store page markup for a reply (products already merged).
std::string ext_store_markup(var data);

// Paints the screen below `self` on the stack, dims it, then root's widgets
// in white; the overlay screens of the store share it.
void ext_store_paint_over(GameParts& game, State* self, Container& root);
