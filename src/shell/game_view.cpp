// game_view: the screen registry, the 16-deep name stack, the moves between
// screens with their transition rules, and dispatch to the current screen.
#include "shell/game_view.h"

#include <cstring>
#include <set>
#include <utility>

#include "shell/game_parts.h"
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_log.h"
#include "shell/builds.h"
#include "shell/trans.h"

_GameViewData _game_view;

static const int VIEW_DEPTH = 16;
static const size_t VIEW_NAME = 32;  // bytes per name, terminator included

// Copies name into out, cut to 31 characters; logs the cut when asked.
// Null reads as "".
static void _view_name(char out[VIEW_NAME], const char* name, bool log) {
    if (!name) name = "";
    size_t n = strnlen(name, VIEW_NAME);
    if (n >= VIEW_NAME) {
        n = VIEW_NAME - 1;
        if (log) qel_log("view: screen name cut to %d characters: %.*s...\n", (int)n, (int)n, name);
    }
    memcpy(out, name, n);
    out[n] = 0;
}

// ---- registry -------------------------------------------------------------------

void GameView::register_state(const char* name, State* s) {
    char key[VIEW_NAME];
    _view_name(key, name, true);
    _game_view._game_states[key] = s;
}

State* GameView::find_state(const char* name) {
    char key[VIEW_NAME];
    _view_name(key, name, false);
    auto it = _game_view._game_states.find(key);
    return it == _game_view._game_states.end() ? nullptr : it->second;
}

void GameView::unregister_states() {
    // Emptied first, so a destructor that looks a screen up finds none; a
    // screen registered under two names is deleted once.
    std::map<std::string, State*> states = std::move(_game_view._game_states);
    _game_view._game_states.clear();
    std::set<State*> gone;
    for (auto& [name, s] : states)
        if (s && gone.insert(s).second) delete s;
}

State* GameView::get_state(int i) {
    if (i < 0 || i >= VIEW_DEPTH) return nullptr;
    return find_state(stack[i]);
}

bool GameView::in_stack(const char* name) {
    char key[VIEW_NAME];
    _view_name(key, name, false);
    for (int i = 0; i < VIEW_DEPTH; i++)
        if (strcmp(stack[i], key) == 0) return true;
    return false;
}

bool GameView::_state_valid() { return true; }

// ---- dispatch -------------------------------------------------------------------

void GameView::state_init() {
    Hold hold(*this);
    if (State* s = find_state(cur)) s->init();
}

void GameView::state_deinit() {
    Hold hold(*this);
    if (State* s = find_state(cur)) s->deinit();
}

void GameView::state_paint() {
    Hold hold(*this);
    if (State* s = find_state(cur)) s->paint();
}

void GameView::state_event(Event e) {
    Hold hold(*this);
    if (State* s = find_state(cur)) s->event(e);
}

void GameView::state_loop(float dt) {
    Hold hold(*this);
    if (State* s = find_state(cur)) s->loop(dt);
}

var GameView::state_call(var msg) {
    Hold hold(*this);
    if (State* s = find_state(cur)) return s->call(msg);
    return var();
}

void game_fbo_paint(GameParts& game) {
    gfx_clear();
    game.view.state_paint();
    builds_game_paint_overlay();
}

void game_fbo_loop(GameParts& game) { game.view.state_loop(0); }

// ---- moves ----------------------------------------------------------------------

// Captures the outgoing screen and arms transition mode t (-1: none).
static void _view_grab(int t) {
    if (t == -1) return;
    if (GameParts* game = game_parts()) game_trans_grab(*game, 1, t);
}

// Moves entries 1..15 to 0..14 and clears entry 15.
static void _view_shift_up(char stack[][VIEW_NAME]) {
    memmove(stack[0], stack[1], (VIEW_DEPTH - 1) * VIEW_NAME);
    memset(stack[VIEW_DEPTH - 1], 0, VIEW_NAME);
}

// The name arithmetic of next: `to` on top, and the deepest earlier
// occurrence of it becomes the top, everything above it dropped.
static void _view_stack_next(char stack[][VIEW_NAME], const char* to) {
    memcpy(stack[0], to, VIEW_NAME);
    int k = 0;
    for (int i = 1; i < VIEW_DEPTH; i++)
        if (strcmp(stack[i], to) == 0) k = i;
    for (int i = 0; i < k; i++) _view_shift_up(stack);
}

// A chain of screens whose init keeps moving on is cut off here.
static const int VIEW_MOVES_MAX = 64;

