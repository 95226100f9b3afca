// Audio sources and the mixer, driven buffer by buffer on SDL's dummy driver
// and end to end through the disk driver's output file.
#include "ruvezor/util/qel_driver_audio.h"
#include "z2_test_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>  // mkfifo
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using z2test::stdout_of;

const int kLen = 8192;     // bytes per device buffer: 1024 stereo float frames
const int kFloats = 2048;  // floats per buffer

std::string tmpdir() {
  static std::string d;
  if (d.empty()) {
    char t[] = "/tmp/z2-audio-XXXXXX";
    d = mkdtemp(t);
  }
  return d;
}

// A 32-bit float WAV: what it holds is exactly what the mixer sees.
std::string write_float_wav(const std::string& name, const std::vector<float>& x, int channels = 2,
                            int rate = 44100) {
  std::string path = tmpdir() + "/" + name;
  std::ofstream(path, std::ios::binary)
      << z2test::wav_bytes(3, channels, rate, 32, std::string((const char*)x.data(), x.size() * 4));
  return path;
}

std::vector<float> ramp(int n, float scale = 1.0f / 4096) {
  std::vector<float> x(n);
  for (int i = 0; i < n; i++) x[i] = (float)((i % 4001) - 2000) * scale;
  return x;
}

std::string ogg_path() { return std::string(Z2_DATA_DIR) + "/mus-menu.ogg"; }

// One device buffer, mixed on this thread with the device paused.
std::vector<float> mix() {
  std::vector<float> out(kFloats, 123.0f);
  driver_audio_lock();
  _driver_audio_callback(nullptr, (Uint8*)out.data(), kLen);
  driver_audio_unlock();
  return out;
}

int playing_count() { return _driver_audio_playing(nullptr, 0); }

class Audio : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    _driver_audio_open();
    ASSERT_TRUE(_driver_audio_running());
    SDL_PauseAudio(1);  // the test thread mixes instead
  }
  void TearDown() override { _driver_audio_close(); }
};

}  // namespace

TEST(AudioOff, EveryOperationIsANoOpAndAFailedStartStaysOff) {
  EXPECT_FALSE(_driver_audio_running());
  std::string wav = write_float_wav("off.wav", ramp(100));
  EXPECT_EQ(driver_audio_sample_load(wav.c_str()), 0);
  EXPECT_EQ(driver_audio_stream_load(ogg_path().c_str(), false), 0);
  driver_audio_sample_play(1, 1, 0);
  driver_audio_stream_play(1, 1, 0);
  driver_audio_stream_stop(1);
  driver_audio_lock();
  driver_audio_unlock();
  EXPECT_EQ(playing_count(), 0);

  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  std::string log = stdout_of([&] { _driver_audio_open(); });
  EXPECT_FALSE(_driver_audio_running());
  EXPECT_NE(log.find("_mixer: error in audio_init - "), std::string::npos) << log;
  EXPECT_EQ(driver_audio_sample_load(wav.c_str()), 0);
  _driver_audio_close();  // harmless when never started
}

