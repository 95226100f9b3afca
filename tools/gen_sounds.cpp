// gen_sounds: synthesises the game's effect sounds and music loops.
//
//   gen_sounds [out_dir]      (default "data")
//
// Effects are 16-bit mono WAV at 22050 Hz ("sfx-click", "sfx-ping", "sfx-hit",
// "sfx-explode", "sfx-kazoo"); the loader converts them to the mix format.
// "mus-galaxy" is a WAV loop. "mus-menu" is a loop streamed as Ogg Vorbis:
// its WAV is made at 44100 Hz (streams play at the mix rate unconverted) and
// handed to oggenc when that is installed; the WAV is then removed so the
// sound lookup, which tries ".wav" before ".ogg", finds the stream.
//
// WAV layout (little-endian): "RIFF", u32 size-8, "WAVE", "fmt ", u32 16,
// u16 format 1 (PCM), u16 channels, u32 rate, u32 bytes/s, u16 block align,
// u16 bits 16, "data", u32 data bytes, then the samples.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

struct Noise {  // xorshift: the same sounds on every run
  uint32_t s = 0x12345678u;
  double next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return (s / 4294967295.0) * 2.0 - 1.0;
  }
};

void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(v & 255);
  b.push_back((v >> 8) & 255);
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, v & 0xffff);
  put16(b, v >> 16);
}
void puttag(std::vector<uint8_t>& b, const char* t) { b.insert(b.end(), t, t + 4); }

bool write_wav(const std::string& path, const std::vector<double>& x, int rate) {
  std::vector<uint8_t> b;
  uint32_t data = (uint32_t)x.size() * 2;
  puttag(b, "RIFF");
  put32(b, 36 + data);
  puttag(b, "WAVE");
  puttag(b, "fmt ");
  put32(b, 16);
  put16(b, 1);
  put16(b, 1);
  put32(b, rate);
  put32(b, rate * 2);
  put16(b, 2);
  put16(b, 16);
  puttag(b, "data");
  put32(b, data);
  for (double v : x) {
    double c = v < -1 ? -1 : v > 1 ? 1 : v;
    put16(b, (uint16_t)(int16_t)lrint(c * 32767));
  }
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    fprintf(stderr, "gen_sounds: can't write %s\n", path.c_str());
    return false;
  }
  bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
  ok = fclose(f) == 0 && ok;
  printf("%s: %zu bytes\n", path.c_str(), b.size());
  return ok;
}

// Scales so the loudest sample sits at peak.
void normalise(std::vector<double>& x, double peak) {
  double m = 1e-9;
  for (double v : x) m = std::fmax(m, std::fabs(v));
  for (double& v : x) v *= peak / m;
}

// A short attack so no effect starts with a click of its own.
double attack(double t, double len) { return t < len ? t / len : 1.0; }

// And a short release so none ends with one: cut off mid-wave, "hit"
// stopped at -0.015 and "kazoo" at 0.026 of full scale.
std::vector<double> release(std::vector<double> x, int rate) {
  size_t len = (size_t)(0.005 * rate);
  if (len > x.size()) len = x.size();
  for (size_t i = 0; i < len; i++) x[x.size() - 1 - i] *= (double)i / len;
  return x;
}

std::vector<double> click(int rate) {
  Noise nz;
  std::vector<double> x((size_t)(0.05 * rate));
  for (size_t i = 0; i < x.size(); i++) {
    double t = (double)i / rate;
    x[i] = (0.6 * std::sin(2 * kPi * 2200 * t) + 0.4 * nz.next()) * std::exp(-t * 120) *
           attack(t, 0.001);
  }
  normalise(x, 0.7);
  return x;
}

std::vector<double> ping(int rate) {
  std::vector<double> x((size_t)(0.6 * rate));
  for (size_t i = 0; i < x.size(); i++) {
    double t = (double)i / rate;
    x[i] = (std::sin(2 * kPi * 1320 * t) + 0.3 * std::sin(2 * kPi * 2640 * t) +
            0.1 * std::sin(2 * kPi * 3960 * t)) *
           std::exp(-t * 7) * attack(t, 0.003);
  }
  normalise(x, 0.6);
  return x;
}

std::vector<double> hit(int rate) {
  Noise nz;
  std::vector<double> x((size_t)(0.18 * rate));
  double phase = 0, lp = 0;
  for (size_t i = 0; i < x.size(); i++) {
    double t = (double)i / rate;
    double f = 60 + 180 * std::exp(-t * 30);  // pitch drops into a thump
    phase += 2 * kPi * f / rate;
    lp += 0.3 * (nz.next() - lp);
    x[i] = (std::sin(phase) + 0.5 * lp * std::exp(-t * 60)) * std::exp(-t * 22) * attack(t, 0.002);
  }
  normalise(x, 0.8);
  return x;
}

std::vector<double> explode(int rate) {
  Noise nz;
  std::vector<double> x((size_t)(1.2 * rate));
  double lp1 = 0, lp2 = 0, phase = 0;
  for (size_t i = 0; i < x.size(); i++) {
    double t = (double)i / rate;
    double cut = 0.02 + 0.35 * std::exp(-t * 5);  // darker as it dies away
    lp1 += cut * (nz.next() - lp1);
    lp2 += cut * (lp1 - lp2);
    phase += 2 * kPi * (45 + 30 * std::exp(-t * 8)) / rate;
    x[i] = (3.0 * lp2 + 0.5 * std::sin(phase)) * std::exp(-t * 3.2) * attack(t, 0.004);
  }
  normalise(x, 0.9);
  return x;
}

