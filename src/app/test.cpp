// test: the network loopback scene and the relaxed test map.
#include "app/test.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/game.h"
#include "net/net.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"
#include "world/zentar.h"
#include "world/zentar_sim.h"

#include "render/zentar_paint.h"
#include "render/zentar_ui.h"

static const int TEST_PORT = 8399;
static const int TEST_STEPS = 100;

// A root container the size of the logical screen.
static Container* _test_root() {
    Container* c = new Container();
    c->style.declared().width = (float)game_get_sw();
    c->style.declared().height = (float)game_get_sh();
    return c;
}

static void _test_log_poll(Net& net, const char* side) {
    NetMessage m;
    if (net.poll(&m)) {
        qel_log("%s: [%s] %s '%s'\n", side, m.uid.c_str(), m.type.c_str(), m.value.c_str());
    }
}

static void _test_paint_begin() {
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_clear();
    gfx_ortho();
}

// ==== network loopback ===========================================================

Test::Test(Game& g) : game(g), gui(_test_root()) {}

Test::~Test() { delete gui; }

void Test::init() {
    qel_log("test ...\n");
    delete gui;
    gui = _test_root();

    NetServer* server = new NetServer();
    NetClient* client = new NetClient();
    server->init("", TEST_PORT, "server", "Server", "token");
    client->init("127.0.01", TEST_PORT, "client", "Client", "token");
    // A port in use must not end the program from a debug screen.
    server->open_checked();
    client->open_checked();
    for (int step = 0; step < TEST_STEPS; step++) {
        client->loop(0);
        server->loop(0);
        _test_log_poll(*client, "client");
        _test_log_poll(*server, "server");
        driver_timer_delay(1);
        if (step == 25) client->send("hello world", 1);
        if (step == 50) server->send("delta update", 1);
        if (step == 75) client->deinit();
    }
    client->deinit();
    server->deinit();
    delete client;
    delete server;
}

void Test::paint() {
    _test_paint_begin();
    gui->paint();
}

// The keys act first; the event still goes to the widgets afterwards.
static void _test_keys(State& screen, Game& game, const Event& e) {
    if (e.type != 6) return;
    if (e.key == 5) game.view.next("menus_splash", 2);
    if (e.key == 27) screen.init();
}

void Test::event(Event e) {
    _test_keys(*this, game, e);
    gui->event(&e);
}

void Test::loop(float) { gui->loop(); }

// ==== relaxed test map ===========================================================

TestMagnetSet::TestMagnetSet(Game& g) : game(g), gui(_test_root()) {}

TestMagnetSet::~TestMagnetSet() { delete gui; }

struct _TestUser {
    const char* name;
    int colour;
    const char* style;
};

static const _TestUser TEST_USERS[4] = {
    {"neutral", 0x555555, "neutral"},
    {"player", 0x00FF00, "gas"},
    {"enemy", 0xFF0000, "lava"},
    {"enemy", 0x5555FF, "ice"},
};

static const int TEST_PLANETS = 24;
static const int TEST_PASSES = 250;
static const int TEST_JITTER_PASSES = 200;
static const float TEST_EDGE = 40.0f;

// Marked neutral planets start 20 below their base production and explode
// once the map is laid out.
static bool _test_marked(int production) {
    return production == 125 || production == 175 || production == 225;
}

// rand() % span for a span that may be too small on a tiny screen.
static int _test_rand_in(int span) { return rand() % (span > 0 ? span : 1); }

static float _test_jitter() { return (float)rand() * (1.0f / 2147483648.0f) * 20.0f - 10.0f; }

static void _test_clamp(float& v, float r, float hi) {
    if (v - r < TEST_EDGE) v = r + TEST_EDGE;
    if (v + r > hi - TEST_EDGE) v = hi - TEST_EDGE - r;
}