TEST_F(Audio, SampleMixesExactlyAndIsRemovedAtItsEnd) {
  std::vector<float> x = ramp(3000);
  int mem0 = _driver_audio_memused();
  testing::internal::CaptureStdout();
  int id = driver_audio_sample_load(write_float_wav("s.wav", x).c_str());
  std::string log = testing::internal::GetCapturedStdout();
  ASSERT_EQ(id, 1);
  EXPECT_NE(log.find("_mixer: sample_load 1 ("), std::string::npos);
  EXPECT_NE(log.find("_mixer->memused: "), std::string::npos);
  EXPECT_EQ(_driver_audio_memused() - mem0, 3000 * 4);

  std::vector<float> silent = mix();
  for (float v : silent) ASSERT_EQ(v, 0.0f);

  driver_audio_sample_play(id, 1.0f, 0.25f);
  AudioPlaying p[4];
  ASSERT_EQ(_driver_audio_playing(p, 4), 1);
  EXPECT_EQ(p[0].pan, 0.25f);
  EXPECT_EQ(p[0].loop, 0);
  std::vector<float> b1 = mix();
  for (int i = 0; i < kFloats; i++) ASSERT_EQ(b1[i], x[i]) << i;
  EXPECT_EQ(playing_count(), 1);
  std::vector<float> b2 = mix();
  for (int i = 0; i < kFloats; i++) ASSERT_EQ(b2[i], i < 3000 - kFloats ? x[kFloats + i] : 0.0f) << i;
  EXPECT_EQ(playing_count(), 0);  // removed in the buffer that reached its end

  // A quieter second play starts at its volume at once, no ramp.
  driver_audio_sample_play(id, 0.5f, 0);
  std::vector<float> b3 = mix();
  for (int i = 0; i < kFloats; i++) ASSERT_EQ(b3[i], x[i] * 0.5f) << i;
  driver_audio_sample_play(0, 1, 0);   // id 0 is nothing
  driver_audio_sample_play(99, 1, 0);  // nor is an id never handed out
  EXPECT_EQ(playing_count(), 1);
  mix();

  // The game's effects end at silence: a sound cut off mid-wave clicks as
  // it is removed.
  for (const char* name : {"sfx-click", "sfx-ping", "sfx-hit", "sfx-explode", "sfx-kazoo"}) {
    driver_audio_sample_play(driver_audio_sample_load((std::string(Z2_DATA_DIR) + "/" + name + ".wav").c_str()), 1, 0);
    float end = 1;
    for (int b = 0; b < 100 && playing_count() > 0; b++)
      for (float v : mix())
        if (v != 0.0f) end = v;
    EXPECT_EQ(playing_count(), 0) << name;
    EXPECT_LT(std::fabs(end), 0.003f) << name;
  }
}

TEST_F(Audio, LimiterScalesLoudBuffersAndRecoversOverTheNext) {
  std::vector<float> loud(kFloats * 4, 0.8f), burst(kFloats, 0.8f);
  int a = driver_audio_sample_load(write_float_wav("long.wav", loud).c_str());
  int b = driver_audio_sample_load(write_float_wav("burst.wav", burst).c_str());
  driver_audio_lock();
  driver_audio_sample_play(a, 1, 0);
  driver_audio_sample_play(b, 1, 0);
  driver_audio_unlock();

  std::vector<float> b1 = mix();  // 1.6 scaled to 1.0
  for (float v : b1) ASSERT_NEAR(v, 1.0f, 1e-6);
  EXPECT_FLOAT_EQ(_driver_audio_gain(), 1.6f);

  std::vector<float> b2 = mix();  // 0.8 alone, factor rising from 1/1.6 to 1
  float step = (1.0f - 1.0f / 1.6f) / kFloats;
  for (int i = 0; i < kFloats; i++) ASSERT_NEAR(b2[i], 0.8f * (1.0f / 1.6f + step * i), 1e-5) << i;
  EXPECT_LT(b2[0], b2[kFloats - 1]);
  EXPECT_EQ(_driver_audio_gain(), 1.0f);

  std::vector<float> b3 = mix();  // back to unity
  for (float v : b3) ASSERT_EQ(v, 0.8f);

  // A sound that grows loud halfway through the next buffer: the factor
  // glides from where the last buffer left it (1.0) down to 1 / 1.6 by the
  // first value that would pass 1.0, so the long sound doesn't step down.
  std::vector<float> late(kFloats, 0.0f);
  for (int i = kFloats / 2; i < kFloats; i++) late[i] = 0.8f;
  driver_audio_sample_play(driver_audio_sample_load(write_float_wav("late.wav", late).c_str()), 1, 0);
  std::vector<float> b4 = mix();  // the long sample ends here
  EXPECT_EQ(b4[0], 0.8f);
  for (int i = 0; i < kFloats / 2; i++)
    ASSERT_NEAR(b4[i], 0.8f * (1.0f + (1.0f / 1.6f - 1.0f) * i / (kFloats / 2)), 1e-5) << i;
  for (int i = kFloats / 2; i < kFloats; i++) ASSERT_NEAR(b4[i], 1.0f, 1e-6) << i;
  EXPECT_FLOAT_EQ(_driver_audio_gain(), 1.6f);
  mix();
  EXPECT_EQ(playing_count(), 0);
  for (float v : mix()) ASSERT_EQ(v, 0.0f);
  EXPECT_EQ(_driver_audio_gain(), 1.0f);
}

