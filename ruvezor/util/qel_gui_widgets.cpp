// qel_gui: slider, toggle and check box widgets.
//
// NumSlider is the markup's number slider (drag, arrow keys, or type into
// the number box), VSlider the scroll bar beside a ScrollBox2, MyToggle and
// MyCheckbox on/off switches. Each returns its on_change value from event()
// when its value changes.
#include <GL/gl.h>  // glColor4f for the scroll bar's fade

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>  // atoll
#include <cstring>

#include "ruvezor/util/qel_driver.h"      // on-screen keyboard
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"         // gfx_focus
#include "ruvezor/util/qel_gfx_draw.h"    // gfx_img_box, gfx_img_blit, gfx_fill
#include "ruvezor/util/qel_gfx_image.h"   // gfx_img_load
#include "ruvezor/util/qel_gui.h"

// ---- helpers ------------------------------------------------------------------------------

static bool _is_none(const var& v) { return v.__type__() == VAR_NONE; }

// Truncated toward zero into the int range; NaN gives 0.
static int _ti(double v) {
  if (!(v == v)) return 0;
  return (int)std::trunc(std::clamp(v, -2147483648.0, 2147483647.0));
}

// At most hi first, then at least lo: a reversed range settles on lo
// instead of being undefined.
static long long _limit(long long v, long long lo, long long hi) { return std::max(std::min(v, hi), lo); }
static double _limit(double v, double lo, double hi) {
  if (!(v == v)) return lo;
  return std::max(std::min(v, hi), lo);
}

static bool _hover_look(const Widget* w) { return w->style.vstate == 2 || w->style.vstate == 4; }

static float _text_w(int font, const char* s) { return std::ceil(font_get_width(font, s)); }
static float _font_h(int font, const char* s) { return std::trunc(font_get_height(font, s, 0)); }

// ---- number slider ------------------------------------------------------------------------

int NumSlider::get_value_i() { return value; }

void NumSlider::set_value_i(int v) {
  value = v;
  change();
}

var NumSlider::get_value() { return var((double)value); }
void NumSlider::set_value(var v) { set_value_i(_ti(v.__num__())); }
void NumSlider::change() {}

var NumSlider::event(Event* e) {
  const int t = e->type;
  const float x = e->x;
  const float B = (float)box_width;
  const bool in_box = x >= w - B;

  if (typing) {
    if (t == GUI_EV_KEYDOWN && e->unicode >= '0' && e->unicode <= '9') {
      size_t n = strnlen(typed, sizeof typed);
      if (n < 4) typed[n] = (char)e->unicode, typed[n + 1] = 0;
      return var();
    }
    if (t == GUI_EV_KEYDOWN && e->key == 6) {  // Backspace
      size_t n = strnlen(typed, sizeof typed);
      if (n > 0) typed[n - 1] = 0;
      return var();
    }
    if ((t == GUI_EV_KEYDOWN && (e->key == GUI_KEY_TAB || e->key == GUI_KEY_RETURN)) || t == GUI_EV_BLUR ||
        t == GUI_EV_CLICK) {
      typing = 0;  // before the event: Tab's focus move blurs this widget again
      driver_keyboard_hide();
      Widget::event(e);
      if (typed[0]) value = (int)_limit(atoll(typed), (long long)low, (long long)high);
      return on_change;
    }
    if (t == GUI_EV_PRESS || t == GUI_EV_MOVE || t == GUI_EV_RELEASE) return Widget::event(e);
  }

  if (t == GUI_EV_PRESS) {
    pressed_in_box = in_box ? 1 : 0;
    if (in_box) return Widget::event(e);
  } else if (t == GUI_EV_RELEASE && !dragging) {
    return Widget::event(e);
  } else if (t == GUI_EV_CLICK && in_box) {
    if (pressed_in_box) {
      typing = 1;
      typed[0] = 0;
      gfx_focus(get_abs_rect(true));
      driver_keyboard_show();
    }
    return Widget::event(e);
  }

  // arrow keys move the value instead of the focus
  bool arrow = (t == GUI_EV_KEYDOWN || t == GUI_EV_KEYUP) && (e->key == GUI_KEY_RIGHT || e->key == GUI_KEY_LEFT);
  if (!arrow) {
    var r = Widget::event(e);
    if (!_is_none(r)) return r;
  }

  if (!style.focus) {
    dragging = 0;
    return var();
  }
  double v;
  bool by_pointer = false;
  switch (t) {
    case GUI_EV_RELEASE: dragging = 0; return on_change;
    case GUI_EV_KEYDOWN:
      v = value;
      if (e->key == GUI_KEY_LEFT) v = (double)value - step;
      if (e->key == GUI_KEY_RIGHT) v = (double)value + step;
      break;
    case GUI_EV_PRESS:
    case GUI_EV_MOVE: {
      if (t == GUI_EV_PRESS && 0 <= x && x < w) dragging = 1;
      if (!dragging || e->b == 0) return var();
      // a track with no room left still maps the pointer somewhere
      double track = std::max(1.0, (double)w - ((double)knob_width + label_width));
      v = low + ((double)x - knob_width / 2) * ((double)high - low + 1) / track;
      by_pointer = true;
      break;
    }
    default: return var();
  }

  // snap to the step grid above low
  long long s = step != 0 ? step : 1;
  long long d = (long long)std::trunc(_limit(v - low, -1e12, 1e12));
  long long snapped = d / s * s + low;
  int nv = (int)_limit(snapped, (long long)low, (long long)high);
  if (nv == value) return var();
  value = nv;
  if (by_pointer && !live) return var();
  return on_change;
}

