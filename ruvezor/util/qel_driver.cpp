// qel_driver: driver core. State record, start/stop, names and metrics,
// directories, whole-file load/save, the log file and its backlog, the
// millisecond clock and frame pacing, opening URLs.
//
// Log file "ruvezor.log" in the document directory:
//   "[_driver_log_init]\n", then every log line of the run in order (also
//   those written before the file could open), then "\n[_driver_log_deinit]\n".
#include "ruvezor/util/qel_driver.h"

#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_var.h"  // str_put

#include <SDL.h>        // timer subsystem, SDL_Delay

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>

#include <dirent.h>     // sweeping stale temporary save files
#include <fcntl.h>      // open flags for the temporary save file
#include <poll.h>       // room in a log reader's pipe
#include <pwd.h>        // home directory when HOME is unset
#include <strings.h>    // strncasecmp
#include <sys/file.h>   // flock: is another run writing the log
#include <sys/stat.h>
#include <sys/types.h>
#include <signal.h>     // kill(pid, 0): is a saving process still there
#include <sys/wait.h>   // the url launcher's exit code
#include <unistd.h>
#include <vector>

// ---- state -------------------------------------------------------------------

struct _DriverData {
  int32_t width;           // logical screen width (window units)
  int32_t height;          // logical screen height
  float aspect;            // width / height
  float scale;             // drawable pixels per window unit
  float orient;            // screen orientation angle
  char idiom[256];         // device idiom, "desktop" once video starts
  char gamename[256];      // names the document directory
  char caption[256];       // window caption
  char icon[512];          // window icon path
  int32_t timer_rate;      // frames per second for driver_timer_tick, 0 off
  char altdir[512];        // alternative data directory, "" none
  // frame tick bookkeeping
  int32_t tick_started;    // set by the first driver_timer_tick
  int64_t tick_t0;         // clock (ms) at the first tick
  int64_t tick_frames;     // frames handed out since tick_t0
  int64_t tick_last;       // clock (ms) at the last tick, to notice resets
  // data directory chosen at init
  char datadir[1024];      // "../data", or the debug one
};

static _DriverData* _driver = nullptr;

// The log outlives the driver state (lines before driver_init wait here) and
// is never destroyed, so that logging from late static destructors is safe.
struct _DriverLog {
  FILE* file = nullptr;                 // "ruvezor.log", appending
  DriverLineOut out;                    // writes it when it is no regular file
  std::deque<std::string> backlog;      // lines not yet in the file, oldest first
  size_t backlog_bytes = 0;             // total size of backlog
  bool open_failed = false;             // don't retry until the name or log restarts
  char path[512] = {};                  // the log file's own path buffer
  size_t file_bytes = 0;                // the file's size as this run knows it
  bool full = false;                    // the file reached its cap: lines go only to stdout
  bool capped = false;                  // a regular file, which the cap applies to
  size_t file_cap = _driver_log_file_cap;
  bool failing = false;                 // the last write to the file failed (a full disk)
  std::string trouble;                  // why the file misses lines, not told yet (driver_log_trouble)
};

static _DriverLog& _driver_log() {
  static _DriverLog* s = new _DriverLog;
  return *s;
}

// The clock needs no state and works before driver_init.
static uint64_t _driver_monotonic_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

static uint64_t (*_driver_clock_source)() = _driver_monotonic_us;
static bool _driver_clock_started = false;
static uint64_t _driver_clock_origin = 0;

static bool (*_driver_debug_check)() = nullptr;

static const char* const _driver_datadir_default = "../data";
static const char* const _driver_datadir_debug = "../data-debug";

// ---- internal helpers ----------------------------------------------------------


// "%s/%s" into out; "" when it doesn't fit, so a cut path never names
// another file.
static bool _driver_join(char* out, size_t cap, const char* dir, const char* name) {
  if (!name) name = "";
  int n = snprintf(out, cap, "%s/%s", dir, name);
  if (n < 0 || static_cast<size_t>(n) >= cap) {
    out[0] = 0;
    return false;
  }
  return true;
}

