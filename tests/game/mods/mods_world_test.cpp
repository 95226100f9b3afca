// World operations a mod builds and steers a match with: item checks in
// argument order, what reaches the clients at once while hosting, the header
// marks, the reset, and the same operations called from Lua.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "net/net.h"
#include "net/zentar_sync_hooks.h"
#include "z2_mods_tree.h"

namespace {

// The host endpoint the world sync finds, as the game would fill it in.
ModsGame* g_hosting = nullptr;
Net* hosting_net(Zentar** world) {
    if (!g_hosting || !g_hosting->server_net) return nullptr;
    *world = &g_hosting->world;
    return g_hosting->server_net.get();
}

class ModsWorldTest : public z2test::ModsTree<> {
protected:
    std::unique_ptr<ModsAPI> api;
    int user = 0, other = 0, p = 0, q = 0;

    void SetUp() override {
        make("z2modsworld");
        g_hosting = game.get();  // the send-now calls find the host through it
        zentar_sync_hooks.host = hosting_net;
        api = std::make_unique<ModsAPI>(*game);
        user = api->user_init("red", 0xff0000, 0);
        other = api->user_init("blue", 0x0000ff, 0);
        p = api->planet_init(user, 0, 0, 50, 100);
        q = api->planet_init(other, 200, 0, 50, 10);
    }

    void TearDown() override {
        api.reset();
        mods_deinit(*game);  // also drops a host endpoint a test set
        zentar_sync_hooks.host = nullptr;
        g_hosting = nullptr;
        ModsTree::TearDown();
    }

