// qel_gui: widgets, containers, event routing, focus and keyboard navigation,
// and the theme: box model, painting and sounds.
//
// Pointer presses, moves and wheel turns go to the child under the pointer;
// releases, keys and everything else go down the focus chain. A release over
// the focused child becomes a click on it, and releasing Return or Space
// clicks the focused widget.
#include <algorithm>
#include <cmath>  // std::trunc, std::sqrt
#include <typeinfo>

#include <GL/gl.h>  // glColor4ub for tinted layers

#include "ruvezor/util/qel_gfx.h"    // gfx_translate, _gfx_clip
#include "ruvezor/util/qel_gfx_draw.h"  // gfx_fill, gfx_img_blit, gfx_img_box, gfx_img_tile
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_mixer.h"  // mixer_sample_play

// ---- helpers ------------------------------------------------------------------------------

static bool _is_none(const var& v) { return v.__type__() == VAR_NONE; }

// A later answer replaces an earlier one unless it is none.
static void _take(var& result, const var& v) {
  if (!_is_none(v)) result = v;
}

static Event _fresh_event(int type) {
  Event e{};
  e.type = type;
  return e;
}

static bool _contains(const Widget* c, float x, float y) {
  return c->x <= x && x < c->x + c->ow && c->y <= y && y < c->y + c->oh;
}

// ---- widget -------------------------------------------------------------------------------

Widget::~Widget() = default;

Widget* Widget::find(const char* n) { return n && name == n ? this : nullptr; }
const char* Widget::get_value_s() { return nullptr; }
void Widget::set_value_s(const char*) {}
int Widget::get_value_i() { return 0; }
void Widget::set_value_i(int) {}
var Widget::get_value() { return var(); }
void Widget::set_value(var) {}
Widget* Widget::find_hover() { return nullptr; }
std::vector<Widget*> Widget::_list_descendants() { return {}; }
bool Widget::_is_focus() { return style.focus != 0; }
void Widget::loop() {}
void Widget::paint() {}

void Widget::resize() {
  const StyleBlock& c = style.computed();
  w = style_or(c.width, 0.0f);
  h = style_or(c.height, 0.0f);
}

void Widget::resize(int, int) { resize(); }

var Widget::_event(Event* e) { return Theme::event(this, e); }
void Widget::_paint() { Theme::paint(this); }
void Widget::_resize() { Theme::resize(this); }
void Widget::_resize(int width, int height) { Theme::resize(this, width, height); }

Widget* Widget::root() {
  Widget* r = this;
  while (r->parent) r = r->parent;
  return r;
}

var Widget::active() {
  var result;
  _take(result, _hover());
  _take(result, _focus());
  return result;
}

var Widget::_focus() {
  if (style.focus == 1) return var();
  var result;
  Event e = _fresh_event(GUI_EV_BLUR);
  _take(result, root()->event(&e));  // clears the whole old chain
  for (Widget* w = this; w; w = w->parent) {
    e.type = GUI_EV_FOCUS;
    _take(result, w->_event(&e));
    if (w->parent) w->parent->focused = w;
  }
  return result;
}

var Widget::_hover() {
  if (style.hover == 1) return var();
  var result;
  Event e = _fresh_event(GUI_EV_LEAVE);
  _take(result, root()->event(&e));
  for (Widget* w = this; w; w = w->parent) {
    e.type = GUI_EV_ENTER;
    _take(result, w->_event(&e));
    if (w->parent) w->parent->hovered = w;
  }
  return result;
}

