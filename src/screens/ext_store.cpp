// ext_store: the Zencoin store screen, the platform store hook and the
// receipts kept until the server has confirmed them.
//
// "receipts.dat": {"<receipt key>": "<receipt text>", ...}
// "valid.dat":    {"<receipt key>": <number>, ...}   0 = unconfirmed
// Both compact JSON in the document directory, replaced whole on each write.
#include "screens/ext_store.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "shell/game_parts.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "markup/html2gui.h"
#include "screens/menus.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_log.h"
#include "web/game_web.h"

static const char* const STORE_VIEW = "ext_store_view";
static const char* const RECEIPTS_FILE = "receipts.dat";
static const char* const VALID_FILE = "valid.dat";

// ==== small helpers ===============================================================

static bool _is_dict(const var& v) { return v.__type__() == VAR_DICT; }


// Integer part of a number; non-numbers and NaN read as 0, huge values are
// clamped so that sums of two never overflow.
static int64_t _int_part(const var& v) {
    double d = v.__num__();
    if (!std::isfinite(d)) return 0;
    if (d > 1e15) d = 1e15;
    if (d < -1e15) d = -1e15;
    return (int64_t)std::trunc(d);
}

static std::vector<var> _keys(const var& dict) {
    std::vector<var> keys;
    if (!_is_dict(dict)) return keys;
    var walk(dict.__iter__());
    var key, value;
    while (walk.__pair__(key, value)) keys.push_back(key);
    return keys;
}

static var _load_dict(const char* name) {
    std::string text = driver_doc_load(name);
    var out(VAR_DICT, 0);
    if (text.empty()) return out;
    var parsed;
    if (json_decode(parsed, text.data(), text.size()) != 0 || !_is_dict(parsed)) {
        qel_log("store: %s is not a JSON object, read as empty\n", name);
        return out;
    }
    return parsed;
}

static void _save_dict(const char* name, var dict) {
    if (!_is_dict(dict)) dict = var(VAR_DICT, 0);
    std::string text = json_encode(dict);
    // A lost receipt is a lost purchase: say so.
    if (!driver_doc_save(name, text.data(), (int)text.size())) qel_log("store: %s not saved\n", name);
}

// ==== hooks =======================================================================

// This edition has no platform store: nothing to set up or poll.
void ext_store_init(GameParts&) {}
void ext_store_loop(GameParts&) {}

var ext_store_call(GameParts&, std::string, var) { return var(); }

// ==== receipts ====================================================================

var ext_store_receipts_load() { return _load_dict(RECEIPTS_FILE); }
var ext_store_valid_load() { return _load_dict(VALID_FILE); }
void ext_store_receipts_save(var receipts) { _save_dict(RECEIPTS_FILE, receipts); }
void ext_store_valid_save(var valid) { _save_dict(VALID_FILE, valid); }

var ext_store_web_data() {
    var receipts = ext_store_receipts_load();
    var valid = ext_store_valid_load();
    // Confirmed receipts stay on disk but are not sent again.
    for (const var& key : _keys(valid))
        if (valid.__get__(key).__num__() != 0 && receipts.__has__(key)) receipts.__del__(key);
    qel_log("receipts len: %d, valid len: %d\n", receipts.__len__(), valid.__len__());
    var out(VAR_DICT, 0);
    out["receipts"] = receipts;
    out["valid"] = valid;
    return out;
}

void ext_store_web_receipts_callback(var valid) {
    if (!_is_dict(valid) || valid.__len__() < 1) return;
    var receipts = ext_store_receipts_load();
    for (const var& key : _keys(receipts))
        if (!valid.__has__(key)) valid.__set__(key, var(0));
    // Every login and receipts request carries the verdicts, each byte of
    // them up to three times over once encoded: verdicts near the size of a
    // whole reply would make every later request too long to be sent, and
    // the account could not log in again. The old verdicts are kept instead.
    size_t bytes = json_encode(valid).size();
    if (bytes > STORE_VERDICTS_MAX_BYTES) {
        qel_log("store: verdicts of %zu bytes not kept, at most %d\n", bytes, (int)STORE_VERDICTS_MAX_BYTES);
        return;
    }
    ext_store_valid_save(valid);
}

static ExtStoreView* _store_on_top(GameParts& game) {
    State* top = game.view.get_state(0);
    if (top != GameView::find_state(STORE_VIEW)) return nullptr;
    return dynamic_cast<ExtStoreView*>(top);
}

void _ext_store_callback_receipt(std::string key, std::string receipt) {
    qel_log("adding receipt\n");
    var receipts = ext_store_receipts_load();
    var valid = ext_store_valid_load();
    receipts.__set__(var(key), var(receipt));
    valid.__set__(var(key), var(0));
    ext_store_receipts_save(receipts);
    ext_store_valid_save(valid);
    GameParts* game = game_parts();
    if (!game) return;
    game->web_receipts();
    if (ExtStoreView* v = _store_on_top(*game)) v->call(var("success"));
}

void _ext_store_callback_success() {
    GameParts* game = game_parts();
    if (!game) return;
    if (ExtStoreView* v = _store_on_top(*game)) v->call(var("success"));
}

void _ext_store_callback_failed() {
    GameParts* game = game_parts();
    if (!game) return;
    if (_store_on_top(*game)) game->view.pop(2);
}

void ext_store_web_store_callback(var reply) {
    GameParts* game = game_parts();
    if (!game) return;
    ExtStoreView* view = dynamic_cast<ExtStoreView*>(GameView::find_state(STORE_VIEW));
    if (!view) {
        view = new ExtStoreView(game);
        GameView::register_state(STORE_VIEW, view);
    }
    view->data = reply;
    game->view.push(STORE_VIEW, 2);
}

