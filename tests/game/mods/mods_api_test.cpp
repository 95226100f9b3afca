// ModsAPI and the mod life cycle: the log's line rules, the error record and
// item check, parameters and their effects, the restart's parameter set (the
// command-line walk, the fixed list, the server split, the caller's wins), the
// per-frame "state" to screen mapping, reloads (of the running mod, missing
// files, automatic on change) and events.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "z2_mods_tree.h"
#include "z2_test_util.h"

namespace {

namespace fs = std::filesystem;

const char* const PLAIN_MOD =
    "function init() z2_param_set('inits', (z2_param_get('inits') or 0) + 1) end\n"
    "function loop(t) end\n"
    "function event(e) z2_param_set('seen', e.type) e.type = 'changed' end\n";

class ModsApiTest : public z2test::ModsTree<> {
protected:
    std::vector<std::string> args;
    std::vector<char*> argv;

    void SetUp() override { make("z2modsapi", {"mod"}, false, "Zentar 2"); }

    void set_mtime(const std::string& rel, time_t t) { z2test::set_mtime(path(rel), (int)t); }

    void set_args(std::vector<std::string> a) {
        args = std::move(a);
        args.insert(args.begin(), "zentar2");
        argv.clear();
        for (auto& s : args) argv.push_back(s.data());
        argv.push_back(nullptr);
        game->argc = (int)args.size();
        game->argv = argv.data();
    }

    void start(const std::string& text = PLAIN_MOD, var params = var(VAR_DICT, 0)) {
        start_file("mod/main.lua", text, params);
    }

    ModsBase* engine() { return mods_engine_of(*game); }
    var param(const char* key) { return api()->param_get(key); }
    std::string str(const char* key) { return api()->param_get(key).__str__(); }
    bool has(const char* key) { return api()->params.__has__(var(key)); }