void GameView::next(const char* name, int arg) {
    Move m{0, {}, arg};
    _view_name(m.name, name, true);
    waiting.push_back(m);
    if (held) return;
    held++;
    release();
}

void GameView::push(const char* name, int arg) {
    Move m{1, {}, arg};
    _view_name(m.name, name, true);
    waiting.push_back(m);
    if (held) return;
    held++;
    release();
}

void GameView::pop(int arg) {
    waiting.push_back(Move{2, {}, arg});
    if (held) return;
    held++;
    release();
}

void GameView::release() {
    if (held > 1) {
        held--;
        return;
    }
    // The last hold: each waiting move is made while the view is still held,
    // so that what a screen's deinit or init asks for waits its turn.
    int made = 0;
    while (!waiting.empty()) {
        Move m = waiting.front();
        waiting.erase(waiting.begin());
        if (++made > VIEW_MOVES_MAX) {
            qel_log("view: more than %d screen changes in a row, the rest dropped\n", VIEW_MOVES_MAX);
            waiting.clear();
            break;
        }
        if (m.kind == 0) {
            _view_grab(builds_trans_get(cur, m.name, m.arg, 0));
        } else if (m.kind == 1) {
            _view_grab(builds_trans_get(cur, m.name, m.arg, +1));
            if (stack[VIEW_DEPTH - 1][0]) qel_log("view: stack full, \"%s\" dropped\n", stack[VIEW_DEPTH - 1]);
            memmove(stack[1], stack[0], (VIEW_DEPTH - 1) * VIEW_NAME);
            memcpy(stack[0], m.name, VIEW_NAME);
        } else {
            if (!stack[1][0]) continue;  // the last screen stays
            _view_grab(builds_trans_get(cur, stack[1], m.arg, -1));
            _view_shift_up(stack);
            memcpy(m.name, stack[0], VIEW_NAME);
        }
        if (State* old = find_state(cur)) old->deinit();
        _view_stack_next(stack, m.name);
        memcpy(cur, m.name, VIEW_NAME);
        State* s = find_state(cur);
        if (!s) {
            qel_log("view: no screen named \"%s\"\n", cur);
            continue;
        }
        s->init();
    }
    held = 0;
}

std::string GameView::dest() const {
    if (waiting.empty()) return cur;
    char names[VIEW_DEPTH][VIEW_NAME];
    memcpy(names, stack, sizeof(names));
    for (const Move& m : waiting) {
        char to[VIEW_NAME];
        memcpy(to, m.name, VIEW_NAME);
        if (m.kind == 1) {
            memmove(names[1], names[0], (VIEW_DEPTH - 1) * VIEW_NAME);
        } else if (m.kind == 2) {
            if (!names[1][0]) continue;
            _view_shift_up(names);
            memcpy(to, names[0], VIEW_NAME);
        }
        _view_stack_next(names, to);
    }
    return names[0];
}

// ---- transition rules -----------------------------------------------------------

// Screens that share a group move between each other without a change of scene.
static const char* _view_group(const char* name) {
    if (!strcmp(name, "states_pause") || !strcmp(name, "states_play")) return "play";
    if (!strncmp(name, "menus_settings", 14) || !strcmp(name, "menus_login")) return "settings";
    if (!strcmp(name, "states_lobby") || !strcmp(name, "states_xlobby")) return "lobby";
    return name;
}

int builds_trans_get(const char* from, const char* to, int arg, int dir) {
    if (arg == -1) return -1;
    if (!from) from = "";
    if (!to) to = "";
    const char* a = _view_group(from);
    const char* b = _view_group(to);
    qel_log("trans: %s (%s) -> %s (%s)\n", from, a, to, b);
    auto is = [](const char* g, const char* name) { return strcmp(g, name) == 0; };
    if (is(a, b)) return is(a, "lobby") ? 0 : arg;
    if (!a[0]) return 1;
    if (is(a, "menus_main")) return 1;
    if (is(b, "menus_main")) return 4;
    if (is(b, "menus_news") || is(a, "menus_news")) return 1;
    if (is(a, "menus_lite") && is(b, "states_tabs")) return 1;
    if (dir != 0) return 2;
    if (is(a, "lobby") && is(b, "play")) return 1;
    if (is(a, "play") && is(b, "lobby")) return 4;
    if (is(a, "states_tabs") && is(b, "lobby")) return 1;
    if (is(a, "lobby") && is(b, "states_tabs")) return 4;
    if (is(a, "states_tabs") && is(b, "play")) return 1;
    if (is(a, "play") && is(b, "states_tabs")) return 4;
    return 2;
}