TEST_F(Audio, StreamVolumeRampsOverOneBufferAndPauseKeepsPosition) {
  std::vector<float> x(kFloats * 3, 0.5f);
  int id = driver_audio_stream_load(write_float_wav("flat.wav", x).c_str(), false);
  ASSERT_GT(id, 0);
  driver_audio_stream_play(id, 1.0f, 0.7f);
  AudioPlaying p[2];
  ASSERT_EQ(_driver_audio_playing(p, 2), 1);
  EXPECT_EQ(p[0].loop, 1);
  EXPECT_EQ(p[0].pan, 0.0f);
  for (float v : mix()) ASSERT_EQ(v, 0.5f);

  driver_audio_stream_volume(id, 0.5f);
  std::vector<float> r = mix();
  float step = -0.5f / kFloats;
  for (int i = 0; i < kFloats; i++) ASSERT_NEAR(r[i], 0.5f * (1.0f + step * i), 1e-6) << i;
  // The stream loops: the third buffer reached its end and it starts over.
  for (float v : mix()) ASSERT_EQ(v, 0.25f);
  ASSERT_EQ(_driver_audio_playing(p, 2), 1);
  EXPECT_EQ(p[0].pos, 0);

  std::vector<float> y = ramp(kFloats * 3);
  int id2 = driver_audio_stream_load(write_float_wav("ramp.wav", y).c_str(), false);
  driver_audio_stream_stop(id);
  driver_audio_stream_play(id2, 1.0f, 0);
  std::vector<float> c1 = mix();
  // Pausing fades out over one buffer instead of cutting the wave off,
  // then nothing plays; resuming ramps up again where it stopped.
  driver_audio_stream_pause(id2, 1);
  std::vector<float> out = mix();
  for (float v : mix()) ASSERT_EQ(v, 0.0f);
  for (float v : mix()) ASSERT_EQ(v, 0.0f);
  driver_audio_stream_pause(id2, 0);
  std::vector<float> c2 = mix();
  float down = -1.0f / kFloats;
  for (int i = 0; i < kFloats; i++) {
    ASSERT_EQ(c1[i], y[i]);
    ASSERT_NEAR(out[i], y[kFloats + i] * (1.0f + down * i), 1e-6) << i;
    ASSERT_NEAR(c2[i], y[2 * kFloats + i] * (-down * i), 1e-6) << i;
  }
  // Playing again starts from the beginning.
  driver_audio_stream_play(id2, 1.0f, 0);
  EXPECT_EQ(playing_count(), 1);
  EXPECT_EQ(mix(), c1);
}

TEST_F(Audio, OggStreamDecodesWhilePlayingLoopsAndReloads) {
  int mem0 = _driver_audio_memused();
  int id = driver_audio_stream_load(ogg_path().c_str(), false);
  ASSERT_GT(id, 0);
  EXPECT_EQ(_driver_audio_memused(), mem0);  // nothing read before play

  std::string log = stdout_of([&] { driver_audio_stream_play(id, 1.0f, 0); });
  EXPECT_NE(log.find("_mixer: AudioSourceVorbis.load '"), std::string::npos);
  EXPECT_GT(_driver_audio_memused(), mem0);

  std::vector<float> first = mix();
  double energy = 0;
  for (int i = 0; i < kFloats; i += 2) {
    ASSERT_EQ(first[i], first[i + 1]) << i;  // mono: same signal on both sides
    energy += std::fabs(first[i]);
  }
  EXPECT_GT(energy, 1.0);

  // 4 s of music: the buffer that reaches the end goes on from the start
  // of the music in the same buffer, without a gap at the loop point.
  AudioPlaying p[1];
  int buffers = 1, last = kFloats;
  std::vector<float> seam;
  do {
    seam = mix();
    buffers++;
    ASSERT_EQ(_driver_audio_playing(p, 1), 1);
    if (p[0].pos < last) break;
    last = p[0].pos;
  } while (buffers < 400);
  const int total = 4 * 44100 * 2;
  EXPECT_EQ(buffers, (total + kFloats - 1) / kFloats);
  ASSERT_EQ(p[0].pos, buffers * kFloats - total);
  for (int i = 0; i < p[0].pos; i++) ASSERT_EQ(seam[kFloats - p[0].pos + i], first[i]) << i;
  std::vector<float> after = mix();
  for (int i = 0; i < kFloats - p[0].pos; i++) ASSERT_EQ(after[i], first[p[0].pos + i]) << i;

  log = stdout_of([&] { driver_audio_stream_stop(id); });
  EXPECT_NE(log.find("_mixer: AudioSourceVorbis.unload '"), std::string::npos);
  EXPECT_EQ(playing_count(), 0);
  EXPECT_EQ(_driver_audio_memused(), mem0);

  driver_audio_stream_play(id, 1.0f, 0);
  mix();
  mix();
  driver_audio_stream_stop(id);
  driver_audio_stream_play(id, 1.0f, 0);
  EXPECT_EQ(mix(), first);

  // The same file as a sample decodes whole to 16 bits: close to the stream.
  int s = driver_audio_sample_load(ogg_path().c_str());
  ASSERT_GT(s, 0);
  driver_audio_stream_stop(id);
  driver_audio_sample_play(s, 1.0f, 0);
  std::vector<float> whole = mix();
  for (int i = 0; i < kFloats; i++) ASSERT_NEAR(whole[i], first[i], 2.0 / 32768) << i;
}

