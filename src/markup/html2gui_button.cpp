// html2gui_button: the button factories (w_) and the markup's buttons.
//
// A button is a focusable Box around its content whose on_click is the
// action value. The factories only differ in the pictures and box edges
// they declare; the computed style follows on the next style step.
#include <string>

#include "markup/html2gui.h"  // mk_img_src
#include "markup/html2gui_widgets.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx_image.h"  // gfx_img_load

// ---- helpers shared with the input builders ----------------------------------------------------

int _w_font(const char* name, int size) {
  int f = font_load(name, size);
  font_set_margins(f, 0.0625f, 0.0625f, -0.0625f, -0.0625f);
  return f;
}

void _w_sides(int32_t* side, int top, int right, int bottom, int left) {
  side[0] = top, side[1] = right, side[2] = bottom, side[3] = left;
}

void _w_overlay_alpha(Widget* w) {
  // The overlay shows while the pointer is over the widget.
  w->style.block[STYLE_DECLARED].fg_alpha = 0;
  w->style.block[STYLE_HOVER].fg_alpha = 255;
  w->style.block[STYLE_FOCUS].fg_alpha = 0;
  w->style.block[STYLE_HOVER_FOCUS].fg_alpha = 255;
}

void _w_settle(Widget* w) {
  w->loop();
  w->style.loop();
  w->_resize();
}

// ---- button base -------------------------------------------------------------------------------

static void _w_images(Widget* w, const char* bg, const char* overlay) {
  StyleBlock& d = w->style.declared();
  d.bg_image = bg ? gfx_img_load(bg) : 0;
  d.fg_image = overlay ? gfx_img_load(overlay) : 0;
}

// The common look, not yet settled.
static Box* _w_base(Widget* content, var action, float width, float height) {
  Box* b = new Box(content ? content : new Widget());
  b->on_click = action;
  StyleBlock& d = b->style.declared();
  _w_sides(d.padding, 4, 4, 4, 4);
  _w_sides(d.margin, 3, 3, 3, 3);
  d.width = width, d.height = height;
  _w_images(b, "gui-button1", "gui-button1o");
  d.bg_corner = 15, d.fg_corner = 15;
  _w_overlay_alpha(b);
  b->focusable = 1;
  return b;
}

static Box* _w_styled(Widget* content, var action, const char* bg, const char* overlay) {
  Box* b = _w_base(content, action, 160, 44);
  _w_images(b, bg, overlay);
  return b;
}

// The plain face's rim is 3 units wide inside its padding of 4: a label as
// wide as the button would touch it. Its content keeps this much more on
// each side, so a button that grows to fit a long label keeps clear face
// around it; a label that fits the button's width lies as it did.
static const int W_BUTTON_ROOM = 4;

Box* w_button(Widget* content, var action, int, int) {
  Box* b = _w_base(content, action, 160, 44);
  StyleBlock& c = b->children[0]->style.declared();
  c.margin[1] = style_or(c.margin[1], 0) + W_BUTTON_ROOM;
  c.margin[3] = style_or(c.margin[3], 0) + W_BUTTON_ROOM;
  _w_settle(b);
  return b;
}

Box* w_button_style(Widget* content, var action, int, int, const char* bg, const char* overlay) {
  Box* b = _w_styled(content, action, bg, overlay);
  _w_settle(b);
  return b;
}

Box* w_list_style(Widget* content, var action, int w, int h, const char* bg, const char* overlay) {
  return w_button_style(content, action, w, h, bg, overlay);
}

Box* w_icon_style(Widget* content, var action, int, int, const char* bg, const char* overlay) {
  Box* b = _w_styled(content, action, bg, overlay);
  StyleBlock& d = b->style.declared();
  _w_sides(d.padding, 0, 8, 0, 8);
  _w_sides(d.margin, 3, -5, 3, -5);
  _w_settle(b);
  return b;
}

