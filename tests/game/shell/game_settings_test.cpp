// Settings files: the merge of the local and cloud images, defaults,
// migration and forced values, the device id and web identity, private and
// atomic saves, and the device-id seed without /dev/urandom. Every test runs
// with a temporary HOME and no Steam (one uses the fake library if built).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "app/game.h"
#include "shell/game_settings_io.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_csteam.h"
#include "ruvezor/util/qel_md5.h"
#include "ruvezor/util/qel_social.h"
#include "z2_fake_steam.h"

namespace fs = std::filesystem;

namespace {

using z2test::slurp;
using z2test::spit;
using z2test::stdout_of;

bool is_hex32(const char* s) { return std::regex_match(std::string(s), std::regex("[0-9a-f]{32}")); }

int mode_of(const fs::path& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

class SettingsTest : public testing::Test {
 protected:
  z2test::TempDir tmp;
  fs::path root, docdir;
  std::unique_ptr<Game> game;

  void SetUp() override {
    root = tmp.enter_as_home("game_settings_test_", "home");
    docdir = root / "home" / ".local" / "share" / "Zentar 2";
    _driver_steam_set_library((root / "no-libCSteamworks.so").c_str());
    driver_init(0);
    driver_set_gamename("Zentar 2");
    fs::create_directories(docdir);
    fresh_game();
  }

  void TearDown() override {
    _game_data.GAME_THIS = nullptr;
    game.reset();
    stdout_of([] { driver_social_deinit(); });
    _driver_steam_set_library(nullptr);
    driver_deinit();
    tmp.leave();
  }

  // A new process's worth of game: zeroed record, no files read yet.
  void fresh_game() {
    _game_data.GAME_THIS = nullptr;
    game.reset();
    stdout_of([&] { game.reset(new Game()); });
    _game_data.GAME_THIS = game.get();
  }

  Settings& s() { return game->settings; }

  // The start-up steps that touch the record, then the shutdown's save.
  std::string start() {
    return stdout_of([&] {
      s().load();
      s().version = 6;
      game_settings_sync(*game);
    });
  }
  std::string quit() {
    return stdout_of([&] { s().save(); });
  }

  static Settings image(int32_t version = 0) {
    Settings r;
    memset(&r, 0, sizeof(r));
    r.version = version;
    return r;
  }
  void write(const char* name, const Settings& r) { spit(docdir / name, &r, sizeof(r)); }
  void write_both(const Settings& r) {
    write("settings-cloud.dat", r);
    write("settings-local.dat", r);
  }

  // Each named number of the loaded record holds its value.
  struct Want {
    const char* name;
    int32_t Settings::*field;
    int32_t value;
  };
  void expect(std::initializer_list<Want> want) {
    for (const Want& w : want) EXPECT_EQ(s().*w.field, w.value) << w.name;
  }
};
#define F(f) #f, &Settings::f

// ---- files and the device id ----------------------------------------------------------

TEST_F(SettingsTest, FreshHomeLeavesTwoIdenticalFilesAndTheDeviceIdStays) {
  start();
  ASSERT_TRUE(is_hex32(s().udid)) << s().udid;
  std::string udid = s().udid;
  quit();

  std::string cloud = slurp(docdir / "settings-cloud.dat");
  std::string local = slurp(docdir / "settings-local.dat");
  ASSERT_EQ(cloud.size(), 4268u);
  EXPECT_EQ(cloud, local);
  EXPECT_EQ(memcmp(cloud.data(), &s(), sizeof(Settings)), 0);

  fresh_game();
  start();
  EXPECT_EQ(std::string(s().udid), udid);
  quit();
  EXPECT_EQ(slurp(docdir / "settings-cloud.dat"), slurp(docdir / "settings-local.dat"));
}

TEST_F(SettingsTest, NoFilesGiveTheDefaultsAndForcedValues) {
  std::string log = start();
  EXPECT_EQ(log.find("file not found"), std::string::npos);  // missing files aren't reported
  Settings& r = s();
  expect({{F(version), 6}, {F(music), 50}, {F(sfx), 50}, {F(vres), -1}, {F(vfull), 1}, {F(vsize), 640},
          {F(gsize), 640}, {F(vquality), 3}, {F(x_pause), -1}, {F(x_retro), 0}});
  const int32_t ui[] = {1, 1, -1, -1, 50, 1, -1, 1, -1, -1, 1, -1, 1, -1, -1, -1, -1};
  for (size_t i = 0; i < sizeof(ui) / sizeof(ui[0]); i++) EXPECT_EQ((&r.ui_box)[i], ui[i]) << "word " << i;
  EXPECT_EQ(r.ui_rest[0], 0);
}

TEST_F(SettingsTest, LocalDevicePartAndCloudAccountPartMerge) {
  Settings cloud = image(6), local = image(6);
  cloud.music = 10;
  cloud.sfx = 11;
  cloud.ui_percent = 70;
  snprintf(cloud.name, sizeof(cloud.name), "cloudname");
  local.music = 80;
  local.sfx = 81;
  local.vquality = 2;
  local.ui_percent = 20;
  snprintf(local.name, sizeof(local.name), "localname");
  write("settings-cloud.dat", cloud);
  write("settings-local.dat", local);
  start();
  expect({{F(music), 80}, {F(sfx), 81}, {F(vquality), 2}, {F(ui_percent), 70}});
  EXPECT_STREQ(s().name, "cloudname");
}

TEST_F(SettingsTest, VersionMigrationReadsTheLocalVersion) {
  Settings local = image();
  local.vquality = 2;
  local.x_pause = 1;
  local.music = 30;
  Settings cloud = local;
  cloud.version = 6;  // the cloud's version is not the one that counts

  local.version = 5;
  write("settings-local.dat", local);
  write("settings-cloud.dat", cloud);
  start();
  expect({{F(vquality), 2}, {F(x_pause), -1}, {F(music), 30}});

  local.version = 6;
  write("settings-local.dat", local);
  fresh_game();
  start();
  expect({{F(vquality), 2}, {F(x_pause), 1}});

  local.version = 4;
  write("settings-local.dat", local);
  fresh_game();
  start();
  // Only a version 0 file resets the volumes.
  expect({{F(vquality), 3}, {F(x_pause), -1}, {F(music), 30}});
}

TEST_F(SettingsTest, StoredOptionsKeepTheirValuesExceptTheForcedOnes) {
  Settings r = image(6);
  r.ui_box = -1;
  r.ui_percent = 25;
  r.ui_scroll = -1;
  r.ui_nonplayer_select = 1;
  r.ui_multitouch = -1;
  r.chat_height[1] = 7;
  r.ui_rest[3] = 99;
  r.gsize = 320;
  r.vfull = -1;
  write_both(r);
  start();
  expect({{F(ui_box), -1}, {F(ui_percent), 25}, {F(ui_scroll), 1}, {F(ui_nonplayer_select), -1},
          {F(ui_multitouch), 1}, {F(gsize), 320}, {F(vfull), -1}});
  EXPECT_EQ(s().chat_height[0], -1);
  EXPECT_EQ(s().chat_height[1], 7);
  EXPECT_EQ(s().ui_rest[3], 99);
}

TEST_F(SettingsTest, PerLoginFieldsNeverSurviveALoad) {
  Settings r = image(6);
  r.logged_in = 1;
  r.news = 1;
  r.news_open = 1;
  r.cleared_word = 5;
  snprintf(r.session_key, sizeof(r.session_key), "0123456789abcdef0123456789abcdef");
  snprintf(r.web_token, sizeof(r.web_token), "token");
  snprintf(r.lid, sizeof(r.lid), "g:old");
  snprintf(r.cleared_text[4], sizeof(r.cleared_text[4]), "stale");
  snprintf(r.uid, sizeof(r.uid), "42");
  write_both(r);
  start();
  expect({{F(logged_in), 0}, {F(news), 0}, {F(news_open), 0}, {F(cleared_word), 0}});
  EXPECT_STREQ(s().session_key, "");
  EXPECT_STREQ(s().web_token, "");
  EXPECT_STREQ(s().lid, "");
  EXPECT_STREQ(s().cleared_text[4], "");
  EXPECT_STREQ(s().uid, "42");
}

TEST_F(SettingsTest, EveryTextFromAFileIsTerminated) {
  Settings r = image(6);
  memset(r.name, 'N', sizeof(r.name));
  memset(r.passwd, 'P', sizeof(r.passwd));
  memset(r.qname, 'Q', sizeof(r.qname));
  memset(r.email, 'E', sizeof(r.email));
  memset(r.uid, 'U', sizeof(r.uid));
  memset(r.display_name, 'D', sizeof(r.display_name));
  memset(r.udid, 'f', sizeof(r.udid));
  // A field only the log shows: whatever its bytes, the line is plain text.
  for (size_t i = 0; i < sizeof(r.web_server); i++) r.web_server[i] = static_cast<char>(0x80 + i % 64);
  memcpy(r.web_server, "\x1b[2Jh\\st\n", 9);
  write_both(r);
  std::string log = start();
  std::smatch line;
  ASSERT_TRUE(std::regex_search(log, line, std::regex("settings: the stored web server (.*) is no longer used\n")))
      << log;
  EXPECT_TRUE(std::regex_match(line[1].str(), std::regex("\\\\x1b\\[2Jh\\\\x5cst\\\\x0a(\\\\x[89ab][0-9a-f])+")))
      << line[1];
  EXPECT_STREQ(s().web_server, "");
  // A device id of 32 characters or more is kept.
  for (const char* t : {s().name, s().passwd, s().qname, s().email, s().uid, s().display_name, s().udid, s().web_name})
    EXPECT_EQ(strlen(t), 63u) << t;
  EXPECT_EQ(std::string(s().lid), "g:" + std::string(61, 'N'));
}

TEST_F(SettingsTest, DamagedSizesFallBackToTheDefaults) {
  Settings r = image(6);
  r.music = 500;
  r.sfx = -3;
  r.vsize = 12345;
  r.gsize = 7;
  write_both(r);
  start();
  expect({{F(music), 50}, {F(sfx), 50}, {F(vsize), 640}, {F(gsize), 640}});
}

TEST_F(SettingsTest, ShortFilesLeaveZerosThatTakeDefaults) {
  Settings r = image(6);
  r.music = 20;
  spit(docdir / "settings-local.dat", &r, 12);  // version, music, sfx
  spit(docdir / "settings-cloud.dat", &r, 3);
  start();
  expect({{F(music), 20}, {F(sfx), 0}, {F(vsize), 640}});
  EXPECT_TRUE(is_hex32(s().udid));
}

// ---- web identity ------------------------------------------------------------------------

TEST_F(SettingsTest, NamedAccountGetsWebNameLidAndPasswordForm) {
  s().version = 6;
  snprintf(s().udid, sizeof(s().udid), "0123456789abcdef0123456789abcdef");
  snprintf(s().name, sizeof(s().name), "~`pilot");
  snprintf(s().passwd, sizeof(s().passwd), "secret");
  snprintf(s().web_token, sizeof(s().web_token), "left over");
  EXPECT_EQ(game_settings_sync(*game), 0);
  EXPECT_STREQ(s().web_name, "pilot");
  EXPECT_STREQ(s().lid, "g:pilot");
  // md5("secret") xor md5(udid), digit by digit.
  EXPECT_STREQ(s().web_passwd, "dba88e0d30b080c21b750d4bb8b3db59");
  EXPECT_STREQ(s().web_token, "");
  EXPECT_STREQ(s().udid, "0123456789abcdef0123456789abcdef");

  snprintf(s().name, sizeof(s().name), "``dev");
  game_settings_sync(*game);
  EXPECT_STREQ(s().web_name, "`dev");
  EXPECT_STREQ(s().lid, "g:`dev");
}

TEST_F(SettingsTest, QuickPlayAccountGetsDeviceLidAndToken) {
  s().version = 6;
  snprintf(s().udid, sizeof(s().udid), "0123456789abcdef0123456789abcdef");
  snprintf(s().qname, sizeof(s().qname), "quick123");
  snprintf(s().passwd, sizeof(s().passwd), "ignored");
  game_settings_sync(*game);
  EXPECT_STREQ(s().web_name, "quick123");
  EXPECT_STREQ(s().lid, "q:0123456789abcdef0123456789abcdef");
  EXPECT_STREQ(s().web_token, "c44ad74ff8248b3334da172e228824a6");
  EXPECT_STREQ(s().web_passwd, "");

  // No account at all: the four fields stay empty.
  s().qname[0] = 0;
  game_settings_sync(*game);
  EXPECT_STREQ(s().web_name, "");
  EXPECT_STREQ(s().lid, "");
  EXPECT_STREQ(s().web_token, "");
}

TEST_F(SettingsTest, SyncWaitsForAVersionAndMakesADeviceIdOnce) {
  snprintf(s().name, sizeof(s().name), "pilot");
  game_settings_sync(*game);
  EXPECT_STREQ(s().udid, "");
  EXPECT_STREQ(s().web_name, "");

  s().version = 6;
  snprintf(s().udid, sizeof(s().udid), "abc");  // too short: replaced
  stdout_of([&] { game_settings_sync(*game); });
  ASSERT_TRUE(is_hex32(s().udid));
  std::string first = s().udid;
  game_settings_sync(*game);
  EXPECT_EQ(std::string(s().udid), first);
}

TEST_F(SettingsTest, AFileThatCannotBeReadIsNeitherTakenNorReplaced) {
  Settings r = image(6);
  r.music = 33;
  snprintf(r.udid, sizeof(r.udid), "0123456789abcdef0123456789abcdef");
  write_both(r);
  fs::path local = docdir / "settings-local.dat";
  std::string before = slurp(local);
  // Root reads every file: then the run is another user's, whose home it is.
  bool root_user = geteuid() == 0;
  if (root_user) {
    for (fs::path p = docdir; p != root.parent_path(); p = p.parent_path()) chmod(p.c_str(), 0755);
    ASSERT_EQ(chown(docdir.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown((docdir / "settings-cloud.dat").c_str(), 65534, 65534), 0);
  }
  chmod(local.c_str(), 0);

  fflush(stdout);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (root_user && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    std::string log = start();
    log += quit();
    bool told = log.find("settings-local.dat cannot be read (Permission denied)") != std::string::npos;
    _exit(told ? (s().music == 50 ? 0 : 4) : 2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  chmod(local.c_str(), 0600);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: not told, 3: no other user, 4: took a value";
  EXPECT_TRUE(slurp(local) == before) << "the unreadable file was replaced";
}

// ---- what the files and the log may show --------------------------------------------------

TEST_F(SettingsTest, FilesAreReadableByTheUserOnlyAndReplacedWhole) {
  // An old file that others could read.
  Settings r = image();
  write("settings-local.dat", r);
  chmod((docdir / "settings-local.dat").c_str(), 0644);
  struct stat before;
  ASSERT_EQ(stat((docdir / "settings-local.dat").c_str(), &before), 0);

  start();
  quit();
  EXPECT_EQ(mode_of(docdir / "settings-cloud.dat"), 0600);
  EXPECT_EQ(mode_of(docdir / "settings-local.dat"), 0600);
  struct stat after;
  ASSERT_EQ(stat((docdir / "settings-local.dat").c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed into place
  for (auto& e : fs::directory_iterator(docdir)) {
    std::string n = e.path().filename();
    EXPECT_TRUE(n == "settings-cloud.dat" || n == "settings-local.dat" || n == "ruvezor.log") << n;
  }
}

TEST_F(SettingsTest, SecretsNeverReachTheLog) {
  std::string log = start();
  snprintf(s().name, sizeof(s().name), "pilot");
  snprintf(s().passwd, sizeof(s().passwd), "hunter2-password");
  log += stdout_of([&] { game_settings_sync(*game); });
  log += quit();
  fresh_game();
  log += start();
  ASSERT_TRUE(is_hex32(s().web_passwd));
  EXPECT_EQ(log.find("hunter2-password"), std::string::npos);
  EXPECT_EQ(log.find(s().udid), std::string::npos);
  EXPECT_EQ(log.find(s().web_passwd), std::string::npos);
  EXPECT_NE(log.find("Settings::load\n"), std::string::npos);
  EXPECT_NE(log.find("Settings::save\n"), std::string::npos);

  // The seed line does not give the device id away.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log, m, std::regex("udid seed: ([^\n]*)\n")));
  std::string seed = m[1];
  EXPECT_NE(md5_hex(seed.data(), seed.size()), std::string(s().udid));
  EXPECT_TRUE(std::regex_match(seed, std::regex("[0-9a-f-]{17}\\|[0-9]+\\.[0-9]{6}\\|\\*{32}"))) << seed;
}

TEST_F(SettingsTest, HeadlessNeitherLoadsNorSaves) {
  Settings r = image(6);
  r.music = 7;
  write("settings-local.dat", r);
  game->headless = 1;
  s().music = 99;
  stdout_of([&] {
    s().load();
    s().save();
  });
  EXPECT_EQ(s().music, 99);
  EXPECT_FALSE(fs::exists(docdir / "settings-cloud.dat"));
}

// ---- seeds ------------------------------------------------------------------------------

TEST_F(SettingsTest, SeedHelpersHaveTheirForms) {
  std::string mac = get_mac_address();
  EXPECT_TRUE(std::regex_match(mac, std::regex("([0-9a-f]{2}-){5}[0-9a-f]{2}"))) << mac;
  EXPECT_EQ(get_mac_address(), mac);
  EXPECT_TRUE(std::regex_match(get_time_str(), std::regex("[0-9]+\\.[0-9]{6}")));
  std::string a = get_rand_str(), b = get_rand_str();
  EXPECT_TRUE(is_hex32(a.c_str()));
  EXPECT_NE(a, b);
  EXPECT_EQ(bset(3, 4, 5), 3);
}

TEST_F(SettingsTest, SeedWithoutUrandomStillDiffersBetweenRunsAndProcesses) {
  std::string a, b;
  std::string log = stdout_of([&] {
    a = _get_rand_str_from((root / "no-urandom").c_str());
    b = _get_rand_str_from((root / "no-urandom").c_str());
  });
  EXPECT_TRUE(is_hex32(a.c_str()));
  EXPECT_NE(a, b);
  EXPECT_NE(log.find("unreadable"), std::string::npos);

  // A source that gives fewer than 16 bytes counts as unreadable too.
  std::ofstream(root / "short") << "12345678";
  std::string c;
  stdout_of([&] { c = _get_rand_str_from((root / "short").c_str()); });
  EXPECT_TRUE(is_hex32(c.c_str()));
  EXPECT_NE(c, a);

  // Another process (another installation's start) gets another seed.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fflush(stdout);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    testing::internal::CaptureStdout();
    std::string r = _get_rand_str_from("/nonexistent/urandom");
    ssize_t w = ::write(fds[1], r.data(), r.size());
    _exit(w == 32 ? 0 : 1);
  }
  close(fds[1]);
  char child[33] = {};
  ssize_t got = read(fds[0], child, 32);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_EQ(got, 32);
  EXPECT_TRUE(is_hex32(child));
  EXPECT_NE(std::string(child), a);
  EXPECT_NE(std::string(child), b);

  // With a readable source the result is the MD5 of its first 16 bytes.
  std::ofstream(root / "sixteen") << "0123456789abcdefTAIL";
  EXPECT_EQ(_get_rand_str_from((root / "sixteen").c_str()), md5_hex("0123456789abcdef", 16));
}

// ---- with Steam ---------------------------------------------------------------------------

TEST_F(SettingsTest, WithSteamTheCloudImageLivesInRemoteStorage) {
  z2test::FakeSteam fake;
  if (!fake.open()) GTEST_SKIP() << "fake libCSteamworks not built/loadable";
  _driver_steam_set_library(z2test::fake_library_path().c_str());
  _social_set_event_handler([](Event) {});
  testing::internal::CaptureStderr();
  stdout_of([] { driver_social_init(); });
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(driver_steam_is_init(), 1);

  start();
  s().ui_percent = 33;
  s().music = 12;
  quit();
  EXPECT_FALSE(fs::exists(docdir / "settings-cloud.dat"));
  EXPECT_EQ(mode_of(docdir / "settings-local.dat"), 0600);
  std::string cloud(4268, '\0');
  ASSERT_EQ(fake.file("settings-cloud.dat", cloud.data(), 4268), 4268);
  EXPECT_EQ(cloud, slurp(docdir / "settings-local.dat"));

  fresh_game();
  start();
  EXPECT_EQ(s().ui_percent, 33);
  EXPECT_EQ(s().music, 12);

  stdout_of([] {
    social_deinit();
    driver_social_deinit();
  });
  _social_set_event_handler(nullptr);
}

}  // namespace
