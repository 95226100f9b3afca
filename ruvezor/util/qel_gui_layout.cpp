// qel_gui: layout containers and labels.
//
// Box wraps one child and places it; Table sizes a grid of cells to fit
// them; ScrollBox scrolls its content by drag, momentum and wheel, and
// ScrollBox2 puts a scroll bar beside it; OptionBox is one radio option of a
// group; Label is text in a bitmap font.
#include <GL/gl.h>  // glColor4ub for label text, the scroll bar box's scissor

#include <algorithm>
#include <cmath>

#include "ruvezor/util/qel_driver.h"     // driver_get_size
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"   // gfx_img_blit
#include "ruvezor/util/qel_gfx_image.h"  // gfx_img_load
#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_log.h"

// ---- helpers ------------------------------------------------------------------------------

static float _t(float v) { return std::trunc(v); }
static int _w0(int32_t v) { return v == STYLE_UNSET ? 0 : v; }

// A float as an int argument; NaN and values past the int range stay neutral.
static int _ti(double v) {
  if (!(v == v)) return 0;
  return (int)std::clamp(v, -2147483520.0, 2147483520.0);
}

static float _declared_w(const Widget* w) { return style_or(w->style.computed().width, 0.0f); }
static float _declared_h(const Widget* w) { return style_or(w->style.computed().height, 0.0f); }

// What Container::resize does to each child, without taking the size.
static void _resize_children(Container* c) {
  for (size_t i = 0; i < c->children.size(); i++) {
    Widget* k = c->children[i];
    k->style.loop();
    k->_resize();
  }
}

// ---- box ----------------------------------------------------------------------------------

Box::Box(Widget* child) { add(child, 0, 0); }

void Box::_align() {
  if (children.empty()) return;
  Widget* c = children[0];
  const StyleBlock& s = style.computed();
  double dx = _t(w - c->ow), dy = _t(h - c->oh);
  double ax = s.align == STYLE_UNSET ? 1 : (double)s.align + 1;
  double ay = s.valign == STYLE_UNSET ? 1 : (double)s.valign + 1;
  // integer division truncated toward zero
  c->x = (float)std::trunc(ax * dx / 2);
  c->y = (float)std::trunc(ay * dy / 2);
}

void Box::resize() {
  Container::resize();
  float cw = 0, ch = 0;
  if (!children.empty()) cw = children[0]->ow, ch = children[0]->oh;
  const StyleBlock& s = style.computed();
  float lr = (float)gui_edge_left(this) + (float)gui_edge_right(this);
  float tb = (float)gui_edge_top(this) + (float)gui_edge_bottom(this);
  if (_w0(s.clip) == 0) {
    // the declared outer size is a minimum: the box grows to fit its child
    w = std::max(_t(cw), _t(_declared_w(this) - lr));
    h = std::max(_t(ch), _t(_declared_h(this) - tb));
  } else {
    // the declared size wins; the child is cut by the clip
    w = cw;
    h = ch;
    if (s.width != STYLE_UNSET_F && _t(s.width) != 0) w = s.width - lr;
    if (s.height != STYLE_UNSET_F && _t(s.height) != 0) h = s.height - tb;
  }
  _align();
}

void Box::resize(int iw, int ih) {
  w = (float)iw;
  h = (float)ih;
  _align();
}

void Box::paint() {
  bool clip = _w0(style.computed().clip) != 0;
  if (clip) gfx_clip(0, 0, std::max(w, 0.0f), std::max(h, 0.0f));
  Container::paint();
  if (clip) gfx_unclip();
}

// ---- option box ---------------------------------------------------------------------------

OptionBox::OptionBox(Widget* child) : Box(child), leader(this) {}

OptionBox::~OptionBox() {
  OptionBox* l = _lead();
  if (l != this) {
    auto& m = l->members;
    m.erase(std::remove(m.begin(), m.end(), this), m.end());
    return;
  }
  members.erase(std::remove(members.begin(), members.end(), this), members.end());
  if (members.empty()) return;
  OptionBox* heir = members.front();
  heir->members = std::move(members);
  heir->selected = selected;
  for (OptionBox* o : heir->members) o->leader = heir;
}

var OptionBox::get_value() { return _lead()->selected; }