var Widget::event(Event* e) {
  StyleSheet& s = style;
  switch (e->type) {
    case GUI_EV_KEYDOWN:
      switch (e->key) {
        case GUI_KEY_TAB: {
          // past widgets the player cannot see (a hidden value): typing would go into them
          Widget* n = next;
          for (int hops = 0; n && !gui_seen(n) && hops < 65536; hops++) n = n->next;
          if (n && gui_seen(n)) n->_focus();
          return var();
        }
        case GUI_KEY_RIGHT: return _nav(1, 0);
        case GUI_KEY_LEFT: return _nav(-1, 0);
        case GUI_KEY_UP: return _nav(0, -1);
        case GUI_KEY_DOWN: return _nav(0, 1);
        default: return var();
      }
    case GUI_EV_CLICK: return on_click;
    case GUI_EV_MOVE: return on_move;
    case GUI_EV_PRESS: return on_press;
    case GUI_EV_RELEASE: return on_release;
    case GUI_EV_FOCUS:
      s.focus = 1;
      s.vstate = s.hover ? 4 : 3;
      s.hover_focus = s.hover;
      return on_focus;
    case GUI_EV_ENTER:
      s.hover = 1;
      s.hover_focus = s.focus ? 1 : 0;
      s.vstate = s.focus ? 4 : 2;
      return on_enter;
    case GUI_EV_LEAVE:
      s.hover = 0;
      s.hover_focus = 0;
      s.vstate = s.focus ? 3 : 0;
      return on_leave;
    case GUI_EV_BLUR:
      s.focus = 0;
      s.hover_focus = 0;
      s.vstate = s.hover ? 2 : 0;
      return var();
    default: return var();
  }
}

GfxRect Widget::get_abs_rect(bool outer) {
  // truncated at every step, like the positions the tree was laid out at
  float ax = 0, ay = 0;
  for (Widget* w = this; w; w = w->parent) {
    ax = std::trunc(std::trunc(ax + w->ox) + w->x);
    ay = std::trunc(std::trunc(ay + w->oy) + w->y);
    if (w->parent) {
      ax = std::trunc(ax - w->parent->sx);
      ay = std::trunc(ay - w->parent->sy);
    }
  }
  if (outer) return GfxRect{ax - ox, ay - oy, ow, oh};
  return GfxRect{ax, ay, w, h};
}

var Widget::_nav(int dx, int dy) {
  if (!_is_focus() || !focusable) return var();
  std::vector<Widget*> all = root()->_list_descendants();
  GfxRect r = get_abs_rect(true);
  auto T = [](float v) { return (double)std::trunc(v); };
  double rx = T(r.x + r.w / 2), ry = T(r.y + r.h / 2);

  Widget* best = nullptr;
  double best_d = 0;
  unsigned long count = 0;
  for (size_t i = 0; i < all.size(); i++) {
    Widget* c = all[i];
    if (c == this || !c->focusable || c->style.focus != 0 || c->disabled || !gui_seen(c)) continue;
    GfxRect q = c->get_abs_rect(true);
    double cx = T(q.x + q.w / 2), cy = T(q.y + q.h / 2);
    if (dy < 0 && !(cy < ry)) continue;
    if (dy > 0 && !(cy > ry)) continue;
    if (dx > 0 && !(cx > rx)) continue;
    if (dx < 0 && !(cx < rx)) continue;
    double a = rx, b = cx, p = ry, qq = cy;
    if (dx > 0) a = T(r.x + r.w), b = T(q.x);
    if (dx < 0) a = T(r.x), b = T(q.x + q.w);
    if (dy > 0) p = T(r.y + r.h), qq = T(q.y);
    if (dy < 0) p = T(r.y), qq = T(q.y + q.h);
    double ex = std::fabs(b - a), ey = std::fabs(qq - p);
    // the distance across the direction of travel counts double
    double d = dx ? std::sqrt(ex * ex + 4 * ey * ey) : std::sqrt(4 * ex * ex + ey * ey);
    d = std::trunc(d);
    count++;
    // nearest first; the earlier one in the list wins a tie
    if (!best || d < best_d) best = c, best_d = d;
  }
  qel_log("res.size: %lu\n", count);
  if (!best) return var();
  var result;
  _take(result, best->_hover());
  _take(result, best->_focus());
  return result;
}

// ---- container ------------------------------------------------------------------------------

Container::~Container() {
  for (Widget* c : children) delete c;
  children.clear();
}

Container& Container::operator=(const Container& o) {
  Widget::operator=(o);
  std::vector<Widget*> old;
  old.swap(children);
  hovered = nullptr;
  focused = nullptr;
  focus_guard = 0;
  for (Widget* c : old) delete c;
  return *this;
}

