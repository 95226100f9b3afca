// game: the Game object's command line, start-up, frame loop, event handling
// and shutdown. Game::paint and its frame limiter are in game_paint.cpp.
#include "app/game.h"

#include <GL/gl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/builds_app.h"
#include "app/game_net.h"
#include "app/test.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "net/net.h"
#include "net/zentar_sync_hooks.h"
#include "render/zentar_planet_paint.h"  // planet_paint_init
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_mixer.h"
#include "ruvezor/util/qel_social.h"
#include "ruvezor/util/qel_web.h"
#include "screens/ext_store.h"
#include "screens/menus.h"
#include "screens/states.h"
#include "screens/states_sim.h"
#include "shell/builds.h"
#include "shell/game_settings_io.h"
#include "shell/trans.h"
#include "web/game_web.h"
#include "world/preboard.h"

_GameData _game_data;

// A server that has been idle this long restarts its mod (milliseconds).
static const int GAME_DAILY_RESET_MS = 86400000;

static var _game_empty_dict() { return var(VAR_DICT, 0); }

// ---- accessors ------------------------------------------------------------------

Game* game_this() { return _game_data.GAME_THIS; }

// ---- the world sync's seams into the game ---------------------------------------------

static Net* _game_sync_host(Zentar** world) {
    Game* g = _game_data.GAME_THIS;
    if (!g || !g->server_net) return nullptr;
    *world = &g->world;
    return g->server_net.get();
}

static void _game_sync_view_set(Zentar& world, float x, float y, float w, float h) {
    static ZentarUI spare{};  // a world outside the Game has no controls of its own
    Game* g = _game_data.GAME_THIS;
    ui_view_set(world, g && &g->world == &world ? g->ui : spare, x, y, w, h);
}

static void _game_sync_ui_reset(Zentar& world) {
    Game* g = _game_data.GAME_THIS;
    // The controls start again from the player's options, as after a mod's reset.
    if (g && &g->world == &world) g->ui_restart(0);
}

// Linked with the game, the sync reaches its host endpoint and controls
// through these; they follow whichever Game GAME_THIS names.
static const bool _game_sync_hooked =
    (zentar_sync_hooks = ZentarSyncHooks{_game_sync_host, _game_sync_view_set, _game_sync_ui_reset}, true);

// ---- the other seams the layers under the Game reach it by --------------------------

static GameParts* _game_parts_of_this() {
    Game* g = _game_data.GAME_THIS;
    return g ? &g->parts : nullptr;
}

// The in-match controls command the running game's world through the client glue.
static bool _game_ui_send(Zentar& world, int percent, int from, int to) {
    Game* g = _game_data.GAME_THIS;
    if (!g || &g->world != &world) return false;
    game_send(*g, percent, from, to);
    return true;
}

static bool _game_ui_redirect(Zentar& world, int fleet, int to) {
    Game* g = _game_data.GAME_THIS;
    if (!g || &g->world != &world) return false;
    game_redirect(*g, fleet, to);
    return true;
}

static const bool _game_layers_hooked =
    (game_parts_source = _game_parts_of_this,
     zentar_ui_commands = ZentarUICommands{_game_ui_send, _game_ui_redirect},
     game_video_gl_init = planet_paint_init,
     web_store_hooks = WebStoreHooks{ext_store_web_data, ext_store_web_receipts_callback,
                                     ext_store_web_store_callback},
     true);

const char* game_log_info() {
    static char s[256];
    if (!_game_data.GAME_THIS) return "-1";
    snprintf(s, sizeof(s), "%d", _game_data.GAME_THIS->port);
    return s;
}

bool Game::is_logged_in() { return settings.logged_in != 0; }

void game_social_loop(Game&) { social_loop(); }
void game_reliable_remove(std::string) {}

// The four registration functions, in the order the screens expect.
static void _game_register_states(Game& game) {
    menus_init(game);
    test_init(game);
    states_init(game);
    builds_init(game);
}

void game_init(Game& game) {
    _game_data.GAME_THIS = &game;
    _game_register_states(game);
}

// ---- construction ---------------------------------------------------------------

Game::~Game() = default;

// What the front end asks of the Game, through its parts.
static Game& _game_of(GameParts& parts) { return static_cast<Game&>(parts.mods); }

static const GameOps _game_ops = {
    [](GameParts& g, Event e) { _game_of(g).event(e); },
    [](GameParts& g, std::string action, std::string data) { _game_of(g).do_action(action, data); },
    [](GameParts& g) { _game_of(g).do_chvideo(); },
    [](GameParts& g) { _game_of(g).do_login(); },
    [](GameParts& g) { _game_of(g).web_receipts(); },
};