// Every member whose value reads the same as the selection shows the
// override (chosen) look.
void OptionBox::_mark() {
  OptionBox* l = _lead();
  std::string chosen = l->selected.__str__();
  for (OptionBox* m : l->members) {
    if (!m) continue;
    m->style.override_on = m->value.__str__() == chosen ? 1 : 0;
    m->style.loop();
  }
}

void OptionBox::set_value(var v) {
  _lead()->selected = v;
  _mark();
}

var OptionBox::event(Event* e) {
  // the option's own content receives nothing
  if (e->type != GUI_EV_CLICK) return Widget::event(e);
  _lead()->selected = value;
  _mark();
  return on_change;
}

// ---- table --------------------------------------------------------------------------------

// Cells beyond this grid are folded into it: a bad span must not allocate
// without bound.
static constexpr int TABLE_MAX_LINES = 1024;

bool t_sort_by_colspan(Widget* a, Widget* b) { return a->colspan < b->colspan; }
bool t_sort_by_rowspan(Widget* a, Widget* b) { return a->rowspan < b->rowspan; }

// First line and line count of a cell on one axis, within the grid cap.
static void _span(int32_t at, int32_t span, int* first, int* n) {
  *first = std::clamp(at, 0, TABLE_MAX_LINES - 1);
  *n = std::clamp(span, 1, TABLE_MAX_LINES - *first);
}

Table::Table() {
  background = new Widget();
  add(background, 0, 0);
  background->disabled = 1;
}

// Grows the lines of one axis so each cell fits, narrow spans first. A
// spanning cell spreads only what its lines lack; the remainder goes to the
// lines whose index mod span is below it.
static void _table_axis(std::vector<Widget*>& cells, std::vector<double>& len, bool cols) {
  std::stable_sort(cells.begin(), cells.end(), cols ? t_sort_by_colspan : t_sort_by_rowspan);
  for (Widget* c : cells) {
    int first, n;
    if (cols)
      _span(c->col, c->colspan, &first, &n);
    else
      _span(c->row, c->rowspan, &first, &n);
    if (first + n > (int)len.size()) continue;
    double have = 0;
    for (int i = first; i < first + n; i++) have += len[i];
    double need = cols ? c->ow : c->oh;
    if (!(have < need)) continue;
    double extra = std::trunc(need - have);
    double each = std::trunc(extra / n), rest = std::fmod(extra, (double)n);
    for (int i = first; i < first + n; i++) len[i] += each + (rest > (double)(i % n) ? 1 : 0);
  }
}

void Table::resize() {
  _resize_children(this);
  if (std::find(children.begin(), children.end(), background) == children.end()) background = nullptr;

  int ncols = 0, nrows = 0;
  for (Widget* c : children) {
    int first, n;
    _span(c->col, c->colspan, &first, &n);
    ncols = std::max(ncols, first + n);
    _span(c->row, c->rowspan, &first, &n);
    nrows = std::max(nrows, first + n);
  }
  if (background) {
    // a declared table size is a minimum spread over every line
    background->col = background->row = 0;
    background->colspan = ncols;
    background->rowspan = nrows;
    background->x = background->y = 0;
    background->ow = _declared_w(this);
    background->oh = _declared_h(this);
  }

  std::vector<double> cw((size_t)ncols, 0.0), rh((size_t)nrows, 0.0);
  _table_axis(children, cw, true);
  _table_axis(children, rh, false);

  std::vector<double> cx((size_t)ncols + 1, 0.0), ry((size_t)nrows + 1, 0.0);
  for (int i = 0; i < ncols; i++) cx[i + 1] = cx[i] + cw[i];
  for (int i = 0; i < nrows; i++) ry[i + 1] = ry[i] + rh[i];

  for (size_t i = 0; i < children.size(); i++) {
    Widget* c = children[i];
    int c0, cn, r0, rn;
    _span(c->col, c->colspan, &c0, &cn);
    _span(c->row, c->rowspan, &r0, &rn);
    c->x = (float)cx[c0];
    c->y = (float)ry[r0];
    float cell_w = (float)(cx[c0 + cn] - cx[c0]), cell_h = (float)(ry[r0 + rn] - ry[r0]);
    if (c->ow != cell_w || c->oh != cell_h) c->_resize(_ti(cell_w), _ti(cell_h));
  }
  w = (float)cx[ncols];
  h = (float)ry[nrows];
}

// ---- scroll box ---------------------------------------------------------------------------

