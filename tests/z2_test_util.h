// Small fixtures the engine, game and program tests share: captured output,
// whole files, a scratch directory (optionally as HOME) and, for the program
// tests, the real binary started in a sandbox.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
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

namespace z2test {

namespace fs = std::filesystem;

// Standard output written while f runs.
template <typename F>
std::string stdout_of(F f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

// Standard output written while f runs; standard error is swallowed.
template <typename F>
std::string stdout_of_quiet(F f) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  f();
  testing::internal::GetCapturedStderr();
  return testing::internal::GetCapturedStdout();
}

// The whole file; empty when it cannot be read.
inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Replaces the file's contents.
inline void spit(const fs::path& p, const void* data, size_t n) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
}
inline void spit(const fs::path& p, const std::string& s) { spit(p, s.data(), s.size()); }

// Writes the file, failing the test when it cannot be opened.
inline void write_text(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

inline void set_mtime(const std::string& path, int t) {
  struct timeval tv[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimes(path.c_str(), tv), 0);
}

// A WAV file's bytes: the canonical header (format 1 is PCM, 3 IEEE float)
// and the samples as given.
inline std::string wav_bytes(int format, int channels, int rate, int bits, const std::string& samples) {
  std::string b = "RIFF";
  auto put = [&b](size_t v, int n) {
    for (int i = 0; i < n; i++) b.push_back(static_cast<char>((v >> (8 * i)) & 255));
  };
  put(36 + samples.size(), 4);
  b += "WAVEfmt ";
  put(16, 4), put(format, 2), put(channels, 2), put(rate, 4);
  put(rate * channels * bits / 8, 4), put(channels * bits / 8, 2), put(bits, 2);
  b += "data";
  put(samples.size(), 4);
  return b + samples;
}

// How long one wait may last before the test calls it a hang. Tests count
// what they wait for in frames, game time or events; this only ends a wait
// on a program that stopped answering, and is wide enough that a slow or
// busy machine never comes near it.
constexpr int kHangMs = 3 * 60 * 1000;

// The game's frames a second of play, for a wait counted in frames: each
// frame is at least this long, and a busy machine only makes it longer.
constexpr long kFps = 60;

// Runs step() until done() holds; false after `steps` steps (none: no
// count), or once the wait has lasted kHangMs.
template <typename Done, typename Step>
bool step_until(Done&& done, Step&& step, long steps = -1) {
  auto hang = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangMs);
  for (long n = 0; !done(); n++) {
    if ((steps >= 0 && n >= steps) || std::chrono::steady_clock::now() > hang) return false;
    step();
  }
  return true;
}

