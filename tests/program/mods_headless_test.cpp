// The real zentar2 binary running Lua mods headless: init and loop run, print
// reaches the mod log and the game log, command-line pairs become parameters,
// the states "quit" and "exit" end the run, and "-crash" decides what a
// failing mod does to the host. Every run has its own root and HOME.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

// <root>/bin (working directory), <root>/data, <root>/mods, <root>/home.
class Host {
public:
    std::string root;
    pid_t pid = -1;

    Host() {
        char tmpl[] = "/tmp/z2modsprog-XXXXXX";
        root = mkdtemp(tmpl);
        for (const char* d : {"/bin", "/data", "/mods", "/home"}) fs::create_directories(root + d);
    }
    ~Host() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        fs::remove_all(root);
    }

    std::string write(const std::string& rel, const std::string& text) {
        std::ofstream(root + "/" + rel, std::ios::binary) << text;
        return root + "/" + rel;
    }

    std::string out() const { return read_file(root + "/stdout.txt"); }
    std::string log() const { return read_file(root + "/home/.local/share/Zentar 2/ruvezor.log"); }

    void start(const std::vector<std::string>& args) {
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (chdir((root + "/bin").c_str()) != 0) _exit(126);
            setenv("HOME", (root + "/home").c_str(), 1);
            FILE* f = freopen((root + "/stdout.txt").c_str(), "w", stdout);
            (void)f;
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>("zentar2"));
            argv.push_back(const_cast<char*>("-headless"));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(Z2_PROGRAM, argv.data());
            _exit(127);
        }
    }

    // Exit status; -1 when still running after the limit (then killed).
    int wait_exit(int limit_ms = 20000) {
        for (int waited = 0; waited < limit_ms; waited += 10) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
        return -1;
    }

    bool wait_out(const std::string& what, int n = 1, int limit_ms = 20000) {
        for (int waited = 0; waited < limit_ms; waited += 10) {
            if (count_of(out(), what) >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

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
    Host h;
    std::string mod = h.write("mods/game.lua", std::string("STOP = 'quit'\n") + QUIT_MOD);
    ASSERT_EQ((h.start({"-mod", mod, "-color", "red"}), h.wait_exit()), 0);
    std::string out = h.out();
    EXPECT_NE(out.find("$ init ran"), std::string::npos) << out;
    EXPECT_NE(out.find("$ red"), std::string::npos);
    EXPECT_NE(out.find("$ menu"), std::string::npos);
    EXPECT_NE(out.find("$ loop ran 5"), std::string::npos);
    std::string log = h.log();
    EXPECT_NE(log.find("$ loop ran 5"), std::string::npos);
    EXPECT_NE(log.find("ModsAPI::require: " + mod), std::string::npos);
}

TEST(ModsHeadless, ExitStateEndsTheRunToo) {
    Host h;
    std::string mod = h.write("mods/game.lua", std::string("STOP = 'exit'\n") + QUIT_MOD);
    ASSERT_EQ((h.start({"-mod", mod}), h.wait_exit()), 0);
    EXPECT_NE(h.out().find("$ loop ran 5"), std::string::npos);
}

TEST(ModsHeadless, ModNamedWithoutDirectoryComesFromTheDataDirectory) {
    Host h;
    h.write("data/game.lua", std::string("STOP = 'quit'\n") + QUIT_MOD);
    ASSERT_EQ((h.start({"-mod", "game.lua"}), h.wait_exit()), 0);
    EXPECT_NE(h.out().find("$ loop ran 5"), std::string::npos);
    EXPECT_NE(h.out().find("ModsAPI::require: ../data/game.lua"), std::string::npos);
}

const char* const FAILING_MOD = R"LUA(
function init() print("starting") end
function loop(t) error("mod failed on purpose") end
function event(e) end
)LUA";

TEST(ModsHeadless, CrashExitEndsAFailingHost) {
    Host h;
    std::string mod = h.write("mods/bad.lua", FAILING_MOD);
    ASSERT_EQ((h.start({"-mod", mod, "-crash", "exit"}), h.wait_exit()), 0);
    std::string out = h.out();
    EXPECT_NE(out.find("$ zentar2:"), std::string::npos);
    EXPECT_NE(out.find("mod failed on purpose"), std::string::npos);
    EXPECT_NE(out.find("Lua error: 2"), std::string::npos);
}

TEST(ModsHeadless, CrashWaitKeepsTheHostUpAndBlocked) {
    Host h;
    std::string mod = h.write("mods/bad.lua", FAILING_MOD);
    h.start({"-mod", mod, "-crash", "wait"});
    ASSERT_TRUE(h.wait_out("Lua error: 2"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(h.wait_exit(100), -1);  // still running, killed now
    // Blocked: the failing loop ran once, not every frame.
    EXPECT_EQ(count_of(h.out(), "mod failed on purpose"), 1);
}

TEST(ModsHeadless, CrashRestartStartsTheModAgain) {
    Host h;
    // The stored data counts the starts across restarts.
    std::string mod = h.write("mods/again.lua", R"LUA(
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
    ASSERT_EQ((h.start({"-mod", mod, "-crash", "restart"}), h.wait_exit()), 0);
    std::string out = h.out();
    EXPECT_NE(out.find("$ start 1"), std::string::npos);
    EXPECT_NE(out.find("$ start 2"), std::string::npos);
    EXPECT_NE(out.find("$ start 3"), std::string::npos);
    EXPECT_EQ(out.find("$ start 4"), std::string::npos);
}

}  // namespace
