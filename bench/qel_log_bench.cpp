// Cost of one log line now that every line is flushed into the log file: the
// file's part alone (driver_log_printf), the whole line with standard output
// sent to /dev/null, and for scale one bare write() of such a line, which the
// flush costs at least. The log file lives under a temporary HOME.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_log.h"

namespace {

struct LogFile {
    std::string home;
    LogFile() {
        char tmpl[] = "/tmp/z2logbench-XXXXXX";
        home = mkdtemp(tmpl);
        setenv("HOME", home.c_str(), 1);
        driver_init(DRIVER_LOG);
        driver_set_gamename("Zentar 2");
        driver_log_printf("open\n");  // the first line opens the file
    }
    ~LogFile() {
        driver_deinit();
        std::filesystem::remove_all(home);
    }
};

void BM_log_file_line(benchmark::State& state) {
    LogFile f;
    int i = 0;
    for (auto _ : state) driver_log_printf("[0][2024-01-01 12:00:00] [bench.cpp:fn:1] line %d\n", i++);
}
BENCHMARK(BM_log_file_line);

void BM_bare_write(benchmark::State& state) {
    LogFile f;
    std::string path = f.home + "/bare.log";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const char line[] = "[0][2024-01-01 12:00:00] [bench.cpp:fn:1] line 123456\n";
    for (auto _ : state) benchmark::DoNotOptimize(write(fd, line, sizeof(line) - 1));
    close(fd);
}
BENCHMARK(BM_bare_write);

void BM_log_whole_line(benchmark::State& state) {
    LogFile f;
    fflush(stdout);
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    int i = 0;
    for (auto _ : state) qel_log("a line of the log %d\n", i++);
    fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
}
BENCHMARK(BM_log_whole_line);

}  // namespace