// The Ogg page checksum: CRC-32 of polynomial 0x04c11db7, not reflected, from 0.
uint32_t ogg_crc(const std::string& page) {
  uint32_t crc = 0;
  for (unsigned char c : page) {
    crc ^= (uint32_t)c << 24;
    for (int k = 0; k < 8; k++) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04c11db7u : crc << 1;
  }
  return crc;
}

TEST_F(Audio, OggStreamMadeForAnotherRatePlaysAtItsOwnSpeed) {
  // The game's 4 s of 44100 Hz music, its header saying 22050 Hz: the same
  // frames are 8 s of music, and take 8 s to play at the mix rate.
  std::string ogg = z2test::slurp(ogg_path());
  ASSERT_EQ(ogg.substr(0, 4), "OggS");
  size_t segs = (unsigned char)ogg[26], packet = 27 + segs, page = packet;
  for (size_t i = 0; i < segs; i++) page += (unsigned char)ogg[27 + i];
  ASSERT_EQ(ogg.substr(packet, 7), "\x01vorbis");
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = v * 256 + (unsigned char)ogg[at + i];
    return v;
  };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) ogg[at + i] = (char)((v >> (8 * i)) & 255);
  };
  std::string slow = tmpdir() + "/slow.ogg";
  auto write_at_rate = [&](uint32_t hz) {  // the header's rate, and its page's checksum again
    put32(packet + 12, hz);
    put32(22, 0);
    put32(22, ogg_crc(ogg.substr(0, page)));
    std::ofstream(slow, std::ios::binary | std::ios::trunc) << ogg;
  };
  ASSERT_EQ(u32(packet + 12), 44100u);
  write_at_rate(22050);

  // Still streamed: while it plays it holds its file, not minutes of floats
  // for the rest of the run (a few such tracks left no room for sounds).
  int mem0 = _driver_audio_memused();
  int id = driver_audio_stream_load(slow.c_str(), false);
  ASSERT_GT(id, 0);
  driver_audio_stream_play(id, 1.0f, 0);
  EXPECT_LE(_driver_audio_memused() - mem0, (int)ogg.size());
  AudioPlaying p[1];
  int buffers = 0, last = -1;
  float loud = 0;
  do {
    for (float f : mix()) loud = std::max(loud, std::fabs(f));
    buffers++;
    ASSERT_EQ(_driver_audio_playing(p, 1), 1);
    if (p[0].pos <= last) break;  // looped
    last = p[0].pos;
  } while (buffers < 800);
  EXPECT_NEAR(buffers, (8 * 44100 * 2 + kFloats - 1) / kFloats, 1);
  EXPECT_GT(loud, 0.01f);
  driver_audio_stream_stop(id);
  EXPECT_EQ(playing_count(), 0);
  EXPECT_EQ(_driver_audio_memused(), mem0);

  // A rate no music has (1 Hz) is refused at its load: converted, each
  // decoded piece made minutes of sound in the mixer's lock.
  write_at_rate(1);
  std::string log = stdout_of([&] {
    int bad = driver_audio_stream_load(slow.c_str(), false);
    driver_audio_stream_play(bad, 1.0f, 0);
    for (float f : mix()) ASSERT_EQ(f, 0.0f);
    driver_audio_stream_stop(bad);
  });
  EXPECT_NE(log.find("(a rate of 1 Hz)"), std::string::npos) << log;
}

