// The real zentar2 binary running Lua mods headless: init and loop run, print
// reaches the mod log and the game log, command-line pairs become parameters,
// the states "quit" and "exit" end the run, and "-crash" decides what a
// failing mod does to the host. Every run has its own root and HOME.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "z2_test_util.h"

namespace {

using z2test::count_of;
using z2test::ProgramRun;

// Writes a file below the run's root (making its directory) and returns its path.
std::string write(ProgramRun& h, const std::string& rel, const std::string& text) {
    std::string path = h.root + "/" + rel;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    z2test::spit(path, text);
    return path;
}

const char* const QUIT_MOD = R"LUA(
function init()
    print("init ran", z2_param_get("color"), z2_param_get("headless"), z2_param_get("state"))
end
frames = 0
function loop(t)
    frames = frames + 1
    if frames == 5 then
        print("loop ran " .. frames)
        z2_param_set("state", STOP)
    end
end
function event(e) end
)LUA";

TEST(ModsHeadless, ModRunsAndQuits) {
    ProgramRun h("z2modsprog");
    std::string mod = write(h, "mods/game.lua", std::string("STOP = 'quit'\n") + QUIT_MOD);
    ASSERT_EQ((h.start({"-headless", "-mod", mod, "-color", "red"}), h.wait_exit()), 0);
    std::string out = h.out();
    EXPECT_NE(out.find("$ init ran"), std::string::npos) << out;
    EXPECT_NE(out.find("$ red"), std::string::npos);
    EXPECT_NE(out.find("$ menu"), std::string::npos);
    EXPECT_NE(out.find("$ loop ran 5"), std::string::npos);
    std::string log = h.log();
    EXPECT_NE(log.find("$ loop ran 5"), std::string::npos);
    EXPECT_NE(log.find("ModsAPI::require: " + mod), std::string::npos);
    EXPECT_EQ(log.find("social_init"), std::string::npos) << "a host starts no platform layer";
}

TEST(ModsHeadless, ExitStateEndsTheRunToo) {
    ProgramRun h("z2modsprog");
    std::string mod = write(h, "mods/game.lua", std::string("STOP = 'exit'\n") + QUIT_MOD);
    ASSERT_EQ((h.start({"-headless", "-mod", mod}), h.wait_exit()), 0);
    EXPECT_NE(h.out().find("$ loop ran 5"), std::string::npos);
}

TEST(ModsHeadless, ModNamedWithoutDirectoryComesFromTheDataDirectory) {
    ProgramRun h("z2modsprog");
    write(h, "data/game.lua", std::string("STOP = 'quit'\n") + QUIT_MOD);
    ASSERT_EQ((h.start({"-headless", "-mod", "game.lua"}), h.wait_exit()), 0);
    EXPECT_NE(h.out().find("$ loop ran 5"), std::string::npos);
    EXPECT_NE(h.out().find("ModsAPI::require: ../data/game.lua"), std::string::npos);
}

// The files of a running host change (the operator deploys an update): the
// host goes on with the mod it started, whose state a reload would drop.
TEST(ModsHeadless, AHostDoesNotReloadItsModWhenTheFileChanges) {
    ProgramRun h("z2modsprog");
    std::string mod = write(h, "mods/game.lua", R"LUA(
function init() print("init ran") end
frames = 0
function loop(t)
    frames = frames + 1
    if frames == 180 then print("loop ran 180"); z2_param_set("state", "quit") end
end
function event(e) end
)LUA");
    auto now = std::filesystem::file_time_type::clock::now();
    std::filesystem::last_write_time(mod, now - std::chrono::hours(2));
    h.start({"-headless", "-mod", mod});
    ASSERT_TRUE(h.wait_out("$ init ran"));
    z2test::spit(mod, "print('reloaded')\nfunction loop(t) z2_param_set('state', 'quit') end\n");
    std::filesystem::last_write_time(mod, now - std::chrono::hours(1));
    ASSERT_EQ(h.wait_exit(), 0);
    std::string out = h.out();
    EXPECT_NE(out.find("$ loop ran 180"), std::string::npos) << out;
    EXPECT_EQ(out.find("$ reloaded"), std::string::npos) << out;
    EXPECT_EQ(out.find("reload..."), std::string::npos);
}

const char* const FAILING_MOD = R"LUA(
function init() print("starting") end
function loop(t) error("mod failed on purpose") end
function event(e) end
)LUA";

TEST(ModsHeadless, CrashExitEndsAFailingHost) {
    ProgramRun h("z2modsprog");
    std::string mod = write(h, "mods/bad.lua", FAILING_MOD);
    ASSERT_EQ((h.start({"-headless", "-mod", mod, "-crash", "exit"}), h.wait_exit()), 1) << "a failed run";
    std::string out = h.out();
    EXPECT_NE(out.find("$ zentar2:"), std::string::npos);
    EXPECT_NE(out.find("mod failed on purpose"), std::string::npos);
    EXPECT_NE(out.find("Lua error: 2"), std::string::npos);
}

TEST(ModsHeadless, CrashWaitKeepsTheHostUpAndBlocked) {
    ProgramRun h("z2modsprog");
    std::string mod = write(h, "mods/bad.lua", FAILING_MOD);
    h.start({"-headless", "-mod", mod, "-crash", "wait"});
    ASSERT_TRUE(h.wait_out("Lua error: 2"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(h.wait_exit(100), -1);  // still running, killed now
    // Blocked: the failing loop ran once, not every frame.
    EXPECT_EQ(count_of(h.out(), "mod failed on purpose"), 1);
}

TEST(ModsHeadless, CrashRestartStartsTheModAgain) {
    ProgramRun h("z2modsprog");
    // The stored data counts the starts across restarts.
    std::string mod = write(h, "mods/again.lua", R"LUA(
function init()
    starts = (tonumber(z2_param_get("data")) or 0) + 1
    z2_param_set("data", tostring(starts))
    print("start " .. starts)
end
function loop(t)
    if starts >= 3 then z2_param_set("state", "quit") else error("fail " .. starts) end
end
function event(e) end
)LUA");
    ASSERT_EQ((h.start({"-headless", "-mod", mod, "-crash", "restart"}), h.wait_exit()), 0);
    std::string out = h.out();
    EXPECT_NE(out.find("$ start 1"), std::string::npos);
    EXPECT_NE(out.find("$ start 2"), std::string::npos);
    EXPECT_NE(out.find("$ start 3"), std::string::npos);
    EXPECT_EQ(out.find("$ start 4"), std::string::npos);
}

}  // namespace