Game::Game()
    : parts{_game_ops, *this,     world,      ui,       mod_builtin, mod_file, mods_api, mods_engine,
            server_net, client_net, chat,     view,     settings,    audio,    video,    quit,
            headless,   active,    server,    token,       web,      web_given} {
    hooks = &game_mods_hooks();
    // The members are zeroed by their initialisers. The engine asks the
    // shell for the log tag and the debug data directory.
    qel_log_set_tag(game_log_info);
    driver_set_debug_check(builds_get_debug);
    static const char* const rule = "=====================================================\n";
    driver_log_printf("\n");
    driver_log_printf("%s", rule);
    driver_log_printf("DO NOT SHARE LOG FILES WITH ANYONE BUT THE DEVELOPERS\n");
    driver_log_printf("%s", rule);
    driver_log_printf("VERSION: %s\n", _get_game_version_info());
    driver_log_printf("%s", rule);
    driver_log_printf("\n");
}

// ---- command line ---------------------------------------------------------------

// Copies an option value into a fixed field, cutting what doesn't fit.
static void _game_arg_copy(char* field, size_t size, const char* option, const char* value) {
    size_t n = strlen(value);
    if (n >= size) qel_log("%s: value of %zu characters cut to %zu\n", option, n, size - 1);
    str_put(field, size, value);
}

void Game::args(int argc_, char** argv_) {
    argc = argc_;
    argv = argv_;
    if (!argv_) return;
    for (int i = 0; i < argc_; i++) {
        const char* a = argv_[i];
        if (!a) continue;
        // A value is examined as an option in its own turn.
        const char* v = (i + 1 < argc_) ? argv_[i + 1] : nullptr;
        if (strcmp(a, "-headless") == 0) {
            headless = 1;
        } else if (!v) {
            continue;  // an option standing last has no effect
        } else if (strcmp(a, "-port") == 0) {
            // A mistyped port hosts nothing, and the host mods say nothing
            // about a port they were not given: said here.
            char* end = nullptr;
            errno = 0;
            long p = strtol(v, &end, 10);
            bool bad = end == v || *end || errno || p < 0 || p > 65535;
            if (bad) qel_log("-port: \"%s\" is not a port number (1 to 65535): nothing is hosted on it\n", v);
            port = bad ? 0 : (int)p;  // "7000x" would still host on 7000
        } else if (strcmp(a, "-mod") == 0) {
            _game_arg_copy(mod, sizeof(mod), a, v);
        } else if (strcmp(a, "-name") == 0) {
            _game_arg_copy(settings.name, sizeof(settings.name), a, v);
        } else if (strcmp(a, "-passwd") == 0) {
            _game_arg_copy(settings.passwd, sizeof(settings.passwd), a, v);
        } else if (strcmp(a, "-web") == 0) {
            _game_arg_copy(web, sizeof(web), a, v);
            web_given = 1;
        } else if (strcmp(a, "-crash") == 0) {
            if (strcmp(v, "wait") == 0) crash = 0;
            else if (strcmp(v, "exit") == 0) crash = 1;
            else if (strcmp(v, "restart") == 0) crash = 2;
            else  // a mistyped value would leave a supervisor waiting for an exit that never comes
                qel_log("-crash: \"%s\" is not wait, exit or restart: it stays %s\n", v,
                        crash == 1 ? "exit" : crash == 2 ? "restart" : "wait");
        }
    }
}

// ---- start-up -------------------------------------------------------------------

