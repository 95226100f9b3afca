// html2gui_input: the markup's "input" element and the factories of its
// widgets (text entries, sliders, toggles, check boxes, radio options).
//
// An input that is not closed takes the element after it as its inner
// widget: buttons and options show it, every other type throws it away.
// A thrown-away subtree is kept out of the tab map and out of the build's
// map of option groups before it is deleted.
#include <algorithm>
#include <cmath>  // std::ceil
#include <cstdint>
#include <map>
#include <string>

#include "markup/html2gui.h"
#include "markup/html2gui_widgets.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx_image.h"  // gfx_img_load, gfx_img_get_width

// ---- helpers -----------------------------------------------------------------------------------

static var _w_action(const char* type, var value) {
  var kt("type"), vt(type), kv("value");
  return var(VAR_DICT, 4, &kt, &vt, &kv, &value);
}

static std::string _w_text(var& tag, const char* key) { return _attr(tag, key).__str__(); }
static int _w_int(var& tag, const char* key) { return (int)_attr(tag, key); }

// Declared and normal-state pictures, and the "on" pair in the override block.
static void _w_on_off(Widget* w, const char* bg0, const char* bg1, const char* fg0, const char* fg1) {
  for (int k : {STYLE_DECLARED, STYLE_NORMAL}) {
    w->style.block[k].bg_image = gfx_img_load(bg0);
    w->style.block[k].fg_image = gfx_img_load(fg0);
  }
  w->style.block[STYLE_OVERRIDE].bg_image = gfx_img_load(bg1);
  w->style.block[STYLE_OVERRIDE].fg_image = gfx_img_load(fg1);
  StyleBlock& d = w->style.declared();
  d.bg_corner = 15, d.fg_corner = 15;
  _w_overlay_alpha(w);
}

// ---- text entries ------------------------------------------------------------------------------

// An entry holding value from the start: not an edit, so undo keeps it.
static TextInput* _w_entry(int font, const std::string& value, int maxlength) {
  TextInput* t = new TextInput(font, std::max(maxlength, (int)value.size()));
  t->value = value;
  t->_mktxt2();
  t->focusable = 1;
  t->style.loop();
  t->_resize();
  return t;
}

TextInput* w_input(const char* name, const char* value, int maxlength) {
  int font = _w_font("font-gui", 20);
  TextInput* t = _w_entry(font, value ? value : "", maxlength);
  t->name = name ? name : "";
  StyleBlock& d = t->style.declared();
  d.width = 150;
  int pad = (42 - (int)font_get_height(font, nullptr, 0)) / 2;
  _w_sides(d.padding, pad, 4, pad, 4);
  _w_sides(d.margin, 3, 3, 3, 3);
  d.bg_image = gfx_img_load("gui-input1"), d.bg_corner = 15;
  d.fg_image = gfx_img_load("gui-input1o"), d.fg_corner = 15;
  _w_overlay_alpha(t);
  return t;
}

// "maxlength" 0 or missing means 255; a negative one would refuse every edit.
static int _w_maxlength(var& tag) {
  int n = _w_int(tag, "maxlength");
  return n > 0 ? n : 255;
}

TextInput* mk_input_text(var& tag) {
  TextInput* t = w_input(_w_text(tag, "name").c_str(), _w_text(tag, "value").c_str(), _w_maxlength(tag));
  if (_w_text(tag, "encoding") == "latin1") t->encoding = 1;
  return t;
}

TextInput* mk_input_password(var& tag) {
  TextInput* t = w_input(_w_text(tag, "name").c_str(), _w_text(tag, "value").c_str(), _w_maxlength(tag));
  t->password = 1;
  return t;
}

TextInput* mk_input_textarea(var& tag) {
  TextInput* t = w_input(_w_text(tag, "name").c_str(), _w_text(tag, "value").c_str(), 255);
  t->textarea = 1;
  return t;
}

