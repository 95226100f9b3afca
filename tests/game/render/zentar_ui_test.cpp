// In-match controls: the view transform, pointer gestures that end in sends
// and redirects through the client command path, keys, the wheel, the
// percentage slider and the map overview. Events are plain records; only the
// last test draws, into an offscreen GL window.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/game.h"
#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "net/net.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "world/zentar_sim.h"
#include "render/zentar_ui.h"
#include "z2_test_util.h"

namespace {

Event ev(int type, float x, float y, int b = 0, float dx = 0, float dy = 0) {
    Event e{};
    e.type = type;
    e.x = x;
    e.y = y;
    e.b = b;
    e.dx = dx;
    e.dy = dy;
    return e;
}

Event key(int code, int ch) {
    Event e{};
    e.type = 6;
    e.key = code;
    e.unicode = ch;
    return e;
}

class UITest : public ::testing::Test {
protected:
    std::unique_ptr<Game> game;
    int me = 0, foe = 0, p = 0, q = 0, r = 0;

    void SetUp() override {
        driver_init(0);
        game = std::make_unique<Game>();
        _game_data.GAME_THIS = game.get();
        // No GL here: the logical screen is the shell's, 800 x 600.
        game->settings.vsize = 600;
        driver_set_size(800, 600);
        Zentar& w = game->world;
        me = user_init(w, "me", 0xff0000, 0)->n;
        foe = user_init(w, "foe", 0x0000ff, 0)->n;
        p = planet_init(w, me, 200, 300, 50, 100)->n;
        q = planet_init(w, foe, 600, 300, 50, 10)->n;
        r = planet_init(w, foe, 400, 100, 50, 10)->n;
    }

    void TearDown() override {
        game->client_net.reset();
        _game_data.GAME_THIS = nullptr;
        game.reset();
        driver_deinit();
    }

    ZentarUI& ui() { return game->ui; }
    Zentar& world() { return game->world; }
    int send(const Event& e) { return ui_event(world(), ui(), me, e); }

