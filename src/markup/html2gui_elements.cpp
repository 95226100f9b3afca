// html2gui_elements: the builders of the elements that are not inputs: text,
// headings, text boxes, images, rank badges, and the box looks of "class".
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell/game_video.h"  // game_get_sw, game_get_sh: text boxes sized from the screen
#include "markup/html2gui.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"

namespace {

// A size from markup kept inside the size range; 0 when not finite.
double _size(var v) {
  double d = v.__num__();
  if (!std::isfinite(d)) return 0;
  if (d > HTML2GUI_MAX_SIZE) d = HTML2GUI_MAX_SIZE;
  if (d < -HTML2GUI_MAX_SIZE) d = -HTML2GUI_MAX_SIZE;
  return d;
}
int _units(var v) { return (int)_size(v); }

Label* _text(var& tag, int size) {
  int font = font_load("font-gui", size);
  font_set_margins(font, 0.0625f, 0.0625f, -0.0625f, -0.0625f);
  return new Label(font, _attr(tag, "content").__str__().c_str());
}

void _sides(int32_t (&word)[4], int top, int right, int bottom, int left) {
  word[0] = top, word[1] = right, word[2] = bottom, word[3] = left;
}

}  // namespace

// ---- text -------------------------------------------------------------------------------------

Label* mk_p(var& tag) { return _text(tag, 20); }
Label* mk_h1(var& tag) { return _text(tag, 40); }
Label* mk_h2(var& tag) { return _text(tag, 28); }
Label* mk_h3(var& tag) { return _text(tag, 20); }
Label* mk_h4(var& tag) { return _text(tag, 16); }

void _html_font_style(var& tag, Widget* w) {
  Label* label = dynamic_cast<Label*>(w);
  if (!label) return;
  std::string font = _attr(tag, "font").__str__();
  if (!font.empty()) {
    size_t colon = font.find(':');
    int size = colon == std::string::npos ? 0 : atoi(font.c_str() + colon + 1);
    label->font = font_load(font.substr(0, colon).c_str(), size);
  }
  std::string color = _attr(tag, "color").__str__();
  if (!color.empty()) label->style.declared().color = _hex_color(color);
}

int _html2gui_p(HData& hd, var& list, int i, int n, Widget*& out) {
  if (i < 0 || i >= n) return i + 1;
  var& tag = list[i];
  Label* l = mk_p(tag);
  _html2gui_style(hd, l, tag);
  if (hd.options.__type__() == VAR_DICT && hd.options.__has__(var("p:max-width")) &&
      l->style.declared().width == STYLE_UNSET_F)
    l->style.declared().width = (float)_size(hd.options["p:max-width"]);
  out = l;
  return i + 1;
}

int _html2gui_textbox(HData& hd, var& list, int i, int n, Widget*& out) {
  var& tag = list[i];
  Label* l = mk_p(tag);
  _html2gui_style(hd, l, tag);
  _html_font_style(tag, l);
  // The text keeps clear of its background's edges and of the scroll bar
  // beside it: the padding comes out of the box's width, not on top of it.
  // A box width below 1 (none, or a negative one) is the screen's less that
  // much; the text wraps inside it all the same.
  StyleBlock& d = l->style.declared();
  _sides(d.padding, 2, 6, 2, 6);
  int w = _units(_attr(tag, "width"));
  if (w < 1) d.width = (float)std::max(0, w + game_get_sw() - 12);
  else if (d.width != STYLE_UNSET_F) d.width = std::max(0.0f, d.width - 12);
  out = html_menus_scrollbox(l, w, _units(_attr(tag, "height")));
  return i + 1;
}

Widget* html_menus_scrollbox(Widget* widget, int w, int h) {
  if (w < 1) w = std::max(0, w + game_get_sw());
  if (h < 1) h = std::max(0, h + game_get_sh());

  Box* inner = new Box(widget);
  inner->style.declared().width = (float)w;
  inner->style.loop();
  inner->_resize();

  Box* outer;
  if (inner->oh <= h) {
    outer = new Box(inner);
  } else {
    ScrollBox* scroll = new ScrollBox();
    scroll->focusable = 1;
    scroll->add(inner, 0, 0);
    scroll->drag = 0, scroll->momentum = 0, scroll->drag_ok = 0;
    scroll->style.declared().width = (float)w;
    scroll->style.declared().height = (float)h;
    outer = new Box(new ScrollBox2(scroll));
  }
  outer->style.declared().width = (float)w;
  outer->style.declared().height = (float)h;
  return outer;
}