// Draws nothing, but carries its value under its name.
TextInput* mk_input_hidden(var& tag) {
  TextInput* t = _w_entry(_w_font("font-gui", 20), _w_text(tag, "value"), 255);
  t->name = _w_text(tag, "name");
  StyleBlock& d = t->style.declared();
  d.width = 0, d.height = 0, d.clip = 1;
  return t;
}

Widget* _html2gui_input_hidden(var& tag) { return mk_input_hidden(tag); }
Widget* _html2gui_input_text(var& tag) { return mk_input_text(tag); }
Widget* _html2gui_input_password(var& tag) { return mk_input_password(tag); }

// ---- sliders, toggles, check boxes -------------------------------------------------------------

NumSlider* w_slider(const char* name, int value, int low, int high, int step) {
  NumSlider* s = new NumSlider();
  s->low = low, s->high = high, s->value = value, s->step = step;  // the value is not clamped
  s->font = _w_font("font-gui", 20);
  StyleBlock& d = s->style.declared();
  d.width = 160, d.height = 29;
  _w_sides(d.padding, 7, 7, 7, 7);
  _w_sides(d.margin, 0, 0, 0, 0);
  s->box_width = (int)std::ceil(font_get_width(s->font, "8888"));
  s->label_width = s->box_width + 10;
  int knob = gfx_img_load("gui-slider2");  // a missing picture has height 0
  s->knob_width = (int)(gfx_img_get_width(knob) * 29.0 / std::max(1, gfx_img_get_height(knob)));
  s->live = 0, s->dragging = 0, s->typing = 0, s->typed[0] = 0;
  s->focusable = 1;
  s->name = name ? name : "";
  return s;
}

// A toggle or check box of the given declared size.
template <class T>
static T* _w_switch(const char* name, int value, float width, float height) {
  T* t = new T();
  t->font = _w_font("font-gui", 20);
  t->value = value;
  t->style.override_on = value == 1;
  StyleBlock& d = t->style.declared();
  d.width = width, d.height = height;
  _w_sides(d.margin, 3, 3, 3, 3);
  _w_on_off(t, "gui-toggle0", "gui-toggle1", "gui-toggle0o", "gui-toggle1o");
  t->focusable = 1;
  t->name = name ? name : "";
  return t;
}

MyToggle* w_toggle(const char* name, int value) { return _w_switch<MyToggle>(name, value, 80, 44); }

Widget* mk_input_slider(var& tag, var& action) {
  int high = _w_int(tag, "high"), step = _w_int(tag, "step");
  NumSlider* s = w_slider(_w_text(tag, "name").c_str(), _w_int(tag, "value"), _w_int(tag, "low"),
                          high ? high : 100, step ? step : 1);
  s->on_change = action;
  return s;
}

Widget* mk_input_toggle(var& tag, var& action) {
  MyToggle* t = w_toggle(_w_text(tag, "name").c_str(), _w_int(tag, "value"));
  t->on_change = action;
  return t;
}

Widget* mk_input_checkbox(var& tag, var& action) {
  MyCheckbox* c = _w_switch<MyCheckbox>(_w_text(tag, "name").c_str(), _w_int(tag, "value"), 44, 44);
  c->on_change = action;
  return c;
}

Widget* _html2gui_input_slider(var& tag) {
  var action = _w_action("onchange", _attr(tag, "onchange"));
  return mk_input_slider(tag, action);
}

Widget* _html2gui_input_toggle(var& tag) {
  var action = _w_action("onchange", _attr(tag, "onchange"));
  return mk_input_toggle(tag, action);
}

Widget* _html2gui_input_checkbox(var& tag) {
  var action = _w_action("onchange", _attr(tag, "onchange"));
  return mk_input_checkbox(tag, action);
}

// ---- radio options -----------------------------------------------------------------------------

