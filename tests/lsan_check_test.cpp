// The sanitizer build's leak check runs in every test program, whatever the
// layout of the heap: a leak is reported even when a living thread's dynamic
// TLS block starts 16 bytes into a page (where the sanitizer once took the
// heap's chunk header for the block's size and crashed reading it).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

void* blocks[4096];  // kept reachable: the only leak is the planted one
int block_count = 0;
std::atomic<int> placed{0};  // 1 tried elsewhere, 2 placed and held

// In a forked child: a thread whose TLS block of the module sits 16 bytes
// into a page stays alive, a 64 KB block is lost, and the child exits.
[[noreturn]] void child(const std::string& err) {
    if (!freopen(err.c_str(), "w", stderr)) _exit(3);
    void* module = dlopen(Z2_TLS_MODULE, RTLD_NOW);
    auto touch = module ? (void* (*)())dlsym(module, "z2_tls_touch") : nullptr;
    if (!touch) _exit(3);
    for (int attempt = 0; attempt < 50 && placed != 2; attempt++) {
        placed = 0;
        std::thread([touch] {
            // Blocks of the TLS block's size come one after another: stop
            // where the next one starts 16 bytes into a page.
            for (int i = 0; i < 512 && block_count < 4096; i++) {
                void* p = malloc(sizeof(long));
                blocks[block_count++] = p;
                if ((reinterpret_cast<uintptr_t>(p) + 32) % 4096 == 16) break;
            }
            if (reinterpret_cast<uintptr_t>(touch()) % 4096 != 16) {
                placed = 1;
                return;
            }
            placed = 2;
            for (;;) pause();
        }).detach();
        while (placed == 0) std::this_thread::yield();
    }
    if (placed != 2) _exit(3);
    std::thread([] { *static_cast<volatile char*>(malloc(65536)) = 1; }).join();
    exit(0);
}

// Runs body in a forked child whose standard error goes to a file; gives the
// child's wait status (-1 when it could not start) and what it wrote.
int run_child(const char* name, void (*body)(const std::string& err), std::string* text) {
    std::string err = testing::TempDir() + name;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) body(err);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    std::stringstream read;
    read << std::ifstream(err).rdbuf();
    std::remove(err.c_str());
    *text = read.str();
    return status;
}

TEST(LeakCheck, RunsWhateverTheLayoutOfTheThreadsTls) {
    std::string text;
    int status = run_child("lsan_check_child.txt", child, &text);
    ASSERT_TRUE(status >= 0 && WIFEXITED(status)) << text;
    ASSERT_NE(WEXITSTATUS(status), 3) << "no TLS block could be placed 16 bytes into a page";
    EXPECT_NE(text.find("65536 byte(s) leaked in 1 allocation(s)"), std::string::npos) << text;
    EXPECT_EQ(text.find("Tracer caught"), std::string::npos) << text;
}

// Focusing a text field on X11 has SDL look for an input method over D-Bus,
// and the system's D-Bus library keeps a block it never frees: the game
// reported a leak on quitting after any typing. A leak in that library is
// not the game's, and the check still catches the game's own.
TEST(LeakCheck, IgnoresTheDbusLibraryButNotOurOwn) {
    std::string text;
    int status = run_child("lsan_dbus_child.txt", [](const std::string& err) {
        if (!freopen(err.c_str(), "w", stderr)) _exit(3);
        // Without a machine id (minimal roots and many containers have no
        // /etc/machine-id) the library aborts the process unless told not to.
        setenv("DBUS_FATAL_WARNINGS", "0", 1);
        void* dbus = dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_NODELETE);
        auto machine_id = dbus ? (char* (*)())dlsym(dbus, "dbus_get_local_machine_id") : nullptr;
        if (!machine_id) _exit(4);
        bool kept = false;
        // Both dropped on a thread that ends, so no stack still holds them.
        std::thread([machine_id, &kept] {
            if (char* id = machine_id()) id[0] = 0, kept = true;  // the library's own block
            *static_cast<volatile char*>(malloc(4096)) = 1;  // ours
        }).join();
        if (!kept) _exit(5);
        exit(0);
    }, &text);
    ASSERT_TRUE(status >= 0 && WIFEXITED(status)) << text;
    if (WEXITSTATUS(status) == 4) GTEST_SKIP() << "no D-Bus library here";
    if (WEXITSTATUS(status) == 5)
        GTEST_SKIP() << "the D-Bus library finds no machine id here (/etc/machine-id, /var/lib/dbus/machine-id)";
    EXPECT_NE(text.find("Direct leak of 4096 byte(s)"), std::string::npos) << text;
    EXPECT_EQ(text.find("libdbus"), std::string::npos) << text;
}

}  // namespace
