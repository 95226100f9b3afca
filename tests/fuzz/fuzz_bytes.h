// Helpers shared by the fuzz entries that read their input as a script.
//
// FuzzBytes hands out the input as a stream of choices: every read takes the
// next bytes, and reads past the end give zeros, so any input is a script that
// runs to its end. FuzzWatch turns a call that never returns into a failure:
// a hang is as much a fault as a crash, and a fuzz run must report it instead
// of waiting on it.
#pragma once

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

// A promise of the entry broken: one line on standard error, then the end a
// crash would have, which libFuzzer and the replay both report.
[[noreturn]] inline void fuzz_fail(const std::string& why) {
    fprintf(stderr, "fuzz: %s\n", why.c_str());
    abort();
}

class FuzzBytes {
public:
    FuzzBytes(const uint8_t* data, size_t size) : p_(data), n_(size) {}

    bool more() const { return n_ > 0; }
    size_t left() const { return n_; }

    uint8_t u8() {
        if (!n_) return 0;
        n_--;
        return *p_++;
    }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }

    // Up to len bytes as they come.
    std::string bytes(size_t len) {
        if (len > n_) len = n_;
        if (!len) return std::string();
        std::string s(reinterpret_cast<const char*>(p_), len);
        p_ += len;
        n_ -= len;
        return s;
    }
    // The rest of the input.
    std::string rest() { return bytes(n_); }

    // A real number, mostly one of the values that break arithmetic.
    float real() {
        static const float edges[] = {0.0f,    1.0f,     -1.0f,    0.5f,     16.0f,   300.0f,
                                      -300.0f, 65536.0f, 1e9f,     -1e9f,    1e30f,   -1e30f,
                                      3.4e38f, -3.4e38f, 1e-40f,   -1e-40f,  __builtin_nanf(""),
                                      __builtin_inff(), -__builtin_inff()};
        uint8_t k = u8();
        if (k < sizeof(edges) / sizeof(edges[0])) return edges[k];
        uint32_t bits = u32();
        float v;
        memcpy(&v, &bits, sizeof(v));
        return v;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

// While one lives, the work it names must end within FUZZ_WATCH_SECONDS of
// processor time of its thread, or the process aborts with a line that names
// it. Processor time, not the clock: a machine that stalls the process for a
// while is no hang. The limit is far beyond any honest run of the guarded
// calls even under the sanitizers; it only catches a call that would never
// return.
constexpr int FUZZ_WATCH_SECONDS = 10;

class FuzzWatch {
public:
    explicit FuzzWatch(const char* what) {
        static std::once_flag started;
        std::call_once(started, [] { std::thread(watch).detach(); });
        clockid_t clock;
        if (pthread_getcpuclockid(pthread_self(), &clock) != 0) return;
        what_.store(what);
        clock_.store(clock);
        since_.store(cpu_ns(clock));
        on_.store(true);
    }
    ~FuzzWatch() { on_.store(false); }
    FuzzWatch(const FuzzWatch&) = delete;
    FuzzWatch& operator=(const FuzzWatch&) = delete;

private:
    static inline std::atomic<bool> on_{false};
    static inline std::atomic<clockid_t> clock_{};
    static inline std::atomic<int64_t> since_{0};
    static inline std::atomic<const char*> what_{""};

    static int64_t cpu_ns(clockid_t clock) {
        timespec t{};
        clock_gettime(clock, &t);
        return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
    }
    [[noreturn]] static void watch() {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            if (!on_.load()) continue;
            int64_t since = since_.load();
            clockid_t clock = clock_.load();
            if (on_.load() && cpu_ns(clock) - since > int64_t{FUZZ_WATCH_SECONDS} * 1000000000) {
                fprintf(stderr, "fuzz: %s did not return within %d s\n", what_.load(), FUZZ_WATCH_SECONDS);
                abort();
            }
        }
    }
};