Box* w_tabx(Widget* content, var action, int, int) {
  Box* b = _w_styled(content, action, "gui-tabx", "gui-tabxo");
  StyleBlock& d = b->style.declared();
  _w_sides(d.padding, -1, 2, 0, 2);
  _w_sides(d.margin, 1, -2, 0, -2);
  d.valign = 0;
  _w_settle(b);
  return b;
}

// ---- icon buttons ------------------------------------------------------------------------------

static Table* _w_table() {
  Table* t = new Table();
  t->row_cursor = 0, t->col_cursor = 0;
  return t;
}

// content in a Box as the 1 x 1 cell (col, row); width < 0 declares none.
static void _w_cell(Table* t, Widget* content, int col, int row, float width) {
  Box* b = new Box(content ? content : new Widget());
  if (width >= 0) b->style.declared().width = width;
  b->col = col, b->row = row, b->colspan = 1, b->rowspan = 1;
  t->add(b, 0, 0);
  t->col_cursor = col + 1;
}

static void _w_square(Widget* w, float side) {
  w->style.declared().width = side;
  w->style.declared().height = side;
}

// Icon left of the label, not yet settled.
static Box* _w_ibutton(Widget* icon, Widget* label, var action, float icon_side, float label_w,
                       float height) {
  if (!icon) icon = new Widget();
  _w_square(icon, icon_side);
  Table* t = _w_table();
  _w_cell(t, icon, 0, 0, -1);
  _w_cell(t, label, 1, 0, label_w);
  return _w_base(t, action, 190, height);
}

Box* w_ibutton(Widget* icon, Widget* label, var action, int, int) {
  Box* b = _w_ibutton(icon, label, action, 24, 166, 44);
  _w_settle(b);
  return b;
}

Box* w_ibutton_style(Widget* icon, Widget* label, var action, int, int, const char* bg,
                     const char* overlay) {
  Box* b = _w_ibutton(icon, label, action, 24, 166, 44);
  _w_images(b, bg, overlay);
  _w_settle(b);
  return b;
}

Box* w_ibutton1(Widget* icon, Widget* label, var action, int w, int h) {
  return w_ibutton_style(icon, label, action, w, h, "gui-ibutton1", "gui-ibutton1o");
}

Box* w_xibutton(Widget* icon, Widget* label, var action, int, int) {
  Box* b = _w_ibutton(icon, label, action, 34, 154, 66);
  _w_settle(b);
  return b;
}

// ---- tabs --------------------------------------------------------------------------------------

void AlertLabel::loop() {
  if (parent) x = parent->w - w - 1;
}

Box* w_tab(Widget* content, var action, int, int, Widget* icon, const char* alert) {
  Widget* c = content ? content : new Widget();
  if (icon) {  // icon above the label
    _w_square(icon, 18);
    Table* t = _w_table();
    _w_cell(t, icon, 0, 0, -1);
    t->row_cursor++;
    _w_cell(t, c, 0, 1, -1);
    c = t;
  }
  Box* b = _w_styled(c, action, "gui-tab1", "gui-tab1o");
  StyleBlock& d = b->style.declared();
  _w_sides(d.padding, 0, 2, 3, 2);
  _w_sides(d.margin, 0, -2, 1, -2);
  d.valign = 1;
  _w_settle(b);
  if (alert && *alert) {
    AlertLabel* a = new AlertLabel(_w_font("font-gui", 16), alert);
    StyleBlock& ad = a->style.declared();
    ad.bg_image = gfx_img_load("gui-alert"), ad.bg_corner = 4;
    ad.height = 12;
    _w_sides(ad.padding, 0, 3, 0, 3);
    _w_sides(ad.margin, 0, -3, 0, -3);
    b->add(a, 0, 0);
    a->_resize();
  }
  return b;
}

// ---- markup buttons ----------------------------------------------------------------------------

static bool _is(const std::string& s, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (s == n) return true;
  return false;
}