// ==== the store page ==============================================================

// "1000" -> "1,000": the comma goes before the last three zeros only.
static std::string _coins_text(const var& coins) {
    return str_replace(coins.__str__() + ".", "000.", ",000");
}

static std::string _product_markup(const var& d) {
    std::string m = "<td><input type='button' onclick='" + _game_web_member(d, "id").__str__() +
                    "' class='xicon1' width=1 height=120><table width=120>";
    m += "<tr><td background='white:#444444' height=32><h3>" + _game_web_member(d, "price").__str__() + "</h3>";
    m += "<tr><td><img src='blank' width=1 height=5 />";
    m += "<tr><td><div font='font-gui:12'>" + _game_web_member(d, "title").__str__() + "</div>";
    m += "<tr><td height=50 valign=center><img src='coin' width=40 height=40 />";
    m += "<tr><td background='white:#444444' height=32><table><tr>";
    m += "<td><h3>" + _coins_text(_game_web_member(d, "coins")) + "&nbsp;</h3>";
    m += "<td><img src='coin' width=24 height=24 />";
    m += "</table>";
    m += "</table></button>";
    return m;
}

std::string ext_store_markup(var data) {
    int64_t recent = _int_part(_game_web_member(data, "recent"));
    int64_t limit = _int_part(_game_web_member(data, "limit"));
    var products = _game_web_member(data, "data");

    std::string m = "<table>";
    m += "<tr><td class='box2'><h4 width=280 align=center>" + _game_web_member(data, "header").__str__() + "</p>";
    m += "<tr><td>&nbsp;";
    m += "<tr><td><table>";
    int shown = 0;
    for (int n = 1; n <= 100; n++) {
        var d = _game_web_member(products, std::to_string(n).c_str());
        if (!_is_dict(d)) continue;
        if (!_game_web_member(d, "ready").__bool__()) continue;
        if (limit < _int_part(_game_web_member(d, "coins")) + recent) continue;
        if (shown % 2 == 0) m += "<tr>";  // two products a row
        m += _product_markup(d);
        shown++;
    }
    m += "</table>";
    m += "<tr><td>&nbsp;";
    m += "<tr><td class='box2'><h4 width=280 align=center>" + _game_web_member(data, "footer").__str__() + "</p>";
    m += "<tr><td>&nbsp;";
    m += "<tr><td><input type='button' class='ibutton1' icon='icon-cancel'  onclick='cancel' value='Cancel' />";
    m += "</table>";
    return m;
}

ExtStoreView::ExtStoreView(GameParts* g) : game(g), data(VAR_DICT, 0) {}

void ExtStoreView::init() {
    root = Container();

    // What the platform sells becomes buyable at the platform's price.
    var products = ext_store_call(*game, "store:products", var());
    var entries = _game_web_member(data, "data");
    if (products.__type__() == VAR_LIST && _is_dict(entries)) {
        for (int i = 0; i < products.__len__(); i++) {
            var p = products[i];
            for (const var& key : _keys(entries)) {
                var d = entries.__get__(key);
                if (!_is_dict(d) || !_game_web_member(d, "id").__eq__(_game_web_member(p, "id"))) continue;
                d["ready"] = var(true);
                d["price"] = _game_web_member(p, "price");
            }
        }
    }

    Box* box = new Box(html2gui(ext_store_markup(data), var(VAR_DICT, 0)));
    box->style.declared().width = (float)(game_get_sw() - 11);
    root.add(menus_scrollbox(box, 0, 0), 0, 0);
}

// One centred box with a message and a button that closes the store.
static void _store_message(Container& root, const char* message, const char* button) {
    root = Container();
    std::string m = "<table class='box'>";
    m += message;
    m += "<tr><td>&nbsp;";
    m += button;
    Box* box = new Box(html2gui(m, var(VAR_DICT, 0)));
    box->style.declared().width = (float)game_get_sw();
    box->style.declared().height = (float)game_get_sh();
    root.add(box, 0, 0);
}

void ExtStoreView::please_wait() {
    _store_message(root, "<tr><td><p width=240 align=center>One moment ...</p>",
                   "<tr><td><input type='button' class='button1' value='Back' onclick='cancel'></table>");
}

void ExtStoreView::do_success() {
    _store_message(root,
                   "<tr><td><p width=240 align=center>Thank you for supporting Zentar 2 by purchasing Zencoins!  "
                   "Your coins should appear in a few moments.</p>",
                   "<tr><td><input type='button' class='button1' value='OK' onclick='cancel'></table>");
}

void ExtStoreView::event(Event e) {
    var action = root.event(&e);
    if (!_is_dict(action) || _game_web_member(action, "type").__str__() != "onclick") return;
    std::string value = _game_web_member(action, "value").__str__();
    if (value == "cancel") {
        game->view.pop(2);
        return;
    }
    ext_store_call(*game, "store:buy", var(value));
    please_wait();
}

var ExtStoreView::call(var msg) {
    if (msg.__str__() == "success") do_success();
    return var();
}

void ExtStoreView::paint() { ext_store_paint_over(*game, this, root); }

void ExtStoreView::loop(float) { menus_loop_common(root); }

// ==== painting over the screen below ==============================================

void ext_store_paint_over(GameParts& game, State* self, Container& root) {
    State* below = game.view.get_state(1);
    if (below && below != self) below->paint();
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_ortho();
    glColor4ub(0, 0, 0, 212);
    gfx_img_blit(gfx_img_load("black"), 0, 0, (float)game_get_sw(), (float)game_get_sh());
    glColor4ub(255, 255, 255, 255);
    root.Container::resize();
    root.Container::paint();
}