    // Screen and world the same: no margins, no turn, a 800 x 600 view.
    void flat_view() {
        ui().orient_lock = 1;
        ui_view_set(world(), ui(), 0, 0, 800, 600);
    }
    Net& client() {
        game->client_net.reset(new Net());
        return *game->client_net;
    }
    int selected() {
        int c = 0;
        for (int s : ui().sel) c += s != 0;
        return c;
    }
    const Item& at(int n) { return world().items[n]; }
    // A drag with the left button from item a to item b.
    void drag(int a, int b) {
        float ax = at(a).position_x, ay = at(a).position_y;
        float bx = at(b).position_x, by = at(b).position_y;
        send(ev(8, ax, ay, 1));
        send(ev(9, bx, by, 1, bx - ax, by - ay));
        send(ev(10, bx, by, 1));
    }
};

// ---- view transform ----------------------------------------------------------------------

TEST_F(UITest, WholeMapAndPercentAtStart) {
    ui_init(world(), ui(), 1);
    float rad = at(p).fleet_r;
    EXPECT_FLOAT_EQ(ui().view[0], 200 - rad);
    EXPECT_FLOAT_EQ(ui().view[3], 200 + 2 * rad);
    sys_init(world());
    ui_init(world(), ui(), 1);
    EXPECT_FLOAT_EQ(ui().view[0], 99999);
    EXPECT_FLOAT_EQ(ui().view[1], 99999);
    EXPECT_FLOAT_EQ(ui().view[2], -199998);
    EXPECT_FLOAT_EQ(ui().view[3], -199998);
    EXPECT_EQ(ui().percent, 50);

    ui().options.ui_percent = 25;
    ui_init(world(), ui(), 1);
    EXPECT_EQ(ui().percent, 25);

    // A restart keeps the chosen percentage once.
    ui().percent = 70;
    game->ui.inited = 0;
    game->ui.screen_set = 0;
    game->ui.percent_next = 70;
    ui_loop(world(), ui());
    EXPECT_EQ(ui().percent, 70);
    EXPECT_EQ(ui().percent_next, 0);
    EXPECT_FLOAT_EQ(ui().screen[2], 800);
}

TEST_F(UITest, TallScreenTurnsWideMapAndBothMatricesAgree) {
    ui().screen_set = 1;
    ui().screen[2] = 600;
    ui().screen[3] = 800;
    ui_view_set(world(), ui(), 0, 0, 2000, 500);
    EXPECT_FLOAT_EQ(ui().area[2], 580);
    EXPECT_FLOAT_EQ(ui().area[3], 756);
    EXPECT_FLOAT_EQ(ui().rot, 90);
    EXPECT_FLOAT_EQ(ui().scale, 2000.0f / 756);

    // The area centre shows the view centre; the long screen axis carries the map's long side.
    Vector3 c = ui_to_world(ui(), 300, 400);
    EXPECT_NEAR(c.x, 1000, 1e-2);
    EXPECT_NEAR(c.y, 250, 1e-2);
    Vector3 down = ui_to_world_delta(ui(), 0, 100);
    EXPECT_NEAR(std::abs(down.x), 100 * 2000.0f / 756, 1e-2);
    EXPECT_NEAR(down.y, 0, 1e-3);
    Vector3 back = ui().to_screen * ui_to_world(ui(), 123, 456);
    EXPECT_NEAR(back.x, 123, 1e-2);
    EXPECT_NEAR(back.y, 456, 1e-2);

    // Zoom and pan act after the fit.
    ui().zoom = 2;
    ui().pan_x = 10;
    _ui_calc_matrix(world(), ui());
    c = ui_to_world(ui(), 300, 400);
    EXPECT_NEAR(c.x, 1010, 1e-2);
    EXPECT_NEAR(ui_to_world_delta(ui(), 0, 100).x, 2 * down.x, 1e-2);

    for (int lock : {1, 2}) {
        ui().orient_lock = lock;
        ui_calc_trans(world(), ui());
        EXPECT_FLOAT_EQ(ui().rot, 0) << lock;
    }
    EXPECT_FLOAT_EQ(ui().area[1], 44);  // the tabs screen's bars
    EXPECT_FLOAT_EQ(world().view[2], 2000);

    // A close-up two units wide: the view's centre is still drawn at the
    // area's, and a point goes to the screen and back.
    ui().orient_lock = 0;
    ui().zoom = 1;
    ui().pan_x = 0;
    ui_view_set(world(), ui(), 599, 399, 2, 1.3f);
    Vector3 mid = ui().to_screen * Vector3{600, 399.65f, 0};
    EXPECT_NEAR(mid.x, 300, 0.5);
    EXPECT_NEAR(mid.y, 400, 0.5);
    back = ui().to_screen * ui_to_world(ui(), 123, 456);
    EXPECT_NEAR(back.x, 123, 0.5);
    EXPECT_NEAR(back.y, 456, 0.5);
}

TEST_F(UITest, SliderMarginOnItsSide) {
    ui().options.ui_slider = 1;
    ui_calc_trans(world(), ui());
    EXPECT_FLOAT_EQ(ui().area[0], 10);
    EXPECT_FLOAT_EQ(ui().area[2], 800 - 20 - 44);
    ui().options.ui_lefty = 1;
    ui_calc_trans(world(), ui());
    EXPECT_FLOAT_EQ(ui().area[0], 54);
    game->settings.x_hide = 1;
    ui_calc_trans(world(), ui());
    EXPECT_FLOAT_EQ(ui().area[0], 44);
    EXPECT_FLOAT_EQ(ui().area[3], 600 - 88);
}

// ---- gestures and commands ---------------------------------------------------------------

TEST_F(UITest, DragFromOwnPlanetSendsSliderPercentThroughClient) {
    Net& net = client();
    ui().options.ui_drag_drop = 1;
    ui().options.ui_slider = 1;
    flat_view();
    // Slider on the right: a press at y 300 picks the percentage.
    EXPECT_EQ(send(ev(8, 780, 300, 1)), 1);
    EXPECT_EQ(send(ev(10, 780, 300, 1)), 1);
    int pc = ui().percent;
    EXPECT_EQ(pc, ui_slider_percent(300, 468));
    EXPECT_NE(pc, 50);

    drag(p, q);
    ASSERT_EQ(net.outbox.size(), 1u);
    EXPECT_EQ(net.outbox[0].type, "send");
    EXPECT_EQ(net.outbox[0].value.substr(0, net.outbox[0].value.find(' ')), std::to_string(pc));
    EXPECT_EQ(selected(), 0);
    EXPECT_EQ(ui().ptr[1].source, 0);
}

TEST_F(UITest, TapModeSelectsThenSendsAndEmptyTapDrops) {
    Net& net = client();
    flat_view();
    auto tap = [&](float x, float y) {
        send(ev(8, x, y, 1));
        send(ev(10, x, y, 1));
    };
    tap(200, 300);
    EXPECT_EQ(ui().sel[p], 1);
    tap(600, 300);
    EXPECT_EQ(net.outbox.size(), 1u);
    EXPECT_EQ(selected(), 0);

    tap(200, 300);
    EXPECT_EQ(selected(), 1);
    tap(700, 550);  // empty space
    EXPECT_EQ(selected(), 0);
    EXPECT_EQ(net.outbox.size(), 1u);
}

TEST_F(UITest, RightClickRedirectsSelectedFleetAndSendsPlanet) {
    Net& net = client();
    flat_view();
    int f = z2_send(world(), 50, p, q);
    ASSERT_GT(f, 0);
    ASSERT_TRUE(at(f).has_fleet);
    ui().sel[f] = 1;
    ui().sel[p] = 1;
    send(ev(8, 400, 100, 3));  // no release needed
    ASSERT_EQ(net.outbox.size(), 2u);
    int sends = 0, redirects = 0;
    for (const NetMessage& m : net.outbox) {
        sends += m.type == "send";
        redirects += m.type == "redirect";
    }
    EXPECT_EQ(sends, 1);
    EXPECT_EQ(redirects, 1);
    EXPECT_EQ(selected(), 0);
}

TEST_F(UITest, FastDragHoversPlanetOnThePath) {
    flat_view();
    ui().sel[p] = 1;
    // One movement from far left to far right over q with no button: q becomes the hover target.
    send(ev(9, 750, 300, 0, 600, 0));
    EXPECT_EQ(ui().ptr[1].target, 0);  // ended over empty space, target dropped
    send(ev(9, 610, 300, 0, 400, 0));
    EXPECT_EQ(ui().ptr[1].target, q);
    EXPECT_EQ(ui().ptr[1].over, q);
}

TEST_F(UITest, TargetMaskAndBlockedPlanets) {
    flat_view();
    world().items[me].ui_to_mask = 1;  // own planets only
    EXPECT_EQ(ui_to_set(world(), ui(), me, 1, q), 0);
    EXPECT_EQ(ui_to_set(world(), ui(), me, 1, p), 1);
    world().items[me].ui_to_mask = 15;
    world().items[q].planet_mask = 4;
    EXPECT_EQ(ui_to_set(world(), ui(), me, 1, q), 0);
    world().items[q].planet_mask = 8;  // never picked
    EXPECT_EQ(ui_find(world(), ui(), me, 600, 300, 0), nullptr);
    EXPECT_EQ(ui_find(world(), ui(), me, 200 + at(p).fleet_r + 14, 300, 0), &world().items[p]);
    EXPECT_EQ(ui_find(world(), ui(), me, 200 + at(p).fleet_r + 16, 300, 0), nullptr);

    // A second tap on a selected planet reinforces it from the others only
    // where the mask lets the player send to their own planets.
    planet_init(world(), me, 200, 500, 50, 100);
    ui().options.ui_double_reinforce = 1;
    auto fleets = [&] {
        int c = 0;
        for (int n = 1; n < world().top; n++) c += at(n).in_use && at(n).has_fleet;
        return c;
    };
    for (int mask : {8, 1}) {
        world().items[me].ui_to_mask = mask;
        for (float y : {500, 300, 300}) {
            send(ev(8, 200, y, 1));
            send(ev(10, 200, y, 1));
        }
        EXPECT_EQ(fleets(), mask == 1) << mask;
        EXPECT_EQ(selected(), 0) << mask;
    }
}

TEST_F(UITest, RubberBandSelectsOwnPlanetsInside) {
    int p2 = planet_init(world(), me, 300, 400, 50, 10)->n;
    ui().options.ui_box = 1;
    ui().options.ui_drag_drop = 1;
    flat_view();
    send(ev(8, 150, 250, 1));
    EXPECT_EQ(ui().ptr[1].box, -1);
    send(ev(9, 350, 450, 1, 200, 200));
    EXPECT_EQ(ui().ptr[1].box, 1);
    send(ev(10, 350, 450, 1));
    EXPECT_EQ(ui().sel[p], 1);
    EXPECT_EQ(ui().sel[p2], 1);
    EXPECT_EQ(selected(), 2);
}

// A script engine that only records what it hears.
class RecordingEngine : public ModsBase {
public:
    std::vector<var>* seen = nullptr;
    void init() override {}
    void loop(float) override {}
    void event(var e) override { seen->push_back(e); }
    void script(const char*, const char*) override {}
    bool is_okay() override { return true; }
};

TEST_F(UITest, TabsStateStillFeedsModAndButtonsButSelectsNothing) {
    std::vector<var> seen;
    auto* engine = new RecordingEngine();
    engine->seen = &seen;
    game->mods_engine.reset(engine);
    game->mods_api.reset(new ModsAPI(*game));
    mods_api_of(*game)->params["state"] = var("tabs");
    flat_view();

    EXPECT_EQ(send(ev(8, 200, 300, 1)), 0);
    EXPECT_EQ(ui().sel[p], 0);
    EXPECT_EQ(send(key(0, '5')), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]["type"].__str__(), "ui:down");
    EXPECT_EQ(seen[0]["value"].__str__(), "");
    EXPECT_EQ(seen[0]["x"].__num__(), 200);

