// The real zentar2 binary, started headless from a bin/ directory beside a
// data/ directory, with its own temporary HOME.
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

#include "game.h"

namespace {

namespace fs = std::filesystem;

const char* const kRule = "=====================================================\n";

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

// A root with bin/, data/ and home/; the program runs in bin/.
class Sandbox {
public:
    std::string root;
    pid_t pid = -1;

    Sandbox() {
        char tmpl[] = "/tmp/z2prog-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/bin");
        fs::create_directories(root + "/data");
        fs::create_directories(root + "/home");
    }
    ~Sandbox() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        fs::remove_all(root);
    }

    std::string docdir() const { return root + "/home/.local/share/Zentar 2"; }
    std::string log() const { return read_file(docdir() + "/ruvezor.log"); }

    void write_bin_file(const std::string& name, const std::string& text) {
        std::ofstream(root + "/bin/" + name) << text;
    }

    void start(const std::vector<std::string>& args) {
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (chdir((root + "/bin").c_str()) != 0) _exit(126);
            setenv("HOME", (root + "/home").c_str(), 1);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            FILE* out = freopen((root + "/stdout.txt").c_str(), "w", stdout);
            (void)out;
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>("zentar2"));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(Z2_PROGRAM, argv.data());
            _exit(127);
        }
    }

    // The exit status, or -1 when the program is still running after the
    // safety limit (it is then killed).
    int wait_exit(int limit_ms = 20000) {
        for (int waited = 0; waited < limit_ms; waited += 10) {
            int status = 0;
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) {
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

    bool running() {
        int status = 0;
        return pid > 0 && waitpid(pid, &status, WNOHANG) == 0;
    }

    // Standard output gets every log line at once; the log file is written
    // through a buffer until the program ends.
    std::string out() const { return read_file(root + "/stdout.txt"); }

    // Waits until standard output holds `what` at least n times.
    bool wait_out(const std::string& what, int n = 1, int limit_ms = 20000) {
        for (int waited = 0; waited < limit_ms; waited += 10) {
            if (count_of(out(), what) >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    int run(const std::vector<std::string>& args) {
        start(args);
        return wait_exit();
    }
};

std::string line_with(const std::string& text, const std::string& what) {
    size_t at = text.find(what);
    if (at == std::string::npos) return "";
    size_t begin = text.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    size_t end = text.find('\n', at);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

void expect_clean_end(const std::string& log) {
    ASSERT_GE(log.size(), 22u);
    EXPECT_EQ(log.substr(log.size() - 22), "\n[_driver_log_deinit]\n");
}

// ---- start-up ---------------------------------------------------------------

TEST(Zentar2Headless, WithoutModLogsTheErrorAndExits255) {
    Sandbox box;
    EXPECT_EQ(box.run({"-headless"}), 255);

    std::string log = box.log();
    std::string banner = std::string("[_driver_log_init]\n") + "\n" + kRule +
                         "DO NOT SHARE LOG FILES WITH ANYONE BUT THE DEVELOPERS\n" + kRule +
                         "VERSION: 1.9.6-Desktop-Linux-DAV\n" + kRule + "\n";
    EXPECT_EQ(log.substr(0, banner.size()), banner);
    std::string error = "error -mod $FNAME must be provided when running in -headless mode\n";
    ASSERT_GE(log.size(), error.size());
    EXPECT_EQ(log.substr(log.size() - error.size()), error);
    EXPECT_EQ(count_of(box.out(), error), 1);

    // No window, no settings files.
    EXPECT_EQ(log.find("SDL Runtime Version"), std::string::npos);
    EXPECT_EQ(log.find("init_video"), std::string::npos);
    EXPECT_FALSE(fs::exists(box.docdir() + "/settings-cloud.dat"));
    EXPECT_FALSE(fs::exists(box.docdir() + "/settings-local.dat"));

    // The record sizes, in this order.
    char want[8][96];
    snprintf(want[0], 96, "sizeof(game) = %ldk\n", (long)(sizeof(Game) / 1024));
    snprintf(want[1], 96, "sizeof(game.data.zentar) = %ldk\n", (long)(sizeof(Zentar) / 1024));
    snprintf(want[2], 96, "sizeof(zentar.Item) = %d b\n", (int)sizeof(Item));
    snprintf(want[3], 96, "sizeof(game.data.zentar.items) = %ldk\n", (long)(sizeof(Zentar::items) / 1024));
    snprintf(want[4], 96, "sizeof(zentar.Part) = %d b\n", (int)sizeof(Part));
    snprintf(want[5], 96, "sizeof(game.data.zentar.parts) = %ldk\n", (long)(sizeof(Zentar::parts) / 1024));
    snprintf(want[6], 96, "sizeof(PlanetStyleSphere) = %d b\n", (int)sizeof(PlanetLayer));
    snprintf(want[7], 96, "sizeof(PlanetStyleOverlay) = %d b\n", (int)sizeof(PlanetSprite));
    size_t at = 0;
    for (auto& w : want) {
        at = log.find(w, at);
        ASSERT_NE(at, std::string::npos) << w;
    }
}

// ---- command line -----------------------------------------------------------

TEST(Zentar2Headless, CommandLineBecomesModParameters) {
    Sandbox box;
    // The mod file is missing, so the engine fails and "-crash exit" quits.
    EXPECT_EQ(box.run({"-headless", "-mod", "nothere.lua", "-port", "2000", "-crash", "exit",
                       "-size", "5", "-a", "-b", "c", "-name", "Bob", "-x"}),
              0);
    std::string log = box.log();
    std::string restart = line_with(log, "mods_restart: nothere.lua");
    ASSERT_FALSE(restart.empty()) << log;
    EXPECT_EQ(restart.rfind("[2000][", 0), 0u) << "the port tags every line";
    for (const char* p : {" crash=exit", " size=5", " a=-b", " b=c", " port=2000", " headless=1",
                          " state=menu", " version=1.9.6-Desktop-Linux-DAV"})
        EXPECT_NE(restart.find(p), std::string::npos) << p << " in " << restart;
    EXPECT_EQ(restart.find(" x="), std::string::npos) << "a last option gives nothing";
    EXPECT_EQ(restart.find("=Bob"), std::string::npos) << "-name is not a mod parameter";
    EXPECT_EQ(restart.find(" mod="), std::string::npos);
    EXPECT_EQ(count_of(log, "mods_restart: "), 1);
    expect_clean_end(log);
}

TEST(Zentar2Headless, PortThatIsNotANumberAndTrailingOption) {
    Sandbox box;
    // The last "-crash" has no value and leaves "exit" in force.
    EXPECT_EQ(box.run({"-headless", "-mod", "nothere.lua", "-port", "abc", "-crash", "exit",
                       "-crash"}),
              0);
    std::string log = box.log();
    std::string restart = line_with(log, "mods_restart: ");
    ASSERT_FALSE(restart.empty());
    EXPECT_EQ(restart.find(" port="), std::string::npos) << "port 0 is not passed on";
    EXPECT_EQ(restart.rfind("[", 0), 0u);
    EXPECT_NE(restart.rfind("[0][", 0), 0u) << "tag 0 drops the time-stamp prefix";
    expect_clean_end(log);
}

// ---- frame loop -------------------------------------------------------------

TEST(Zentar2Headless, CrashRestartRestartsTheFailedModEveryFrame) {
    Sandbox box;
    box.start({"-headless", "-mod", "nothere.lua", "-crash", "restart"});
    ASSERT_TRUE(box.wait_out("mods_restart: nothere.lua", 3));
    EXPECT_TRUE(box.running());
    kill(box.pid, SIGTERM);
    EXPECT_EQ(box.wait_exit(), 0);
    expect_clean_end(box.log());
}

// ---- signals ----------------------------------------------------------------

class Zentar2Signal : public ::testing::TestWithParam<int> {};

TEST_P(Zentar2Signal, StopsAHeadlessHostThroughItsShutdown) {
    Sandbox box;
    box.write_bin_file("host.lua", "-- a mod\n");
    box.start({"-headless", "-mod", "host.lua", "-port", "2100", "-crash", "exit"});
    ASSERT_TRUE(box.wait_out("mods_restart: host.lua"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(box.running()) << "a readable mod keeps the host running";
    kill(box.pid, GetParam());
    EXPECT_EQ(box.wait_exit(), 0);
    std::string log = box.log();
    EXPECT_NE(log.find("signal " + std::to_string(GetParam()) + ": quit"), std::string::npos);
    expect_clean_end(log);
}

INSTANTIATE_TEST_SUITE_P(Signals, Zentar2Signal, ::testing::Values(SIGTERM, SIGINT));

}  // namespace
