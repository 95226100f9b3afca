// qel_driver_audio: audio device, sources and the software mixer.
//
// Threads: the main thread calls every driver_audio_ operation; SDL's audio
// thread runs _driver_audio_callback under SDL's audio lock. Operations take
// that lock only to change the source table or the playing list; files are
// read and decoded outside it. The callback reads no file and logs nothing.
#include "ruvezor/util/qel_driver_audio.h"

#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>  // Ogg Vorbis decoding (implementation lives in libstb)

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ruvezor/util/qel_driver.h"  // driver_file_alloc
#include "ruvezor/util/qel_log.h"

// ---- types and module state ------------------------------------------------------

struct _SdlAudioData {
  SDL_AudioSpec mix_spec;              // how sources are stored and mixed
  SDL_AudioSpec want_spec;             // what the device is asked for
  SDL_AudioSpec got_spec;              // what the device granted
  std::vector<AudioSource*> sources;   // index = source id; [0] is always null
  std::vector<AudioPlaying> playing;   // mixed in this order
  float gain;                          // limiter's last peak; 1.0 when quiet
  int memused;                         // bytes held by loaded sources
  bool sdl_init;                       // our SDL_Init(AUDIO) to balance at stop
};

static _SdlAudioData* _audio = nullptr;  // null while audio is off

// Loaded sounds stay for the whole run, as floats at the mix rate: 344 KB a
// second whatever the file held. A mod may name thousands of sounds, and a
// file of a few KB may claim a rate of 1 Hz (each of its samples becomes
// 44100) or hold an hour of silence: a sound that would take what loaded
// sounds hold past this is refused (about 13 minutes of sound in all).
static const int64_t _AUDIO_MEM_MAX = 256LL << 20;

// Sounds playing at once. Every instance is mixed in every buffer: a long
// sound played every frame (by mistake or not) piled up tens of thousands
// until the mixer thread could no longer keep up. Past this the oldest sound
// that does not loop makes way for the new one.
static const size_t _AUDIO_PLAYING_MAX = 256;

// ---- module-internal ---------------------------------------------------------------

static void _driver_audio_memused_add(int bytes) {
  if (!_audio) return;
  _audio->memused += bytes;
  qel_log("_mixer->memused: %.2fM\n", _audio->memused / 1048576.0);
}

static bool _driver_audio_valid(int id) {
  return _audio && id > 0 && id < (int)_audio->sources.size() && _audio->sources[id];
}

// Removes every instance of source id, keeping the others in order.
// Caller holds the lock.
static void _driver_audio_remove(int id) {
  auto& p = _audio->playing;
  for (int i = (int)p.size() - 1; i >= 0; i--)
    if (p[i].source == id) p.erase(p.begin() + i);
}

static int _driver_audio_add_source(AudioSource* src) {
  SDL_LockAudio();
  _audio->sources.push_back(src);
  int id = (int)_audio->sources.size() - 1;
  SDL_UnlockAudio();
  return id;
}

// The conversion of (format, channels, rate) audio to the mix format; false
// when SDL can't make one.
static bool _driver_audio_cvt(SDL_AudioCVT* cvt, SDL_AudioFormat format, int channels, int rate) {
  const SDL_AudioSpec& mix = _audio->mix_spec;
  return channels >= 1 && channels <= 255 &&
         SDL_BuildAudioCVT(cvt, format, (Uint8)channels, rate, mix.format, mix.channels, mix.freq) >= 0;
}

// Bytes of input to cvt that loaded sounds still have room for once
// converted, and never more than that room itself.
static int64_t _driver_audio_room(const SDL_AudioCVT& cvt) {
  double ratio = cvt.needed && cvt.len_ratio > 0 ? cvt.len_ratio : 1.0;
  int64_t left = _AUDIO_MEM_MAX - _audio->memused;
  if (left <= 0) return 0;
  return ratio < 1 ? left : (int64_t)((double)left / ratio);
}

