// The driver's Steam part: without the library (the game runs, cloud files
// live in the document directory) and over the fake library built from
// fake_csteamworks.cpp (identity, friends, overlay, deferred statistics
// store, screenshots, remote storage).
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_csteam.h"
#include "ruvezor/util/qel_social.h"
#include "z2_fake_steam.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

using z2test::fake_library_path;
using z2test::slurp;
using z2test::stdout_of;

class SteamTest : public testing::Test {
 protected:
  z2test::TempDir tmp;
  fs::path root, docdir;
  z2test::FakeSteam fake;

  void SetUp() override {
    root = tmp.enter_as_home("qel_steam_test_", "home");
    docdir = root / "home" / ".local" / "share" / "Zentar 2";
    driver_init(0);
    driver_set_gamename("Zentar 2");
    _driver_steam_set_library((root / "no-such-libCSteamworks.so").c_str());
  }

  void TearDown() override {
    stdout_of([] {
      social_deinit();
      driver_social_deinit();
    });
    _driver_steam_set_library(nullptr);
    driver_deinit();
    fake.close();
    tmp.leave();
  }

  // Starts Steam; returns what went to standard error.
  std::string start(std::string* log = nullptr) {
    testing::internal::CaptureStderr();
    std::string out = stdout_of([] { driver_social_init(); });
    if (log) *log = out;
    return testing::internal::GetCapturedStderr();
  }
};

// The driver pointed at the fake library; skipped when it was not built.
class FakeSteamTest : public SteamTest {
 protected:
  void SetUp() override {
    SteamTest::SetUp();
    if (!fake.open()) GTEST_SKIP() << "fake libCSteamworks not built/loadable";
    _driver_steam_set_library(fake_library_path().c_str());
  }
};

// ---- without Steam ----------------------------------------------------------------

TEST_F(SteamTest, MissingLibraryReportsFailureAndEverythingFallsBack) {
  std::string log;
  EXPECT_EQ(start(&log), "steam init FAIL\n");
  EXPECT_NE(log.find("_driver_steam_api: 0\n"), std::string::npos);
  EXPECT_EQ(driver_steam_is_init(), 0);
  EXPECT_STREQ(driver_steam_get_uid(), "");
  EXPECT_TRUE(driver_social_friends_get().empty());
  EXPECT_EQ(driver_steam_open_overlay("Friends"), -1);
  EXPECT_EQ(driver_steam_open_overlay_to_store(480), -1);
  EXPECT_EQ(driver_social_achievements_show(), 0);
  EXPECT_EQ(social_user_uuid(), "");

  // Harmless without Steam.
  std::string quiet = stdout_of([] {
    driver_social_achievment_set("rank1", 100);
    driver_social_achievements_reset();
    driver_steam_trigger_screenshot();
    driver_social_leaderboard_submit("score", 5);
    driver_social_loop();
  });
  EXPECT_EQ(quiet.find("not implemented"), std::string::npos);
}

TEST_F(SteamTest, OpenUrlWithoutSteamFailsAfterItsTwoLines) {
  start();
  int r = 0;
  std::string log = stdout_of([&] { r = driver_open_url_steam("https://example.org/"); });
  EXPECT_EQ(r, -1);
  size_t a = log.find("driver_open_url_steam\n");
  size_t b = log.find("...failed\n");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_EQ(log.find("Steam:WebPage"), std::string::npos);
}

