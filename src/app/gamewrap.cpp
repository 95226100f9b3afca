// gamewrap: the wrapper functions around the one Game, and the signals that
// let a host operator stop the program: the first SIGINT or SIGTERM through
// its normal shutdown; a second one at once, and so does the first by itself
// when the frame loop has not ended within GAME_SIGNAL_GRACE_S seconds
// (something is stuck: a spinning mod, a long call), so that a service
// manager's single SIGTERM is enough.
#include "app/gamewrap.h"

#include <unistd.h>

#include <csignal>
#include <cstring>

#include "app/game.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_social.h"

static Game* _game = nullptr;

// Seconds the frame loop has to take the first signal and end.
static constexpr unsigned GAME_SIGNAL_GRACE_S = 5;

// The first SIGINT or SIGTERM; the next frame turns it into the quit flag.
static volatile sig_atomic_t _game_signal = 0;
static volatile sig_atomic_t _game_signals = 0;  // how many came
static bool _game_signal_taken = false;

// Only async-signal-safe calls from here on.
static size_t _line_add(char* line, size_t n, size_t size, const char* text) {
    for (size_t i = 0; text[i] && n < size - 1; i++) line[n++] = text[i];
    line[n] = 0;
    return n;
}

static size_t _line_add_int(char* line, size_t n, size_t size, int v) {
    char digits[12];
    int k = 0;
    for (; v > 0 && k < 11; v /= 10) digits[k++] = (char)('0' + v % 10);
    if (k == 0) digits[k++] = '0';
    while (k > 0 && n < size - 1) line[n++] = digits[--k];
    line[n] = 0;
    return n;
}

// Logs the line and ends the process by the signal itself, as if nobody had
// caught it.
static void _game_end_now(int sig, const char* line) {
    driver_log_emergency(line);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

static void _game_on_signal(int sig) {
    int seen = _game_signals;
    _game_signals = seen + 1;
    if (seen == 0) {
        _game_signal = sig;
        alarm(GAME_SIGNAL_GRACE_S);
        return;
    }
    char line[96];
    size_t n = _line_add(line, 0, sizeof(line), "signal ");
    n = _line_add_int(line, n, sizeof(line), sig);
    _line_add(line, n, sizeof(line), " again: ending at once\n");
    _game_end_now(sig, line);
}

// The frame loop did not end in time after the first signal.
static void _game_on_alarm(int) {
    int sig = _game_signal;
    if (!sig) return;
    char line[96];
    size_t n = _line_add(line, 0, sizeof(line), "signal ");
    n = _line_add_int(line, n, sizeof(line), sig);
    n = _line_add(line, n, sizeof(line), ": still running after ");
    n = _line_add_int(line, n, sizeof(line), (int)GAME_SIGNAL_GRACE_S);
    _line_add(line, n, sizeof(line), " s, ending at once\n");
    _game_end_now(sig, line);
}

static void _game_signals_install() {
    struct sigaction sa = {};
    sa.sa_handler = _game_on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = _game_on_alarm;
    sigaction(SIGALRM, &sa, nullptr);
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
    // The frame loop has ended: the shutdown itself is the normal road.
    alarm(0);
    if (!_game) return;
    _game->deinit();
    // Log lines after this point must not read the deleted game's port.
    if (GAME_THIS == _game) GAME_THIS = nullptr;
    delete _game;
    _game = nullptr;
}