static void _driver_audio_refused() {
  qel_log("_mixer: sound refused: loaded sounds would take more than %d MB\n", (int)(_AUDIO_MEM_MAX >> 20));
}

// Converts len bytes of (format, channels, rate) audio to the mix format and
// wraps it as a memory source; null when SDL can't convert it or it does
// not fit what loaded sounds may hold.
static AudioSource* _driver_audio_convert(SDL_AudioFormat format, int channels, int rate,
                                          const Uint8* buf, Uint32 len) {
  SDL_AudioCVT cvt;
  if (!_driver_audio_cvt(&cvt, format, channels, rate)) return nullptr;
  if ((int64_t)len > _driver_audio_room(cvt)) {
    _driver_audio_refused();
    return nullptr;
  }
  // Both the source size and the worst-case converted size must fit an int.
  if (len == 0 || (uint64_t)len * (uint64_t)cvt.len_mult > (uint64_t)INT_MAX) return nullptr;
  cvt.len = (int)len;
  cvt.buf = (Uint8*)malloc((size_t)len * (size_t)cvt.len_mult);
  if (!cvt.buf) return nullptr;
  memcpy(cvt.buf, buf, len);
  if (cvt.needed && SDL_ConvertAudio(&cvt) < 0) {
    free(cvt.buf);
    return nullptr;
  }
  int count = (cvt.needed ? cvt.len_cvt : cvt.len) / 4;
  if (count <= 0) {
    free(cvt.buf);
    return nullptr;
  }
  int bytes = count * 4;
  float* data = (float*)realloc(cvt.buf, (size_t)bytes);  // drop the conversion headroom
  if (!data) data = (float*)cvt.buf;
  AudioSourceMemory* src = new AudioSourceMemory(data, count, bytes);
  _driver_audio_memused_add(bytes);
  return src;
}

static AudioSource* _sample_load_wav(const char* path) {
  SDL_AudioSpec wav;
  Uint8* buf = nullptr;
  Uint32 len = 0;
  // Read as any other file is: a FIFO or a device in a sound's place is
  // refused instead of holding the game.
  int size = 0;
  void* file = driver_file_alloc(path, &size);
  SDL_RWops* rw = file ? SDL_RWFromConstMem(file, size) : nullptr;
  AudioSource* src = nullptr;
  if (rw && SDL_LoadWAV_RW(rw, 1, &wav, &buf, &len)) {
    src = _driver_audio_convert(wav.format, wav.channels, wav.freq, buf, len);
    SDL_FreeWAV(buf);
  }
  free(file);
  if (!src) qel_log("_mixer: error in _sample_load_wav '%s'\n", path);
  return src;
}

static AudioSource* _sample_load_ogg(const char* path) {
  int len = 0;
  unsigned char* file = (unsigned char*)driver_file_alloc(path, &len);
  if (!file) {
    qel_log("_mixer: error in _sample_load_ogg '%s' (driver_file_alloc)\n", path);
    return nullptr;
  }
  int err = 0;
  stb_vorbis* v = stb_vorbis_open_memory(file, len, &err, nullptr);
  if (!v) {
    free(file);
    qel_log("_mixer: error in _sample_load_ogg '%s' (stb_vorbis_decode_memory)\n", path);
    return nullptr;
  }
  stb_vorbis_info vi = stb_vorbis_get_info(v);
  int channels = vi.channels, rate = (int)vi.sample_rate;
  // Decoded a piece at a time, and no further than the loaded sounds have
  // room for: a small file may decode to hours.
  SDL_AudioCVT cvt;
  int64_t room = _driver_audio_cvt(&cvt, AUDIO_S16LSB, channels, rate) ? _driver_audio_room(cvt) : -1;
  std::vector<short> pcm;
  short piece[4096];
  bool fits = room >= 0;
  while (fits) {
    int frames = stb_vorbis_get_samples_short_interleaved(v, channels, piece, 4096);
    if (frames <= 0) break;
    size_t n = (size_t)frames * (size_t)channels;
    fits = (int64_t)((pcm.size() + n) * 2) <= room;
    if (fits) pcm.insert(pcm.end(), piece, piece + n);
  }
  stb_vorbis_close(v);
  free(file);
  AudioSource* src = nullptr;
  if (room >= 0 && !fits) {
    _driver_audio_refused();
    qel_log("_mixer: error in _sample_load_ogg '%s' (too long)\n", path);
  } else if (room >= 0 && pcm.empty()) {
    qel_log("_mixer: error in _sample_load_ogg '%s' (stb_vorbis_decode_memory)\n", path);
  } else {
    if (room >= 0)
      src = _driver_audio_convert(AUDIO_S16LSB, channels, rate, (const Uint8*)pcm.data(), (Uint32)(pcm.size() * 2));
    if (!src) qel_log("_mixer: error in _sample_load_ogg '%s' (SDL_BuildAudioCVT)\n", path);
  }
  return src;
}

