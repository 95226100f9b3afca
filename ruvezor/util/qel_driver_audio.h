// qel_driver_audio: the audio part of the platform driver.
//
// One SDL audio device; every playing sound is mixed here, in 32-bit float
// stereo at 44100 Hz, on SDL's audio thread. Sources live in one table
// (index = source id, 0 is always empty): samples decoded whole into memory
// (WAV through SDL, Ogg Vorbis through stb_vorbis) and Ogg music decoded
// while it plays. Each playing instance has its own volume, ramped over one
// buffer when it changes; the sum passes a soft limiter that keeps it in
// [-1, 1]. While audio is not running every operation is a no-op returning 0.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <cstddef>

// Something that fills float buffers on demand (in the mix format).
class AudioCallback {
 public:
  // Writes n floats to out, returns how many it wrote.
  virtual int fill(float* out, int n) = 0;
  virtual ~AudioCallback() {}
};

// Sound data in the mix format; positions and lengths count floats
// (a stereo frame is two floats).
class AudioSource {
 public:
  virtual int get_length();
  virtual int get_samples(int pos, int n, float* out);
  virtual bool load();
  virtual void unload();
  virtual ~AudioSource();
};

class AudioSourceMemory : public AudioSource {
 public:
  AudioSourceMemory(float* data, int count, int bytes);  // takes data (malloc'd)
  int get_length() override;
  int get_samples(int pos, int n, float* out) override;
  ~AudioSourceMemory() override;

  int count;    // floats
  float* data;  // count floats
  int bytes;    // size of data for the memory count
};

struct stb_vorbis;

// Music: the compressed file is held in memory and decoded as it plays.
class AudioSourceVorbis : public AudioSource {
 public:
  explicit AudioSourceVorbis(const char* path);
  int get_length() override;
  int get_samples(int pos, int n, float* out) override;
  bool load() override;
  void unload() override;
  ~AudioSourceVorbis() override;

  char path[1024];
  stb_vorbis* vorbis;  // open decoder, null until loaded
  struct {
    unsigned int sample_rate;
    int channels;
    unsigned int setup_memory_required;
    unsigned int setup_temp_memory_required;
    unsigned int temp_memory_required;
    int max_frame_size;
  } info;
  unsigned char* file;  // the whole compressed file
  int length;           // floats: frames x 2
  int bytes;            // file size
};

class AudioSourceCallback : public AudioSource {
 public:
  explicit AudioSourceCallback(AudioCallback* cb);  // takes cb
  int get_length() override;
  int get_samples(int pos, int n, float* out) override;
  ~AudioSourceCallback() override;

  AudioCallback* cb;
};

// One playing instance (eight 32-bit fields).
struct AudioPlaying {
  int32_t source;    // source id
  float volume;      // target volume, 1.0 = full
  float pan;         // kept, not applied
  float cur_volume;  // volume reached at the end of the last buffer
  int32_t started;   // 0 until the first buffer that sees it
  int32_t pos;       // read position in floats
  int32_t loop;      // 1: goes on from 0 at the end, in the same buffer; 0: removed at the end
  int32_t paused;    // 1: faded out over one buffer, then skipped, position kept
};
static_assert(sizeof(AudioPlaying) == 32);
static_assert(offsetof(AudioPlaying, cur_volume) == 12);
static_assert(offsetof(AudioPlaying, paused) == 28);

// Start and stop; the driver's audio entries call these.
void _driver_audio_open();
void _driver_audio_close();

int driver_audio_sample_load(const char* path);
int driver_audio_stream_load(const char* path, bool flag);
void driver_audio_sample_play(int id, float volume, float pan);
void driver_audio_stream_play(int id, float volume, float pan);
void driver_audio_stream_stop(int id);
void driver_audio_stream_pause(int id, int paused);
void driver_audio_stream_volume(int id, float volume);
int driver_audio_callback_add(AudioCallback* cb, float volume);
void driver_audio_lock();
void driver_audio_unlock();
void driver_audio_sample_reload(int id);
void driver_audio_stream_reload(int id);
void driver_audio_loop();

// The device callback and the limiter, exposed so the mix can be checked
// buffer by buffer.
void _driver_audio_callback(void* userdata, Uint8* stream, int len);
void _driver_audio_normalize(float* buf, int n);

// For tests and the log: whether audio runs, the playing list (copied under
// the lock), the limiter's gain and the bytes held by sources.
bool _driver_audio_running();
int _driver_audio_playing(AudioPlaying* out, int cap);
float _driver_audio_gain();
int _driver_audio_memused();