// HOME, else the password database's home, else the working directory.
const char* _driver_doc_home() {
  const char* home = getenv("HOME");
  if (home && *home) return home;
  static char pw_home[512];
  struct passwd pw;
  struct passwd* res = nullptr;
  char tmp[4096];
  if (getpwuid_r(getuid(), &pw, tmp, sizeof(tmp), &res) == 0 && res && res->pw_dir &&
      *res->pw_dir && strlen(res->pw_dir) < sizeof(pw_home)) {
    str_put(pw_home, sizeof(pw_home), res->pw_dir);
    return pw_home;
  }
  return ".";
}

// The document directory, created on demand; "." without a game name, ""
// when the path doesn't fit. Never logs: the log file is found through it.
static const char* _driver_doc_dir() {
  static char dir[512];
  if (!_driver || !_driver->gamename[0]) {
    str_put(dir, sizeof(dir), ".");
    return dir;
  }
  const char* home = _driver_doc_home();
  char part[512];
  if (snprintf(part, sizeof(part), "%s/.local", home) >= static_cast<int>(sizeof(part))) {
    dir[0] = 0;
    return dir;
  }
  // Folders made here are the player's alone; ones that exist keep their mode.
  mkdir(part, 0700);
  if (snprintf(part, sizeof(part), "%s/.local/share", home) >= static_cast<int>(sizeof(part))) {
    dir[0] = 0;
    return dir;
  }
  mkdir(part, 0700);
  int n = snprintf(dir, sizeof(dir), "%s/.local/share/%s", home, _driver->gamename);
  if (n < 0 || n >= static_cast<int>(sizeof(dir))) {
    dir[0] = 0;
    return dir;
  }
  mkdir(dir, 0700);
  return dir;
}

static const char* _driver_datadir() {
  return _driver ? _driver->datadir : _driver_datadir_default;
}

// ---- start and stop ----------------------------------------------------------

DriverVideoHooks _driver_video_hooks{};

void driver_init(int flags) {
  delete _driver;
  _driver = new _DriverData{};
  _driver->aspect = 1.0f;
  _driver->scale = 1.0f;
  str_put(_driver->datadir, sizeof(_driver->datadir),
               _driver_debug_check && _driver_debug_check() ? _driver_datadir_debug : _driver_datadir_default);

  if (flags & DRIVER_LOG) _driver_log_init();
  if (flags & DRIVER_TIMER) {
    if (SDL_Init(SDL_INIT_TIMER) != 0) qel_log("SDL_Init(SDL_INIT_TIMER): %s\n", SDL_GetError());
  }
  if (flags & DRIVER_VIDEO) {
    if (_driver_video_hooks.init) _driver_video_hooks.init();
    else qel_log("driver_init: no video in this program\n");
  }
  // Where no window can be seen the program ends for that reason alone, and
  // the sound library's complaints about a missing device would bury it.
  bool unseen = (flags & DRIVER_VIDEO) && _driver_video_hooks.unseen && *_driver_video_hooks.unseen();
  if ((flags & DRIVER_AUDIO) && !unseen) _driver_audio_init();
}

void driver_set_debug_check(bool (*debug)()) { _driver_debug_check = debug; }

void driver_deinit() {
  _driver_audio_deinit();
  if (_driver_video_hooks.deinit) _driver_video_hooks.deinit();
  SDL_QuitSubSystem(SDL_INIT_TIMER);
  SDL_Quit();
  _driver_log_deinit();
  _driver_cloud_deinit();
  delete _driver;
  _driver = nullptr;
}

void driver_app_exit() {}

// ---- names and metrics -------------------------------------------------------

void driver_set_gamename(const char* name) {
  if (!_driver) return;
  str_put(_driver->gamename, sizeof(_driver->gamename), name);
  _driver_log().open_failed = false;  // a new place to try
}

void driver_set_caption(const char* text) {
  if (_driver) str_put(_driver->caption, sizeof(_driver->caption), text);
}
const char* driver_get_caption() { return _driver ? _driver->caption : ""; }

void driver_set_icon(const char* path) {
  if (_driver) str_put(_driver->icon, sizeof(_driver->icon), path);
}
const char* driver_get_icon() { return _driver ? _driver->icon : ""; }

void driver_set_idiom(const char* text) {
  if (_driver) str_put(_driver->idiom, sizeof(_driver->idiom), text);
}
const char* driver_get_idiom() { return _driver ? _driver->idiom : ""; }

