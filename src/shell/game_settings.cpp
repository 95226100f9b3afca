// game_settings: loading and saving the settings record, and the device id
// and web identity derived from it.
//
// File image (both files hold the same 4268 bytes; little-endian i32, texts
// NUL-terminated in 64-byte arrays; full table in game_settings.h):
//   0x000..0x417  device part: audio, video, display options. A load takes it
//                 from "settings-local.dat" (always in the document directory).
//   0x418..0x10AB account part: account, device id, UI options block at 0x620,
//                 web login fields. A load takes it from "settings-cloud.dat"
//                 (Steam remote storage when Steam is up).
// The files hold the password, so they are kept readable by the user only,
// replaced atomically, and nothing from them is logged.
#include "shell/game_settings.h"

#include "shell/game_parts.h"
#include "shell/game_settings_io.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_csteam.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_md5.h"
#include "ruvezor/util/qel_var.h"  // str_put

#include <fcntl.h>       // private creation of the files
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <type_traits>

static_assert(std::is_trivially_copyable_v<Settings>, "Settings is copied as bytes");

const char* const SETTINGS_CLOUD_FILE = "settings-cloud.dat";
const char* const SETTINGS_LOCAL_FILE = "settings-local.dat";
const char* const SETTINGS_ACCOUNT_FILE = "account-id.dat";

static const int SETTINGS_VERSION = 6;

// ---- field tables ----------------------------------------------------------------

enum SettingsRule {
  RULE_DEFAULT,  // replaces a stored 0
  RULE_FORCED,   // overwrites whatever is stored
};

struct SettingsWord {
  size_t off;
  int32_t value;
  SettingsRule rule;
};

// The UI options block at every load.
static const SettingsWord SETTINGS_UI_WORDS_AT_LOAD[] = {
    {offsetof(Settings, ui_box), 1, RULE_DEFAULT},
    {offsetof(Settings, ui_double_select), 1, RULE_DEFAULT},
    {offsetof(Settings, ui_double_reinforce), -1, RULE_DEFAULT},
    {offsetof(Settings, ui_nonplayer_select), -1, RULE_FORCED},
    {offsetof(Settings, ui_percent), 50, RULE_DEFAULT},
    {offsetof(Settings, ui_scroll), 1, RULE_FORCED},
    {offsetof(Settings, ui_wheel_invert), -1, RULE_FORCED},
    {offsetof(Settings, ui_slider), 1, RULE_DEFAULT},
    {offsetof(Settings, ui_num_chat), -1, RULE_FORCED},
    {offsetof(Settings, ui_right_only), -1, RULE_DEFAULT},
    {offsetof(Settings, ui_drag_drop), 1, RULE_DEFAULT},
    {offsetof(Settings, ui_lefty), -1, RULE_DEFAULT},
    {offsetof(Settings, ui_multitouch), 1, RULE_FORCED},
    {offsetof(Settings, ui_colorblind), -1, RULE_DEFAULT},
    {offsetof(Settings, chat_height) + 0, -1, RULE_DEFAULT},
    {offsetof(Settings, chat_height) + 4, -1, RULE_DEFAULT},
    {offsetof(Settings, chat_height) + 8, -1, RULE_DEFAULT},
};

// Every 64-byte text field of the image.
static const size_t SETTINGS_TEXTS[] = {
    offsetof(Settings, name),
    offsetof(Settings, passwd),
    offsetof(Settings, udid),
    offsetof(Settings, cleared_text) + 0 * 64,
    offsetof(Settings, cleared_text) + 1 * 64,
    offsetof(Settings, cleared_text) + 2 * 64,
    offsetof(Settings, cleared_text) + 3 * 64,
    offsetof(Settings, cleared_text) + 4 * 64,
    offsetof(Settings, qname),
    offsetof(Settings, email),
    offsetof(Settings, uid),
    offsetof(Settings, display_name),
    offsetof(Settings, session_key),
    offsetof(Settings, lid),
    offsetof(Settings, web_name),
    offsetof(Settings, web_token),
    offsetof(Settings, web_passwd),
};
static const size_t SETTINGS_TEXT_SIZE = 64;

// ---- module-internal functions -----------------------------------------------------

static int32_t _settings_word(const Settings& s, size_t off) {
  int32_t v;
  memcpy(&v, reinterpret_cast<const unsigned char*>(&s) + off, sizeof(v));
  return v;
}

static void _settings_set_word(Settings& s, size_t off, int32_t v) {
  memcpy(reinterpret_cast<unsigned char*>(&s) + off, &v, sizeof(v));
}