// Adds one instance's k floats from s into m, ramping from cur_volume to t.
static void _driver_audio_mix(AudioPlaying& p, const float* s, int k, float* m, float t) {
  float c = p.cur_volume;
  if (k > 0) {
    if (c == 0.0f && t == 0.0f) {
    } else if (c == 1.0f && t == 1.0f) {
      for (int i = 0; i < k; i++) m[i] += s[i];
    } else if (c == t) {
      for (int i = 0; i < k; i++) m[i] += s[i] * c;
    } else {
      float step = (t - c) / k, v = c;
      for (int i = 0; i < k; i++) {
        m[i] += s[i] * v;
        v += step;
      }
    }
  }
  p.cur_volume = t;
}

// ---- sources -------------------------------------------------------------------

int AudioSource::get_length() { return 0; }
int AudioSource::get_samples(int pos, int n, float* out) { return 0; }
bool AudioSource::load() { return true; }
void AudioSource::unload() {}
AudioSource::~AudioSource() {}

AudioSourceMemory::AudioSourceMemory(float* data_, int count_, int bytes_)
    : count(count_), data(data_), bytes(bytes_) {}

int AudioSourceMemory::get_length() { return count; }

int AudioSourceMemory::get_samples(int pos, int n, float* out) {
  if (pos < 0 || pos >= count || n <= 0) return 0;
  int k = n < count - pos ? n : count - pos;
  memcpy(out, data + pos, (size_t)k * sizeof(float));
  return k;
}

AudioSourceMemory::~AudioSourceMemory() {
  free(data);
  _driver_audio_memused_add(-bytes);
}

AudioSourceVorbis::AudioSourceVorbis(const char* p)
    : vorbis(nullptr), info(), file(nullptr), length(0), bytes(0) {
  snprintf(path, sizeof(path), "%s", p ? p : "");
}

int AudioSourceVorbis::get_length() { return vorbis ? length : 0; }

int AudioSourceVorbis::get_samples(int pos, int n, float* out) {
  if (!vorbis) return 0;
  int m = n < length - pos ? n : length - pos;
  if (m <= 0) return 0;
  if (pos == 0) stb_vorbis_seek_start(vorbis);
  int frames = stb_vorbis_get_samples_float_interleaved(vorbis, 2, out, m);
  // Only what the decoder really produced is handed out: a damaged file
  // mixes silence, never stale buffer contents.
  int got = frames * 2;
  if (got < 0) got = 0;
  if (got > m) got = m;
  if (info.channels == 1)
    for (int i = 0; i + 1 < got; i += 2) out[i + 1] = out[i];
  return got;
}