void driver_set_altdir(const char* dir) {
  if (!_driver) return;
  _driver->altdir[0] = 0;
  if (dir) str_put(_driver->altdir, sizeof(_driver->altdir), dir);
}

void driver_get_size(int* w, int* h) {
  if (w) *w = _driver ? _driver->width : 0;
  if (h) *h = _driver ? _driver->height : 0;
}
void driver_set_size(int w, int h) {
  if (!_driver) return;
  _driver->width = w;
  _driver->height = h;
}
float driver_get_aspect() { return _driver ? _driver->aspect : 1.0f; }
void driver_set_aspect(float aspect) {
  if (_driver) _driver->aspect = aspect;
}
float driver_get_scale() { return _driver ? _driver->scale : 1.0f; }
void driver_set_scale(float scale) {
  if (_driver) _driver->scale = scale;
}
float driver_get_orient() { return _driver ? _driver->orient : 0.0f; }
void driver_set_orient(float orient) {
  if (_driver) _driver->orient = orient;
}

const char* driver_get_tmpdir() { return "/tmp"; }
const char* driver_get_osinfo() { return "Linux"; }

const char* driver_get_home_dir() {
  static char home[512];
  str_put(home, sizeof(home), getenv("HOME"));
  return home;
}

// ---- paths -------------------------------------------------------------------

const char* driver_data_fname(const char* name) {
  static char path[512];
  if (!name) name = "";
  if (_driver && _driver->altdir[0] && _driver_join(path, sizeof(path), _driver->altdir, name) &&
      driver_file_exists(path))
    return path;
  if (!_driver_join(path, sizeof(path), _driver_datadir(), name))
    qel_log("path too long: %s/%s\n", _driver_datadir(), name);
  return path;
}

static char _driver_doc_path[512];

const char* driver_doc_fname(const char* name) {
  if (!name) name = "";
  const char* dir = _driver_doc_dir();
  if (!dir[0] || !_driver_join(_driver_doc_path, sizeof(_driver_doc_path), dir, name)) {
    _driver_doc_path[0] = 0;
    qel_log("path too long: %s\n", name);
  }
  return _driver_doc_path;
}

int driver_name_inside(const char* name) {
  if (!name) return 1;
  for (const char* p = name;;) {
    const char* slash = strchr(p, '/');
    size_t n = slash ? (size_t)(slash - p) : strlen(p);
    if (n == 2 && p[0] == '.' && p[1] == '.') return 0;
    if (!slash) return 1;
    p = slash + 1;
  }
}

// ---- files -------------------------------------------------------------------

// Opens a regular file for reading and fills in st; -1 when it does not
// open, or when it is something else, which the log tells: opening a FIFO
// waits for a writer, and reading a device may never end. The open itself
// never waits. A load also logs a missing file; an existence test says
// nothing about one, nor about a directory.
static int _driver_open_regular(const char* path, bool load, struct stat& st) {
  st = {};
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (load) qel_log("file not found: %s\n", path);
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (load || !S_ISDIR(st.st_mode)) qel_log("not a regular file, not read: %s\n", path);
    close(fd);
    return -1;
  }
  return fd;
}

// The same for a load, as a stream whose reads wait for their bytes.
static FILE* _driver_fopen_regular(const char* path, struct stat& st) {
  int fd = _driver_open_regular(path, true, st);
  if (fd < 0) return nullptr;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "rb");
  if (!f) close(fd);
  return f;
}

int driver_file_exists(const char* path) {
  if (!path || !*path) return 0;
  struct stat st;
  int fd = _driver_open_regular(path, false, st);
  if (fd < 0) return 0;
  close(fd);
  return 1;
}

int driver_file_fsize(const char* path) {
  struct stat st;
  if (!path || stat(path, &st) != 0) return 0;
  if (st.st_size > INT_MAX) return INT_MAX;
  return st.st_size < 0 ? 0 : static_cast<int>(st.st_size);
}

int driver_file_mtime(const char* path) {
  struct stat st;
  if (!path || stat(path, &st) != 0) return 0;
  if (st.st_mtime > INT_MAX) return INT_MAX;
  return st.st_mtime < 0 ? 0 : static_cast<int>(st.st_mtime);
}

int driver_file_changed(const char* path, long seen, long now) {
  int m = driver_file_mtime(path);
  return m > seen && m < now - 1 ? m : 0;
}