    // mods_reload_auto checks once per wall-clock second.
    void next_second() {
        time_t t = time(nullptr);
        while (time(nullptr) == t) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
};

// ---- log and errors ------------------------------------------------------------------

TEST_F(ModsApiTest, LogSplitsLinesAndDropsBlankOnes) {
    ModsAPI a(*game);
    a.log_entry("a\tb\r\n  \nc");
    ASSERT_EQ(a.log.size(), 2u);
    EXPECT_EQ(a.log[0], "c");
    EXPECT_EQ(a.log[1], "a    b");
    a.log_entry("");
    a.log_entry(" \t \r\n");
    EXPECT_EQ(a.log.size(), 2u);
    a.log_printf("n=%d %s", 42, "x");
    EXPECT_EQ(a.log[0], "n=42 x");
}

TEST_F(ModsApiTest, LogKeepsTheNewest255Lines) {
    ModsAPI a(*game);
    for (int i = 0; i < 300; i++) a.log_entry("line " + std::to_string(i));
    ASSERT_EQ(a.log.size(), 255u);
    EXPECT_EQ(a.log.front(), "line 299");
    EXPECT_EQ(a.log.back(), "line 45");
}

TEST_F(ModsApiTest, ItemCheckAndErrorRecord) {
    ModsAPI a(*game);
    game->world.items[4095].in_use = 1;
    game->world.items[7].in_use = 0;
    EXPECT_EQ(a._item_ok(4095, "item_get:n"), 1);
    EXPECT_EQ(a.api_error(), 0);
    for (int n : {0, 4096, -1, 7, 1 << 30}) {
        SCOPED_TRACE(n);
        a.api_error_clear();
        EXPECT_EQ(a._item_ok(n, "item_get:n"), 0);
        EXPECT_EQ(a.api_error(), 1);
        EXPECT_EQ(a.api_error_get(), "invalid item");
        EXPECT_EQ(a.log[0], "ModsAPI::item_get:n:" + std::to_string(n) + " invalid item");
    }
    // The record stays until it is cleared.
    EXPECT_EQ(a._item_ok(4095, "x"), 1);
    EXPECT_EQ(a.api_error(), 1);
    a.api_error_clear();
    EXPECT_EQ(a.api_error(), 0);
    EXPECT_EQ(a.api_error_get(), "");
}

// ---- parameters ------------------------------------------------------------------------

TEST_F(ModsApiTest, ParametersWriteTheWorldFields) {
    ModsAPI a(*game);
    Zentar& w = game->world;
    a.param_set("bkgr_src", var("abcdefghijklmnopqrst"));
    EXPECT_STREQ(w.bkgr_src, "abcdefghijklmno");
    EXPECT_EQ(w.ext_changed, 1);
    w.ext_changed = 0;
    a.param_set("bkgr_zoom", var(2.5));
    EXPECT_EQ(w.ext_changed, 1);
    w.ext_changed = 0;
    a.param_set("bkgr_zoom", var(2.5));  // unchanged, still marked
    EXPECT_EQ(w.ext_changed, 1);
    EXPECT_FLOAT_EQ(w.bkgr_zoom, 2.5f);
    a.param_set("bkgr_stars", var(2.7));
    EXPECT_EQ(w.bkgr_stars, 2);
    a.param_set("bkgr_dx", var("1.5"));
    a.param_set("bkgr_dy", var(-3));
    EXPECT_FLOAT_EQ(w.bkgr_dx, 1.5f);
    EXPECT_FLOAT_EQ(w.bkgr_dy, -3.0f);
    a.param_set("status", var(std::string(300, 's')));
    EXPECT_EQ(strlen(w.status), 255u);
    a.param_set("status", var("short"));
    EXPECT_STREQ(w.status, "short");
}

TEST_F(ModsApiTest, ParameterStoreAndRead) {
    ModsAPI a(*game);
    a.param_set("html", var("<b>x</b>"));  // headless: stored, no page built
    EXPECT_EQ(a.param_get("html").__str__(), "<b>x</b>");
    a.param_set("nothing", var());
    EXPECT_FALSE(a.params.__has__(var("nothing")));
    EXPECT_EQ(a.param_get("nothing").__type__(), VAR_NONE);
    a.param_set("state", var("play"));
    a.param_set("state", var("settings"));
    EXPECT_EQ(a.param_get("state").__str__(), "play");
    // A read is a copy: changing it leaves the parameter alone.
    var got = a.param_get("state");
    got = var("other");
    EXPECT_EQ(a.param_get("state").__str__(), "play");
}

TEST_F(ModsApiTest, DataParameterLivesInTheModsFile) {
    ModsAPI a(*game);
    a.param_set("data", var("early"));  // no script yet: nothing saved
    EXPECT_EQ(a.param_get("data").__str__(), "");
    a.scripts.push_back(ModScript{"my-mod.lua", "/x/my-mod.lua", 1, "my-mod.lua"});
    a.param_set("data", var("saved text"));
    EXPECT_EQ(a.param_get("data").__str__(), "saved text");
    EXPECT_TRUE(fs::exists(driver_doc_fname("my_mod.bin")));
    a.param_set("data", var(std::string(65537, 'x')));  // too long: the old data stays
    EXPECT_EQ(a.param_get("data").__str__(), "saved text");
    a.param_set("data", var(std::string(65536, 'y')));
    EXPECT_EQ(a.param_get("data").__str__().size(), 65536u);

    EXPECT_EQ(a._name_clean("my-mod.lua"), "my_mod");
    EXPECT_EQ(a._name_clean(".lua"), "_");
    EXPECT_EQ(a._name_clean("abcdefghijklmnopqrst"), "abcdefghijklmnop");
}

// ---- restart -------------------------------------------------------------------------

// The game around the runtime names the player.
struct NamingHooks : ModsHooks {
    void mods_player(ModsGame&, std::string* name, std::string* uid, int* gsize) override {
        *name = "Ann", *uid = "u42", *gsize = 320;
    }
};

TEST_F(ModsApiTest, RestartBuildsTheParameterSet) {
    static NamingHooks naming;  // outlives the game, which the fixture ends
    game->hooks = &naming;
    set_args({"-headless", "-mod", "x.lua", "-speed", "2", "-a", "-b", "c", "-port", "5",
              "-color", "red", "-crash", "exit", "-last"});
    game->port = 5;
    var params(VAR_DICT, 0);
    params["state"] = var("play");
    params["extra"] = var(3);
    start(PLAIN_MOD, params);

    EXPECT_EQ(param("speed").__type__(), VAR_NUMBER);  // the fixed value replaces "2"
    EXPECT_EQ(param("speed").__num__(), 1.0);
    EXPECT_EQ(str("a"), "-b");
    EXPECT_EQ(str("b"), "c");
    EXPECT_EQ(str("color"), "red");
    EXPECT_EQ(str("crash"), "exit");
    EXPECT_FALSE(has("mod"));
    EXPECT_FALSE(has("last"));
    EXPECT_FALSE(has("x.lua"));
    EXPECT_EQ(str("vinfo"), "1.9.6-Desktop-Linux-DAV");
    EXPECT_EQ(str("version"), "1.9.6");
    EXPECT_EQ(str("state"), "play");  // the caller's value wins
    EXPECT_EQ(str("extra"), "3");
    EXPECT_EQ(str("tab"), "mods");
    EXPECT_EQ(str("ticks"), "1");
    EXPECT_EQ(str("player"), "0");
    EXPECT_EQ(str("name"), "Ann");
    EXPECT_EQ(str("uid"), "u42");
    EXPECT_EQ(str("platform"), "Linux");
    EXPECT_EQ(str("gsize"), "phone");
    EXPECT_EQ(str("headless"), "1");
    EXPECT_EQ(param("port").__type__(), VAR_NUMBER);
    EXPECT_EQ(str("port"), "5");
    EXPECT_TRUE(has("token"));
    EXPECT_EQ(str("token"), "");
    EXPECT_EQ(str("inits"), "1");
}

TEST_F(ModsApiTest, ServerSplitsIntoHostAndPort) {
    game->port = 7;
    snprintf(game->server, sizeof(game->server), "play.example.org:4000");
    snprintf(game->token, sizeof(game->token), "tok");
    start();
    EXPECT_EQ(str("host"), "play.example.org");
    EXPECT_EQ(param("port").__type__(), VAR_STRING);
    EXPECT_EQ(str("port"), "4000");
    EXPECT_EQ(str("token"), "tok");

    // Without a colon the server names only the host.
    snprintf(game->server, sizeof(game->server), "play.example.org");
    start();
    EXPECT_EQ(str("host"), "play.example.org");
    EXPECT_EQ(param("port").__type__(), VAR_NUMBER);
    EXPECT_EQ(str("port"), "7");
}

TEST_F(ModsApiTest, DeinitLeavesNoRuntimeAndAResetWorld) {
    start();
    snprintf(game->world.status, sizeof(game->world.status), "busy");
    driver_set_altdir(path("mod").c_str());
    mods_deinit(*game);
    EXPECT_EQ(game->mods_api, nullptr);
    EXPECT_EQ(game->mods_engine, nullptr);
    EXPECT_EQ(_mods_lua._lua_modsapi, nullptr);
    EXPECT_STREQ(game->world.status, "");
    write("mod/data-probe.lua", "x");
    EXPECT_STRNE(driver_data_fname("data-probe.lua"), path("mod/data-probe.lua").c_str());
}

// ---- the per-frame driver ------------------------------------------------------------------

TEST_F(ModsApiTest, HeadlessQuitAndExitEndTheRun) {
    start();
    api()->param_set("state", var("play"));
    mods_loop(*game);
    EXPECT_EQ(game->quit, 0);
    api()->param_set("state", var("quit"));
    mods_loop(*game);
    EXPECT_EQ(game->quit, 1);
    game->quit = 0;
    api()->param_set("state", var("exit"));
    mods_loop(*game);
    EXPECT_EQ(game->quit, 1);
}

// ---- reloads -------------------------------------------------------------------------------

TEST_F(ModsApiTest, ReloadAndRestartKeepToTheRunningMod) {
    start();
    std::string running = path("mod/main.lua");
    write("mod/other.lua", "function init() z2_param_set('other', 1) end");
    // A menu restores another file name after the mod started.
    snprintf(game->mod_file, sizeof(game->mod_file), "%s", path("mod/other.lua").c_str());
    mods_reload(*game);
    ASSERT_FALSE(api()->scripts.empty());
    EXPECT_EQ(api()->scripts[0].path, running);
    mods_restart_current(*game);
    EXPECT_EQ(api()->scripts[0].path, running);
    EXPECT_STREQ(game->mod_file, running.c_str());
    EXPECT_FALSE(has("other"));
    EXPECT_TRUE(engine()->is_okay());
}

TEST_F(ModsApiTest, MissingFileOnReloadIsLoggedNotLeftBehind) {
    start();
    fs::remove(path("mod/main.lua"));
    mods_reload(*game);
    EXPECT_TRUE(logged("file missing"));
    EXPECT_EQ(api()->api_error(), 0);
    // The next unrelated call does not inherit the failure.
    engine()->script("ok_call = pcall(z2_param_get, 'state') z2_param_set('ok', ok_call)", "t");
    EXPECT_EQ(str("ok"), "True");
}

TEST_F(ModsApiTest, AutoReloadWaitsForSettledFiles) {
    game->headless = 0;  // a mod at a screen: a headless host never reloads
    write("mod/main.lua", "function init() end function loop(t) error('broken') end function event(e) end");
    set_mtime("mod/main.lua", time(nullptr) - 100);
    snprintf(game->mod_file, sizeof(game->mod_file), "%s", path("mod/main.lua").c_str());
    mods_restart(*game, 0, var(VAR_DICT, 0));
    engine()->loop(0.1f);
    ASSERT_FALSE(engine()->is_okay());

    // Just written: left for a later check.
    write("mod/main.lua", "function init() end function loop(t) z2_param_set('fixed', 1) end function event(e) end");
    set_mtime("mod/main.lua", time(nullptr) + 1);
    next_second();
    mods_reload_auto(*game);
    EXPECT_FALSE(engine()->is_okay());

    set_mtime("mod/main.lua", time(nullptr) - 3);
    next_second();
    mods_reload_auto(*game);
    EXPECT_TRUE(engine()->is_okay());
    engine()->loop(0.1f);
    EXPECT_EQ(str("fixed"), "1");
}

// ---- events and console -------------------------------------------------------------------

TEST_F(ModsApiTest, EventsReachTheModAsCopies) {
    start();
    var e(VAR_DICT, 0);
    e["type"] = var("ui:down");
    mods_event(*game, e);
    EXPECT_EQ(str("seen"), "ui:down");
    EXPECT_EQ(e["type"].__str__(), "ui:down");

    // Without pages the dismissal only empties the page's markup.
    api()->param_set("html", var("<popup/>"));
    var dismiss(VAR_DICT, 0);
    dismiss["type"] = var("mods_popup_dismiss");
    mods_event(*game, dismiss);
    EXPECT_EQ(str("html"), "");
    EXPECT_EQ(str("seen"), "ui:down");  // the engine never saw it
}

TEST_F(ModsApiTest, ConsoleToggleAndLogClear) {
    start();
    api()->log_entry("something");
    mods_console_toggle(*game);
    EXPECT_EQ(api()->console_visible, 1);
    mods_console_toggle(*game);
    EXPECT_EQ(api()->console_visible, 0);
    mods_log_clear(*game);
    EXPECT_TRUE(api()->log.empty());
}

}  // namespace