bool AudioSourceVorbis::load() {
  if (vorbis) return true;
  qel_log("_mixer: AudioSourceVorbis.load '%s' ...\n", path);
  int len = 0;
  file = (unsigned char*)driver_file_alloc(path, &len);
  if (!file) {
    qel_log("_mixer: error in _stream_load_ogg '%s' (driver_file_alloc)\n", path);
    return false;
  }
  int err = 0;
  vorbis = stb_vorbis_open_memory(file, len, &err, nullptr);
  if (!vorbis) {
    free(file);
    file = nullptr;
    qel_log("_mixer: error in _stream_load_ogg '%s' (stb_vorbis_open_memory)\n", path);
    return false;
  }
  bytes = len;
  _driver_audio_memused_add(bytes);
  stb_vorbis_info vi = stb_vorbis_get_info(vorbis);
  info.sample_rate = vi.sample_rate;
  info.channels = vi.channels;
  info.setup_memory_required = vi.setup_memory_required;
  info.setup_temp_memory_required = vi.setup_temp_memory_required;
  info.temp_memory_required = vi.temp_memory_required;
  info.max_frame_size = vi.max_frame_size;
  unsigned int frames = stb_vorbis_stream_length_in_samples(vorbis);
  // Kept well below INT_MAX so the read position can't overflow past the end.
  const unsigned int max_frames = INT_MAX / 4;
  length = (int)(frames > max_frames ? max_frames : frames) * 2;
  return true;
}

void AudioSourceVorbis::unload() {
  if (!vorbis) return;
  qel_log("_mixer: AudioSourceVorbis.unload '%s' ...\n", path);
  stb_vorbis_close(vorbis);
  vorbis = nullptr;
  free(file);
  file = nullptr;
  _driver_audio_memused_add(-bytes);
  bytes = 0;
}

AudioSourceVorbis::~AudioSourceVorbis() { unload(); }

AudioSourceCallback::AudioSourceCallback(AudioCallback* cb_) : cb(cb_) {}
int AudioSourceCallback::get_length() { return 1; }
int AudioSourceCallback::get_samples(int pos, int n, float* out) { return cb ? cb->fill(out, n) : 0; }
AudioSourceCallback::~AudioSourceCallback() { delete cb; }

// ---- start and stop ------------------------------------------------------------------

void _driver_audio_open() {
  if (_audio) return;
  _SdlAudioData* a = new _SdlAudioData();
  a->sdl_init = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  a->sources.push_back(nullptr);
  a->gain = 1.0f;
  a->memused = 0;
  SDL_zero(a->mix_spec);
  a->mix_spec.freq = 44100;
  a->mix_spec.format = AUDIO_F32LSB;
  a->mix_spec.channels = 2;
  a->want_spec = a->mix_spec;
  a->want_spec.samples = 1024;
  a->want_spec.callback = _driver_audio_callback;
  a->want_spec.userdata = nullptr;
  SDL_zero(a->got_spec);

  _audio = a;  // the callback may run as soon as the device opens
  if (SDL_OpenAudio(&a->want_spec, &a->got_spec) != 0) {
    qel_log("_mixer: error in audio_init - %s\n", SDL_GetError());
    _audio = nullptr;
    if (a->sdl_init) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    delete a;
    return;
  }
  qel_log("_mixer: freq=%d, channels=%d, samples=%d\n", a->got_spec.freq, a->got_spec.channels,
          a->got_spec.samples);
  qel_log("_mixer: audio_init: OK\n");
  SDL_PauseAudio(0);
}

void _driver_audio_close() {
  if (!_audio) return;
  qel_log("_mixer: audio_deinit ...\n");
  SDL_CloseAudio();  // stops the callback before anything is freed
  for (int i = (int)_audio->sources.size() - 1; i >= 1; i--) {
    delete _audio->sources[i];
    _audio->sources[i] = nullptr;
  }
  bool quit = _audio->sdl_init;
  delete _audio;
  _audio = nullptr;
  if (quit) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  qel_log("_mixer: audio_deinit: OK\n");
}

// ---- the mixer callback -----------------------------------------------------------