int driver_file_load(const char* path, void* buf, int cap) {
  if (!path) path = "";
  struct stat st;
  FILE* f = _driver_fopen_regular(path, st);
  if (!f) return 0;
  size_t want = 0;
  if (buf && cap > 0) want = std::min(static_cast<size_t>(cap), static_cast<size_t>(st.st_size));
  size_t got = want ? fread(buf, 1, want, f) : 0;
  fclose(f);
  return static_cast<int>(got);
}

void* driver_file_alloc(const char* path, int* len) {
  int dummy;
  if (!len) len = &dummy;
  *len = 0;
  if (!path) path = "";
  struct stat st;
  FILE* f = _driver_fopen_regular(path, st);
  if (!f) return nullptr;
  if (st.st_size <= 0) {
    fclose(f);
    return nullptr;
  }
  if (st.st_size > DRIVER_FILE_MAX) {
    qel_log("file too large: %s\n", path);
    fclose(f);
    return nullptr;
  }
  size_t size = static_cast<size_t>(st.st_size);
  void* block = malloc(size);
  if (!block) {
    qel_log("out of memory loading %s (%zu bytes)\n", path, size);
    fclose(f);
    return nullptr;
  }
  size_t got = fread(block, 1, size, f);
  fclose(f);
  if (got == 0) {
    free(block);
    return nullptr;
  }
  *len = static_cast<int>(got);
  return block;
}

std::string driver_file_load(const char* path) {
  int len = 0;
  void* block = driver_file_alloc(path, &len);
  if (!block) return std::string();
  std::string s(static_cast<const char*>(block), static_cast<size_t>(len));
  free(block);
  return s;
}

static bool _driver_write_all(int fd, const void* buf, int n) {
  const char* p = static_cast<const char*>(buf);
  size_t left = static_cast<size_t>(n);
  while (left > 0) {
    ssize_t w = write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) return false;
    p += w;
    left -= static_cast<size_t>(w);
  }
  return true;
}

static const char _DRIVER_SAVE_PREFIX[] = ".ruvezor-save-";
static const char _DRIVER_SAVE_SUFFIX[] = ".tmp";

