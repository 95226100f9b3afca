// The social layer: state made on first use, login and logout events, the
// shutdown of a layer that never started, and the Steam identity through the
// fake library when it was built.
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_csteam.h"
#include "ruvezor/util/qel_social.h"
#include "z2_fake_steam.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<Event> g_events;
std::vector<std::string> g_uuid_at_event;  // the uuid the handler saw

void record(Event e) {
  g_events.push_back(e);
  g_uuid_at_event.push_back(social_user_uuid());
}

std::vector<int> types() {
  std::vector<int> t;
  for (const Event& e : g_events) t.push_back(e.type);
  return t;
}

using z2test::fake_library_path;
using z2test::stdout_of_quiet;

class SocialTest : public testing::Test {
 protected:
  z2test::FakeSteam fake;

  void SetUp() override {
    g_events.clear();
    g_uuid_at_event.clear();
    _social_set_event_handler(record);
    _driver_steam_set_library("/nonexistent/libCSteamworks.so");
  }

  void TearDown() override {
    stdout_of_quiet([] { social_deinit(); });
    _social_set_event_handler(nullptr);
    _driver_steam_set_library(nullptr);
    fake.close();
  }
};

TEST_F(SocialTest, FirstUseStartsTheLayerLoggedOutWithoutSteam) {
  std::string uuid = "x";
  std::string log = stdout_of_quiet([&] { uuid = social_user_uuid(); });
  EXPECT_EQ(uuid, "");
  EXPECT_NE(log.find("social_init\n"), std::string::npos);
  EXPECT_NE(log.find("_driver_steam_api: 0\n"), std::string::npos);
  EXPECT_TRUE(g_events.empty());
  // Started once only.
  log = stdout_of_quiet([] { social_init(); });
  EXPECT_EQ(log.find("social_init\n"), std::string::npos);
}

TEST_F(SocialTest, LoginTwiceWithTheSameIdSendsOneEvent) {
  std::string log = stdout_of_quiet([] {
    social_login("s", "0123456789abcdef", "Ann");
    social_login("s", "0123456789abcdef", "Ann again");
  });
  EXPECT_EQ(types(), std::vector<int>({30}));
  EXPECT_EQ(social_user_uuid(), "s:0123456789abcdef");
  EXPECT_EQ(social_user_name(), "Ann");
  EXPECT_EQ(social_user_network(), "s");
  EXPECT_NE(log.find("social_login name: Ann, uuid: s:0123456789abcdef\n"), std::string::npos);
  // The event is a zeroed record with only the type set.
  Event zero;
  memset(&zero, 0, sizeof(zero));
  zero.type = 30;
  EXPECT_EQ(memcmp(&g_events[0], &zero, sizeof(zero)), 0);
}

TEST_F(SocialTest, AnotherUserLogsTheFirstOutThenIn) {
  stdout_of_quiet([] {
    social_login("s", "1", "One");
    social_login("s", "2", "Two");
  });
  EXPECT_EQ(types(), std::vector<int>({30, 31, 30}));
  EXPECT_EQ(g_uuid_at_event[1], "s:1");  // the logout names the old user
  EXPECT_EQ(social_user_uuid(), "s:2");
  EXPECT_EQ(social_user_name(), "Two");
}

TEST_F(SocialTest, MissingValuesLogOutAndLogoutWhileOutSendsNothing) {
  stdout_of_quiet([] { social_logout(); });
  EXPECT_TRUE(g_events.empty());

  std::string log = stdout_of_quiet([] {
    social_login("s", "1", "One");
    social_login("s", nullptr, "One");
  });
  EXPECT_EQ(types(), std::vector<int>({30, 31}));
  EXPECT_NE(log.find("social_logout: s:1\n"), std::string::npos);
  EXPECT_EQ(social_user_uuid(), "");
  EXPECT_EQ(social_user_name(), "");
  EXPECT_EQ(social_user_network(), "");

  stdout_of_quiet([] { social_logout(); });
  EXPECT_EQ(g_events.size(), 2u);
}

TEST_F(SocialTest, ResetForgetsTheUserWithoutAnEvent) {
  stdout_of_quiet([] { social_login("s", "1", "One"); });
  social_reset();
  EXPECT_EQ(social_user_uuid(), "");
  EXPECT_EQ(types(), std::vector<int>({30}));
  // A fresh login counts as new.
  stdout_of_quiet([] { social_login("s", "1", "One"); });
  EXPECT_EQ(types(), std::vector<int>({30, 30}));
}

TEST_F(SocialTest, DeinitLogsOutFreesAndALaterCallStartsAgain) {
  stdout_of_quiet([] { social_login("s", "1", "One"); });
  std::string log = stdout_of_quiet([] { social_deinit(); });
  EXPECT_NE(log.find("social_deinit\n"), std::string::npos);
  EXPECT_EQ(types(), std::vector<int>({30, 31}));

  log = stdout_of_quiet([] { EXPECT_EQ(social_user_uuid(), ""); });
  EXPECT_NE(log.find("social_init\n"), std::string::npos);
}

TEST_F(SocialTest, DeinitOfALayerThatNeverStartedDoesNothing) {
  // Leaves any state from earlier tests behind first.
  stdout_of_quiet([] { social_deinit(); });
  g_events.clear();
  std::string log = stdout_of_quiet([] { social_deinit(); });
  EXPECT_EQ(log, "");
  EXPECT_TRUE(g_events.empty());
  // And a later first use still starts it.
  log = stdout_of_quiet([] { social_loop(); });
  EXPECT_NE(log.find("social_init\n"), std::string::npos);
}

TEST_F(SocialTest, InviteAndShareDoNotStartTheLayer) {
  stdout_of_quiet([] { social_deinit(); });
  std::string log = stdout_of_quiet([] {
    social_friends_invite();
    social_share("text", "https://example.org/", "");
  });
  EXPECT_EQ(log.find("social_init"), std::string::npos);
  // Without Steam the rest does nothing visible.
  log = stdout_of_quiet([] {
    social_achievement_set("rank1", 100);
    social_achievements_reset();
    EXPECT_EQ(social_achievements_show(), 0);
    EXPECT_TRUE(social_friends_get().empty());
    social_leaderboard_submit("score", 3);
    social_leaderboard_show("score");
  });
  EXPECT_EQ(log.find("not implemented"), std::string::npos);
}

TEST_F(SocialTest, WithSteamTheFirstUseLogsTheSteamUserIn) {
  if (!fake.open()) GTEST_SKIP() << "fake libCSteamworks not built/loadable";
  fake.set_user(0x0110000100000abcULL, "Steam Sam");
  _driver_steam_set_library(fake_library_path().c_str());
  stdout_of_quiet([] { social_deinit(); });
  g_events.clear();

  std::string uuid;
  std::string log = stdout_of_quiet([&] { uuid = social_user_uuid(); });
  EXPECT_EQ(uuid, "s:0110000100000abc");
  EXPECT_EQ(social_user_name(), "Steam Sam");
  EXPECT_EQ(types(), std::vector<int>({30}));
  EXPECT_NE(log.find("social_init\n"), std::string::npos);
  // Started once: the login inside the start does not start Steam again.
  EXPECT_EQ(fake.calls("InitSafe"), 1);

  stdout_of_quiet([] { social_deinit(); });
  EXPECT_EQ(types(), std::vector<int>({30, 31}));
  EXPECT_EQ(fake.calls("Shutdown"), 1);
  EXPECT_EQ(driver_steam_is_init(), 0);
}

}  // namespace