TEST_F(Audio, BadFilesFailWithALogLineAndPlayNothing) {
  std::string junk = tmpdir() + "/junk.ogg";
  std::ofstream(junk, std::ios::binary) << "OggS but not really a vorbis stream";
  std::string junkwav = tmpdir() + "/junk.wav";
  std::ofstream(junkwav, std::ios::binary) << std::string("RIFF\xff\xff\xff\x7fWAVEfmt ", 16);

  testing::internal::CaptureStdout();
  EXPECT_EQ(driver_audio_sample_load((tmpdir() + "/missing.wav").c_str()), 0);
  EXPECT_EQ(driver_audio_sample_load(junkwav.c_str()), 0);
  EXPECT_EQ(driver_audio_sample_load((tmpdir() + "/missing.ogg").c_str()), 0);
  EXPECT_EQ(driver_audio_sample_load(junk.c_str()), 0);
  // A FIFO nobody writes to, in a sound's place, fails at once.
  std::string fifo = tmpdir() + "/fifo.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(driver_audio_sample_load(fifo.c_str()), 0);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("not a regular file, not read: " + fifo), std::string::npos);
  EXPECT_NE(log.find("_mixer: error in _sample_load_wav '"), std::string::npos);
  EXPECT_NE(log.find("(driver_file_alloc)"), std::string::npos);
  EXPECT_NE(log.find("(stb_vorbis_decode_memory)"), std::string::npos);

  // A header that lies about the rate: 800 samples "at 1 Hz" are 800
  // seconds at the mix rate, 282 MB of floats from a file of 1.6 KB. It is
  // refused before any of it is made, and a real sound still loads after it.
  std::string slow = tmpdir() + "/slow.wav";
  std::ofstream(slow, std::ios::binary) << z2test::wav_bytes(1, 1, 1, 16, std::string(1600, '\x10'));
  int mem0 = _driver_audio_memused();
  log = stdout_of([&] { EXPECT_EQ(driver_audio_sample_load(slow.c_str()), 0); });
  EXPECT_NE(log.find("_mixer: sound refused: loaded sounds would take more than 256 MB"), std::string::npos) << log;
  EXPECT_EQ(_driver_audio_memused(), mem0);
  EXPECT_GT(driver_audio_sample_load(write_float_wav("after.wav", ramp(100)).c_str()), 0);

  // A stream that can't load still gets its silent, looping instance.
  int id = driver_audio_stream_load(junk.c_str(), false);
  ASSERT_GT(id, 0);
  log = stdout_of([&] { driver_audio_stream_play(id, 1, 0); });
  EXPECT_NE(log.find("_mixer: error in _stream_load_ogg '"), std::string::npos);
  EXPECT_NE(log.find("(stb_vorbis_open_memory)"), std::string::npos);
  for (float v : mix()) ASSERT_EQ(v, 0.0f);
  EXPECT_EQ(playing_count(), 1);
  driver_audio_stream_stop(id);
  EXPECT_EQ(playing_count(), 0);
}

TEST_F(Audio, ConvertsOtherFormatsAndKeepsInstanceOrder) {
  // The game's own effects are 22050 Hz mono 16-bit: twice the frames, two channels.
  std::string path = std::string(Z2_DATA_DIR) + "/sfx-click.wav";
  int click = driver_audio_sample_load(path.c_str());
  ASSERT_GT(click, 0);
  long frames = ((long)std::filesystem::file_size(path) - 44) / 2;
  EXPECT_NEAR(_driver_audio_memused() / 4.0, frames * 4.0, 64);

  int a = driver_audio_sample_load(write_float_wav("a.wav", ramp(100)).c_str());
  int b = driver_audio_sample_load(write_float_wav("b.wav", ramp(kFloats * 3)).c_str());
  driver_audio_sample_play(a, 1, 0);
  driver_audio_sample_play(b, 1, 0);
  driver_audio_sample_play(a, 1, 0);
  driver_audio_sample_play(b, 0.5f, 0);
  mix();
  AudioPlaying p[4];
  ASSERT_EQ(_driver_audio_playing(p, 4), 2);
  EXPECT_EQ(p[0].source, b);
  EXPECT_EQ(p[0].volume, 1.0f);
  EXPECT_EQ(p[1].volume, 0.5f);

  // A sound played every frame piles up no more than 256 instances: the
  // oldest that does not loop makes way for the new one, music stays.
  int music = driver_audio_stream_load(write_float_wav("m.wav", ramp(kFloats * 2)).c_str(), false);
  driver_audio_stream_play(music, 1, 0);
  for (int i = 0; i < 300; i++) driver_audio_sample_play(b, 1, 0);
  std::vector<AudioPlaying> all(400);
  ASSERT_EQ(_driver_audio_playing(all.data(), 400), 256);
  EXPECT_EQ(all[0].source, music);
  for (int i = 1; i < 256; i++) ASSERT_EQ(all[i].source, b) << i;
}