// Texts from a file may run to the end of their array.
static void _settings_terminate(Settings& s) {
  unsigned char* base = reinterpret_cast<unsigned char*>(&s);
  for (size_t off : SETTINGS_TEXTS) base[off + SETTINGS_TEXT_SIZE - 1] = 0;
}

template <size_t N>
static std::string _settings_text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// A text from a file as a log line may show it: bytes outside printable
// ASCII (and the backslash) as \xNN, so a damaged file cannot write control
// codes or broken characters into the log.
static std::string _settings_printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      snprintf(hex, sizeof(hex), "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

// A value outside what the screens offer becomes the default.
static void _settings_range(int32_t& v, int32_t lo, int32_t hi, int32_t def, const char* what) {
  if (v >= lo && v <= hi) return;
  qel_log("settings: %s out of range, using %d\n", what, def);
  v = def;
}

static void _settings_one_of(int32_t& v, const int32_t* set, size_t n, int32_t def,
                             const char* what) {
  for (size_t i = 0; i < n; i++)
    if (v == set[i]) return;
  qel_log("settings: %s out of range, using %d\n", what, def);
  v = def;
}

// Creates the file readable by the user only, or takes others' access away
// from an existing one; the whole-file save keeps the mode it finds.
static void _settings_private(const std::string& path) {
  if (path.empty()) return;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    close(fd);
    return;
  }
  struct stat st;
  if (errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      (st.st_mode & 07777) != 0600) {
    chmod(path.c_str(), 0600);
  }
}

static int _settings_hexval(char c) {
  c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

static bool _settings_headless() {
  GameParts* g = game_parts();
  return g && g->headless;
}

// ---- seeds and digests ------------------------------------------------------------------

static std::string _settings_md5_hex(const std::string& s) { return md5_hex(s.data(), s.size()); }

std::string get_mac_address() { return "02-5a-32-00-00-01"; }

std::string get_time_str() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  char s[64];
  snprintf(s, sizeof(s), "%ld.%06ld", static_cast<long>(tv.tv_sec), static_cast<long>(tv.tv_usec));
  return s;
}

std::string _get_rand_str_from(const char* path) {
  unsigned char bytes[16] = {};
  size_t got = 0;
  FILE* f = path ? fopen(path, "rbe") : nullptr;
  if (f) {
    got = fread(bytes, 1, sizeof(bytes), f);
    fclose(f);
  }
  if (got == sizeof(bytes)) return md5_hex(bytes, sizeof(bytes));

  // No random source: mix what tells this run and this machine apart.
  qel_log("%s unreadable, device id seeded from time, pid and clocks\n", path ? path : "");
  static uint64_t calls = 0;
  struct {
    struct timeval wall;
    struct timespec mono, boot, cpu;
    int64_t pid, ppid, uid;
    uint64_t calls;
    const void* stack;  // differs between runs under address randomisation
    char host[64];
    unsigned char partial[16];
  } mix;
  memset(&mix, 0, sizeof(mix));
  gettimeofday(&mix.wall, nullptr);
  clock_gettime(CLOCK_MONOTONIC, &mix.mono);
  clock_gettime(CLOCK_BOOTTIME, &mix.boot);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &mix.cpu);
  mix.pid = getpid();
  mix.ppid = getppid();
  mix.uid = getuid();
  mix.calls = ++calls;
  mix.stack = &mix;
  gethostname(mix.host, sizeof(mix.host) - 1);
  memcpy(mix.partial, bytes, got);
  return md5_hex(&mix, sizeof(mix));
}

std::string get_rand_str() { return _get_rand_str_from("/dev/urandom"); }

int bset(int a, int b, int c) { return a; }

// ---- sync ----------------------------------------------------------------------------------

