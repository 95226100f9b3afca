// game_view: the named screen stack and the registry of screens.
//
// Every screen is a State registered once under a short name; the registry
// owns it until unregister_states. GameView, embedded in the Game, holds the
// current name and a stack of 16 names (entry 0 the top, "" a free entry).
// Moves go by name: next replaces the top, push opens a screen over it, pop
// returns to the one below. Each move asks builds_trans_get which animated
// transition to arm before the old screen's deinit and the new one's init.
//
// Names are at most 31 characters; a longer one is cut, with a log line,
// wherever it is registered or moved to, and cut the same way when looked up.
//
// A move may delete the widgets of the screen it leaves (and of the one
// below a cover screen), so it never happens under the feet of code that is
// still running in them: a move asked for while the view is held (while a
// screen handles an event, runs its loop or paint, answers a call, or a move
// is under way, and while a mod call is handled) waits, in order, until the
// outermost hold ends. Without a hold a move happens at once.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ruvezor/util/qel_driver.h"  // Event
#include "ruvezor/util/qel_var.h"

struct GameParts;
class State;

struct GameView {
    char cur[32];        // current screen name, "" before the first move
    char stack[16][32];  // entry 0 is the top, "" marks a free entry

    // Holds in force, and the moves waiting for the last of them to end.
    struct Move {
        int kind;        // 0 next, 1 push, 2 pop
        char name[32];   // next and push
        int arg;
    };
    int32_t held = 0;
    std::vector<Move> waiting;

    // Keeps moves waiting for as long as it lives; the last one to go makes
    // them. Nothing of the code that held the view may run after that.
    class Hold {
    public:
        explicit Hold(GameView& v) : v_(v) { v_.held++; }
        ~Hold() { v_.release(); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
    private:
        GameView& v_;
    };
    void release();
    // The current screen's name once every waiting move is made.
    std::string dest() const;

    // Registry. A second registration under a name replaces the first
    // without deleting it (the caller may still hold it).
    static void register_state(const char* name, State* s);
    static State* find_state(const char* name);
    static void unregister_states();
    State* get_state(int i);  // screen of stack entry i, null outside 0..15
    bool in_stack(const char* name);

    // Moves; arg is the caller's transition, -1 for none.
    void next(const char* name, int arg);
    void push(const char* name, int arg);
    void pop(int arg);

    // The screen registered under cur; each does nothing without one.
    void state_init();
    void state_deinit();
    void state_paint();
    void state_event(Event e);
    void state_loop(float dt);
    var state_call(var msg);

    // For a caller that checks before it dispatches: true, as every
    // registered name holds a screen.
    bool _state_valid();
};

// The registry, process-wide: it owns the screens from registration until
// unregister_states.
struct _GameViewData {
    std::map<std::string, State*> _game_states;  // name -> screen, in byte order of the names
};
extern _GameViewData _game_view;

// Transition mode for a move from one screen to another; dir is 0 for next,
// +1 for push and -1 for pop. -1 when arg is -1.
int builds_trans_get(const char* from, const char* to, int arg, int dir);

// Clears and paints the current screen and the build overlay into whatever
// framebuffer is bound (the transition capture).
void game_fbo_paint(GameParts& game);
// Steps the current screen by 0 s: for a capture that must run a screen
// before painting it (the transitions' capture only paints).
void game_fbo_loop(GameParts& game);