    Item* b = item_init(world());
    b->has_button = 1;
    strcpy(b->button_name, "go");
    b->position_x = 700;
    b->position_y = 500;
    b->image_w = b->image_h = 40;
    b->image_cx = b->image_cy = 20;
    b->image_scale = 1;
    EXPECT_EQ(send(ev(10, 719, 519, 1)), 1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1]["type"].__str__(), "ui:up");
    EXPECT_EQ(seen[1]["value"].__str__(), "go");
    EXPECT_EQ((int)seen[1]["n"].__num__(), b->n);

    mods_api_of(*game)->params["state"] = var("play");
    send(ev(8, 200, 300, 1));
    EXPECT_EQ(ui().sel[p], 1);
    mods_deinit(*game);
}

// ---- keys and wheel ------------------------------------------------------------------------

TEST_F(UITest, KeysAndWheelStepPercentWithinLimits) {
    flat_view();
    EXPECT_EQ(send(key(0, '5')), 1);
    EXPECT_EQ(ui().percent, 50);
    send(key(0, '0'));
    EXPECT_EQ(ui().percent, 100);
    send(key(31, 0));  // keypad 3
    EXPECT_EQ(ui().percent, 30);
    send(key(64, 0));  // main row 0
    EXPECT_EQ(ui().percent, 100);
    send(key(1, 0));
    EXPECT_EQ(ui().percent, 100);
    ui().percent = 20;
    send(key(78, 0));
    EXPECT_EQ(ui().percent, 5);
    send(key(77, 0));
    EXPECT_EQ(ui().percent, 30);
    EXPECT_EQ(send(key(0, 'x')), 0);

    ui().percent = 100;
    EXPECT_EQ(send(ev(14, 0, 0, 0, 0, -1)), 1);
    EXPECT_EQ(ui().percent, 100);
    send(ev(14, 0, 0, 0, 0, 1));
    EXPECT_EQ(ui().percent, 95);
    ui().options.ui_wheel_invert = 1;
    send(ev(14, 0, 0, 0, 0, 1));
    EXPECT_EQ(ui().percent, 100);
}