void Game::init() {
    srand((unsigned)time(nullptr));
    _game_data.GAME_THIS = this;
    _game_register_states(*this);

    driver_init(headless ? 12 : 255);
    driver_set_gamename("Zentar 2");
    // Started where no display answers (a console, ssh without X, a
    // DISPLAY or SDL_VIDEODRIVER naming none), the game would run on with no
    // window anyone sees, until killed.
    const char* unseen = headless ? "" : driver_video_unseen();
    if (*unseen) {
        qel_log("error no window can be shown (%s; DISPLAY is \"%s\"): start the game from a desktop session, "
                "or host a match with -headless\n",
                unseen, getenv("DISPLAY") ? getenv("DISPLAY") : "");
        GameView::unregister_states();
        driver_deinit();
        exit_status = 1;
        quit = 1;
        return;
    }
    driver_set_caption("Zentar 2");
    driver_set_icon(driver_data_fname("icon.png"));
    driver_doc_sweep_saves();
    if (!headless) social_init();

    settings.load();
    // Checked once the log is open; it applies to this run only.
    if (web_given) game_web_configure(*this, web);
    settings.version = 6;
    quit = 0;
    game_settings_sync(*this);
    driver_timer_set(60);
    qel_web_init();
    if (!headless) {
        video.video_reset();
        mixer_init();
    }

    qel_log("sizeof(game) = %ldk\n", (long)(sizeof(Game) / 1024));
    qel_log("sizeof(game.data.zentar) = %ldk\n", (long)(sizeof(Zentar) / 1024));
    qel_log("sizeof(zentar.Item) = %d b\n", (int)sizeof(Item));
    qel_log("sizeof(game.data.zentar.items) = %ldk\n", (long)(sizeof(world.items) / 1024));
    qel_log("sizeof(zentar.Part) = %d b\n", (int)sizeof(Part));
    qel_log("sizeof(game.data.zentar.parts) = %ldk\n", (long)(sizeof(world.parts) / 1024));
    qel_log("sizeof(PlanetStyleSphere) = %d b\n", (int)sizeof(PlanetLayer));
    qel_log("sizeof(PlanetStyleOverlay) = %d b\n", (int)sizeof(PlanetSprite));

    mod_builtin = 0;
    memset(mod_file, 0, sizeof(mod_file));
    mods_engine.reset();
    mods_api.reset();
    view = GameView{};
    server_net.reset();
    client_net.reset();
    chat.reset();

    if (!headless) {
        game_startup_paint();
        builds_game_init_start(*this);
        ext_store_init(*this);
        return;
    }

    if (!mod[0]) {
        qel_log("error -mod $FNAME must be provided when running in -headless mode\n");
        // A run that cannot start: the entry ends the process with this status.
        GameView::unregister_states();
        exit_status = -1;
        quit = 1;
        return;
    }
    memcpy(mod_file, mod, sizeof(mod_file));
    mods_restart(*this, 1, _game_empty_dict());
    ext_store_init(*this);
}

// ---- shutdown -------------------------------------------------------------------

void Game::deinit() {
    game_client_deinit(*this);
    game_server_deinit(*this);
    if (!headless) view.state_deinit();
    // Registered in every run, headless too: freed in every run.
    GameView::unregister_states();
    mods_deinit(*this);
    chat.reset();  // made by the first network set-up, kept for the run
    if (!headless) {
        settings.save();
        mixer_deinit();
        font_deinit();
        gfx_deinit();
    }
    game_web_drop_all();
    qel_web_deinit();
    social_deinit();
    driver_deinit();
}

// ---- web actions ----------------------------------------------------------------

// A mod's request (z2_api_call): its failure reaches the mod.
void Game::do_action(std::string action, std::string data) {
    WebRequest* r = game_web_action(*this, action, data);
    r->waiter = WebFor::mod;
    game_web_queue(*this, r);
}

void Game::do_login() { game_web_login(*this); }
void Game::web_friends() { game_web_friends(*this); }
void Game::web_store() { game_web_store(*this); }
void Game::web_receipts() { game_web_receipts(*this); }

// ---- events ---------------------------------------------------------------------

void _do_post_reset(Game& game) {
    int32_t percent = game.ui.percent;
    game.view.state_deinit();
    game.view.state_init();
    game.ui.inited = 0;
    game.ui.screen_set = 0;
    driver_keyboard_hide();
    game.ui.percent_next = percent;
}

void Game::do_chvideo() {
    video.video_reset();
    _do_post_reset(*this);
}

// A window size from an event, or 0 when it is not a positive whole size.
static int _game_event_size(float v) {
    if (!(v >= 1.0f && v < 2147483648.0f)) return 0;
    return (int)v;
}