// The writer's process id of a temporary save file's name, 0 for any other name.
static long _driver_save_pid(const char* name) {
  size_t np = sizeof(_DRIVER_SAVE_PREFIX) - 1, ns = sizeof(_DRIVER_SAVE_SUFFIX) - 1;
  size_t n = strlen(name);
  if (n <= np + ns || strncmp(name, _DRIVER_SAVE_PREFIX, np) != 0 ||
      strcmp(name + n - ns, _DRIVER_SAVE_SUFFIX) != 0 || n - np - ns > 9)
    return 0;
  long pid = 0;
  for (size_t i = np; i < n - ns; i++) {
    if (name[i] < '0' || name[i] > '9') return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid;
}

int driver_doc_sweep_saves() {
  const char* dir = _driver_doc_dir();
  if (!dir[0]) return 0;
  DIR* d = opendir(dir);
  if (!d) return 0;
  int removed = 0;
  while (struct dirent* e = readdir(d)) {
    long pid = _driver_save_pid(e->d_name);
    // A process that still runs (or that we may not signal) may be saving.
    if (pid <= 0 || pid == static_cast<long>(getpid())) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::string path = std::string(dir) + "/" + e->d_name;
    if (unlinkat(dirfd(d), e->d_name, 0) == 0) {
      qel_log("removed a save left by process %ld: %s\n", pid, path.c_str());
      removed++;
    }
  }
  closedir(d);
  return removed;
}

// Written beside the target and renamed over it, so a crash or a full disk
// never leaves a half-written file in its place.
int driver_file_save(const char* path, const void* buf, int n) {
  if (!path || !*path || n < 0 || (n > 0 && !buf)) {
    qel_log("file not writable: %s\n", path ? path : "");
    return 0;
  }
  // A symlinked file keeps its link: replace what it points to.
  std::string target = path;
  struct stat lst;
  bool linked = lstat(path, &lst) == 0 && S_ISLNK(lst.st_mode);
  if (linked) {
    char* real = realpath(path, nullptr);
    if (real) {
      target = real;
      free(real);
    }
  }
  // A short fixed name, so a long target name can't push it past NAME_MAX.
  size_t cut = target.rfind('/');
  std::string tmp = (cut == std::string::npos ? std::string() : target.substr(0, cut + 1)) +
                    _DRIVER_SAVE_PREFIX + std::to_string(static_cast<long>(getpid())) + _DRIVER_SAVE_SUFFIX;

  bool ok = false;
  // What the game keeps (settings, mod data, synced documents, receipts) is
  // the player's alone, like the log: a new file is readable by its owner
  // only, and one that an earlier build left open to others is closed to
  // them. A file reached through the player's own link keeps whatever mode
  // the player gave it. The temporary file starts private, so nobody can
  // open it while it is being written.
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  int why = fd < 0 ? errno : 0;  // a full disk and a read-only home want different remedies: the log says which
  if (fd >= 0) {
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      fchmod(fd, st.st_mode & (linked ? 07777 : 0700));
    else
      fchmod(fd, 0600);  // whatever the umask
    ok = _driver_write_all(fd, buf, n) && fsync(fd) == 0;
    if (!ok) why = errno;
    if (close(fd) != 0 && ok) {
      ok = false;
      why = errno;
    }
    if (ok && rename(tmp.c_str(), target.c_str()) != 0) {
      ok = false;
      why = errno;
    }
    if (!ok) unlink(tmp.c_str());
  }
  if (!ok) {
    qel_log("file not writable: %s (%s)\n", path, why ? strerror(why) : "nothing written");
    return 0;
  }
  // Make the rename itself durable; best effort.
  std::string dir = target;
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return 1;
}

int driver_data_exists(const char* name) { return driver_file_exists(driver_data_fname(name)); }
int driver_data_fsize(const char* name) { return driver_file_fsize(driver_data_fname(name)); }
int driver_data_load(const char* name, void* buf, int cap) {
  return driver_file_load(driver_data_fname(name), buf, cap);
}
std::string driver_data_load(const char* name) { return driver_file_load(driver_data_fname(name)); }

int driver_doc_exists(const char* name) { return driver_file_exists(driver_doc_fname(name)); }
int driver_doc_fsize(const char* name) { return driver_file_fsize(driver_doc_fname(name)); }
int driver_doc_load(const char* name, void* buf, int cap) {
  return driver_file_load(driver_doc_fname(name), buf, cap);
}
std::string driver_doc_load(const char* name) { return driver_file_load(driver_doc_fname(name)); }
int driver_doc_save(const char* name, const void* buf, int n) {
  return driver_file_save(driver_doc_fname(name), buf, n);
}

// ---- log file ----------------------------------------------------------------
// Nothing here may log: every log line comes through driver_log_printf.

// The open log file's descriptor, for driver_log_emergency; -1 when none.
static volatile sig_atomic_t _driver_log_fd = -1;

void driver_log_emergency(const char* text) {
  size_t n = strlen(text);
  int fds[2] = {STDOUT_FILENO, _driver_log_fd};
  for (int fd : fds) {
    if (fd < 0) continue;
    ssize_t w = write(fd, text, n);
    (void)w;
  }
}

bool driver_fd_may_stall(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 &&
         (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || (S_ISCHR(st.st_mode) && isatty(fd)));
}

bool DriverLineOut::line(const char* text, size_t n) {
  auto room = [this] {
    struct pollfd p = {fd, POLLOUT, 0};
    int k;
    do k = poll(&p, 1, stalled ? 0 : DRIVER_LINE_WAIT_MS);
    while (k < 0 && errno == EINTR);
    bool yes = k == 1 && (p.revents & POLLOUT) && !(p.revents & (POLLERR | POLLHUP | POLLNVAL));
    stalled = !yes;
    return yes;
  };
  // A piece of 256 bytes fits whenever poll says there is room. Text that
  // stops partway leaves the next line's start behind it.
  auto whole = [&](const char* s, size_t len) {
    size_t done = 0;
    while (done < len && room()) {
      ssize_t w = write(fd, s + done, std::min<size_t>(len - done, 256));
      if (w <= 0) break;
      done += (size_t)w;
    }
    if (done == len) return true;
    dropped++;
    cut = cut || done > 0;
    return false;
  };
  if (dropped > 0) {
    char note[256];
    int k = snprintf(note, sizeof(note), "%s[%ld log lines were not written here: %s]\n", cut ? "\n" : "", dropped,
                     elsewhere);
    if (k < 0 || !whole(note, std::min((size_t)k, sizeof(note) - 1))) return false;
    dropped = 0;
    cut = false;
  }
  return whole(text, n);
}

// Into the log file: a regular one through its buffer, anything else (a
// collector's FIFO, a socket) a line at a time while its reader keeps up.
static void _driver_log_put(_DriverLog& L, const char* text, size_t len) {
  if (L.capped) fwrite(text, 1, len, L.file);
  else L.out.line(text, len);
}

static void _driver_log_open() {
  _DriverLog& L = _driver_log();
  if (L.file || !_driver || !_driver->gamename[0]) return;
  const char* dir = _driver_doc_dir();
  // Readable by the player only, like the settings files: the log tells
  // what the player did and where. A file an earlier build left open to
  // others is closed to them too. Not inherited by launched programs.
  // A FIFO put there with nobody reading it must not hold the program at
  // its first line, nor one whose reader stops at a later one: neither the
  // open nor a write to it waits.
  int fd = -1, why = ENAMETOOLONG;
  L.path[0] = 0;
  if (dir[0] && _driver_join(L.path, sizeof(L.path), dir, "ruvezor.log")) {
    fd = open(L.path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    why = errno;
  }
  if (fd >= 0) {
    // Each run starts the file afresh, unless another run from the same
    // home still writes it (a galaxy host beside its match host): its lines
    // stay and both append. Every run holds a shared lock while it writes.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
      int cut = ftruncate(fd, 0);
      (void)cut;  // a file that can't be cut is still written
    }
    flock(fd, LOCK_SH | LOCK_NB);
    fchmod(fd, 0600);
    // What another run wrote counts toward the cap too. Only a file fills
    // a disk: a pipe to a collector is never cut off.
    struct stat st;
    bool file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (file) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    L.file_bytes = file && st.st_size > 0 ? (size_t)st.st_size : 0;
    L.capped = file;
    L.full = false;
    L.out = DriverLineOut{fd, "the log file was not read; standard output has them"};
    L.file = fdopen(fd, "a");
    if (!L.file) close(fd);
  }
  if (L.file) {
    static const char init[] = "[_driver_log_init]\n";
    _driver_log_put(L, init, sizeof(init) - 1);
    _driver_log_fd = fileno(L.file);
  }
  L.open_failed = L.file == nullptr;
  L.failing = false;
  // Without this the operator of a host whose home is read-only looks for
  // a file that was never written.
  if (L.open_failed)
    L.trouble = std::string("log file ") + (L.path[0] ? L.path : "ruvezor.log") + " cannot be opened (" +
                strerror(why) + "): lines go only to standard output";
}

// A host left running for days must not fill its disk through the log: past
// the cap the file gets one line saying so, and the lines that follow reach
// only standard output (the log function writes every line there first).
// An operator who cuts the full file below half the cap (to free the disk)
// gets lines in it again.
static void _driver_log_write(_DriverLog& L, const char* text, size_t len) {
  if (!L.capped) {
    _driver_log_put(L, text, len);
    return;
  }
  if (L.full) {
    struct stat st;
    if (fstat(fileno(L.file), &st) != 0 || (size_t)st.st_size >= L.file_cap / 2) return;
    L.full = false;
    L.file_bytes = (size_t)st.st_size;
  }
  if (len > L.file_cap || L.file_bytes > L.file_cap - len) {
    L.full = true;
    char note[128];
    int n = snprintf(note, sizeof(note), "log file full at %zu bytes: later lines go only to standard output\n",
                     L.file_cap);
    if (n > 0) fwrite(note, 1, (size_t)n, L.file);
    return;
  }
  fwrite(text, 1, len, L.file);
  L.file_bytes += len;
}

void _driver_log_set_file_cap(size_t bytes) { _driver_log().file_cap = bytes ? bytes : _driver_log_file_cap; }

void _driver_log_deinit() {
  _DriverLog& L = _driver_log();
  if (!L.file) return;
  static const char deinit[] = "\n[_driver_log_deinit]\n";
  _driver_log_put(L, deinit, sizeof(deinit) - 1);
  _driver_log_fd = -1;
  fclose(L.file);
  L.file = nullptr;
}

std::string driver_log_trouble() {
  std::string t;
  t.swap(_driver_log().trouble);
  return t;
}

void _driver_log_init() {
  _driver_log_deinit();
  _driver_log().open_failed = false;
  _driver_log().trouble.clear();
  _driver_log_open();
}

void driver_log_printf(const char* format, ...) {
  if (!format) return;
  // Lines fit the stack buffer; longer ones are formatted again on the heap.
  char small[1024];
  std::string big;
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  int n = vsnprintf(small, sizeof(small), format, ap);
  va_end(ap);
  const char* text = small;
  if (n < 0) {
    n = 0;
  } else if (static_cast<size_t>(n) >= sizeof(small)) {
    big.resize(static_cast<size_t>(n));
    vsnprintf(big.data(), static_cast<size_t>(n) + 1, format, ap2);
    text = big.data();
  }
  va_end(ap2);
  size_t len = static_cast<size_t>(n);

  _DriverLog& L = _driver_log();
  if (!L.file && !L.open_failed) _driver_log_open();

  if (!L.file || !L.backlog.empty()) {
    L.backlog_bytes += len;
    L.backlog.emplace_back(text, len);
    // Keep the newest lines when the file never opens.
    while (L.backlog_bytes > _driver_log_backlog_cap && L.backlog.size() > 1) {
      L.backlog_bytes -= L.backlog.front().size();
      L.backlog.pop_front();
    }
    if (!L.file) return;
    for (const std::string& s : L.backlog) _driver_log_write(L, s.data(), s.size());
    L.backlog.clear();
    L.backlog_bytes = 0;
  } else {
    // After a failed write the file lacks lines: it says so before the next
    // line that gets in.
    if (L.failing) {
      static const char gap[] = "[log lines are missing here: the file could not be written]\n";
      _driver_log_write(L, gap, sizeof(gap) - 1);
    }
    _driver_log_write(L, text, len);
  }
  // Into the file at once: the lines before a crash are the ones that explain it.
  // A failed write (a full disk) drops what was buffered; standard output
  // hears of it once, and the file again once a line gets in.
  if (fflush(L.file) != 0 || ferror(L.file)) {
    int why = errno;
    clearerr(L.file);
    if (!L.failing)
      L.trouble = std::string("log file ") + L.path + " cannot be written (" + strerror(why) +
                  "): lines go only to standard output until it can";
    L.failing = true;
  } else {
    L.failing = false;
  }
  // Appending leaves the position at the file's end: its true size, with what
  // other runs wrote and after an operator cut it.
  long at = ftell(L.file);
  if (at >= 0) L.file_bytes = (size_t)at;
}

// ---- clock -------------------------------------------------------------------

static int64_t _driver_timer_ms64() {
  uint64_t now = _driver_clock_source();
  if (!_driver_clock_started) {
    _driver_clock_origin = now;
    _driver_clock_started = true;
  }
  // Signed difference so a source that steps back gives a negative count.
  int64_t us = static_cast<int64_t>(now - _driver_clock_origin);
  return us / 1000;
}

int driver_timer_get_ticks() {
  // Wraps modulo 2^32 after about 24.8 days instead of overflowing.
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(_driver_timer_ms64())));
}