// ---- slider --------------------------------------------------------------------------------

TEST_F(UITest, SliderHeightsCornerCellAndButtons) {
    ui().options.ui_slider = 1;
    flat_view();
    UIRect rc = ui_slider_rect(world(), ui());
    EXPECT_FLOAT_EQ(rc.x, 756);
    EXPECT_FLOAT_EQ(rc.h, 468);
    struct {
        float y;
        int pc;
    } cases[] = {{77, 100}, {523, 5}, {66, 100}};
    for (auto c : cases) {
        send(ev(8, 770, c.y, 1));
        EXPECT_EQ(ui().percent, c.pc) << c.y;
        send(ev(10, 770, c.y, 1));
    }
    EXPECT_EQ(ui_slider_percent(300, 22), 5);  // a strip with no height

    // Corner cell steps by quarters.
    for (auto c : {std::pair{100, 25}, {5, 25}, {50, 75}, {60, 75}}) {
        ui().percent = c.first;
        EXPECT_EQ(send(ev(8, 770, 580, 1)), 1);
        EXPECT_EQ(ui().percent, c.second);
        send(ev(10, 770, 580, 1));
    }
    game->settings.x_pause = 1;
    EXPECT_EQ(send(ev(8, 770, 580, 1)), 1);
    EXPECT_EQ(ui().percent, 75);
    send(ev(10, 770, 580, 1));

    // The right button never works it.
    EXPECT_EQ(ui_slider(world(), ui(), me, ev(8, 770, 300, 3)), 0);
    EXPECT_EQ(ui().percent, 75);

    ui().options.ui_lefty = 1;
    rc = ui_slider_rect(world(), ui());
    EXPECT_FLOAT_EQ(rc.x, -1);
    EXPECT_EQ(ui_slider(world(), ui(), me, ev(8, 43, 77, 1)), 1);
    EXPECT_EQ(ui().percent, 100);
}