void NumSlider::paint() {
  const float K = (float)knob_width, A = (float)label_width;
  // an empty range keeps the knob at the left end; a value set outside the
  // range (it is not clamped) puts it at the nearer end of the track
  double track = std::max(0.0, (double)w - (K + A));
  float kx = high != low ? (float)_ti(_limit(((double)value - low) * track / ((double)high - low), 0.0, track)) : 0;
  gfx_img_box(gfx_img_load("gui-slider1"), 0, 0, _ti(w - A), _ti(h), 15);
  gfx_img_box(gfx_img_load(_hover_look(this) ? "gui-slider2o" : "gui-slider2"), _ti(kx), 0, _ti(K), _ti(h), 15);

  float bw = _text_w(font, "8888");
  if (bw > 0 && h > 0) gfx_img_blit(gfx_img_load("gui-input1"), w - bw, 0, bw, h);  // 0 would mean its own size

  char num[16];
  snprintf(num, sizeof num, "%d", value);
  const char* text = typing ? typed : num;
  float tw = _text_w(font, text), fh = _font_h(font, text);
  float ty = std::trunc((h - fh) / 2);
  font_draw(font, text, (w - bw) + (float)(_ti(bw - tw) / 2), ty, 0, -1);
  if (typing) gfx_fill(0xffffff, w - (float)(_ti(bw - tw) / 2), ty, 2, fh);
}

// ---- scroll bar ---------------------------------------------------------------------------

int VSlider::get_value_i() { return value; }

void VSlider::set_value_i(int v) {
  value = (int)_limit((long long)v, (long long)low, (long long)high);
  change();
}

void VSlider::change() {}

var VSlider::event(Event* e) {
  int r = _ti(Widget::event(e).__num__());
  if (r != 0) return var((double)r);
  if (e->type == GUI_EV_WHEEL) {
    value = _ti(_limit((double)value + 30.0 * e->dy, (double)low, (double)high));
    return on_change;
  }
  if (!style.focus) return var();
  if (e->type != GUI_EV_PRESS && e->type != GUI_EV_MOVE && e->type != GUI_EV_RELEASE) return var(0.0);
  if (e->b == 0) return var();
  double v = low + ((double)e->y - knob_length / 2) * ((double)high - low + 1) / std::max(1.0, (double)h - knob_length);
  int nv = _ti(_limit(v, (double)low, (double)high));
  if (nv == value) return var();
  value = nv;
  return on_change;
}

void VSlider::paint() {
  fade = (5 * fade + (low < high ? 1.0f : 0.25f)) / 6;
  glColor4f(fade, fade, fade, fade);
  gfx_img_box(gfx_img_load("gui-scroll1"), 1, 2, _ti(w - 2), _ti(h - 4), 5);
  // an empty range keeps the knob at the top
  int ky = high != low ? _ti(((double)value - low) * ((double)h - knob_length) / ((double)high - low)) : 0;
  gfx_img_box(gfx_img_load(_hover_look(this) ? "gui-scroll2o" : "gui-scroll2"), 1, ky + 2, _ti(w - 2),
              knob_length - 4, 5);
  glColor4f(1, 1, 1, 1);  // later drawing must not inherit the fade
}

// ---- toggle and check box -----------------------------------------------------------------

// Both keep the override flag equal to (value == 1) so the "on" look follows.
static void _switch_set(Widget* w, int32_t& value, int v) {
  value = v;
  w->style.override_on = v == 1 ? 1 : 0;
  w->style.loop();
}

static var _switch_event(Widget* w, int32_t value, Event* e) {
  if (e->type != GUI_EV_CLICK) return w->Widget::event(e);
  w->set_value_i(value == 1 ? -1 : 1);
  return w->on_change;
}

int MyToggle::get_value_i() { return value; }
void MyToggle::set_value_i(int v) { _switch_set(this, value, v); }
var MyToggle::get_value() { return var((double)value); }
void MyToggle::set_value(var v) { set_value_i(_ti(v.__num__())); }
var MyToggle::event(Event* e) { return _switch_event(this, value, e); }

void MyToggle::paint() {
  const char* text = value == 1 ? "YES" : "NO";
  float x = std::trunc((w - _text_w(font, text)) / 2), y = std::trunc((h - _font_h(font, text)) / 2);
  font_draw(font, text, x, y, 0, -1);
}

int MyCheckbox::get_value_i() { return value; }
void MyCheckbox::set_value_i(int v) { _switch_set(this, value, v); }
var MyCheckbox::get_value() { return var((double)value); }
void MyCheckbox::set_value(var v) { set_value_i(_ti(v.__num__())); }
var MyCheckbox::event(Event* e) { return _switch_event(this, value, e); }

void MyCheckbox::paint() {
  if (value == 1) gfx_img_blit(gfx_img_load("icon-buy"), (w - 28) / 2, (h - 28) / 2, 28, 28);
}
