// qel_gui_textinput: the text entry widget.
//
// Nothing here logs the text itself: entries hold passwords.
#include "ruvezor/util/qel_gui_textinput.h"

#include <algorithm>
#include <cmath>  // std::trunc, std::ceil

#include "ruvezor/util/qel_driver.h"    // keyboard and clipboard
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"       // gfx_clip, gfx_translate, gfx_focus
#include "ruvezor/util/qel_gfx_draw.h"  // gfx_fill
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_utf.h"

// ---- helpers ------------------------------------------------------------------------------

enum {
  KEY_BACKSPACE = 6,
  KEY_DELETE = 7,
  KEY_HOME = 9,
  KEY_END = 10,
  KEY_A = 38,
  KEY_C = 40,
  KEY_V = 59,
  KEY_X = 61,
  KEY_Z = 63,
};

enum { MOD_SHIFT = 1, MOD_CTRL = 2, MOD_GUI = 8 };

constexpr unsigned SELECTION_RGB = 0x55AAFF;
constexpr unsigned CARET_RGB = 0xFFFFFF;

static int _trunc(double v) { return (int)std::trunc(v); }

// ---- clipboard text -----------------------------------------------------------------------

std::string textinput_latin1_to_utf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char b : s) {
    if (b < 0x80) {
      out += (char)b;
    } else {
      out += (char)(0xC0 | (b >> 6));
      out += (char)(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::string textinput_utf8_to_latin1(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  const UTF8* p = reinterpret_cast<const UTF8*>(s.data());
  const UTF8* end = p + s.size();
  while (p < end) {
    if (*p < 0x80 || !isLegalUTF8Sequence(p, end)) {
      out += (char)*p++;
      continue;
    }
    UTF32 c = 0;
    UTF32* t = &c;
    const UTF8* q = p;
    // One legal sequence: exactly one character comes out and q moves past it.
    ConvertUTF8toUTF32(&q, end, &t, t + 1, lenientConversion);
    out += c <= 0xFF ? (char)c : '?';
    p = q > p ? q : p + 1;
  }
  return out;
}

// ---- font ---------------------------------------------------------------------------------

int QelGuiFont::get_width(const char* text, int wrap) const {
  if (wrap != 0) return wrap;
  return _trunc(std::ceil(font_get_width(font, text)));
}

// ---- widget -------------------------------------------------------------------------------

TextInput::TextInput(int f, int max) : maxlength(max) { font.font = f; }

const char* TextInput::get_value_s() { return value.c_str(); }

void TextInput::set_value_s(const char* s) {
  _change(0, (int)value.size(), s ? s : "");
  sx = sy = 0;
}

var TextInput::get_value() { return var(value); }

void TextInput::set_value(var v) { set_value_s(v.__str__().c_str()); }

int TextInput::wrap_width() const { return textarea ? _trunc(w - caret_w) : 0; }

int TextInput::sel_start() const {
  int n = (int)value.size();
  return std::clamp(std::min(anchor, caret), 0, n);
}

int TextInput::sel_end() const {
  int n = (int)value.size();
  return std::clamp(std::max(anchor, caret), 0, n);
}

void TextInput::_mktxt2() { display = password ? std::string(value.size(), '*') : value; }

void TextInput::_apply(int pos, int len, const std::string& text) {
  value = value.substr(0, (size_t)pos) + text + value.substr((size_t)(pos + len));
  _mktxt2();
}

void TextInput::_change(int pos, int len, std::string text) {
  if (len < 0 || pos < 0) return;
  int64_t length = (int64_t)value.size();
  if ((int64_t)pos + len > length) {
    if (length - pos < 0) return;
    len = (int)(length - pos);
  }
  int64_t n = length + (int64_t)text.size() - len;
  if (n > maxlength) {
    int64_t keep = (int64_t)text.size() + maxlength - n;
    // A value already over the limit (set directly, or maxlength lowered)
    // may still lose bytes; it only may not grow.
    if (keep < 0 && len > 0) keep = 0;
    if (keep < 0) return;
    text.resize((size_t)keep);
  }
  // Nothing replaced by nothing: no edit, no undo entry.
  if (len == 0 && text.empty()) return;

  int limit = encoding == 1 ? 255 : 127;
  for (char& ch : text) {
    unsigned char b = (unsigned char)ch;
    if (!textarea && b == 10) b = 32;
    if (b != 10 && (b < 32 || b >= limit)) b = '?';
    ch = (char)b;
  }

  TextInputChange entry{caret, pos, value.substr((size_t)pos, (size_t)len), text};
  _apply(pos, len, text);
  caret = anchor = pos + (int)text.size();

  changes.resize((size_t)std::clamp(undo_index, 0, (int)changes.size()));
  changes.push_back(std::move(entry));
  undo_index = (int)changes.size();
  if (undo_index >= TEXTINPUT_UNDO_CAP) {
    changes.erase(changes.begin());
    undo_index--;
  }
}

void TextInput::undo() {
  if (undo_index <= 0 || undo_index > (int)changes.size()) return;
  undo_index--;
  const TextInputChange& r = changes[(size_t)undo_index];
  _apply(r.pos, (int)r.new_text.size(), r.old_text);
  caret = anchor = r.caret;
}

void TextInput::redo() {
  if (undo_index < 0 || undo_index >= (int)changes.size()) return;
  const TextInputChange& r = changes[(size_t)undo_index];
  _apply(r.pos, (int)r.old_text.size(), r.new_text);
  undo_index++;
  caret = anchor = r.pos + (int)r.new_text.size();
}

void TextInput::_adjust(bool reset_goal, bool follow_caret) {
  if (reset_goal) goal_x = -1;
  int wrap = wrap_width();
  int tw = font.get_width(display.c_str(), wrap);
  int th = _trunc(font_get_height(font.font, display.c_str(), (float)wrap));
  if (follow_caret) {
    GfxRect c = font_crect(font.font, display.c_str(), caret, (float)wrap, -1);
    if (sx > c.x) sx = c.x;
    if (c.x + caret_w > sx + w) sx = c.x + caret_w - w;
    if (sy > c.y) sy = c.y;
    if (c.y + c.h > sy + h) sy = c.y + c.h - h;
  }
  sx = (float)std::max(std::min(_trunc(sx), _trunc(tw - w + caret_w)), 0);
  sy = (float)std::max(std::min(_trunc(sy), _trunc(th - h)), 0);
}

void TextInput::_click(int px, int py, bool move_anchor) {
  caret = font_cnear(font.font, display.c_str(), px, py, (float)wrap_width(), -1);
  if (move_anchor) anchor = caret;
}

var TextInput::event(Event* e) {
  if (e->type != GUI_EV_KEYDOWN && e->type != GUI_EV_KEYUP) {
    var r = Widget::event(e);
    if (r.__type__() != VAR_NONE) return r;
  }
  int px = _trunc(sx + e->x), py = _trunc(sy + e->y);

  switch (e->type) {
    case GUI_EV_CLICK:
      if (e->key == GUI_EV_KEYUP) return var();  // made by Return or Space: no keyboard wanted
      qel_log("input:evt_click\n");
      gfx_focus(get_abs_rect(true));
      driver_keyboard_show();
      return var();
    case GUI_EV_FOCUS:
      qel_log("evt_focus\n");
      if (!textarea) {
        anchor = 0;
        caret = (int)value.size();
      }
      _adjust(true, true);
      return var();
    case GUI_EV_BLUR:
      driver_keyboard_hide();
      gfx_blur();
      if (!textarea) sx = sy = 0;
      _adjust(false, false);
      return var();
    case GUI_EV_PRESS:
      qel_log("evt_down\n");
      _click(px, py, true);
      _adjust(true, true);
      return var();
    case GUI_EV_MOVE:
      if (style.focus && e->b != 0) {
        _click(px, py, false);
        _adjust(true, true);
      }
      return var();
    case GUI_EV_RELEASE:
      _click(px, py, false);
      _adjust(true, true);
      return var();
    case GUI_EV_WHEEL:
      sy += (float)(_trunc(font_get_height(font.font, nullptr, 0)) * e->dy);
      _adjust(false, false);
      return var();
    case GUI_EV_KEYDOWN: break;
    default: return var();
  }

  int k = e->key;
  bool shift = (e->b & MOD_SHIFT) != 0;
  bool command = (e->b & (MOD_CTRL | MOD_GUI)) != 0;
  int a = sel_start(), b = sel_end();
  int length = (int)value.size();
  caret = std::clamp(caret, 0, length);
  anchor = std::clamp(anchor, 0, length);
  int c = e->unicode;

  if (k == GUI_KEY_RETURN && !textarea) {
    driver_keyboard_hide();
    return on_change;
  }
  if (k == GUI_KEY_RETURN) c = 10;  // a newline typed into the text area

  if (k == GUI_KEY_TAB) return Widget::event(e);
  if ((k == GUI_KEY_UP || k == GUI_KEY_DOWN) && !textarea) return Widget::event(e);

  if (k == KEY_BACKSPACE) {
    if (a != b) _change(a, b - a, "");
    else if (caret > 0) _change(caret - 1, 1, "");
  } else if (k == KEY_DELETE) {
    if (a != b) _change(a, b - a, "");
    else _change(caret, 1, "");
  } else if (k == GUI_KEY_LEFT) {
    if (a != b && !shift) {
      caret = anchor = a;
    } else {
      caret = std::max(caret - 1, 0);
      if (!shift) anchor = caret;
    }
  } else if (k == GUI_KEY_RIGHT) {
    if (a != b && !shift) {
      caret = anchor = b;
    } else {
      caret = std::min(caret + 1, length);
      if (!shift) anchor = caret;
    }
  } else if (k == GUI_KEY_UP || k == GUI_KEY_DOWN) {
    GfxRect r = font_crect(font.font, display.c_str(), caret, (float)wrap_width(), -1);
    if (goal_x == -1) goal_x = _trunc(r.x + r.w / 2);
    int y = k == GUI_KEY_UP ? _trunc(r.y - r.h / 2) : _trunc(r.y + 1.5 * r.h);
    _click(goal_x, y, !shift);
    _adjust(false, true);
    return var();
  } else if (k == KEY_HOME || k == KEY_END) {
    int wrap = wrap_width();
    GfxRect r = font_crect(font.font, display.c_str(), caret, (float)wrap, -1);
    int x = k == KEY_HOME ? 0 : font.get_width(display.c_str(), wrap);
    _click(x, _trunc(r.y + r.h / 2), !shift);
  } else if (command && k == KEY_A) {
    anchor = 0;
    caret = length;
  } else if (command && (k == KEY_C || k == KEY_X)) {
    if (!password) driver_clipboard_set_text(textinput_latin1_to_utf8(value.substr((size_t)a, (size_t)(b - a))));
    if (k == KEY_X && a != b) _change(a, b - a, "");
  } else if (command && k == KEY_V) {
    _change(a, b - a, textinput_utf8_to_latin1(driver_clipboard_get_text()));
  } else if (command && k == KEY_Z) {
    if (shift) redo();
    else undo();
  } else {
    int limit = encoding == 1 ? 255 : 127;
    if (c != 10 && (c < 32 || c >= limit)) return var();
    _change(a, b - a, std::string(1, (char)c));
  }
  _adjust(true, true);
  return var();
}

void TextInput::resize() {
  const StyleBlock& cs = style.computed();
  if (cs.height != STYLE_UNSET_F) h = cs.height;
  else h = (float)_trunc(font_get_height(font.font, value.c_str(), textarea ? (float)_trunc(w) : 0.0f));
  if (cs.width != STYLE_UNSET_F) w = cs.width;
  else w = (float)_trunc(std::max(h, (float)_trunc(std::ceil(font_get_width(font.font, value.c_str())))));
}

void TextInput::paint() {
  _mktxt2();
  int wrap = wrap_width();
  const char* text = display.c_str();
  gfx_clip(0, 0, w, h);
  gfx_translate(-sx, -sy);
  if (style.focus) {
    int s0 = sel_start(), s1 = sel_end();
    if (s0 != s1) {
      GfxRect p = font_crect(font.font, text, s0, (float)wrap, -1);
      GfxRect q = font_crect(font.font, text, s1, (float)wrap, -1);
      if (p.y == q.y) {
        gfx_fill(SELECTION_RGB, p.x, p.y, q.x - p.x, p.h);
      } else {
        gfx_fill(SELECTION_RGB, p.x, p.y, wrap - p.x, p.h);
        gfx_fill(SELECTION_RGB, 0, p.y + p.h, (float)wrap, q.y - (p.y + p.h));
        gfx_fill(SELECTION_RGB, 0, q.y, q.x, q.h);
      }
    }
  }
  font_draw(font.font, text, 0, 0, (float)wrap, -1);
  if (style.focus) {
    GfxRect r = font_crect(font.font, text, caret, (float)wrap, -1);
    gfx_fill(CARET_RGB, r.x, r.y, (float)caret_w, r.h);
  }
  gfx_translate(sx, sy);
  gfx_unclip();
}