TEST_F(UITest, LeavingSliderRestoresPercentAndContinuesGesture) {
    ui().options.ui_slider = 1;
    ui().options.ui_drag_drop = 1;
    flat_view();
    // An own planet under the slider column.
    int s = planet_init(world(), me, 770, 300, 50, 10)->n;
    ui().percent = 40;
    send(ev(8, 770, 300, 1));
    EXPECT_NE(ui().percent, 40);
    send(ev(9, 770, 400, 1, 0, 100));  // still in the column
    EXPECT_EQ(ui().percent, ui_slider_percent(400, 468));
    EXPECT_EQ(ui().sel[s], 0);
    Net& net = client();
    send(ev(9, 600, 300, 1, -170, -100));
    EXPECT_EQ(ui().percent, 40);
    EXPECT_EQ(ui().slider_prev, 0);
    EXPECT_EQ(ui().sel[s], 1);  // the press was replayed as a selection
    send(ev(10, 600, 300, 1));
    ASSERT_EQ(net.outbox.size(), 1u);
    EXPECT_EQ(net.outbox[0].value.substr(0, 3), "40 ");

    // A slider gesture cut short by a screen change (Escape to the pause
    // screen, which takes the release) is over: the next drag sends at the
    // percentage the slider shows, and is not turned back into the old press.
    net.outbox.clear();
    send(ev(8, 770, 200, 1));
    int chosen = ui().percent;
    ASSERT_NE(chosen, 40);
    ui_reset_all(world(), ui());  // what the play screen's init does
    drag(p, q);
    EXPECT_EQ(ui().percent, chosen);
    ASSERT_EQ(net.outbox.size(), 1u);
    EXPECT_EQ(net.outbox[0].value.substr(0, 3), std::to_string(chosen) + " ");
}

// ---- overview ------------------------------------------------------------------------------

TEST_F(UITest, OverviewStaysOffAndZoomedViewPansAndZoomsOut) {
    ui_view_set(world(), ui(), 0, 0, 20000, 20000);
    ui_loop(world(), ui());
    EXPECT_EQ(ui().gmap_mode, 0);  // the build has no overview

    // Zoomed in by hand: the middle button pans by the world size of the movement.
    ui().gmap_mode = -1;
    ui_view_set(world(), ui(), 0, 0, 800, 600);
    float vx = ui().view[0];
    Vector3 d = ui_to_world_delta(ui(), 30, 0);
    EXPECT_EQ(send(ev(9, 400, 300, 2, 30, 0)), 1);
    EXPECT_NEAR(ui().view[0], vx - d.x, 1e-3);
    ui().sel[p] = 2;
    EXPECT_EQ(send(key(0, 96)), 1);
    EXPECT_EQ(ui().gmap_mode, 1);
    EXPECT_EQ(ui().sel[p], 1);
    EXPECT_FLOAT_EQ(ui().zoom, 1);
    // In overview mode every event is taken and nothing is selected.
    EXPECT_EQ(send(ev(8, 200, 300, 1)), 1);
    EXPECT_EQ(send(ev(10, 200, 300, 1)), 1);
    EXPECT_EQ(ui().gmap_mode, -1);
    EXPECT_GT(ui().view_target[2], 0);
}

