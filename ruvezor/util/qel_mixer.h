// qel_mixer: plays sounds by name.
//
// A name is looked up once: its file is found by trying a fixed list of
// extensions in the data directory and then the document directory, loaded
// through the audio driver, and the driver's source id is kept under the
// name (0 when nothing was found or it failed to load). Play, stop, pause and
// volume requests go on to the driver by id; id 0 does nothing.
#pragma once

#include <cstdint>
#include <string>

struct MixerSample {
  int32_t id;       // driver source id; 0 when not found or not loaded
  char fname[512];  // path that was loaded; "" when none was found
  int32_t mtime;    // file time when loaded or last noticed changed
};

struct MixerStream {
  int32_t id;
  char fname[512];
  int32_t mtime;
};

void mixer_init();
void mixer_deinit();

int mixer_sample_load(const char* name);
int mixer_stream_load(const char* name);
void mixer_sample_play(int id, float volume, float pan);
void mixer_stream_play(int id, float volume);
void mixer_stream_stop(int id);
void mixer_stream_pause(int id, int paused);
void mixer_stream_volume(int id, float volume);
void mixer_loop();
// Logs sound files that changed on disk; at most once per second.
void mixer_reload_auto();

// Full path of the first file that matches name, or "" when none does.
std::string _mixer_find(const char* name);