void driver_timer_reset_ticks() {
  _driver_clock_origin = _driver_clock_source();
  _driver_clock_started = true;
}

int zt_get_ticks() { return driver_timer_get_ticks(); }
void zt_timer_reset() { driver_timer_reset_ticks(); }

void _driver_timer_set_source(uint64_t (*now_us)()) {
  _driver_clock_source = now_us ? now_us : _driver_monotonic_us;
  _driver_clock_started = false;
}

static uint64_t _driver_delayed_ms = 0;

void driver_timer_delay(int ms) {
  if (ms > 0) _driver_delayed_ms += static_cast<uint64_t>(ms);
  SDL_Delay(ms > 0 ? static_cast<Uint32>(ms) : 0);
}

uint64_t _driver_timer_delayed_ms() { return _driver_delayed_ms; }

void driver_timer_set(int rate) {
  if (!_driver) return;
  if (rate != _driver->timer_rate) _driver->tick_started = 0;  // count afresh at the new rate
  _driver->timer_rate = rate;
}

int driver_timer_tick() {
  if (!_driver || _driver->timer_rate <= 0) return 0;
  int64_t now = _driver_timer_ms64();
  if (!_driver->tick_started || now < _driver->tick_last) {
    // First call, or the clock was reset under us: start counting from now.
    _driver->tick_started = 1;
    _driver->tick_t0 = now;
    _driver->tick_frames = 0;
  }
  _driver->tick_last = now;
  // now is later than t0 + f / rate  <=>  elapsed * rate > f * 1000 (ms).
  __int128 due_ms = static_cast<__int128>(now - _driver->tick_t0) * _driver->timer_rate;
  __int128 done_ms = static_cast<__int128>(_driver->tick_frames) * 1000;
  if (due_ms <= done_ms) return 0;
  // Smallest frame count F with F * 1000 >= elapsed * rate.
  __int128 frames = (due_ms + 999) / 1000;
  __int128 k = frames - _driver->tick_frames;
  _driver->tick_frames = static_cast<int64_t>(frames);
  return k > INT_MAX ? INT_MAX : static_cast<int>(k);
}