inline int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// A socket of the type on 127.0.0.1, bound to the port (0: any free one),
// and the port it got; -1 when it cannot be bound. A stream socket may take
// a port whose last connections still linger.
inline int bind_loopback(int type, int& port) {
  int fd = socket(AF_INET, type, 0);
  if (fd < 0) return -1;
  int one = 1;
  if (type == SOCK_STREAM) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof(a);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

// A UDP port on 127.0.0.1 that nobody holds right now; 0 when none is found.
inline int free_udp_port() {
  int port = 0;
  int fd = bind_loopback(SOCK_DGRAM, port);
  if (fd < 0) return 0;
  close(fd);
  return port;
}

// The fake Steam library built beside the tests, or "" when there is none.
inline std::string fake_library_path() {
#ifdef Z2_FAKE_CSTEAMWORKS
  return Z2_FAKE_CSTEAMWORKS;
#else
  const char* e = getenv("Z2_FAKE_CSTEAMWORKS");
  return e ? e : "";
#endif
}

// <tmp>/<name><pid>, emptied on enter and removed on leave. Entered as
// HOME, it stays HOME until leave puts the old value back.
class TempDir {
 public:
  fs::path root;

  TempDir() = default;
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() { leave(); }

  const fs::path& enter(const std::string& name) {
    root = fs::temp_directory_path() / (name + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    active_ = true;
    return root;
  }
  // HOME is <root>/<sub>, or the root itself when sub is empty.
  const fs::path& enter_as_home(const std::string& name, const std::string& sub = "") {
    enter(name);
    fs::path home = sub.empty() ? root : root / sub;
    fs::create_directories(home);
    const char* h = getenv("HOME");
    had_home_ = h != nullptr;
    old_home_ = h ? h : "";
    set_home_ = true;
    setenv("HOME", home.c_str(), 1);
    return root;
  }
  void leave() {
    if (set_home_) {
      if (had_home_) setenv("HOME", old_home_.c_str(), 1);
      else unsetenv("HOME");
      set_home_ = false;
    }
    if (active_) fs::remove_all(root);
    active_ = false;
  }

 private:
  std::string old_home_;
  bool had_home_ = false, set_home_ = false, active_ = false;
};

#ifdef Z2_PROGRAM
// The real binary in a fresh root: it runs in <root>/bin with HOME at
// <root>/home, no display, and standard output in <root>/stdout.txt.
class ProgramRun {
 public:
  std::string root;
  pid_t pid = -1;

  explicit ProgramRun(const char* prefix) {
    std::string tmpl = std::string("/tmp/") + prefix + "-XXXXXX";
    root = mkdtemp(tmpl.data());
    for (const char* d : {"/bin", "/data", "/home"}) fs::create_directories(root + d);
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;
  ~ProgramRun() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    fs::remove_all(root);
  }

  std::string docdir() const { return root + "/home/.local/share/Zentar 2"; }
  std::string log() const { return slurp(docdir() + "/ruvezor.log"); }
  // Standard output gets every log line at once; the log file is written
  // through a buffer until the program ends.
  std::string out() const { return slurp(root + "/stdout.txt"); }

  // Standard output goes to `out_fd` when one is given, else to stdout.txt.
  void start(const std::vector<std::string>& args, int out_fd = -1) {
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // A test run that is killed or crashes takes its program with it,
      // instead of leaving a host that holds its port and a core.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (chdir((root + "/bin").c_str()) != 0) _exit(126);
      setenv("HOME", (root + "/home").c_str(), 1);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      if (out_fd >= 0) {
        if (dup2(out_fd, STDOUT_FILENO) < 0) _exit(126);
      } else {
        FILE* out = freopen((root + "/stdout.txt").c_str(), "w", stdout);
        (void)out;
      }
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>("zentar2"));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(Z2_PROGRAM, argv.data());
      _exit(127);
    }
  }

  // The exit status, or -1 when the program is still running after
  // limit_ms (it is then killed). Only a check that it is still running
  // gives a limit: the default just catches a hang.
  int wait_exit(int limit_ms = kHangMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() > end) break;
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

  // Waits until standard output holds `what` at least n times; false once
  // the wait looks like a hang.
  bool wait_out(const std::string& what, int n = 1) {
    return step_until([&] { return count_of(out(), what) >= n; },
                      [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
  }
  // Whether standard output holds `what` n times now.
  bool said(const std::string& what, int n = 1) const { return count_of(out(), what) >= n; }

  int run(const std::vector<std::string>& args) {
    start(args);
    return wait_exit();
  }
};

// The real binary hosting one of the game's mods headless on a port of its
// own, with the mods' shared modules and the game's host mod beside it. With
// `text`, the mod is a test's own of that name, which may require them.
class HostRun : public ProgramRun {
 public:
  int port = free_udp_port();

  HostRun(const char* prefix, const std::string& mod, const std::vector<std::string>& more = {},
          const std::string& text = "")
      : ProgramRun(prefix) {
    for (const char* f : {"mod_bots.lua", "mod_match.lua", "mod_server.lua"})
      fs::copy_file(std::string(Z2_DATA_DIR) + "/" + f, root + "/data/" + f);
    std::string to = root + "/data/" + mod;
    if (!text.empty()) write_text(to, text);
    else if (!fs::exists(to)) fs::copy_file(std::string(Z2_DATA_DIR) + "/" + mod, to);
    std::vector<std::string> args = {"-headless", "-mod", mod, "-port", std::to_string(port)};
    args.insert(args.end(), more.begin(), more.end());
    start(args);
  }
  // Waits for the mod's word that it hosts.
  bool hosting() { return port > 0 && wait_out("hosting on port " + std::to_string(port)); }
};
#endif

}  // namespace z2test