Box* mk_button(var& tag, Widget* inner, var& action) {
  std::string cls = _attr(tag, "class").__str__();
  bool tab = _is(cls, {"tab", "tab0", "tab2"});
  bool ibutton = _is(cls, {"ibutton", "ibutton1", "ibutton2", "ibutton3"});

  Widget* content = inner;
  if (!content) {
    std::string value = _attr(tag, "value").__str__();
    if (tab)
      content = new Label(font_load("font-gui2", 20), str_upper(value).c_str());
    else
      content = new Label(_w_font("font-gui", 28), (ibutton ? str_upper(value) : value).c_str());
  }
  std::string bg = "gui-" + cls, overlay = bg + "o";  // the family of most classes
  auto icon = [&]() { return mk_img_src(_attr(tag, "icon").__str__()); };

  Box* b;
  if (_is(cls, {"button2", "button3"})) {
    b = w_button(content, action, 0, 0);
    _w_images(b, bg.c_str(), overlay.c_str());
  } else if (_is(cls, {"toggle0", "toggle1", "xicon1", "xicon2", "xicon3", "sector1", "sector2", "sector3"})) {
    b = w_button_style(content, action, 0, 0, bg.c_str(), overlay.c_str());
  } else if (_is(cls, {"icon0", "icon1", "icon2", "icon3", "icon4", "tiny1", "tiny2", "tiny3"})) {
    b = w_icon_style(content, action, 0, 0, bg.c_str(), overlay.c_str());
  } else if (_is(cls, {"list1", "list2", "list3"})) {
    b = w_list_style(content, action, 0, 0, bg.c_str(), overlay.c_str());
  } else if (cls == "tabx") {
    b = w_tabx(content, action, 0, 0);
  } else if (cls == "tab" || cls == "tab0") {
    // A tab without an "icon" keeps the icon's row, empty, so its label sits
    // as high as its neighbours'.
    Widget* ic = _attr(tag, "icon").__str__().empty() ? new Widget() : icon();
    b = w_tab(content, action, 0, 0, ic, _attr(tag, "alert").__str__().c_str());
    if (cls == "tab0") {
      _w_images(b, "gui-tab0", "gui-tab0o");
      for (int k : {STYLE_DECLARED, STYLE_NORMAL, STYLE_COMPUTED}) b->style.block[k].fg_corner = STYLE_UNSET;
      for (int k : {STYLE_DECLARED, STYLE_NORMAL, STYLE_HOVER, STYLE_FOCUS, STYLE_HOVER_FOCUS})
        b->style.block[k].fg_alpha = 255;
    }
  } else if (_is(cls, {"ibutton", "ibutton1"})) {
    b = w_ibutton1(icon(), content, action, 0, 0);
  } else if (cls == "xibutton1") {
    b = w_xibutton(icon(), content, action, 0, 0);
    _w_images(b, "gui-ibutton1", "gui-ibutton1o");
  } else if (_is(cls, {"ibutton2", "ibutton3"})) {
    b = w_ibutton_style(icon(), content, action, 0, 0, bg.c_str(), overlay.c_str());
  } else if (cls == "clan") {
    b = w_button(content, action, 0, 0);
    _w_images(b, "gui-clan1", "gui-clan1o");
    StyleBlock& d = b->style.declared();
    _w_sides(d.padding, 0, 100, 0, 100);
    _w_sides(d.margin, 0, -100, 0, -100);
    d.align = 0;
    _w_overlay_alpha(b);
    // The wide edges take effect at the next step instead of growing by one a frame.
    b->style.block[STYLE_COMPUTED] = b->style.block[STYLE_NORMAL];
  } else if (cls == "none") {
    b = new Box(content);
    b->on_click = action;
    b->focusable = 1;
  } else {
    b = w_button(content, action, 0, 0);
  }

  if (tab || cls == "tabx") {
    std::string pseudo = _attr(tag, "pseudo").__str__();
    StyleBlock& d = b->style.declared();
    // "first last" marks a lone tab: both edges.
    if (pseudo.find("first") != std::string::npos) d.margin[3] = -10, d.padding[3] = 10;
    if (pseudo.find("last") != std::string::npos) d.margin[1] = -10, d.padding[1] = 10;
    for (int k = 0; k < 10; k++) _w_settle(b);
  }
  return b;
}