void Container::add(Widget* c, int px, int py) {
  if (!c) {
    qel_log("Container::add: no widget\n");
    return;
  }
  c->x = (float)px;
  c->y = (float)py;
  children.push_back(c);
  c->parent = this;
  c->style.loop();
  c->resize();
}

Widget* Container::find(const char* n) {
  for (Widget* c : children)
    if (Widget* hit = c->find(n)) return hit;
  return Widget::find(n);
}

Widget* Container::find_hover() {
  if (!hovered) return nullptr;
  Widget* deeper = hovered->find_hover();
  return deeper ? deeper : hovered;
}

std::vector<Widget*> Container::_list_descendants() {
  std::vector<Widget*> out;
  for (Widget* c : children) {
    out.push_back(c);
    std::vector<Widget*> sub = c->_list_descendants();
    out.insert(out.end(), sub.begin(), sub.end());
  }
  return out;
}

bool Container::_is_focus() { return focused ? false : style.focus != 0; }

void Container::_find_focus() {
  if (focus_guard) return;
  focus_guard = 1;
  for (Widget* c : root()->_list_descendants()) {
    if (c->disabled || !c->focusable) continue;
    c->_hover();
    c->_focus();
    break;
  }
  focus_guard = 0;
}

void Container::loop() {
  if (!parent && !focused) _find_focus();
  // by index: a child's loop may add widgets
  for (size_t i = 0; i < children.size(); i++) children[i]->loop();
}

void Container::paint() {
  for (size_t i = 0; i < children.size(); i++) {
    Widget* c = children[i];
    GfxRect r = {c->x, c->y, c->ow, c->oh};
    if (!_gfx_clip(&r, nullptr)) continue;
    float cx = c->x, cy = c->y;
    gfx_translate(cx, cy);
    c->_paint();
    gfx_translate(-cx, -cy);
  }
}

void Container::resize() {
  float W = 0, H = 0;
  for (size_t i = 0; i < children.size(); i++) {
    Widget* c = children[i];
    c->style.loop();
    c->_resize();
    W = std::max(W, std::trunc(c->x + c->ow));
    H = std::max(H, std::trunc(c->y + c->oh));
  }
  w = W;
  h = H;
}

var Container::event(Event* e) {
  var result = Widget::event(e);
  int type = e->type;
  if (type == GUI_EV_CLICK || type == GUI_EV_ENTER || type == GUI_EV_FOCUS) return result;

  if (type == GUI_EV_BROADCAST) {
    result = var();
    for (size_t i = children.size(); i-- > 0;) {
      if (i >= children.size()) continue;  // a child may have removed others
      Widget* c = children[i];
      if (!c->disabled) _take(result, c->_event(e));
    }
    return result;
  }

  // hover tracking
  Widget* cand = hovered;
  if (type == GUI_EV_PRESS || type == GUI_EV_RELEASE || (type == GUI_EV_MOVE && e->b == 0)) {
    cand = nullptr;
    for (size_t i = children.size(); i-- > 0;) {
      Widget* c = children[i];
      if (!c->disabled && _contains(c, e->x, e->y)) {
        cand = c;
        break;
      }
    }
  } else if (type == GUI_EV_LEAVE) {
    cand = nullptr;
  }
  if (cand != hovered) {
    if (hovered) {
      Event l = _fresh_event(GUI_EV_LEAVE);
      _take(result, hovered->_event(&l));
    }
    if (cand) {
      Event n = _fresh_event(GUI_EV_ENTER);
      _take(result, cand->_event(&n));
    }
    hovered = cand;
  }
  if (type == GUI_EV_LEAVE) return result;

  bool focusing_press = false;
  if (type == GUI_EV_PRESS) {
    for (size_t i = children.size(); i-- > 0;) {
      Widget* c = children[i];
      if (c->disabled || !c->focusable || !_contains(c, e->x, e->y)) continue;
      if (c != focused) {
        _take(result, c->_focus());
        focusing_press = true;
      }
      break;
    }
  }

  if (type == GUI_EV_BLUR) {
    if (focused) {
      Event b = _fresh_event(GUI_EV_BLUR);
      _take(result, focused->_event(&b));
    }
    focused = nullptr;
    return result;
  }

  if (hovered && (type == GUI_EV_PRESS || type == GUI_EV_MOVE || type == GUI_EV_WHEEL)) {
    Event c = *e;
    c.x -= hovered->x;
    c.y -= hovered->y;
    if (type == GUI_EV_PRESS) c.key = focusing_press ? GUI_EV_FOCUS : 0;
    _take(result, hovered->_event(&c));
    return result;
  }

  if (!focused) return result;
  Widget* f = focused;
  Event c = *e;
  c.x -= f->x;
  c.y -= f->y;
  _take(result, f->_event(&c));

  // re-read: the child may have dropped the focus while handling the event
  f = focused;
  if (!f) return result;
  if (hovered == f && type == GUI_EV_RELEASE) {
    Event k = *e;
    k.type = GUI_EV_CLICK;
    k.x -= f->x;
    k.y -= f->y;
    _take(result, f->_event(&k));
  }
  if (type == GUI_EV_KEYUP && (e->key == GUI_KEY_RETURN || e->key == GUI_KEY_SPACE)) {
    Event k = *e;
    k.type = GUI_EV_CLICK;
    k.key = GUI_EV_KEYUP;  // marks a click made from the keyboard
    k.x = f->ow / 2;
    k.y = f->oh / 2;
    _take(result, f->_event(&k));
  }
  return result;
}