TEST_F(SteamTest, CloudFilesWithoutSteamLiveInTheDocumentDirectory) {
  start();
  std::string bytes("mod\0data\xff\x01", 10);
  EXPECT_EQ(driver_cloud_save("mod_practice.bin", bytes.data(), (int)bytes.size()), 1);
  EXPECT_EQ(slurp(docdir / "mod_practice.bin"), bytes);
  EXPECT_EQ(driver_cloud_exists("mod_practice.bin"), 1);
  EXPECT_EQ(driver_cloud_fsize("mod_practice.bin"), 10);
  EXPECT_EQ(driver_cloud_load("mod_practice.bin"), bytes);

  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(driver_cloud_load("mod_practice.bin", buf, 3), 3);
  EXPECT_EQ(std::string(buf, 4), std::string("mod") + "x");

  std::string missing;
  stdout_of([&] { missing = driver_cloud_load("nothing.bin"); });
  EXPECT_EQ(missing, "");
  EXPECT_EQ(driver_cloud_exists("nothing.bin"), 0);

  // An empty file gives an empty string.
  EXPECT_EQ(driver_cloud_save("empty.bin", "", 0), 1);
  EXPECT_EQ(driver_cloud_load("empty.bin"), "");

  // One far larger than any data file is not read (sparse: no disk taken).
  std::filesystem::resize_file(docdir / "empty.bin", (uintmax_t)DRIVER_FILE_MAX + 1);
  std::string huge = "x";
  std::string log = stdout_of([&] { huge = driver_cloud_load("empty.bin"); });
  EXPECT_EQ(huge, "");
  EXPECT_NE(log.find("file too large: empty.bin\n"), std::string::npos) << log;
}

// ---- with the fake library ----------------------------------------------------------

TEST_F(FakeSteamTest, StartTakesIdentityAndStatsAndLogsTheUserIn) {
  fake.set_user(0x0110000100abcdefULL, "Fake Pilot");
  std::string log;
  EXPECT_EQ(start(&log), "steam init OK\n");
  EXPECT_NE(log.find("_driver_steam_api: 1\n"), std::string::npos);
  EXPECT_EQ(fake.calls("InitSafe"), 1);
  EXPECT_EQ(fake.calls("ISteamUserStats_RequestCurrentStats"), 1);
  EXPECT_EQ(driver_steam_is_init(), 1);
  EXPECT_STREQ(driver_steam_get_uid(), "0110000100abcdef");
  EXPECT_STREQ(fake.last("ISteamUser_GetSteamID"), "");  // called on the user object
  EXPECT_EQ(social_user_uuid(), "s:0110000100abcdef");
  EXPECT_EQ(social_user_name(), "Fake Pilot");
  EXPECT_EQ(social_user_network(), "s");
}

TEST_F(FakeSteamTest, SmallIdIsPaddedToSixteenDigits) {
  fake.set_user(0x2aULL, "p");
  start();
  EXPECT_STREQ(driver_steam_get_uid(), "000000000000002a");
}

TEST_F(FakeSteamTest, LongPersonaNameIsCutTo255BytesOnACharacterBoundary) {
  // 254 ASCII bytes, then a two-byte character that would end at byte 256.
  std::string name(254, 'a');
  name += "\xc3\xa9tail";
  fake.set_user(1, name.c_str());
  start();
  EXPECT_EQ(social_user_name(), std::string(254, 'a'));
}

TEST_F(FakeSteamTest, FailedInitOrNoUserMeansNoSteam) {
  fake.set("init_ok", 0);
  std::string log;
  EXPECT_EQ(start(&log), "steam init FAIL\n");
  EXPECT_NE(log.find("_driver_steam_api: 0\n"), std::string::npos);
  EXPECT_EQ(driver_steam_is_init(), 0);
  EXPECT_EQ(fake.calls("ISteamUserStats_RequestCurrentStats"), 0);
  stdout_of([] { social_deinit(); });

  fake.reset();
  fake.set("user", 0);
  EXPECT_EQ(start(&log), "steam init FAIL\n");
  EXPECT_NE(log.find("_driver_steam_api: 1\n"), std::string::npos);
  EXPECT_EQ(driver_steam_is_init(), 0);
  EXPECT_STREQ(driver_steam_get_uid(), "");
  EXPECT_EQ(social_user_uuid(), "");
  // Without a user nothing reaches remote storage.
  EXPECT_EQ(driver_cloud_save("x.bin", "abc", 3), 1);
  EXPECT_EQ(fake.calls("ISteamRemoteStorage_FileWrite"), 0);
  EXPECT_TRUE(fs::exists(docdir / "x.bin"));
}