// Without a first child there is nothing to scroll: the content counts 0 x 0.
int ScrollBox::_max_y() {
  float ch = children.empty() ? 0 : children[0]->oh;
  return std::max(_ti(_t(ch - h)), 0);
}

int ScrollBox::_max_x() {
  float cw = children.empty() ? 0 : children[0]->ow;
  return std::max(_ti(_t(cw - w)), 0);
}

int ScrollBox::get_value_i() { return _ti(_t(sy)); }
void ScrollBox::set_value_i(int v) { sy = (float)v; }

void ScrollBox::loop() {
  if (!std::isfinite(momentum)) momentum = 0;
  if (!std::isfinite(sy)) sy = 0;
  if (drag == 0) {
    float m = (float)_max_y();
    float d = sy - momentum;
    if (d < 0) {  // past the top: spring back
      sy = 0.85f * d;
      momentum *= 0.5f;
    } else if (d <= m) {
      sy = d;
      momentum *= 0.95f;
    } else {  // past the bottom
      sy = 0.85f * d + 0.15f * m;
      momentum *= 0.5f;
    }
    // cut toward zero to tenths so it comes to rest exactly
    float cut = std::trunc(std::fabs(momentum) * 10) / 10;
    momentum = momentum < 0 ? -cut : cut;
  }
  Container::loop();  // the content still runs its own per-frame work
}

// A copy of the pointer event in the content's (unscrolled) coordinates.
static Event _content_event(const Event* e, float sx, float sy) {
  Event c = *e;
  c.x += sx;
  c.y += sy;
  return c;
}

var ScrollBox::event(Event* e) {
  switch (e->type) {
    case GUI_EV_PRESS: {
      drag = 0;
      momentum = 0;
      Event c = _content_event(e, sx, sy);
      Container::event(&c);
      // a press on a focused widget (slider, text field) keeps drags for it
      Widget* f = focused;
      while (f && !f->focusable) {
        Container* fc = dynamic_cast<Container*>(f);
        f = fc ? fc->focused : nullptr;
      }
      drag_ok = !f || f->style.hover == 0 ? 1 : 0;
      return var();
    }
    case GUI_EV_WHEEL: {
      float ch = children.empty() ? 0 : children[0]->oh;
      sy = std::max(std::min(_t(ch - h), _t(30 * e->dy + sy)), 0.0f);
      return var();
    }
    case GUI_EV_MOVE: {
      if (drag_ok && e->b && style.focus == 1) {
        float nx = std::max(std::min((float)_max_x(), _t(sx - e->dx)), 0.0f);
        float m = (float)_max_y();
        float ny = (0 <= sy && sy <= m) ? sy - e->dy : sy - 0.5f * e->dy;  // overscrolled: half speed
        if (e->dy != 0) momentum = e->dy;
        double moved = std::trunc(std::fabs((double)sx - nx) + std::fabs((double)sy - ny));
        drag = _ti(std::min((double)drag + moved, 1e9));
        sx = nx;
        sy = ny;
        return var();
      }
      Event c = _content_event(e, sx, sy);
      if (!(0 <= e->x && e->x < w && 0 <= e->y && e->y < h)) c.x = c.y = -65536;  // nothing inside is hovered
      return Container::event(&c);
    }
    case GUI_EV_RELEASE: {
      if (drag != 0) {
        int was = drag;
        drag = 0;
        if (was > 10) return var(0.0);  // a drag never ends in a click
      }
      Event c = _content_event(e, sx, sy);
      return Container::event(&c);
    }
    default: return Container::event(e);
  }
}

void ScrollBox::paint() {
  float px = sx, py = sy;
  gfx_clip(0, 0, std::max(w, 0.0f), std::max(h, 0.0f));
  gfx_translate(-px, -py);
  Container::paint();
  gfx_translate(px, py);
  gfx_unclip();
}

void ScrollBox::resize() {
  _resize_children(this);
  // never grows to its content
  w = _declared_w(this);
  h = _declared_h(this);
}

// ---- scroll box with a scroll bar ---------------------------------------------------------