bool gui_seen(Widget* w) {
  if (!(w->ow > 0 && w->oh > 0)) return false;
  if (typeid(*w) != typeid(Widget)) return true;  // every other kind draws content of its own
  const StyleBlock& s = w->style.computed();
  auto set = [](int32_t v) { return v != STYLE_UNSET; };
  bool border = false;
  for (int32_t b : s.border) border = border || (set(b) && b > 0);
  border = border && set(s.border_color);
  bool bg = (set(s.bg_image) && s.bg_image != 0) || set(s.bg_color);
  bool fg = (set(s.fg_image) && s.fg_image != 0) || set(s.fg_color);
  return border || bg || fg;
}

// ---- theme: box model ---------------------------------------------------------------------

static int _w0(int32_t v) { return v == STYLE_UNSET ? 0 : v; }

// side: 0 top, 1 right, 2 bottom, 3 left. Summed wide and held to a quarter
// of the int range, so that two sides and a size added in int never overflow.
static int _edge(const Widget* w, int side) {
  const StyleBlock& c = w->style.computed();
  long long sum = (long long)_w0(c.margin[side]) + _w0(c.border[side]) + _w0(c.padding[side]);
  return (int)std::clamp(sum, -(1LL << 29), 1LL << 29);
}

int gui_edge_top(const Widget* w) { return _edge(w, 0); }
int gui_edge_right(const Widget* w) { return _edge(w, 1); }
int gui_edge_bottom(const Widget* w) { return _edge(w, 2); }
int gui_edge_left(const Widget* w) { return _edge(w, 3); }

static void _theme_outer(Widget* w) {
  w->ox = (float)gui_edge_left(w);
  w->oy = (float)gui_edge_top(w);
  w->ow = w->ox + w->w + (float)gui_edge_right(w);
  w->oh = w->oy + w->h + (float)gui_edge_bottom(w);
}

void Theme::resize(Widget* w) {
  w->resize();
  _theme_outer(w);
}

void Theme::resize(Widget* w, int width, int height) {
  long long iw = (long long)width - (gui_edge_left(w) + gui_edge_right(w));
  long long ih = (long long)height - (gui_edge_top(w) + gui_edge_bottom(w));
  w->resize((int)std::clamp(iw, (long long)INT32_MIN, (long long)INT32_MAX),
            (int)std::clamp(ih, (long long)INT32_MIN, (long long)INT32_MAX));
  _theme_outer(w);
}

var Theme::event(Widget* w, Event* e) {
  Event c = *e;
  c.x -= w->ox;
  c.y -= w->oy;
  const StyleBlock& s = w->style.computed();
  int32_t sound = STYLE_UNSET;
  switch (c.type) {
    case GUI_EV_CLICK: sound = s.sound_click; break;
    case GUI_EV_PRESS: sound = s.sound_press; break;
    case GUI_EV_RELEASE: sound = s.sound_release; break;
    case GUI_EV_ENTER: sound = s.sound_enter; break;
    case GUI_EV_FOCUS: sound = s.sound_focus; break;
  }
  if (sound != STYLE_UNSET) mixer_sample_play(sound, 1.0f, 0.0f);
  return w->event(&c);
}

