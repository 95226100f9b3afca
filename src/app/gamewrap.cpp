// gamewrap: the wrapper functions around the one Game, and the signals that
// let a host operator stop the program through its normal shutdown.
#include "app/gamewrap.h"

#include <csignal>

#include "app/game.h"
#include "ruvezor/util/qel_log.h"

static Game* _game = nullptr;

// Set by SIGINT or SIGTERM; the next frame turns it into the quit flag.
static volatile sig_atomic_t _game_signal = 0;

static void _game_on_signal(int sig) { _game_signal = sig; }

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
    _game = new Game();
    _game->args(argc, argv);
    _game->init();
}

void game_event(Event e) {
    if (_game) _game->event(e);
}

void game_loop() {
    if (!_game) return;
    if (_game_signal) {
        qel_log("signal %d: quit\n", (int)_game_signal);
        _game_signal = 0;
        _game->quit = 1;
    }
    _game->loop();
}

void game_paint() {
    if (_game) _game->paint();
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