TEST_F(FakeSteamTest, FriendsAreImmediateFriendsAsNetworkPrefixedIds) {
  fake.set("friends", 3);
  start();
  std::vector<std::string> f = driver_social_friends_get();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0], "s:0110000100000001");
  EXPECT_EQ(f[2], "s:0110000100000003");
  EXPECT_STREQ(fake.last("ISteamFriends_GetFriendCount"), "4");
  EXPECT_STREQ(fake.last("ISteamFriends_GetFriendByIndex"), "2 4");
  EXPECT_EQ(social_friends_get(), f);
}

TEST_F(FakeSteamTest, OverlayOpensPagesDialogsAndTheStore) {
  start();
  int r = 0;
  std::string log = stdout_of([&] { r = driver_open_url_steam("https://example.org/store"); });
  EXPECT_EQ(r, 0);
  EXPECT_STREQ(fake.last("ISteamFriends_ActivateGameOverlayToWebPage"), "https://example.org/store");
  const char* order[] = {"driver_open_url_steam\n", "Steam:WebPage\n", "OverlayEnabled\n",
                         "SteamFriends() is okay!\n", "We Made it!\n"};
  size_t at = 0;
  for (const char* line : order) {
    size_t p = log.find(line, at);
    ASSERT_NE(p, std::string::npos) << line;
    at = p;
  }

  EXPECT_EQ(driver_steam_open_overlay("Friends"), 0);
  EXPECT_STREQ(fake.last("ISteamFriends_ActivateGameOverlay"), "Friends");
  EXPECT_EQ(driver_steam_open_overlay_to_store(480), 0);
  EXPECT_STREQ(fake.last("ISteamFriends_ActivateGameOverlayToStore"), "480 2");
  EXPECT_EQ(driver_social_achievements_show(), 1);
  EXPECT_STREQ(fake.last("ISteamFriends_ActivateGameOverlay"), "Achievements");
}

TEST_F(FakeSteamTest, OverlayDisabledOrNoFriendsObjectFails) {
  start();
  fake.set("overlay", 0);
  int r = 0;
  std::string log = stdout_of([&] { r = driver_open_url_steam("https://example.org/"); });
  EXPECT_EQ(r, -1);
  EXPECT_NE(log.find("OverlayFail\n"), std::string::npos);
  EXPECT_EQ(driver_steam_open_overlay("Friends"), -1);
  EXPECT_EQ(driver_steam_open_overlay_to_store(480), -1);

  fake.set("overlay", 1);
  fake.set("friends_obj", 0);
  log = stdout_of([&] { r = driver_open_url_steam("https://example.org/"); });
  EXPECT_EQ(r, -1);
  EXPECT_NE(log.find("SteamFriends() is null\n"), std::string::npos);
  EXPECT_EQ(fake.calls("ISteamFriends_ActivateGameOverlayToWebPage"), 0);
}

TEST_F(FakeSteamTest, AchievementsInOneFrameAreStoredOnceAtTheNextLoop) {
  start();
  driver_social_achievment_set("rank1", 100);
  social_achievement_set("rank2", 100);
  EXPECT_EQ(fake.calls("ISteamUserStats_SetAchievement"), 2);
  EXPECT_STREQ(fake.last("ISteamUserStats_SetAchievement"), "rank2");
  EXPECT_EQ(fake.calls("ISteamUserStats_StoreStats"), 0);

  driver_social_loop();
  EXPECT_EQ(fake.calls("ISteamUserStats_StoreStats"), 1);
  EXPECT_EQ(fake.calls("RunCallbacks"), 1);
  // Store first, callbacks after.
  std::string calls = fake.log();
  EXPECT_LT(calls.rfind("ISteamUserStats_StoreStats"), calls.rfind("RunCallbacks"));

  driver_social_loop();
  EXPECT_EQ(fake.calls("ISteamUserStats_StoreStats"), 1);
  EXPECT_EQ(fake.calls("RunCallbacks"), 2);

  driver_social_achievements_reset();
  EXPECT_STREQ(fake.last("ISteamUserStats_ResetAllStats"), "true");
  social_loop();
  EXPECT_EQ(fake.calls("ISteamUserStats_StoreStats"), 2);
}

