// qel_gui: style sheets and their per-frame animation.
//
// The computed block moves a limited step per loop() toward the block the
// widget's state asks for, so hover and focus changes glide in over a few
// frames instead of jumping.
#include <cmath>     // std::trunc, std::fabs
#include <cstdint>
#include <cstring>   // memcpy

#include "ruvezor/util/qel_gui.h"

// How one word moves per loop().
enum : uint8_t {
  K_COPY,   // takes the target at once
  K_STEP1,  // integer, one unit per step
  K_STEP36, // integer, 36 units per step
  K_COLOR,  // each RGB channel 36 per step
  K_FLOAT,  // width and height: whole units, 1000 per step
};

static const uint8_t _style_kind[STYLE_WORDS] = {
    K_FLOAT, K_FLOAT,                        // width, height
    K_COPY, K_COPY, K_COPY,                  // clip, align, valign
    K_COLOR, K_STEP36,                       // color, alpha
    K_STEP1, K_STEP1, K_STEP1, K_STEP1,      // border
    K_COLOR,                                 // border_color
    K_STEP1, K_STEP1, K_STEP1, K_STEP1,      // padding
    K_STEP1, K_STEP1, K_STEP1, K_STEP1,      // margin
    K_COPY, K_COLOR, K_STEP36, K_STEP1, K_STEP1,  // bg_
    K_COPY, K_COLOR, K_STEP36, K_STEP1, K_STEP1,  // fg_
    K_COPY, K_COPY, K_COPY, K_COPY, K_COPY,  // sounds
};

static int32_t _unset_bits(int k) {
  if (k >= 2) return STYLE_UNSET;
  int32_t bits;
  float f = STYLE_UNSET_F;
  memcpy(&bits, &f, 4);
  return bits;
}

int32_t style_word_get(const StyleBlock& b, int k) {
  if (k < 0 || k >= STYLE_WORDS) return STYLE_UNSET;
  int32_t bits;
  memcpy(&bits, reinterpret_cast<const char*>(&b) + 4 * k, 4);
  return bits;
}

void style_word_set(StyleBlock& b, int k, int32_t bits) {
  if (k < 0 || k >= STYLE_WORDS) return;
  memcpy(reinterpret_cast<char*>(&b) + 4 * k, &bits, 4);
}

StyleSheet::StyleSheet() {
  for (auto& b : block)
    for (int k = 0; k < STYLE_WORDS; k++) style_word_set(b, k, _unset_bits(k));
}

int StyleSheet::i_prep(int cur, int target, int step) {
  // 64-bit: a distance between two 32-bit words may not fit in 32 bits
  int64_t d = (int64_t)target - cur;
  if ((d < 0 ? -d : d) < step) return target;
  return (int)(d > 0 ? (int64_t)cur + step : (int64_t)cur - step);
}

int StyleSheet::c_prep(int cur, int target, int step) {
  uint32_t out = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    int c = (int)(((uint32_t)cur >> shift) & 255);
    int t = (int)(((uint32_t)target >> shift) & 255);
    int v = (t - c < step && c - t < step) ? t : (t > c ? c + step : c - step);
    out |= (uint32_t)v << shift;
  }
  return (int)out;
}

static bool _word_is_set(int k, int32_t bits) { return bits != _unset_bits(k); }

static float _as_float(int32_t bits) {
  float f;
  memcpy(&f, &bits, 4);
  return f;
}

static int32_t _as_bits(float f) {
  int32_t bits;
  memcpy(&bits, &f, 4);
  return bits;
}

void StyleSheet::loop() {
  const StyleBlock* state_block = nullptr;
  if (vstate == 0 || vstate == 2 || vstate == 3 || vstate == 4) state_block = &block[vstate + 1];
  StyleBlock& cur = block[STYLE_COMPUTED];

  for (int k = 0; k < STYLE_WORDS; k++) {
    int32_t target;
    int32_t ov = style_word_get(block[STYLE_OVERRIDE], k);
    int32_t st = state_block ? style_word_get(*state_block, k) : _unset_bits(k);
    int32_t dec = style_word_get(block[STYLE_DECLARED], k);
    if (override_on == 1 && _word_is_set(k, ov)) target = ov;
    else if (_word_is_set(k, st)) target = st;
    else if (_word_is_set(k, dec)) target = dec;
    else continue;

    int32_t c = style_word_get(cur, k);
    if (!_word_is_set(k, c)) {
      style_word_set(cur, k, target);
      continue;
    }
    switch (_style_kind[k]) {
      case K_COPY: c = target; break;
      case K_STEP1: c = i_prep(c, target, 1); break;
      case K_STEP36: c = i_prep(c, target, 36); break;
      case K_COLOR: c = c_prep(c, target, 36); break;
      case K_FLOAT: {
        // in doubles: a huge declared size must not overflow an int
        double t = std::trunc((double)_as_float(target));
        double v = std::trunc((double)_as_float(c));
        double d = t - v;
        c = _as_bits((float)(std::fabs(d) < 1000 ? t : (d > 0 ? v + 1000 : v - 1000)));
        break;
      }
    }
    style_word_set(cur, k, c);
  }
}