namespace {
struct Tone : AudioCallback {
  bool* deleted;
  explicit Tone(bool* d) : deleted(d) {}
  int fill(float* out, int n) override {
    for (int i = 0; i < n; i++) out[i] = 0.25f;
    return n;
  }
  ~Tone() override { *deleted = true; }
};
}  // namespace

TEST(AudioCallbackSource, LoopsForeverAndIsDeletedAtStop) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  _driver_audio_open();
  ASSERT_TRUE(_driver_audio_running());
  SDL_PauseAudio(1);
  bool deleted = false;
  int id = driver_audio_callback_add(new Tone(&deleted), 0.5f);
  EXPECT_EQ(id, 1);
  for (int k = 0; k < 3; k++)
    for (float v : mix()) ASSERT_EQ(v, 0.125f);
  EXPECT_EQ(playing_count(), 1);
  _driver_audio_close();
  EXPECT_TRUE(deleted);
}

// The disk driver writes exactly what the callback produced.
TEST(AudioDisk, OutputFileHoldsTheMixSampleBySample) {
  std::string out = tmpdir() + "/disk.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "2", 1);
  _driver_audio_open();
  ASSERT_TRUE(_driver_audio_running());

  std::vector<float> x = ramp(8820, 1.0f / 2048);  // peaks under 1: no limiting
  std::vector<float> flat(6000, 0.75f);
  int a = driver_audio_sample_load(write_float_wav("disk-a.wav", x).c_str());
  int b = driver_audio_sample_load(write_float_wav("disk-b.wav", flat).c_str());
  auto wait_quiet = [] {
    auto t0 = std::chrono::steady_clock::now();
    while (playing_count() > 0 && std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(z2test::kHangMs))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  };
  driver_audio_sample_play(a, 1, 0);
  wait_quiet();
  driver_audio_lock();  // both copies start in the same buffer
  driver_audio_sample_play(b, 1, 0);
  driver_audio_sample_play(b, 1, 0);
  driver_audio_unlock();
  wait_quiet();
  EXPECT_EQ(playing_count(), 0);
  _driver_audio_close();
  unsetenv("SDL_DISKAUDIOFILE");
  unsetenv("SDL_DISKAUDIODELAY");

  std::ifstream f(out, std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<float> got(raw.size() / 4);
  memcpy(got.data(), raw.data(), got.size() * 4);
  size_t i = 0;
  while (i < got.size() && got[i] == 0.0f) i++;
  ASSERT_EQ(i % kFloats, 0u);  // a sound starts on a buffer boundary
  ASSERT_GE(got.size(), i + x.size());
  // x starts with -2000/2048, never 0, so the first non-zero float is x[0].
  for (size_t k = 0; k < x.size(); k++) ASSERT_EQ(got[i + k], x[k]) << k;
  i += x.size();
  while (i < got.size() && got[i] == 0.0f) i++;
  ASSERT_GE(got.size(), i + flat.size());
  // 0.75 + 0.75 is limited back to 1.0.
  for (size_t k = 0; k < flat.size(); k++) ASSERT_NEAR(got[i + k], 1.0f, 1e-6) << k;
  i += flat.size();
  // The rest of that buffer and after is silence, bar the limiter's recovery on zeros.
  for (; i < got.size(); i++) ASSERT_EQ(got[i], 0.0f) << i;
}