void _driver_audio_normalize(float* buf, int n) {
  if (!_audio || n <= 0) return;
  float peak = 1.0f;
  for (int i = 0; i < n; i++) peak = fmaxf(peak, fabsf(buf[i]));
  float start = fmaxf(peak, _audio->gain);
  if (start == 1.0f && peak == 1.0f) {
  } else if (peak == start) {
    // The level rose (or stayed). The last buffer ended at a factor of
    // 1 / gain: dropping to 1 / peak at once stepped everything already
    // playing (the music) down at the buffer's edge, and it clicked. The
    // factor instead glides down until the first value that the old factor
    // would push past 1.0; from there on 1 / peak keeps the buffer in range,
    // and before it the gliding factor is never above the old one.
    float old = _audio->gain, f0 = 1.0f / old, f1 = 1.0f / peak;
    int over = 0;
    while (over < n && fabsf(buf[over]) <= old) over++;
    for (int i = 0; i < over; i++) buf[i] *= f0 + (f1 - f0) * ((float)i / (float)over);
    for (int i = over; i < n; i++) buf[i] *= f1;
  } else {
    float f = 1.0f / start, step = (1.0f / peak - 1.0f / start) / n;
    for (int i = 0; i < n; i++) {
      buf[i] *= f;
      f += step;
    }
  }
  _audio->gain = peak;
}

void _driver_audio_callback(void* userdata, Uint8* stream, int len) {
  _SdlAudioData* a = _audio;
  if (!a || len <= 0) {
    if (len > 0) memset(stream, 0, (size_t)len);
    return;
  }
  const SDL_AudioSpec& mix = a->mix_spec;
  const SDL_AudioSpec& got = a->got_spec;
  SDL_AudioCVT cvt;
  if (SDL_BuildAudioCVT(&cvt, mix.format, mix.channels, mix.freq, got.format, got.channels,
                        got.freq) < 0) {
    memset(stream, got.silence, (size_t)len);
    return;
  }
  double ratio = cvt.len_ratio > 0 ? cvt.len_ratio : 1.0;
  int n = 2 * (int)ceil((len / ratio) / 4.0 * 0.5);

  float* m = nullptr;
  float* s = nullptr;
  auto& pl = a->playing;
  for (int i = (int)pl.size() - 1; i >= 0; i--) {
    AudioPlaying& p = pl[i];
    if (!p.started) {
      // A new instance starts at its volume without a ramp; one paused
      // before it was ever heard stays unheard.
      p.started = 1;
      p.cur_volume = p.paused ? 0.0f : p.volume;
    }
    // A paused instance first fades out over one buffer (cut off mid-wave
    // it popped) and is skipped from then on, its position kept; on resume
    // it ramps up again from 0.
    if (p.paused && p.cur_volume == 0.0f) continue;
    if (!m) {
      m = (float*)calloc((size_t)n, sizeof(float));
      s = (float*)calloc((size_t)n, sizeof(float));
      if (!m || !s) break;
    }
    AudioSource* src = (p.source > 0 && p.source < (int)a->sources.size()) ? a->sources[p.source] : nullptr;
    int len = src ? src->get_length() : 0;
    int k = src ? src->get_samples(p.pos, n, s) : 0;
    if (k < 0) k = 0;
    if (k > n) k = n;
    int next = p.pos + n;
    // A loop that ends inside this buffer goes on from its start in the
    // same buffer: left silent, the rest of the buffer was a gap of up to
    // 23 ms at every loop point, and the music stumbled each time round.
    if (p.loop && src && len > 0 && k < n && p.pos + k >= len) {
      next = 0;
      while (k < n) {
        int r = src->get_samples(next, n - k, s + k);
        if (r <= 0) break;
        if (r > n - k) r = n - k;
        k += r;
        next += r;
        if (next >= len) next = 0;
      }
    }
    _driver_audio_mix(p, s, k, m, p.paused ? 0.0f : p.volume);
    p.pos = next;
    if (!src || p.pos >= len) {
      if (p.loop && src)
        p.pos = 0;
      else
        pl.erase(pl.begin() + i);
    }
  }
  if (!m || !s) {
    free(m);
    free(s);
    memset(stream, 0, (size_t)len);
    a->gain = 1.0f;
    return;
  }
  _driver_audio_normalize(m, n);
  int mult = cvt.len_mult > 0 ? cvt.len_mult : 1;
  Uint8* buf = (Uint8*)malloc((size_t)n * 4 * (size_t)mult);
  if (buf) {
    memcpy(buf, m, (size_t)n * 4);
    cvt.buf = buf;
    cvt.len = n * 4;
    int have = n * 4;
    if (cvt.needed) have = SDL_ConvertAudio(&cvt) == 0 ? cvt.len_cvt : 0;
    int copy = have < len ? have : len;
    memcpy(stream, buf, (size_t)copy);
    if (copy < len) memset(stream + copy, got.silence, (size_t)(len - copy));
  } else {
    memset(stream, got.silence, (size_t)len);
  }
  free(buf);
  free(m);
  free(s);
}