void Game::event(Event e) {
    if (e.type == 1) {
        quit = 1;
        return;
    }
    if (e.type == 30 || e.type == 31) {
        game_settings_sync(*this);
        return;
    }
    if (headless) return;
    game_grab(view.cur, e);

    if (e.type == 6) {
        // The key's own modifier bits: by the time the event is handled the
        // modifier may be up again.
        bool ctrl = (e.b & EVENT_MOD_CTRL) != 0;
        bool cmd = (e.b & EVENT_MOD_GUI) != 0;
        if (e.key == 43 && (ctrl || cmd)) {
            settings.vfull = (settings.vfull == 1) ? -1 : 1;
            video.video_reset();
            _do_post_reset(*this);
        }
        if (e.key == 54 && cmd) {
            Event suspend{};
            suspend.type = 2;
            event(suspend);
            quit = 1;
            return;
        }
        if (e.key == 55 && (ctrl || cmd)) {
            Event reset{};
            reset.type = 5;
            event(reset);
        }
    }

    if (e.type == 4) {
        // The driver already holds the new size, so every resize is applied,
        // square windows included. A size without area is no window size.
        int w = _game_event_size(e.w);
        int h = _game_event_size(e.h);
        if (w <= 0 || h <= 0) return;
        driver_set_size(w, h);
        driver_set_aspect((float)w / (float)h);
        float s = driver_get_scale();
        glViewport(0, 0, (GLsizei)(w * s), (GLsizei)(h * s));
        gfx_init();
        gfx_set_size(game_get_sw(), game_get_sh());
        game_set_scale();
        _do_post_reset(*this);
    }

    if (e.type == 5) {
        qel_log("EVT_RESET\n");
        _sdl2_create_context(driver_sdl2_window());
        video.video_init(1);
        _do_post_reset(*this);
    }

    if (e.type == 2) {
        qel_log("EVT_SUSPEND\n");
        settings.save();
        active = 0;
        if (mods_engine) {
            var ev = _game_empty_dict();
            ev["type"] = var("suspend");
            ev["value"] = var("");
            mods_event(*this, ev);
        }
    }

    video.event(e);
    gfx_event_correct(&e);
    if (game_trans_active(*this) && e.type != 6 && e.type != 7) return;
    view.state_event(e);

    // Device pointer events come round once more as the generic types.
    if (e.type == 11 || e.type == 12 || e.type == 13) {
        e.type -= 3;
        event(e);
    }
}

// ---- frame loop -----------------------------------------------------------------

bool game_server_is_idle(Game& game) {
    if (!game.headless || !game.server_net) return false;
    if (game.server_net->count_peers() > 0) return false;
    if (!_game_web.web_reqs.empty()) return false;
    if (!game.mods_api) return false;
    std::string state = game.mods_api->param_get("state").__str__();
    return state == "empty" || state == "galaxy" || state == "idle";
}

bool game_server_reset_ok(Game& game) { return game_server_is_idle(game); }

void game_do_daily_server_reset(Game& game) {
    qel_log("game_do_daily_server_reset\n");
    driver_timer_reset_ticks();
    mods_restart(game, 1, _game_empty_dict());
    _game_data.loop_ticks = driver_timer_get_ticks();
}

bool game_show_user_title() {
    static int cached = -1;
    if (cached < 0) cached = builds_get_debug() ? 1 : 0;
    return cached == 1;
}

void Game::loop() {
    if (preboard_get() == -1) qel_web_disable();
    if (game_show_user_title()) {
        char caption[256];
        snprintf(caption, sizeof(caption), "%s - %s", "Zentar 2", settings.name);
        driver_set_caption(caption);
    }

    game_server_loop(*this);
    game_client_loop(*this);
    game_web_loop(*this);
    video.open_url_loop();
    if (!headless) social_loop();  // a host has no platform user
    ext_store_loop(*this);

    if (!headless) {
        gfx_reload_auto();
        font_reload_auto();
        mixer_reload_auto();
    }

    // Frame time, clamped to [0, 1] s.
    if (_game_data.loop_ticks < 0) _game_data.loop_ticks = driver_timer_get_ticks();
    if (driver_timer_get_ticks() < 0) driver_timer_reset_ticks();
    int now = driver_timer_get_ticks();
    int64_t d = (int64_t)now - (int64_t)_game_data.loop_ticks;
    if (d < 0) d = 0;
    _game_data.loop_ticks = now;
    float dt = (float)d / 1000.0f;
    if (dt > 1.0f) dt = 1.0f;

    if (game_server_is_idle(*this) && now > GAME_DAILY_RESET_MS) {
        game_do_daily_server_reset(*this);
        return;
    }

    if (headless) {
        run_the_game_sim(*this, dt);
        if (mods_engine && !mods_engine->is_okay()) {
            if (crash == 1) {
                // A supervisor must see that the run failed.
                quit = 1;
                exit_status = 1;
            }
            else if (crash == 2) mods_restart_current(*this);
        }
        return;
    }

    mods_failure_check(*this);
    if (game_trans_active(*this)) {
        game_trans_loop(*this, dt);
    } else {
        view.state_loop(dt);
        audio.loop(dt);
    }
}