TEST_F(FakeSteamTest, ScreenshotsLeaderboardAndShutdown) {
  start();
  driver_steam_trigger_screenshot();
  EXPECT_EQ(fake.calls("ISteamScreenshots_TriggerScreenshot"), 1);
  std::string log = stdout_of([] { driver_social_leaderboard_submit("score", 10); });
  EXPECT_NE(log.find("steam:driver_social_leaderboard_submit - not implemented\n"), std::string::npos);

  driver_social_deinit();
  EXPECT_EQ(fake.calls("Shutdown"), 1);
  EXPECT_EQ(driver_steam_is_init(), 0);
  // Nothing reaches the library after its shutdown.
  driver_social_loop();
  driver_social_deinit();
  EXPECT_EQ(fake.calls("RunCallbacks"), 0);
  EXPECT_EQ(fake.calls("Shutdown"), 1);
}

TEST_F(FakeSteamTest, CloudFilesWithSteamGoToRemoteStorage) {
  start();
  std::string bytes("cloud\0bytes", 11);
  EXPECT_EQ(driver_cloud_save("settings-cloud.dat", bytes.data(), (int)bytes.size()), 1);
  EXPECT_FALSE(fs::exists(docdir / "settings-cloud.dat"));
  char stored[64];
  ASSERT_EQ(fake.file("settings-cloud.dat", stored, sizeof(stored)), 11);
  EXPECT_EQ(std::string(stored, 11), bytes);

  EXPECT_EQ(driver_cloud_exists("settings-cloud.dat"), 1);
  EXPECT_EQ(driver_cloud_fsize("settings-cloud.dat"), 11);
  EXPECT_EQ(driver_cloud_load("settings-cloud.dat"), bytes);
  char buf[5];
  EXPECT_EQ(driver_cloud_load("settings-cloud.dat", buf, 5), 5);
  EXPECT_EQ(std::string(buf, 5), "cloud");

  // A file only in the document directory is not seen through the cloud.
  std::ofstream(docdir / "local-only.bin") << "here";
  EXPECT_EQ(driver_cloud_exists("local-only.bin"), 0);
  std::string none;
  std::string log = stdout_of([&] { none = driver_cloud_load("local-only.bin"); });
  EXPECT_EQ(none, "");
  EXPECT_EQ(fake.calls("ISteamRemoteStorage_FileRead"), 2);  // the missing file isn't read
}

TEST_F(FakeSteamTest, FailedRemoteReadZeroesTheBufferAndFailedWriteIsLogged) {
  start();
  fake.put_file("mod.bin", "abcdef", 6);
  fake.set("read_ok", 0);
  char buf[8];
  memset(buf, 'x', sizeof(buf));
  int got = 1;
  std::string log = stdout_of([&] { got = driver_cloud_load("mod.bin", buf, sizeof(buf)); });
  EXPECT_EQ(got, 0);
  EXPECT_EQ(std::string(buf, sizeof(buf)), std::string(8, '\0'));
  EXPECT_NE(log.find("SteamRemoteStorage_FileRead failed\n"), std::string::npos);
  std::string s;
  stdout_of([&] { s = driver_cloud_load("mod.bin"); });
  EXPECT_EQ(s, "");

  fake.set("write_ok", 0);
  int ok = 1;
  log = stdout_of([&] { ok = driver_cloud_save("mod.bin", "zz", 2); });
  EXPECT_EQ(ok, 0);
  EXPECT_NE(log.find("SteamRemoteStorage()->FileWrite failed\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(docdir / "mod.bin"));
}

TEST_F(FakeSteamTest, CloudStopDoesNothing) {
  start();
  _driver_cloud_deinit();
  EXPECT_EQ(driver_steam_is_init(), 1);
  EXPECT_EQ(fake.calls("Shutdown"), 0);
}

}  // namespace
