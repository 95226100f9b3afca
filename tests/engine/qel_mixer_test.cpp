// Named sounds: lookup order, load-once registry, change check, and the hand-off
// to the audio driver. Runs in a scratch tree: <root>/run is the working
// directory (and, with no game name, the document directory), <root>/data is
// "../data".
#include "ruvezor/util/qel_mixer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_audio.h"
#include "z2_test_util.h"

namespace {

using z2test::set_mtime;
using z2test::stdout_of;

// 4 stereo frames of 16-bit PCM at 44100 Hz.
std::string tiny_wav() {
  std::string pcm;
  for (int i = 0; i < 8; i++) pcm += {static_cast<char>((1000 * i) & 255), static_cast<char>((1000 * i) >> 8)};
  return z2test::wav_bytes(1, 2, 44100, 16, pcm);
}

class Mixer : public ::testing::Test {
 protected:
  z2test::TempDir tmp;
  std::string root;
  std::filesystem::path old_cwd = std::filesystem::current_path();

  void SetUp() override {
    root = tmp.enter("z2-mixer-");
    for (const char* d : {"run", "data", "alt"}) std::filesystem::create_directories(root + "/" + d);
    std::filesystem::current_path(root + "/run");
    driver_init(0);
    mixer_init();
  }
  void TearDown() override {
    mixer_deinit();
    _driver_audio_close();
    driver_deinit();
    std::filesystem::current_path(old_cwd);
    tmp.leave();
  }
  // dir is "data", "run" (the document directory) or "alt".
  std::string put(const std::string& dir, const std::string& name, const std::string& body = tiny_wav()) {
    std::string p = root + "/" + dir + "/" + name;
    std::ofstream(p, std::ios::binary) << body;
    return p;
  }
  void audio_on() {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    _driver_audio_open();
    ASSERT_TRUE(_driver_audio_running());
    SDL_PauseAudio(1);
  }
};

// Sleeps into the next wall-clock second, a little past its start.
void wait_next_second() {
  time_t t = time(nullptr);
  while (time(nullptr) == t) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace

TEST_F(Mixer, FindTriesEachSuffixInDataThenDocuments) {
  put("data", "boom.ogg");
  put("run", "boom.wav");
  // ".wav" in the document directory beats ".ogg" in the data directory.
  EXPECT_EQ(_mixer_find("boom"), "./boom.wav");

  put("data", "zap.wav");
  put("run", "zap.wav");
  EXPECT_EQ(_mixer_find("zap"), "../data/zap.wav");
  // A name with its extension matches the empty suffix first.
  EXPECT_EQ(_mixer_find("zap.wav"), "../data/zap.wav");
  put("data", "tune.raw", "x");
  EXPECT_EQ(_mixer_find("tune"), "../data/tune.raw");
  EXPECT_EQ(_mixer_find("nothing"), "");
  EXPECT_EQ(_mixer_find(std::string(600, 'n').c_str()), "");

  // A name a host or mod sends is not a path out of the directories: the
  // file beside them is not found, whichever way the name climbs.
  put("", "secret.wav");
  EXPECT_EQ(_mixer_find("../secret"), "");
  EXPECT_EQ(_mixer_find("../data/../secret.wav"), "");
  EXPECT_EQ(_mixer_find(".."), "");
  put("data", "..x.wav");  // dots that are part of a name are fine
  EXPECT_EQ(_mixer_find("..x"), "../data/..x.wav");

  // The alternative directory is searched before the data directory.
  put("alt", "zap.wav");
  driver_set_altdir((root + "/alt").c_str());
  EXPECT_EQ(_mixer_find("zap"), root + "/alt/zap.wav");
  driver_set_altdir(nullptr);
}

TEST_F(Mixer, NamesLoadOnceFoundOrNot) {
  audio_on();
  std::string p = put("data", "sfx-one.wav");

  testing::internal::CaptureStdout();
  int id = mixer_sample_load("sfx-one");
  std::string log = testing::internal::GetCapturedStdout();
  ASSERT_GT(id, 0);
  EXPECT_NE(log.find(":: trying load sample sfx-one\n"), std::string::npos);
  EXPECT_NE(log.find("doing load sample sfx-one\n"), std::string::npos);

  // Second request: same id, no log, no disk.
  unlink(p.c_str());
  EXPECT_EQ(stdout_of([&] { EXPECT_EQ(mixer_sample_load("sfx-one"), id); }), "");

  testing::internal::CaptureStdout();
  EXPECT_EQ(mixer_sample_load("sfx-none"), 0);
  EXPECT_EQ(mixer_sample_load("sfx-none"), 0);
  EXPECT_EQ(mixer_stream_load("mus-none"), 0);
  log = testing::internal::GetCapturedStdout();
  size_t at = log.find("unable to find sample sfx-none\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.find("unable to find sample sfx-none", at + 1), std::string::npos);
  EXPECT_NE(log.find("trying load stream mus-none\n"), std::string::npos);
  EXPECT_NE(log.find("unable to find stream mus-none\n"), std::string::npos);

  // A file the driver can't read is not tried again either.
  put("data", "bad.wav", "not a wav");
  EXPECT_EQ(mixer_sample_load("bad"), 0);
  put("data", "bad.wav");
  EXPECT_EQ(mixer_sample_load("bad"), 0);

  // The same name as a stream is its own entry and its own source.
  put("data", "sfx-one.wav");
  int sid = mixer_stream_load("sfx-one");
  EXPECT_GT(sid, 0);
  EXPECT_NE(sid, id);
  EXPECT_EQ(mixer_stream_load("sfx-one"), sid);
}

// Names from a host's messages, a new one in each: a few lines a second,
// and the names not found are remembered only up to a bound.
TEST_F(Mixer, ANewNameInEveryMessageGrowsNeitherTheTablesNorTheLog) {
  audio_on();
  EXPECT_EQ(mixer_sample_load("ghost"), 0);
  put("data", "ghost.wav");
  std::string log = stdout_of([] {
    for (int i = 0; i < 3000; i++) EXPECT_EQ(mixer_sample_load(("s" + std::to_string(i)).c_str()), 0);
  });
  EXPECT_LT(z2test::count_of(log, "unable to find sample"), 200) << "a line for every name";
  EXPECT_GT(mixer_sample_load("ghost"), 0) << "the oldest misses are forgotten: a file that turned up is found";
}

TEST_F(Mixer, PlayStopPauseAndVolumeReachTheDriver) {
  audio_on();
  put("data", "fx.wav");
  put("data", "song.wav");
  int fx = mixer_sample_load("fx");
  int song = mixer_stream_load("song");
  ASSERT_GT(fx, 0);
  ASSERT_GT(song, 0);
  AudioPlaying p[4];

  mixer_sample_play(fx, 0.5f, 0.1f);
  mixer_sample_play(0, 1, 0);
  mixer_stream_play(song, 0.0f);
  mixer_stream_play(0, 1);
  ASSERT_EQ(_driver_audio_playing(p, 4), 2);
  EXPECT_EQ(p[0].source, fx);
  EXPECT_EQ(p[0].volume, 0.5f);
  EXPECT_EQ(p[0].pan, 0.1f);
  EXPECT_EQ(p[1].source, song);
  EXPECT_EQ(p[1].loop, 1);

  mixer_stream_volume(song, 0.75f);
  mixer_stream_pause(song, 1);
  mixer_stream_pause(0, 0);
  ASSERT_EQ(_driver_audio_playing(p, 4), 2);
  EXPECT_EQ(p[1].volume, 0.75f);
  EXPECT_EQ(p[1].paused, 1);

  mixer_stream_stop(0);
  mixer_stream_stop(song);
  ASSERT_EQ(_driver_audio_playing(p, 4), 1);
  EXPECT_EQ(p[0].source, fx);
  mixer_loop();
}

TEST_F(Mixer, WithAudioOffFilesAreFoundButGiveNoId) {
  put("data", "fx.wav");
  std::string log = stdout_of([&] { EXPECT_EQ(mixer_sample_load("fx"), 0); });
  EXPECT_NE(log.find("doing load sample fx\n"), std::string::npos);
  mixer_sample_play(mixer_sample_load("fx"), 1, 0);  // harmless
}

TEST_F(Mixer, ChangedFileIsLoggedOnceAfterItSettles) {
  audio_on();
  time_t now = time(nullptr);
  std::string p = put("data", "fx.wav");
  std::string s = put("data", "song.wav");
  set_mtime(p, now - 100);
  set_mtime(s, now - 100);
  ASSERT_GT(mixer_sample_load("fx"), 0);
  ASSERT_GT(mixer_stream_load("song"), 0);
  mixer_sample_load("gone");  // not found: never checked

  EXPECT_EQ(stdout_of([&] { mixer_reload_auto(); }), "");

  // Changed, but still being written (within the last second): not yet.
  // Each check runs just after the second turns: the few steps up to the
  // next turn all fall in that one second.
  wait_next_second();
  set_mtime(p, time(nullptr) - 1);
  std::string log = stdout_of([&] { mixer_reload_auto(); });
  EXPECT_EQ(log.find("sample reload"), std::string::npos) << log;

  set_mtime(p, time(nullptr) - 5);
  set_mtime(s, time(nullptr) - 5);
  testing::internal::CaptureStdout();
  mixer_reload_auto();  // same second as the last run: does nothing
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  wait_next_second();
  log = stdout_of([&] { mixer_reload_auto(); });
  EXPECT_NE(log.find("sample reload: ../data/fx.wav\n"), std::string::npos) << log;
  EXPECT_NE(log.find("stream reload: ../data/song.wav\n"), std::string::npos) << log;

  // Logged once per change.
  wait_next_second();
  EXPECT_EQ(stdout_of([&] { mixer_reload_auto(); }), "");
}