int _settings_sync(Settings& s) {
  if (s.version == 0) return 0;
  _settings_terminate(s);

  if (strnlen(s.udid, sizeof(s.udid)) < 32) {
    std::string head = get_mac_address() + "|" + get_time_str() + "|";
    std::string rnd = get_rand_str();
    // The random part stays out of the log: with it the device id, and from
    // that the web password form, could be rebuilt from a shared log.
    qel_log("udid seed: %s\n", (head + std::string(rnd.size(), '*')).c_str());
    str_put(s.udid, _settings_md5_hex(head + rnd));
  }

  memset(s.web_name, 0, sizeof(s.web_name));
  memset(s.lid, 0, sizeof(s.lid));
  memset(s.web_token, 0, sizeof(s.web_token));
  memset(s.web_passwd, 0, sizeof(s.web_passwd));

  std::string name = _settings_text(s.name);
  std::string qname = _settings_text(s.qname);
  std::string udid = _settings_text(s.udid);
  if (!name.empty()) {
    std::string p = name;
    if (!p.empty() && p[0] == '~') p.erase(0, 1);
    if (!p.empty() && p[0] == '`') p.erase(0, 1);
    str_put(s.web_name, p);
    str_put(s.lid, "g:" + p);
    std::string a = _settings_md5_hex(_settings_text(s.passwd));
    std::string b = _settings_md5_hex(udid);
    static const char hex[] = "0123456789abcdef";
    std::string x(32, '0');
    for (size_t i = 0; i < 32; i++) x[i] = hex[_settings_hexval(a[i]) ^ _settings_hexval(b[i])];
    str_put(s.web_passwd, x);
  } else if (!qname.empty()) {
    str_put(s.web_name, qname);
    str_put(s.lid, "q:" + udid);
    str_put(s.web_token, _settings_md5_hex(udid + "|" + qname));
  }
  return 0;
}

int game_settings_sync(GameParts& game) { return _settings_sync(game.settings); }

// ---- the whole account id ------------------------------------------------------------------

// Characters of an id the record's field holds.
static const size_t SETTINGS_UID_FIT = sizeof(Settings::uid) - 1;

// True when the record's text is the beginning of id: what a login cut it to.
static bool _settings_uid_of(const std::string& id, const std::string& stored) {
  return id.size() >= stored.size() && id.compare(0, stored.size(), stored) == 0;
}

bool game_account_id_ok(const std::string& id) {
  if (id.empty() || id.size() > GAME_ACCOUNT_ID_MAX) return false;
  for (unsigned char c : id)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

std::string game_account_id(GameParts& game) {
  std::string stored = _settings_text(game.settings.uid);
  if (stored.size() < SETTINGS_UID_FIT) return stored;  // the field holds it whole
  if (_settings_uid_of(game.account_id, stored)) return game.account_id;
  // A restart: only the file knows the rest. It is read once for this
  // record; when it doesn't fit, the record's text stands for the id.
  game.account_id = stored;
  if (game.headless || driver_cloud_fsize(SETTINGS_ACCOUNT_FILE) <= 0) return stored;
  char buf[GAME_ACCOUNT_ID_MAX + 1];
  int n = driver_cloud_load(SETTINGS_ACCOUNT_FILE, buf, sizeof(buf));
  std::string kept(buf, n > 0 ? static_cast<size_t>(n) : 0);
  if (!game_account_id_ok(kept) || !_settings_uid_of(kept, stored)) {
    qel_log("settings: %s does not hold this account's id; the stored %zu characters stand for it until the "
            "next login\n",
            SETTINGS_ACCOUNT_FILE, stored.size());
    return stored;
  }
  game.account_id = kept;
  return kept;
}

void game_account_id_put(GameParts& game, const std::string& id, bool keep) {
  str_put(game.settings.uid, id);
  game.account_id = id;
  if (!keep || game.headless) return;
  // Only an id the field cuts needs the file. Any other login empties it,
  // so an old id never lengthens a new one that begins like it.
  int ok = 1;
  if (id.size() > SETTINGS_UID_FIT)
    ok = driver_cloud_save(SETTINGS_ACCOUNT_FILE, id.data(), static_cast<int>(id.size()));
  else if (driver_cloud_fsize(SETTINGS_ACCOUNT_FILE) > 0)
    ok = driver_cloud_save(SETTINGS_ACCOUNT_FILE, "", 0);
  if (!ok)
    qel_log("settings: %s not saved; after a restart the stored %zu characters stand for the account id until "
            "the next login\n",
            SETTINGS_ACCOUNT_FILE, SETTINGS_UID_FIT);
}

// ---- load and save ---------------------------------------------------------------------------

// A file that is there but can't be read (another user's, no read
// permission) holds settings this run doesn't know: its defaults must not
// replace them. The reason, for the log; "" when the file reads or is absent.
static std::string _settings_unreadable(const char* name) {
  if (driver_steam_is_init() && strcmp(name, SETTINGS_CLOUD_FILE) == 0) return "";
  std::string path = driver_doc_fname(name);
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return "";
  }
  return strerror(errno);
}

static bool _settings_unread[2];  // cloud, local: not read at the last load, kept as they are

