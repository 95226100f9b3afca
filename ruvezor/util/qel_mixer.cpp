// qel_mixer: the named-sound registry over the audio driver.
#include "ruvezor/util/qel_mixer.h"

#include <cstdio>
#include <ctime>
#include <map>

#include "ruvezor/util/qel_driver.h"        // data and document paths, file times
#include "ruvezor/util/qel_driver_audio.h"  // sources and playing instances
#include "ruvezor/util/qel_log.h"

// ---- module state ----------------------------------------------------------------

struct _MixerData {
  std::map<std::string, MixerSample> samples;  // name -> sample, found or not
  std::map<std::string, MixerStream> streams;  // name -> stream, found or not
  long last_check = 0;                         // second of the last change check
  int misses = 0;                              // names remembered as not found
  QelLogLimit lookup_log{"mixer", "lookups of new names were not logged"};
};

// Sound and music names come from the network too (a host's "sound" and
// "music" messages through the online play script), a new one in each if
// the host likes: past this many names that are not found they are
// forgotten together. Twenty lookups a second are logged.
static const int _MIXER_MISSES_MAX = 1024;

static _MixerData* _mixer = nullptr;

// ---- module-internal -------------------------------------------------------------

static const char* const _mixer_suffixes[] = {"", ".wav", ".ogg", ".mp3", ".aac", ".caf", ".raw"};

std::string _mixer_find(const char* name) {
  if (!name || !driver_name_inside(name)) return "";
  for (const char* suffix : _mixer_suffixes) {
    char fname[512];
    int n = snprintf(fname, sizeof(fname), "%s%s", name, suffix);
    if (n < 0 || n >= (int)sizeof(fname)) continue;  // too long to be a sound of ours
    if (driver_data_exists(fname)) return driver_data_fname(fname);
    if (driver_doc_exists(fname)) return driver_doc_fname(fname);
  }
  return "";
}

// Drops the entries of names that were not found.
template <class Entry>
static void _mixer_forget_misses(std::map<std::string, Entry>& reg) {
  for (auto it = reg.begin(); it != reg.end();)
    it = it->second.id || it->second.fname[0] ? std::next(it) : reg.erase(it);
}

// Samples and streams differ only in their registry, words and driver call.
template <class Entry>
static int _mixer_load(std::map<std::string, Entry>& reg, const char* name, bool sample,
                       int (*load)(const char*)) {
  if (!_mixer || !name) return 0;
  auto it = reg.find(name);
  if (it != reg.end()) return it->second.id;

  const char* kind = sample ? "sample" : "stream";
  bool said = _mixer->lookup_log.allow((long)time(nullptr));
  if (said && sample)
    qel_log(":: trying load sample %s\n", name);
  else if (said)
    qel_log("trying load stream %s\n", name);
  Entry e{};
  std::string path = _mixer_find(name);
  if (path.empty()) {
    if (said && !driver_name_inside(name)) qel_log("%s %s leaves the game's folders, not looked for\n", kind, name);
    if (said) qel_log("unable to find %s %s\n", kind, name);
    if (++_mixer->misses > _MIXER_MISSES_MAX) {
      _mixer_forget_misses(_mixer->samples);
      _mixer_forget_misses(_mixer->streams);
      _mixer->misses = 1;
    }
    reg[name] = e;
    return 0;
  }
  qel_log("doing load %s %s\n", kind, name);
  e.id = load(path.c_str());
  snprintf(e.fname, sizeof(e.fname), "%s", path.c_str());
  e.mtime = driver_file_mtime(path.c_str());
  reg[name] = e;
  return e.id;
}

static int _mixer_driver_stream_load(const char* path) { return driver_audio_stream_load(path, false); }

template <class Entry>
static void _mixer_check(std::map<std::string, Entry>& reg, long now, const char* what,
                         void (*reload)(int)) {
  for (auto& [name, e] : reg) {
    if (!e.fname[0]) continue;
    if (int m = driver_file_changed(e.fname, e.mtime, now)) {
      qel_log("%s reload: %s\n", what, e.fname);
      reload(e.id);
      e.mtime = (int32_t)m;
    }
  }
}

// ---- public functions --------------------------------------------------------------

void mixer_init() {
  delete _mixer;
  _mixer = new _MixerData();
  _mixer->last_check = 0;
}

void mixer_deinit() {
  delete _mixer;
  _mixer = nullptr;
}

int mixer_sample_load(const char* name) {
  return _mixer ? _mixer_load(_mixer->samples, name, true, driver_audio_sample_load) : 0;
}

int mixer_stream_load(const char* name) {
  return _mixer ? _mixer_load(_mixer->streams, name, false, _mixer_driver_stream_load) : 0;
}

void mixer_sample_play(int id, float volume, float pan) {
  if (id) driver_audio_sample_play(id, volume, pan);
}

void mixer_stream_play(int id, float volume) {
  if (id) driver_audio_stream_play(id, volume, 0.0f);
}

void mixer_stream_stop(int id) {
  if (id) driver_audio_stream_stop(id);
}

void mixer_stream_pause(int id, int paused) {
  if (id) driver_audio_stream_pause(id, paused);
}

void mixer_stream_volume(int id, float volume) {
  if (id) driver_audio_stream_volume(id, volume);
}

void mixer_loop() { driver_audio_loop(); }

void mixer_reload_auto() {
  if (!_mixer) return;
  long now = (long)time(nullptr);
  if (now == _mixer->last_check) return;
  _mixer->last_check = now;
  _mixer_check(_mixer->samples, now, "sample", driver_audio_sample_reload);
  _mixer_check(_mixer->streams, now, "stream", driver_audio_stream_reload);
}