    Item& item(int n) { return game->world.items[n]; }
    // An unopened endpoint: what the host queues stays in its outbox.
    Net& host() {
        game->server_net = std::make_unique<Net>();
        return *game->server_net;
    }
    bool logged(const std::string& part) { return z2test::mod_logged(*api, part); }
};

TEST_F(ModsWorldTest, ConstructorsCheckTheirOwnerAndFailNeutrally) {
    ASSERT_TRUE(user && other && p && q);
    EXPECT_EQ(item(p).owner_n, user);
    EXPECT_EQ(api->api_error(), 0);

    EXPECT_EQ(api->planet_init(4096, 0, 0, 10, 10), 0);
    EXPECT_EQ(api->api_error_get(), "invalid item");
    EXPECT_TRUE(logged("ModsAPI::planet_init:uid:4096 invalid item"));
    api->api_error_clear();

    int top = game->world.top;
    // The owner is tested before from and to, and nothing is made.
    EXPECT_EQ(api->fleet_init(99, 10, 0, 0), 0);
    EXPECT_TRUE(logged("fleet_init:uid:99"));
    EXPECT_FALSE(logged("fleet_init:from"));
    EXPECT_EQ(game->world.top, top);
    api->api_error_clear();

    // Valid numbers but a launch the world refuses: 0, and no error.
    EXPECT_EQ(api->fleet_init(user, 10, p, p), 0);
    EXPECT_EQ(api->api_error(), 0);
    int f = api->fleet_init(user, 10, p, q);
    ASSERT_GT(f, 0);
    EXPECT_TRUE(item(f).has_fleet);
    EXPECT_EQ(item(f).fleet_target, q);

    api->part_init("sparkle-long", 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12);
    const Zentar& w = game->world;
    const Part& part = w.parts[(w.parts_start + w.parts_count - 1) % ZT_PARTS];
    EXPECT_STREQ(part.src, "sparkle");
    EXPECT_EQ(part.d, 2);
    EXPECT_EQ(part.x, 3);
    EXPECT_EQ(part.va, 12);
}

TEST_F(ModsWorldTest, SendRedirectAndChownCheckInArgumentOrder) {
    EXPECT_EQ(api->fleet_send(50, p, 0), 0);
    EXPECT_TRUE(logged("ModsAPI::fleet_send:to:0 invalid item"));
    EXPECT_EQ(item(p).ships_value, 100);
    api->api_error_clear();

    int f = api->fleet_send(50, p, q);
    ASSERT_GT(f, 0);
    EXPECT_NEAR(item(p).ships_value, 50, 0.01);

    int r = api->planet_init(other, 0, 200, 50, 10);
    api->fleet_redirect(f, 0);
    EXPECT_TRUE(logged("fleet_redirect:to:0"));
    EXPECT_EQ(item(f).fleet_target, q);
    api->fleet_redirect(f, r);
    EXPECT_EQ(item(f).fleet_target, r);

    api->api_error_clear();
    api->planet_chown(0, 7);  // pid first; the bad owner is never reached
    EXPECT_TRUE(logged("planet_chown:pid:0"));
    EXPECT_FALSE(logged("planet_chown:uid"));
    api->planet_chown(q, user);
    EXPECT_EQ(item(q).owner_n, user);
    EXPECT_EQ(item(q).render_color, 0xff0000);
}

TEST_F(ModsWorldTest, HostTellsClientsAtOnceAndKeepsItsClip) {
    Net& net = host();
    api->fleet_send(50, p, 0);
    EXPECT_TRUE(net.outbox.empty());
    int f = api->fleet_send(50, p, q);
    ASSERT_GT(f, 0);
    EXPECT_FALSE(net.outbox.empty());
    EXPECT_EQ(net.outbox.back().uid, "");

    net.outbox.clear();
    api->fleet_redirect(f, p);
    EXPECT_FALSE(net.outbox.empty());

    api->clip_set(1, 2, 3, 4);
    EXPECT_EQ(game->world.clip[2], 0);

    net.outbox.clear();
    api->game_reset();
    EXPECT_EQ(game->world.top, 1);
    ASSERT_EQ(net.outbox.size(), 1u);
    EXPECT_EQ(net.outbox[0].type, "R");
    EXPECT_EQ(net.outbox[0].uid, "");
    EXPECT_EQ(net.outbox[0].reliable, 1);
}

TEST_F(ModsWorldTest, RectanglesMarkTheHeaderButTheClipDoesNot) {
    api->clip_set(1, 2, 3, 4);
    EXPECT_EQ(game->world.clip[3], 4);
    EXPECT_EQ(game->world.ext_changed, 0);

    api->view_set(10, 20, 300, 200);
    EXPECT_EQ(game->world.view[2], 300);
    EXPECT_EQ(game->world.view_set, 1);
    EXPECT_EQ(game->world.ext_changed, 1);

    game->world.ext_changed = 0;
    api->bounds_set(0, 0, 0, 100);
    EXPECT_EQ(game->world.bounds[3], 100);
    EXPECT_EQ(game->world.ext_changed, 1);

    game->world.ext_changed = 0;
    api->planets_settle(0, 0, 400, 300);
    EXPECT_EQ(game->world.ext_changed, 1);
}

TEST_F(ModsWorldTest, LuaBuildsAMatchAndCatchesBadNumbers) {
    std::string mod = root + "/main.lua";
    std::ofstream(mod) << R"LUA(
function init()
    local u = z2_user_init("red", 0xff0000, 0)
    local a = z2_planet_init(u, 0, 0, 50, 100)
    local b = z2_planet_init(u, 100, 0, 50, 100)
    local f = z2_fleet_send(25, a, b)
    local ok, err = pcall(z2_fleet_send, 50, a, 0)
    z2_param_set("result", f .. " " .. tostring(ok) .. " " .. err)
end
function loop(t) end
function event(e) end
)LUA";
    api.reset();
    snprintf(game->mod_file, sizeof(game->mod_file), "%s", mod.c_str());
    mods_restart(*game, 0, var(VAR_DICT, 0));
    ModsAPI* live = mods_api_of(*game);
    ASSERT_TRUE(live);
    std::string result = live->param_get("result").__str__();
    int fleet = atoi(result.c_str());
    ASSERT_GT(fleet, 0) << result;
    EXPECT_TRUE(item(fleet).has_fleet);
    EXPECT_NE(result.find(" false invalid item"), std::string::npos) << result;
    EXPECT_EQ(live->api_error(), 0);  // the binding cleared what it raised
}

}  // namespace
