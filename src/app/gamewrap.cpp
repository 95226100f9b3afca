// gamewrap: the wrapper functions around the one Game, and the signals that
// let a host operator stop the program: the first SIGINT, SIGTERM or SIGHUP
// (the terminal or ssh session it was started from closed) through its
// normal shutdown; a second one at once, and so does the first by itself
// when the frame loop has not ended within GAME_SIGNAL_GRACE_S seconds
// (something is stuck: a spinning mod, a long call), so that a service
// manager's single SIGTERM is enough. One stop delivered twice in a moment
// (timeout(1) signals the program and then its whole group) is one stop.
#include "app/gamewrap.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <ctime>

#include "app/game.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_social.h"

// Seconds the frame loop has to take the first signal and end.
static constexpr unsigned GAME_SIGNAL_GRACE_S = 5;
// A second signal this soon after the first is the same stop sent twice.
static constexpr int GAME_SIGNAL_TWICE_MS = 200;

// Module state: the one Game and the signals that stop it. The handler
// writes only the two sig_atomic_t fields.
struct _GameWrapData {
    Game* _game = nullptr;                // made by game_init, deleted by game_deinit
    volatile sig_atomic_t signal = 0;     // the first stop signal; the next frame quits on it
    volatile sig_atomic_t signals = 0;    // how many came
    volatile sig_atomic_t signal_ms = 0;  // monotonic clock (ms, 31 bits) at the first
    bool signal_taken = false;            // the frame loop has turned the signal into the quit flag
};
static _GameWrapData _gamewrap;

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

static int _game_signal_clock_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int)(((long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000) & 0x7fffffff);
}

static void _game_on_signal(int sig) {
    int seen = _gamewrap.signals;
    _gamewrap.signals = seen + 1;
    int now = _game_signal_clock_ms();
    if (seen == 0) {
        _gamewrap.signal = sig;
        _gamewrap.signal_ms = now;
        alarm(GAME_SIGNAL_GRACE_S);
        return;
    }
    if (((now - _gamewrap.signal_ms) & 0x7fffffff) < GAME_SIGNAL_TWICE_MS) return;
    char line[96];
    size_t n = _line_add(line, 0, sizeof(line), "signal ");
    n = _line_add_int(line, n, sizeof(line), sig);
    _line_add(line, n, sizeof(line), " again: ending at once\n");
    _game_end_now(sig, line);
}

// The frame loop did not end in time after the first signal.
static void _game_on_alarm(int) {
    int sig = _gamewrap.signal;
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
    // Left to its default, a hang-up ended the host on the spot: the players
    // were never told, and its log did not say why it had gone. A host
    // started under nohup was asked to outlive its terminal: it still does.
    struct sigaction hup = {};
    if (sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler != SIG_IGN) sigaction(SIGHUP, &sa, nullptr);
    sa.sa_handler = _game_on_alarm;
    sigaction(SIGALRM, &sa, nullptr);
    // Every log line goes to standard output too: a host started into a
    // pipe (`| tee`, a terminal that closed) must not die with the reader.
    // A failed write is simply lost there; the log file still has the line.
    signal(SIGPIPE, SIG_IGN);
}

void game_init(int argc, char** argv) {
    if (_gamewrap._game) return;
    _game_signals_install();
    _social_set_event_handler(game_event);  // platform login and logout
    _gamewrap._game = new Game();
    _gamewrap._game->args(argc, argv);
    _gamewrap._game->init();
}

void game_event(Event e) {
    if (_gamewrap._game) _gamewrap._game->event(e);
}

void game_loop() {
    if (!_gamewrap._game) return;
    if (_gamewrap.signal && !_gamewrap.signal_taken) {
        qel_log("signal %d: quit\n", (int)_gamewrap.signal);
        _gamewrap.signal_taken = true;
        _gamewrap._game->quit = 1;
    }
    _gamewrap._game->loop();
}

void game_paint() {
    if (_gamewrap._game) _gamewrap._game->paint();
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

bool game_is_quit() { return !_gamewrap._game || _gamewrap._game->quit != 0; }

int game_exit_status() { return _gamewrap._game ? _gamewrap._game->exit_status : 0; }

void game_deinit() {
    // The frame loop has ended: the shutdown itself is the normal road.
    alarm(0);
    if (!_gamewrap._game) return;
    _gamewrap._game->deinit();
    // Log lines after this point must not read the deleted game's port.
    if (_game_data.GAME_THIS == _gamewrap._game) _game_data.GAME_THIS = nullptr;
    delete _gamewrap._game;
    _gamewrap._game = nullptr;
}