void Settings::load() {
  if (_settings_headless()) return;
  qel_log("Settings::load\n");

  // Missing or short files leave zeros, which take the defaults below.
  unsigned char cloud[SETTINGS_SIZE] = {};
  unsigned char local[SETTINGS_SIZE] = {};
  for (int which = 0; which < 2; which++) {
    const char* name = which == 0 ? SETTINGS_CLOUD_FILE : SETTINGS_LOCAL_FILE;
    std::string why = _settings_unreadable(name);
    _settings_unread[which] = !why.empty();
    if (!why.empty())
      qel_log("settings: %s cannot be read (%s): this run uses the defaults and leaves the file as it is\n", name,
              why.c_str());
  }
  if (driver_cloud_exists(SETTINGS_CLOUD_FILE)) driver_cloud_load(SETTINGS_CLOUD_FILE, cloud, SETTINGS_SIZE);
  if (driver_doc_exists(SETTINGS_LOCAL_FILE)) driver_doc_load(SETTINGS_LOCAL_FILE, local, SETTINGS_SIZE);
  memcpy(this, cloud, SETTINGS_SIZE);
  memcpy(this, local, SETTINGS_DEVICE_PART);
  _settings_terminate(*this);

  int32_t local_version;
  memcpy(&local_version, local + offsetof(Settings, version), sizeof(local_version));

  if (local_version == 0) {
    music = 50;
    sfx = 50;
  }
  if (vres == 0) vres = -1;
  if (vfull == 0) vfull = 1;
  if (vsize == 0) vsize = 640;
  if (gsize == 0) gsize = 640;
  if (local_version < 5) {
    vquality = 3;
    x_pause = -1;
  } else if (local_version == 5) {
    x_pause = -1;
  }

  // A damaged file must not hand the screens sizes they can't lay out.
  static const int32_t vsizes[] = {320, 400, 480, 640, 800, 960};
  static const int32_t gsizes[] = {320, 640};
  _settings_range(music, 0, 100, 50, "music");
  _settings_range(sfx, 0, 100, 50, "sfx");
  _settings_one_of(vsize, vsizes, sizeof(vsizes) / sizeof(vsizes[0]), 640, "vsize");
  _settings_one_of(gsize, gsizes, sizeof(gsizes) / sizeof(gsizes[0]), 640, "gsize");

  for (const SettingsWord& w : SETTINGS_UI_WORDS_AT_LOAD)
    if (w.rule == RULE_DEFAULT && _settings_word(*this, w.off) == 0) _settings_set_word(*this, w.off, w.value);
  version = SETTINGS_VERSION;
  for (const SettingsWord& w : SETTINGS_UI_WORDS_AT_LOAD)
    if (w.rule == RULE_FORCED) _settings_set_word(*this, w.off, w.value);

  // Earlier builds kept "-web" here for every later run, and sent those
  // runs' logins, password token and all, to it: it now applies to the run
  // it is given on only.
  if (web_server[0]) {
    qel_log("settings: the stored web server %s is no longer used\n",
            _settings_printable(_settings_text(web_server)).c_str());
    memset(web_server, 0, sizeof(web_server));
  }

  // Per-login fields never survive a restart.
  memset(cleared_text, 0, sizeof(cleared_text));
  cleared_word = 0;
  logged_in = 0;
  news_open = 0;
  news = 0;
  memset(session_key, 0, sizeof(session_key));
  memset(lid, 0, sizeof(lid));
  memset(web_name, 0, sizeof(web_name));
  memset(web_token, 0, sizeof(web_token));
  memset(web_passwd, 0, sizeof(web_passwd));

  _settings_sync(*this);
}

void Settings::save() {
  if (_settings_headless()) return;
  qel_log("Settings::save\n");
  static const struct {
    const char* name;
    const char* lost;
  } files[2] = {{SETTINGS_CLOUD_FILE, "the account changes"}, {SETTINGS_LOCAL_FILE, "the device settings"}};
  for (int which = 0; which < 2; which++) {
    const char* name = files[which].name;
    if (_settings_unread[which]) {
      qel_log("Settings::save: %s was not readable at start, left as it is: %s are lost\n", name, files[which].lost);
      continue;
    }
    if (which == 1 || !driver_steam_is_init()) _settings_private(driver_doc_fname(name));
    int ok = which == 0 ? driver_cloud_save(name, this, SETTINGS_SIZE) : driver_doc_save(name, this, SETTINGS_SIZE);
    if (!ok) qel_log("Settings::save: %s not saved, %s are lost\n", name, files[which].lost);
  }
}