// Ultimate conquest zoomed all the way out on an 800 x 600 screen: a pan
// with the middle button that lets go over the bar's "+" is no click on it.
TEST_F(UITest, UltraconPanEndingOnItsZoomButtonKeepsTheZoom) {
    driver_set_altdir(Z2_DATA_DIR);
    snprintf(game->mod_file, sizeof(game->mod_file), "%s/mod_ultracon.lua", Z2_DATA_DIR);
    z2test::stdout_of([&] { mods_restart(*game, 1, var(VAR_DICT, 0)); });
    auto on_screen = [&](const char* name) {
        for (int n = 1; n < world().top; n++) {
            const Item& it = at(n);
            if (it.in_use && it.has_button && strcmp(it.button_name, name) == 0)
                return ui().to_screen * Vector3{it.position_x + it.image_w * it.image_scale / 2,
                                                it.position_y + it.image_h * it.image_scale / 2, 0};
        }
        ADD_FAILURE() << "no button " << name;
        return Vector3{0, 0, 0};
    };
    Vector3 out = on_screen("zoom_out");
    send(ev(8, out.x, out.y, 1));
    send(ev(10, out.x, out.y, 1));
    float whole = ui().view[2];
    EXPECT_GT(whole, 2000) << "the whole map";

    Vector3 in = on_screen("zoom_in");
    send(ev(8, 300, 200, 2));
    send(ev(9, in.x, in.y, 2, in.x - 300, in.y - 200));
    send(ev(10, in.x, in.y, 2));
    EXPECT_EQ(ui().view[2], whole);

    send(ev(8, in.x, in.y, 1));
    send(ev(10, in.x, in.y, 1));
    EXPECT_LT(ui().view[2], whole) << "a click on it zooms in";
    z2test::stdout_of([&] { mods_deinit(*game); });
    driver_set_altdir(nullptr);
}

// ---- drawing -------------------------------------------------------------------------------

// ---- a movement walked at once or one step at a time ---------------------------------------

namespace {

// The mouse gesture as the rules put it, each step of a movement handed to
// the one-step function on its own: what the whole-movement path must match.
void motion_step_by_step(Zentar& w, ZentarUI& ui, int user, const Event& e) {
    int cls = e.type == 9 ? (e.b ? 1 : 0) : (e.b >= 1 && e.b <= 3 ? e.b : 0);
    if ((e.type == 9 && e.b == 2) || (e.type != 9 && cls == 2)) return;
    auto walk = [&](const Event& m) {
        if (m.type != 9) {
            _ui_event_motion_do(w, ui, user, 1, cls, m);
            return;
        }
        float len = std::hypot(m.dx, m.dy);
        int n = std::isfinite(len) ? (int)std::min(len + 1, 1024.0f) : 1;
        float x0 = m.x - m.dx, y0 = m.y - m.dy;
        if (!std::isfinite(x0) || !std::isfinite(y0)) x0 = m.x, y0 = m.y;
        for (int i = 0; i <= n; i++) {
            Event s = m;
            s.x = ((n - i) * x0 + i * m.x) / n;
            s.y = ((n - i) * y0 + i * m.y) / n;
            s.dx = s.dy = 0;
            _ui_event_motion_do(w, ui, user, 1, cls, s);
        }
    };
    ui.ptr[1].active = -1;
    walk(e);
    if (e.type == 10) _ui_reset_controls(ui, 1);
    if (e.type == 8 || e.type == 10) {
        Event m = e;
        m.type = 9;
        m.dx = m.dy = 0;
        ui.ptr[1].active = -1;
        walk(m);
    }
}

}  // namespace