// ---- box looks --------------------------------------------------------------------------------

void mk_style(Widget* w, var& tag) {
  std::string cls = _attr(tag, "class").__str__();
  const char* image = nullptr;
  if (cls == "error")
    image = "gui-error";
  else if (cls == "box" || cls == "box1")
    image = "gui-box1";
  else if (cls == "box2")
    image = "gui-box2";
  else if (cls == "box3")
    image = "gui-box3";
  else if (cls == "header")
    image = "gui-header";
  if (!image) return;

  StyleBlock& d = w->style.declared();
  d.bg_image = gfx_img_load(image);
  if (cls == "error") {
    d.bg_corner = 15;
    _sides(d.padding, 10, 10, 10, 10);
    _sides(d.margin, 0, 0, 0, 0);
  } else if (cls == "header") {
    d.bg_corner = 10;
    _sides(d.padding, 2, 7, 2, 7);
    _sides(d.margin, 0, 5, 0, 5);
    d.align = -1;
  } else {
    d.bg_corner = 10;
    _sides(d.padding, 5, 8, 5, 7);
    _sides(d.margin, 0, 0, 0, 0);
  }
}

// ---- images -----------------------------------------------------------------------------------

Widget* mk_img_src(std::string src) {
  for (char& c : src)
    if (c == '/' || c == '\\') c = '_';
  Widget* w = new Widget();
  size_t colon = src.find(':');
  StyleBlock& d = w->style.declared();
  d.fg_image = gfx_img_load(src.substr(0, colon).c_str());
  if (colon != std::string::npos) {
    std::string c = src.substr(colon + 1);
    d.fg_color = _hex_color(c.substr(0, c.find(':')));
  }
  return w;
}

// mk_img_data is with the picture widgets, in html2gui_art.cpp.

Widget* _html2gui_img_build(var& tag) {
  Widget* w = _attr(tag, "data")._obj ? mk_img_data(_attr(tag, "data").__str__())
                                      : mk_img_src(_attr(tag, "src").__str__());
  StyleBlock& d = w->style.declared();
  double width = _size(_attr(tag, "width")), height = _size(_attr(tag, "height"));
  if (width != 0) d.width = (float)width;
  if (height != 0) d.height = (float)height;

  double iw = std::max(1, gfx_img_get_width(d.fg_image));
  double ih = std::max(1, gfx_img_get_height(d.fg_image));
  bool has_w = d.width != STYLE_UNSET_F, has_h = d.height != STYLE_UNSET_F;
  if (!has_w && !has_h) {
    d.width = (float)iw;
    d.height = (float)ih;
  } else if (has_w && !has_h) {
    d.height = (float)(d.width * ih / iw);
  } else if (!has_w && has_h) {
    d.width = (float)(d.height * iw / ih);
  }
  return w;
}

// ---- rank badge -------------------------------------------------------------------------------

int _html2gui_rank(HData& hd, var& list, int i, int n, Widget*& out) {
  var& tag = list[i];
  Container* c = new Container();
  c->style.declared().width = 33;
  c->style.declared().height = 22;
  _html2gui_style(hd, c, tag);

  // Flag, stars and wings, one hexadecimal digit each; anything else is 0.
  std::string v = _attr(tag, "value").__str__() + "000";
  int digit[3];
  for (int k = 0; k < 3; k++) {
    char ch = v[k];
    digit[k] = isxdigit((unsigned char)ch) ? (int)strtol(std::string(1, ch).c_str(), nullptr, 16) : 0;
  }
  const char* fmt[3] = {"flag%d", "wings%d", "stars%d"};
  const int which[3] = {digit[0], digit[2], digit[1]};
  for (int k = 0; k < 3; k++) {
    char name[16];
    snprintf(name, sizeof(name), fmt[k], which[k]);
    Widget* layer = new Widget();
    StyleBlock& d = layer->style.declared();
    d.width = c->style.declared().width;
    d.height = c->style.declared().height;
    d.fg_image = gfx_img_load(name);
    c->add(layer, 0, 0);
  }
  out = c;
  return i + 1;
}