// A buzzing reed sliding down in three sad steps.
std::vector<double> kazoo(int rate) {
  std::vector<double> x((size_t)(1.1 * rate));
  const double notes[4] = {392.0, 370.0, 349.2, 329.6};
  double phase = 0, lp = 0;
  for (size_t i = 0; i < x.size(); i++) {
    double t = (double)i / rate;
    int k = t < 0.22 ? 0 : t < 0.44 ? 1 : t < 0.66 ? 2 : 3;
    double f = notes[k] * (1 + 0.012 * std::sin(2 * kPi * 6 * t) * (k == 3 ? 2 : 1));
    if (k == 3) f *= 1 - 0.04 * (t - 0.66);
    phase += f / rate;
    phase -= std::floor(phase);
    double saw = 2 * phase - 1;
    lp += 0.25 * (saw - lp);
    double seg = k < 3 ? std::fmod(t, 0.22) : t - 0.66;
    double env = attack(seg, 0.02) * (k < 3 ? (seg > 0.19 ? (0.22 - seg) / 0.03 : 1.0)
                                            : std::exp(-seg * 3));
    x[i] = (0.7 * lp + 0.3 * saw) * env;
  }
  normalise(x, 0.6);
  return x;
}

// Two bars at 120 bpm: an arpeggio over a bass line. Every note decays to
// nothing within its beat, so the loop joins without a seam.
std::vector<double> music(int rate, const int* arp, const int* bass, double bright) {
  const double beat = 0.5;
  const int beats = 8;
  std::vector<double> x((size_t)(beats * beat * rate));
  auto freq = [](int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); };
  for (int b = 0; b < beats; b++) {
    for (int half = 0; half < 2; half++) {  // two arpeggio notes per beat
      double f = freq(arp[(b * 2 + half) % 16]);
      size_t s0 = (size_t)((b * beat + half * beat / 2) * rate);
      size_t len = (size_t)(beat / 2 * rate);
      for (size_t i = 0; i < len && s0 + i < x.size(); i++) {
        double t = (double)i / rate;
        double tri = 2 * std::fabs(2 * std::fmod(f * t, 1.0) - 1) - 1;
        double env = attack(t, 0.005) * std::exp(-t * 9) * (1 - (double)i / len);
        x[s0 + i] += 0.35 * (tri + bright * std::sin(4 * kPi * f * t)) * env;
      }
    }
    double fb = freq(bass[b % 8]);
    size_t s0 = (size_t)(b * beat * rate);
    size_t len = (size_t)(beat * rate);
    for (size_t i = 0; i < len && s0 + i < x.size(); i++) {
      double t = (double)i / rate;
      double env = attack(t, 0.01) * std::exp(-t * 4) * (1 - (double)i / len);
      x[s0 + i] += 0.5 * std::sin(2 * kPi * fb * t) * env;
    }
  }
  normalise(x, 0.5);
  return x;
}

bool have_oggenc() { return system("command -v oggenc >/dev/null 2>&1") == 0; }

}  // namespace

int main(int argc, char** argv) {
  std::string out = argc > 1 ? argv[1] : "data";
  const int fx = 22050;
  bool ok = true;
  ok &= write_wav(out + "/sfx-click.wav", release(click(fx), fx), fx);
  ok &= write_wav(out + "/sfx-ping.wav", release(ping(fx), fx), fx);
  ok &= write_wav(out + "/sfx-hit.wav", release(hit(fx), fx), fx);
  ok &= write_wav(out + "/sfx-explode.wav", release(explode(fx), fx), fx);
  ok &= write_wav(out + "/sfx-kazoo.wav", release(kazoo(fx), fx), fx);

  const int galaxy_arp[16] = {57, 60, 64, 69, 57, 60, 64, 67, 53, 57, 60, 65, 55, 59, 62, 67};
  const int galaxy_bass[8] = {45, 45, 45, 45, 41, 41, 43, 43};
  ok &= write_wav(out + "/mus-galaxy.wav", music(fx, galaxy_arp, galaxy_bass, 0.1), fx);

  const int menu_arp[16] = {60, 64, 67, 72, 60, 64, 67, 71, 57, 60, 64, 69, 53, 57, 60, 65};
  const int menu_bass[8] = {48, 48, 48, 48, 45, 45, 41, 43};
  std::string menu = out + "/mus-menu";
  bool ogg = have_oggenc();
  int menu_rate = ogg ? 44100 : fx;  // a kept WAV may be small; a stream must be 44100 Hz
  ok &= write_wav(menu + ".wav", music(menu_rate, menu_arp, menu_bass, 0.25), menu_rate);
  if (ok && ogg) {
    std::string cmd = "oggenc -Q -q 1 -s 2026 -o \"" + menu + ".ogg\" \"" + menu + ".wav\"";
    if (system(cmd.c_str()) == 0) {
      remove((menu + ".wav").c_str());
      printf("%s.ogg: encoded\n", menu.c_str());
    } else {
      fprintf(stderr, "gen_sounds: oggenc failed; keeping %s.wav\n", menu.c_str());
    }
  } else if (ok) {
    printf("oggenc not found: %s.wav stays a WAV loop\n", menu.c_str());
  }
  return ok ? 0 : 1;
}