// ---- other -------------------------------------------------------------------

// Launches whose outcome is not known yet, and the addresses of those that
// failed and have not been asked for.
struct _DriverUrlLaunch {
  pid_t pid;
  std::string url;
};
static std::vector<_DriverUrlLaunch> _driver_url_launches;
static std::deque<std::string> _driver_url_failures;

// How long a helper waits for xdg-open's answer. An opener that is still
// running by then has a browser up: some keep xdg-open until the browser
// closes.
static const int DRIVER_URL_ANSWER_MS = 5000;

// The address goes to xdg-open as one argument, never through a shell. A
// helper process runs it and waits a little for its exit code, so the game
// goes on at once and later learns from the helper's own exit whether a
// browser opened (driver_open_url_failed). The opener itself ends up adopted
// by init and leaves no zombie.
void driver_open_url(const char* url) {
  if (!url) url = "";
  qel_log("Driver::weblink: %s\n", qel_log_url(url).c_str());
  // A mod can ask for any text; only web pages go to the system opener.
  if (strncasecmp(url, "http://", 7) != 0 && strncasecmp(url, "https://", 8) != 0) {
    qel_log("Driver::weblink: refused, not an http or https address\n");
    return;
  }
  pid_t pid = fork();
  if (pid < 0) {
    qel_log("Driver::weblink: fork failed: %s\n", strerror(errno));
    _driver_url_failures.push_back(url);
    return;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here: the game has other threads.
    pid_t opener = fork();
    if (opener == 0) {
      setsid();
      signal(SIGPIPE, SIG_DFL);  // the game ignores it; the opener need not
      execlp("xdg-open", "xdg-open", url, static_cast<char*>(nullptr));
      _exit(127);  // no xdg-open
    }
    if (opener < 0) _exit(126);
    for (int waited = 0; waited < DRIVER_URL_ANSWER_MS; waited += 20) {
      int status = 0;
      pid_t r = waitpid(opener, &status, WNOHANG);
      if (r == opener) _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 126);
      if (r < 0 && errno != EINTR) _exit(0);
      struct timespec step = {0, 20 * 1000 * 1000};
      nanosleep(&step, nullptr);
    }
    _exit(0);
  }
  _driver_url_launches.push_back({pid, url});
}

std::string driver_open_url_failed() {
  for (size_t i = 0; i < _driver_url_launches.size();) {
    int status = 0;
    pid_t r = waitpid(_driver_url_launches[i].pid, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR)) {
      i++;
      continue;
    }
    // r < 0: someone else reaped it; its outcome is lost, taken as opened.
    int code = r > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : (r > 0 ? 126 : 0);
    if (code != 0) {
      qel_log("Driver::weblink: no browser opened %s (xdg-open: %d)\n",
              qel_log_url(_driver_url_launches[i].url.c_str()).c_str(), code);
      _driver_url_failures.push_back(_driver_url_launches[i].url);
    }
    _driver_url_launches.erase(_driver_url_launches.begin() + (long)i);
  }
  if (_driver_url_failures.empty()) return "";
  std::string url = _driver_url_failures.front();
  _driver_url_failures.pop_front();
  return url;
}