// Random drags, flings, bands and right clicks over a crowded map end in the
// same selections, targets and sends whether a movement is walked at once or
// one step at a time.
TEST(UIMotion, WholeMovementsFindWhatSingleStepsFind) {
    std::mt19937 rng(515);
    for (int round = 0; round < 4; round++) {
        auto fast = std::make_unique<Zentar>(), slow = std::make_unique<Zentar>();
        Zentar& w = *fast;
        sys_init(w);
        srand(round + 1);
        int me = user_init(w, "me", 0xff0000, 0)->n, foe = user_init(w, "foe", 0x0000ff, 0)->n;
        w.items[me].ui_fleet_redirect = round % 2;
        std::vector<int> planets;
        for (int i = 0; i < 30; i++)
            planets.push_back(planet_init(w, i % 3 ? foe : me, rng() % 1500, rng() % 900, 20, 200)->n);
        w.items[planets[4]].planet_mask = 8;  // never picked
        for (int k = 0; k < 12; k++) {
            Item* f = item_init(w);
            _fleet_init(w, k % 2 ? foe : me, 60, rng() % 1500, rng() % 900, planets[rng() % 30], f->n, 50);
        }
        memcpy(static_cast<void*>(slow.get()), fast.get(), sizeof(Zentar));
        auto a = std::make_unique<ZentarUI>(), b = std::make_unique<ZentarUI>();
        a->options.ui_box = round >= 2;
        a->options.ui_drag_drop = round % 2;
        a->percent = 50;
        *b = *a;
        for (int gesture = 0; gesture < 60; gesture++) {
            std::vector<Event> events;
            const Item& from = w.items[planets[rng() % 30]];
            float x = rng() % 3 ? from.position_x : static_cast<float>(rng() % 1500), y = from.position_y;
            int button = rng() % 6 == 0 ? 3 : 1;
            events.push_back(ev(8, x, y, button));
            for (int k = rng() % 6; k > 0; k--) {
                float dx = static_cast<float>(static_cast<int>(rng() % 800) - 400);
                float dy = static_cast<float>(static_cast<int>(rng() % 800) - 400);
                x += dx;
                y += dy;
                events.push_back(ev(9, x, y, rng() % 5 ? button : 0, dx, dy));
            }
            if (rng() % 2) {  // and on to a planet
                const Item& to = w.items[planets[rng() % 30]];
                events.push_back(ev(9, to.position_x, to.position_y, button, to.position_x - x, to.position_y - y));
                x = to.position_x;
                y = to.position_y;
            }
            events.push_back(ev(10, x, y, button));
            for (const Event& e : events) {
                unsigned seed = rng();  // a send scatters its ships with rand()
                srand(seed);
                ui_event_motion(*fast, *a, me, e);
                srand(seed);
                motion_step_by_step(*slow, *b, me, e);
                ASSERT_EQ(memcmp(a->sel, b->sel, sizeof(a->sel)), 0) << "round " << round << " gesture " << gesture;
                ASSERT_EQ(memcmp(a->ptr, b->ptr, sizeof(a->ptr)), 0) << "round " << round << " gesture " << gesture;
                ASSERT_EQ(memcmp(fast->items, slow->items, sizeof(fast->items)), 0) << "round " << round;
                ASSERT_EQ(fast->intro_time, slow->intro_time);
            }
        }
        int fleets = 0;
        for (int i = 1; i < w.top; i++) fleets += w.items[i].in_use && w.items[i].has_fleet;
        EXPECT_GT(fleets, 12) << "the gestures really sent ships";
    }
}

TEST(UIPaint, PercentDrawnInCornerCell) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    driver_init(DRIVER_VIDEO | DRIVER_TIMER);
    driver_set_altdir(Z2_DATA_DIR);
    driver_video_init(400, 300, 400, 300, 400, 300, 0);
    if (!driver_sdl2_window()) GTEST_SKIP() << "no offscreen video";
    gfx_init();
    font_init();
    gfx_set_size(400, 300);
    gfx_gl_state_reset();
    gfx_ortho();
    auto game = std::make_unique<Game>();
    _game_data.GAME_THIS = game.get();
    game->ui.percent = 100;
    game->ui.inited = 1;
    // Lit pixels in a box given in logical units (y from the top).
    auto lit = [](int x0, int y0, int w, int h) {
        std::vector<unsigned char> px((size_t)w * h * 4);
        glReadPixels(x0, 300 - y0 - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        int n = 0;
        for (size_t i = 0; i < px.size(); i += 4) n += px[i] + px[i + 1] + px[i + 2] > 0;
        return n;
    };
    glClearColor(0, 0, 0, 1);
    gfx_clear();
    ui_paint_slider(game->world, game->ui);
    EXPECT_GT(lit(356, 256, 44, 44), 0);  // the corner cell under the right-hand column
    EXPECT_EQ(lit(300, 0, 100, 250), 0);  // no slider without the option
    GLfloat c[4] = {};
    glGetFloatv(GL_CURRENT_COLOR, c);
    EXPECT_FLOAT_EQ(c[3], 1.0f);
    _game_data.GAME_THIS = nullptr;
    game.reset();
    driver_set_altdir(nullptr);
    font_deinit();
    gfx_deinit();
    driver_deinit();
}

}  // namespace