// ---- theme: painting ------------------------------------------------------------------------

// A float edge or size as an int the drawing calls take; NaN and values past
// the int range give neutral results instead of undefined conversions.
static int _ti(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483520.0f) return 2147483520;
  if (v <= -2147483520.0f) return -2147483520;
  return (int)v;
}

static void _tint(int32_t rgb_word, int32_t alpha_word) {
  unsigned rgb = rgb_word == STYLE_UNSET ? 0xFFFFFFu : (unsigned)rgb_word & 0xFFFFFFu;
  int a = std::clamp(_w0(style_or(alpha_word, 255)), 0, 255);  // opacity premultiplies the tint
  glColor4ub((GLubyte)(((rgb >> 16) & 255) * a / 255), (GLubyte)(((rgb >> 8) & 255) * a / 255),
             (GLubyte)((rgb & 255) * a / 255), (GLubyte)a);
}

// One picture layer (background or foreground) over the box inside the border.
static void _theme_layer(int32_t img, int32_t color, int32_t alpha, int32_t corner, int32_t tile, float x, float y,
                         float w, float h) {
  if (w <= 0 || h <= 0) return;  // a zero size would blit the picture at its own size
  if (img != STYLE_UNSET && img != 0) {
    _tint(color, alpha);
    if (corner != STYLE_UNSET)
      gfx_img_box(img, _ti(x), _ti(y), _ti(w), _ti(h), corner);
    else if (tile == STYLE_UNSET)
      gfx_img_blit(img, x, y, w, h);
    else
      gfx_img_tile(img, _ti(x), _ti(y), _ti(w), _ti(h), tile);
    glColor4ub(255, 255, 255, 255);
  } else if (color != STYLE_UNSET) {
    gfx_fill((unsigned)color & 0xFFFFFFu, x, y, w, h);
  }
}

static void _fill_side(unsigned rgb, float x, float y, float w, float h) {
  if (w > 0 && h > 0) gfx_fill(rgb, x, y, w, h);
}

// Border, background and foreground of the computed style, then the content
// in inner-box coordinates.
void Theme::paint(Widget* w) {
  const StyleBlock& s = w->style.computed();
  float W = w->ow, H = w->oh;
  float mt = (float)_w0(s.margin[0]), mr = (float)_w0(s.margin[1]), mb = (float)_w0(s.margin[2]),
        ml = (float)_w0(s.margin[3]);
  float bt = (float)_w0(s.border[0]), br = (float)_w0(s.border[1]), bb = (float)_w0(s.border[2]),
        bl = (float)_w0(s.border[3]);

  if (s.border_color != STYLE_UNSET) {
    unsigned rgb = (unsigned)s.border_color & 0xFFFFFFu;
    // top and bottom strips cover the corners
    if (bt != 0) _fill_side(rgb, ml, mt, W - (ml + mr), bt);
    if (bb != 0) _fill_side(rgb, ml, H - (bb + mb), W - (ml + mr), bb);
    if (br != 0) _fill_side(rgb, W - (br + mr), mt + bt, br, H - (mt + bt + bb + mb));
    if (bl != 0) _fill_side(rgb, ml, mt + bt, bl, H - (mt + bt + bb + mb));
  }

  float lx = ml + bl, ly = mt + bt, lw = W - (ml + mr + bl + br), lh = H - (mt + mb + bt + bb);
  _theme_layer(s.bg_image, s.bg_color, s.bg_alpha, s.bg_corner, s.bg_tile, lx, ly, lw, lh);
  _theme_layer(s.fg_image, s.fg_color, s.fg_alpha, s.fg_corner, s.fg_tile, lx, ly, lw, lh);

  float ox = w->ox, oy = w->oy;
  gfx_translate(ox, oy);
  w->paint();
  gfx_translate(-ox, -oy);
}