// ---- public operations ---------------------------------------------------------

int driver_audio_sample_load(const char* path) {
  if (!_audio || !path) return 0;
  AudioSource* src = strstr(path, ".ogg") ? _sample_load_ogg(path) : _sample_load_wav(path);
  if (!src) return 0;
  int id = _driver_audio_add_source(src);
  qel_log("_mixer: sample_load %d (%s)\n", id, path);
  return id;
}

// Ogg music, handed out as it decodes. One made for another rate than the
// mix (48000 Hz, 22050 Hz) is converted to the mix rate on the way, a piece
// at a time: decoded whole it would hold minutes of floats for the whole
// run, each track its own, and a few tracks would leave no room for any sound.
class _AudioSourceVorbisAtRate : public AudioSourceVorbis {
 public:
  explicit _AudioSourceVorbisAtRate(const char* p) : AudioSourceVorbis(p) {}
  int get_length() override {
    if (!conv) return AudioSourceVorbis::get_length();
    int64_t frames = (int64_t)(length / 2) * _audio->mix_spec.freq / (int64_t)info.sample_rate;
    return (int)std::min<int64_t>(frames, INT_MAX / 4) * 2;
  }
  int get_samples(int pos, int n, float* out) override {
    if (!conv) return AudioSourceVorbis::get_samples(pos, n, out);
    if (n <= 0) return 0;
    if (pos == 0) {
      SDL_AudioStreamClear(conv);
      read = 0;
      flushed = false;
    }
    float piece[4096];
    while (!flushed && SDL_AudioStreamAvailable(conv) < n * (int)sizeof(float)) {
      int got = AudioSourceVorbis::get_samples(read, 4096, piece);
      if (got <= 0 || SDL_AudioStreamPut(conv, piece, got * (int)sizeof(float)) != 0) {
        SDL_AudioStreamFlush(conv);
        flushed = true;
        break;
      }
      read += got;
    }
    int bytes = SDL_AudioStreamGet(conv, out, n * (int)sizeof(float));
    return bytes > 0 ? bytes / (int)sizeof(float) : 0;
  }
  bool load() override {
    if (!AudioSourceVorbis::load()) return false;
    const SDL_AudioSpec& mix = _audio->mix_spec;
    if (conv || (int)info.sample_rate == mix.freq) return true;
    // A file may claim any rate: one of a few Hz would have the converter
    // make minutes of sound from each piece, in the mixer's lock.
    if (info.sample_rate < 8000 || info.sample_rate > 192000) {
      qel_log("_mixer: error in _stream_load_ogg '%s' (a rate of %u Hz)\n", path, info.sample_rate);
      AudioSourceVorbis::unload();
      return false;
    }
    conv = SDL_NewAudioStream(AUDIO_F32SYS, 2, (int)info.sample_rate, mix.format, mix.channels, mix.freq);
    if (!conv) qel_log("_mixer: error in _stream_load_ogg '%s' (SDL_NewAudioStream)\n", path);
    return conv != nullptr;
  }
  void unload() override {
    if (conv) SDL_FreeAudioStream(conv);
    conv = nullptr;
    AudioSourceVorbis::unload();
  }
  ~_AudioSourceVorbisAtRate() override { unload(); }

 private:
  SDL_AudioStream* conv = nullptr;  // file rate to mix rate, while loaded; none at the mix rate
  int read = 0;                     // floats taken from the decoder since the start
  bool flushed = false;             // the decoder's end has gone into conv
};