void TestMagnetSet::init() {
    seed++;
    srand((unsigned)seed);
    qel_log("seed: %d\n", seed);
    running = 1;

    int sw = game_get_sw(), sh = game_get_sh();
    delete gui;
    gui = _test_root();
    Widget* back = new Widget();
    back->style.declared().width = (float)sw;
    back->style.declared().height = (float)sh;
    gui->add(back, 0, 0);
    Widget* quit = new Widget();
    quit->name = "quit";
    quit->style.declared().width = 34;
    quit->style.declared().height = 34;
    quit->style.declared().fg_image = gfx_img_load("quit");
    quit->on_click = var(VAR_DICT, 0);
    quit->on_click["type"] = var("quit");
    quit->focusable = 1;  // containers click only a focused child
    gui->add(quit, sw - 44, 0);
    gui->resize();

    Zentar& world = game.world;
    sys_init(world);
    static_assert(sizeof(game.ui.options) == SETTINGS_UI_WORDS * sizeof(int32_t));
    memcpy(&game.ui.options, &game.settings.ui_box, sizeof(game.ui.options));

    int users[4];
    for (int k = 0; k < 4; k++) {
        const _TestUser& u = TEST_USERS[k];
        Item* it = user_init(world, u.name, u.colour, 0);
        users[k] = it->n;
        if (k == 0) {
            it->ships_production_enabled = 0;
            it->user_neutral = 1;
        }
        if (k == 1) it->has_player = 1;
        planet_style_init(world, it->n, u.colour, u.colour, u.style, "planet-aura");
    }

    for (int i = 0; i < TEST_PLANETS; i++) {
        int base = 100 + 25 * (i / 4);
        int side = i % 4;
        if (base == 225 && side != 0) continue;
        bool marked = side == 0 && _test_marked(base);
        float production = (float)(marked ? base - 20 : base);
        float ships = (float)(rand() % 200);
        float y = (float)(100 + _test_rand_in(sh - 200));
        float x = (float)(100 + _test_rand_in(sw - 200));
        Item* p = planet_init(world, users[side], x, y, production, ships);
        if (!p->n) continue;
        p->collide_mass = 1.0f;
        p->collide_r += marked ? 25.0f : 15.0f;
    }

    for (int pass = 0; pass < TEST_PASSES; pass++) {
        for (int n = 1; n < world.top; n++) {
            Item& p = world.items[n];
            if (!p.in_use || !p.has_planet) continue;
            if (pass < TEST_JITTER_PASSES) {
                p.position_x += _test_jitter();
                p.position_y += _test_jitter();
            }
            _test_clamp(p.position_x, p.planet_r, (float)sw);
            _test_clamp(p.position_y, p.planet_r, (float)sh);
        }
        z2_settle(world, 0, 0, 0, 0);
    }

    for (int n = 1; n < world.top; n++) {
        Item& p = world.items[n];
        if (!p.in_use || !p.has_planet || p.owner_n != users[0]) continue;
        if (!_test_marked((int)p.ships_production + 20)) continue;
        parts_planet_explode(world, p.position_x, p.position_y, p.planet_r, 0);
        planet_style_init(world, n, 0x555555, 0, "neutral", "planet-aura");
    }

    world.time = 100;
    game.ui.inited = 0;
}

void TestMagnetSet::paint() {
    _test_paint_begin();
    sys_paint(game.world, game.ui, 0, 1);
    ui_paint(game.world, game.ui, 0);
    gfx_ortho();
    gui->paint();
}

void TestMagnetSet::event(Event e) {
    _test_keys(*this, game, e);
    var r = gui->event(&e);
    if (r.__type__() == VAR_DICT && r.__has__(var("type")) && r["type"] == "quit") {
        game.view.next("menus_splash", 2);
        return;
    }
    ui_event(game.world, game.ui, 0, e);
}

void TestMagnetSet::loop(float dt) {
    gui->loop();
    if (running) sys_loop(game.world, dt, 0);
}

// ==== registration ===============================================================

void test_init(Game& game) {
    GameView::register_state("test", new Test(game));
    GameView::register_state("test_magnetset", new TestMagnetSet(game));
}