OptionBox* w_option(Widget* content, var value, OptionBox* group) {
  OptionBox* o = new OptionBox(content ? content : new Widget());
  o->value = value;
  // Members point at the leader itself, so a group is never two levels deep.
  o->leader = group ? (group->leader ? group->leader : group) : o;
  o->leader->members.push_back(o);
  StyleBlock& d = o->style.declared();
  d.width = 80, d.height = 44;
  _w_sides(d.margin, 3, 3, 3, 3);
  _w_on_off(o, "gui-option0", "gui-option1", "gui-option0o", "gui-option1o");
  o->focusable = 1;
  _w_settle(o);
  return o;
}

Widget* mk_input_option(var& tag, Widget* inner, var& action, Widget* group) {
  Widget* content = inner ? inner : new Label(_w_font("font-gui", 16), _w_text(tag, "title").c_str());
  var value = _attr(tag, "value");
  OptionBox* o = w_option(content, value, dynamic_cast<OptionBox*>(group));
  o->on_change = action;
  if (_w_int(tag, "selected") != 0) o->set_value(value);
  return o;
}

Widget* _html2gui_input_option(HData& hd, var& tag, Widget* inner) {
  std::string name = _w_text(tag, "name");
  auto found = hd.groups.find(name);
  OptionBox* group = found == hd.groups.end() ? nullptr : found->second;
  var action = _w_action("onchange", _attr(tag, "onchange"));
  OptionBox* o = static_cast<OptionBox*>(mk_input_option(tag, inner, action, group));
  if (!group) {
    hd.groups[name] = o;
    o->name = name;
  } else {
    o->name.clear();  // the common attributes name it again
  }
  if (_w_int(tag, "checked") == 1) {
    Event click = {};
    click.type = GUI_EV_CLICK;
    o->event(&click);
  }
  return o;
}

// ---- buttons -----------------------------------------------------------------------------------

Widget* _html2gui_input_button(var& tag, Widget* inner) {
  var action = _w_action("onclick", _attr(tag, "onclick"));
  return mk_button(tag, inner, action);
}

Widget* _html2gui_input_image(var& tag) {
  var action = _w_action("onclick", _attr(tag, "onclick"));
  return mk_button(tag, _html2gui_img_build(tag), action);
}

// ---- the element -------------------------------------------------------------------------------

int _html2gui_input(HData& hd, var& list, int i, int n, Widget*& out) {
  if (i < 0 || i >= n) return i;
  var tag = list[i];
  std::string type = _w_text(tag, "type");
  bool keeps_inner = type == "button" || type == "option";
  Widget* inner = nullptr;
  int next = i + 1;
  if (_w_int(tag, "closed") == 0) {
    // An inner element that will be deleted must not enter the tab order.
    std::map<int64_t, Widget*> tabs;
    if (!keeps_inner) tabs.swap(hd.tabs);
    next = _html2gui_next(hd, list, i + 1, n, inner);
    if (!keeps_inner) tabs.swap(hd.tabs);
  }

  Widget* w;
  if (type == "button")
    w = _html2gui_input_button(tag, inner);
  else if (type == "hidden")
    w = mk_input_hidden(tag);
  else if (type == "text")
    w = mk_input_text(tag);
  else if (type == "textarea")
    w = mk_input_textarea(tag);
  else if (type == "password")
    w = mk_input_password(tag);
  else if (type == "image")
    w = _html2gui_input_image(tag);
  else if (type == "slider")
    w = _html2gui_input_slider(tag);
  else if (type == "toggle")
    w = _html2gui_input_toggle(tag);
  else if (type == "checkbox")
    w = _html2gui_input_checkbox(tag);
  else if (type == "option")
    w = _html2gui_input_option(hd, tag, inner);
  else
    w = new Widget();

  _html2gui_style(hd, w, tag);
  if (inner && !keeps_inner) {
    _html2gui_forget(hd, inner);
    delete inner;
  }
  out = w;
  return next;
}