ScrollBox2::ScrollBox2(Container* c) {
  content = c ? c : new ScrollBox();  // never without content to scroll
  content->resize();
  row_cursor = std::max(row_cursor + 1, 0);
  col_cursor = 0;
  content->col = col_cursor, content->row = row_cursor;
  content->colspan = content->rowspan = 1;
  add(content, 0, 0);
  col_cursor++;

  slider = new VSlider();
  slider->low = slider->value = slider->high = 0;
  slider->knob_length = 20;
  slider->style.declared().width = 11.0f;
  slider->style.declared().height = content->style.declared().height;
  slider->focusable = 1;
  slider->on_change = var(-1.0);
  slider->col = col_cursor, slider->row = row_cursor;
  slider->colspan = slider->rowspan = 1;
  add(slider, 0, 0);
  col_cursor++;
}

void ScrollBox2::loop() {
  float dh = style.declared().height;
  if (dh != STYLE_UNSET_F) {
    content->style.declared().height = dh;
    slider->style.declared().height = dh;
  }
  Container::loop();
}

void ScrollBox2::resize() {
  Table::resize();
  // content without a first child fills the view exactly: nothing to scroll
  float page = content->children.empty() ? content->oh : content->children[0]->oh;
  int m = std::max(_ti(_t(page - content->oh)), 0);
  slider->low = 0;
  slider->high = m;
  slider->value = std::max(std::min(slider->value, m), 0);
  double bar = style_or(slider->style.declared().height, 0.0f);
  double knob = std::min((double)content->oh * bar / std::max(1.0f, page), bar);
  slider->knob_length = std::max(40, _ti(std::trunc(knob)));
  slider->set_value_i(_ti(_t(content->sy)));
}

var ScrollBox2::event(Event* e) {
  if (e->type == GUI_EV_PRESS) style.override_on = 1;  // the pressed look
  if (e->type == GUI_EV_RELEASE || e->type == GUI_EV_BLUR) style.override_on = 0;
  var r = Container::event(e);
  if (r.__type__() == VAR_NUMBER && r.__num__() == -1.0) {  // the bar moved
    content->sy = (float)slider->get_value_i();
    return var();
  }
  return r;
}

void ScrollBox2::paint() {
  GLint vp[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, vp);
  int W = 0, H = 0;
  driver_get_size(&W, &H);
  if (W <= 0 || H <= 0) W = vp[2], H = vp[3];  // no window size known: the viewport is the window
  GfxRect r = gfx_rect_to_hwrect(get_abs_rect(true));
  double vw = vp[2], vh = vp[3];
  if (W > 0 && H > 0) {
    // negative sizes are a GL error: an empty box shows nothing instead
    glScissor(_ti(vw * r.x / W), _ti(vh * (H - (r.h + r.y)) / H), std::max(_ti(r.w * vw / W), 0),
              std::max(_ti(vh * r.h / H), 0));
    glEnable(GL_SCISSOR_TEST);
  }
  Container::paint();
  glDisable(GL_SCISSOR_TEST);

  glColor4f(0.5f, 0.5f, 0.5f, 0.5f);  // a shade along the top edge, left of the bar
  gfx_img_blit(gfx_img_load("fade"), 0, 20, w - 11, -20);
  glColor4f(1, 1, 1, 1);
}

// ---- label --------------------------------------------------------------------------------

Label::Label(int f, const char* t) : font(f), text(t ? t : "") {}

void Label::set_value_s(const char* s) { text = s ? s : ""; }

var Label::event(Event* e) { return Widget::event(e); }

void Label::resize() {
  const StyleBlock& s = style.computed();
  if (s.width != STYLE_UNSET_F)
    w = std::max(s.width, 0.0f);  // a negative wrap width would break every glyph apart
  else
    w = _t(std::ceil(font_get_width(font, text.c_str())));
  h = _t(font_get_height(font, text.c_str(), (float)_ti(_t(w))));
}

void Label::paint() {
  const StyleBlock& s = style.computed();
  unsigned rgb = s.color == STYLE_UNSET ? 0xFFFFFFu : (unsigned)s.color & 0xFFFFFFu;
  int a = std::clamp(_w0(style_or(s.alpha, 255)), 0, 255);
  glColor4ub((GLubyte)(((rgb >> 16) & 255) * a / 255), (GLubyte)(((rgb >> 8) & 255) * a / 255),
             (GLubyte)((rgb & 255) * a / 255), (GLubyte)a);
  font_draw(font, text.c_str(), 0, 0, (float)_ti(_t(w)), style_or(s.align, -1));
  glColor4ub(255, 255, 255, 255);
}
