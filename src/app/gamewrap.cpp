// gamewrap: the wrapper functions around the one Game, and the signals that
// let a host operator stop the program: the first SIGINT or SIGTERM through
// its normal shutdown, a second one at once (the frame loop never took the
// first: something is stuck).
#include "app/gamewrap.h"

#include <unistd.h>

#include <csignal>
#include <cstring>

#include "app/game.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_social.h"

static Game* _game = nullptr;

// The first SIGINT or SIGTERM; the next frame turns it into the quit flag.
static volatile sig_atomic_t _game_signal = 0;
static volatile sig_atomic_t _game_signals = 0;  // how many came
static bool _game_signal_taken = false;

// Only async-signal-safe calls from here on.
static void _game_on_signal(int sig) {
    int seen = _game_signals;
    _game_signals = seen + 1;
    if (seen == 0) {
        _game_signal = sig;
        return;
    }
    char line[64] = "signal ";
    size_t n = 7;
    char digits[12];
    int k = 0;
    for (int v = sig; v > 0 && k < 11; v /= 10) digits[k++] = (char)('0' + v % 10);
    while (k > 0) line[n++] = digits[--k];
    const char* rest = " again: ending at once\n";
    for (size_t i = 0; rest[i] && n < sizeof(line) - 1; i++) line[n++] = rest[i];
    line[n] = 0;
    driver_log_emergency(line);
    // Ended by the signal itself, as if nobody had caught it.
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

static void _game_signals_install() {
    struct sigaction sa = {};
    sa.sa_handler = _game_on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void game_init(int argc, char** argv) {
    if (_game) return;
    _game_signals_install();
    _social_set_event_handler(game_event);  // platform login and logout
    _game = new Game();
    _game->args(argc, argv);
    _game->init();
}

void game_event(Event e) {
    if (_game) _game->event(e);
}

void game_loop() {
    if (!_game) return;
    if (_game_signal && !_game_signal_taken) {
        qel_log("signal %d: quit\n", (int)_game_signal);
        _game_signal_taken = true;
        _game->quit = 1;
    }
    _game->loop();
}

void game_paint() {
    if (_game) _game->paint();
}

int _main_event_poll() {
    Event e;
    memset(&e, 0, sizeof(e));
    while (driver_event_poll(&e)) game_event(e);
    return 0;
}

int _main_tick() {
    _main_event_poll();
    game_loop();
    game_paint();
    return 0;
}

bool game_is_quit() { return !_game || _game->quit != 0; }

int game_exit_status() { return _game ? _game->exit_status : 0; }

void game_deinit() {
    if (!_game) return;
    _game->deinit();
    // Log lines after this point must not read the deleted game's port.
    if (GAME_THIS == _game) GAME_THIS = nullptr;
    delete _game;
    _game = nullptr;
}