int driver_audio_stream_load(const char* path, bool flag) {
  if (!_audio || !path) return 0;
  AudioSource* src = strstr(path, ".ogg") ? new _AudioSourceVorbisAtRate(path) : _sample_load_wav(path);
  if (!src) return 0;
  int id = _driver_audio_add_source(src);
  qel_log("_mixer: stream_load %d (%s)\n", id, path);
  return id;
}

void driver_audio_sample_play(int id, float volume, float pan) {
  if (!_driver_audio_valid(id)) return;
  SDL_LockAudio();
  auto& p = _audio->playing;
  if (p.size() >= _AUDIO_PLAYING_MAX) {
    auto oldest = std::find_if(p.begin(), p.end(), [](const AudioPlaying& q) { return !q.loop; });
    if (oldest == p.end()) {  // all loops: music and callbacks stay
      SDL_UnlockAudio();
      return;
    }
    p.erase(oldest);
  }
  p.push_back(AudioPlaying{id, volume, pan, 0.0f, 0, 0, 0, 0});
  SDL_UnlockAudio();
}

void driver_audio_stream_play(int id, float volume, float pan) {
  if (!_driver_audio_valid(id)) return;
  qel_log("_mixer: stream_play %d\n", id);
  SDL_LockAudio();
  _driver_audio_remove(id);
  SDL_UnlockAudio();
  _audio->sources[id]->load();  // outside the lock: reads and opens the file
  SDL_LockAudio();
  _audio->playing.push_back(AudioPlaying{id, volume, 0.0f, 0.0f, 0, 0, 1, 0});
  SDL_UnlockAudio();
}

void driver_audio_stream_stop(int id) {
  if (!_driver_audio_valid(id)) return;
  qel_log("_mixer: stream_stop\n");
  SDL_LockAudio();
  _driver_audio_remove(id);
  SDL_UnlockAudio();
  _audio->sources[id]->unload();  // the mixer no longer reads it
}

void driver_audio_stream_pause(int id, int paused) {
  if (!_driver_audio_valid(id)) return;
  qel_log("_mixer: stream_pause\n");
  SDL_LockAudio();
  for (auto& p : _audio->playing)
    if (p.source == id) p.paused = paused;
  SDL_UnlockAudio();
}

void driver_audio_stream_volume(int id, float volume) {
  if (!_driver_audio_valid(id)) return;
  SDL_LockAudio();
  for (auto& p : _audio->playing)
    if (p.source == id) p.volume = volume;
  SDL_UnlockAudio();
}

int driver_audio_callback_add(AudioCallback* cb, float volume) {
  if (!_audio || !cb) return 0;
  SDL_LockAudio();
  _audio->sources.push_back(new AudioSourceCallback(cb));
  int id = (int)_audio->sources.size() - 1;
  _audio->playing.push_back(AudioPlaying{id, volume, 0.0f, 0.0f, 0, 0, 1, 0});
  SDL_UnlockAudio();
  return id;
}

void driver_audio_lock() {
  if (_audio) SDL_LockAudio();
}

void driver_audio_unlock() {
  if (_audio) SDL_UnlockAudio();
}

void driver_audio_sample_reload(int id) {}
void driver_audio_stream_reload(int id) {}
void driver_audio_loop() {}

bool _driver_audio_running() { return _audio != nullptr; }

int _driver_audio_playing(AudioPlaying* out, int cap) {
  if (!_audio) return 0;
  SDL_LockAudio();
  int n = (int)_audio->playing.size();
  for (int i = 0; i < n && i < cap; i++) out[i] = _audio->playing[i];
  SDL_UnlockAudio();
  return n;
}

float _driver_audio_gain() { return _audio ? _audio->gain : 1.0f; }
int _driver_audio_memused() { return _audio ? _audio->memused : 0; }

// driver_init and driver_deinit start and stop audio through these.
void _driver_audio_init() { _driver_audio_open(); }
void _driver_audio_deinit() { _driver_audio_close(); }
