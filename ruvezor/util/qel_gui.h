// qel_gui: the widget tree of every screen.
//
// Widget is one rectangle with a name, eight action values and a style
// sheet; Container owns an ordered list of children and routes pointer, key
// and focus events to them. Widgets never act on the program: event()
// returns a var (none when nothing happened) that the screen acts on. State
// is the screen base class. Main thread only.
//
// Geometry is in logical units. Each widget has an outer box (pos x, y and
// outer size ow, oh in its parent's inner coordinates) and an inner box
// (origin ox, oy inside the outer box, size w, h) where its content is drawn.
//
// Event types used inside the tree besides the driver's: 19 broadcast,
// 24 focus, 25 blur, 26 enter, 27 leave, 28 click.
#pragma once

#include <cstddef>  // offsetof
#include <cstdint>
#include <string>
#include <vector>

#include "ruvezor/util/qel_driver.h"  // Event
#include "ruvezor/util/qel_gfx.h"     // GfxRect
#include "ruvezor/util/qel_var.h"

class Container;

// ---- event and key codes the tree uses ----------------------------------------------------

enum {
  GUI_EV_KEYDOWN = 6,
  GUI_EV_KEYUP = 7,
  GUI_EV_PRESS = 8,
  GUI_EV_MOVE = 9,
  GUI_EV_RELEASE = 10,
  GUI_EV_WHEEL = 14,
  GUI_EV_BROADCAST = 19,
  GUI_EV_FOCUS = 24,
  GUI_EV_BLUR = 25,
  GUI_EV_ENTER = 26,
  GUI_EV_LEAVE = 27,
  GUI_EV_CLICK = 28,
};

enum {
  GUI_KEY_UP = 1,
  GUI_KEY_RIGHT = 2,
  GUI_KEY_DOWN = 3,
  GUI_KEY_LEFT = 4,
  GUI_KEY_RETURN = 8,
  GUI_KEY_TAB = 26,
  GUI_KEY_SPACE = 27,
};

// ---- style sheet ------------------------------------------------------------------------

// A word that holds no value.
constexpr int32_t STYLE_UNSET = -16777215;      // 0xFF000001
constexpr float STYLE_UNSET_F = -16777215.0f;   // bit pattern 0xCB7FFFFF

constexpr int STYLE_WORDS = 35;
constexpr int STYLE_BLOCKS = 7;

// One block of style words; four-sided groups are top, right, bottom, left.
struct StyleBlock {
  float width;           // outer width that layout aims for
  float height;          // outer height that layout aims for
  int32_t clip;          // nonzero: a Box clips and keeps its size
  int32_t align;         // -1 left, 0 centre, 1 right
  int32_t valign;        // -1 top, 0 middle, 1 bottom
  int32_t color;         // text colour 0xRRGGBB
  int32_t alpha;         // text opacity 0..255
  int32_t border[4];     // border widths
  int32_t border_color;  // 0xRRGGBB
  int32_t padding[4];    // between border and inner box
  int32_t margin[4];     // outside the border
  int32_t bg_image;      // image handle, 0 none
  int32_t bg_color;      // fill colour, or tint of bg_image
  int32_t bg_alpha;      // 0..255
  int32_t bg_corner;     // nine-slice corner size
  int32_t bg_tile;       // tile size
  int32_t fg_image;      // drawn over the background
  int32_t fg_color;
  int32_t fg_alpha;
  int32_t fg_corner;
  int32_t fg_tile;
  int32_t sound_click;   // sample handles played by the theme
  int32_t sound_press;
  int32_t sound_release;
  int32_t sound_enter;
  int32_t sound_focus;
};
static_assert(sizeof(StyleBlock) == STYLE_WORDS * 4);
static_assert(offsetof(StyleBlock, clip) == 8);
static_assert(offsetof(StyleBlock, border) == 28);
static_assert(offsetof(StyleBlock, padding) == 48);
static_assert(offsetof(StyleBlock, margin) == 64);
static_assert(offsetof(StyleBlock, bg_image) == 80);
static_assert(offsetof(StyleBlock, sound_focus) == 136);

// Block roles. The block for visual state s is s + 1.
enum {
  STYLE_DECLARED = 0,     // given by markup and builders
  STYLE_NORMAL = 1,       // visual state 0
  STYLE_COMPUTED = 2,     // what layout, painting and sounds read
  STYLE_HOVER = 3,        // visual state 2
  STYLE_FOCUS = 4,        // visual state 3
  STYLE_HOVER_FOCUS = 5,  // visual state 4
  STYLE_OVERRIDE = 6,     // wins while override_on is 1
};

// The seven blocks, then the widget state they are computed from; the state
// fields are the widget's own hover, focus and visual state.
struct StyleSheet {
  StyleBlock block[STYLE_BLOCKS];
  int32_t hover = 0;        // 1 while the pointer is over the widget
  int32_t focus = 0;        // 1 while it is on the focus chain
  int32_t hover_focus = 0;  // 1 while both are
  int32_t override_on = 0;  // 1 makes the override block win
  int32_t vstate = 0;       // 0 normal, 2 hover, 3 focus, 4 hover and focus

  StyleSheet();  // every word unset

  StyleBlock& declared() { return block[STYLE_DECLARED]; }
  StyleBlock& computed() { return block[STYLE_COMPUTED]; }
  const StyleBlock& computed() const { return block[STYLE_COMPUTED]; }

  // One animation step of the computed block toward the current target.
  void loop();

  static int c_prep(int cur, int target, int step);  // per 8-bit channel
  static int i_prep(int cur, int target, int step);
};

// Word k of a block as raw bits (k in 0..34); the first two are floats.
int32_t style_word_get(const StyleBlock& b, int k);
void style_word_set(StyleBlock& b, int k, int32_t bits);
// A computed integer word, or `otherwise` when it is unset.
inline int32_t style_or(int32_t word, int32_t otherwise) { return word == STYLE_UNSET ? otherwise : word; }
inline float style_or(float word, float otherwise) { return word == STYLE_UNSET_F ? otherwise : word; }

// ---- widget -----------------------------------------------------------------------------

class Widget {
public:
  Container* parent = nullptr;  // null for a root
  Widget* next = nullptr;       // successor in tab order
  float ox = 0, oy = 0;         // inner box origin inside the outer box
  float w = 0, h = 0;           // inner size
  float x = 0, y = 0;           // outer top-left in the parent's inner box
  float ow = 0, oh = 0;         // outer size
  float sx = 0, sy = 0;         // content scroll, taken off children's positions
  var on_click;    // type 28
  var on_press;    // type 8
  var on_release;  // type 10
  var on_move;     // type 9
  var on_change;   // value widgets only
  var on_enter;    // type 26
  var on_leave;    // type 27
  var on_focus;    // type 24
  std::string name;
  StyleSheet style;
  int32_t disabled = 0;   // skipped by hit tests, focus and broadcasts
  int32_t focusable = 0;  // may take focus by pointer, arrows and _find_focus
  int32_t col = 0, row = 0;
  int32_t colspan = 1, rowspan = 1;

  Widget() = default;
  Widget(const Widget&) = delete;
  Widget& operator=(const Widget&) = default;  // fields only; see Container::operator=

  virtual Widget* find(const char* name);
  virtual const char* get_value_s();
  virtual void set_value_s(const char* s);
  virtual int get_value_i();
  virtual void set_value_i(int v);
  virtual var get_value();
  virtual void set_value(var v);
  virtual var _focus();
  virtual var _hover();
  virtual Widget* find_hover();
  virtual var active();
  virtual std::vector<Widget*> _list_descendants();
  virtual bool _is_focus();
  virtual var event(Event* e);
  virtual void loop();
  virtual void paint();
  virtual void resize();
  virtual void resize(int w, int h);
  // Themed entry points: containers call these on their children.
  virtual var _event(Event* e);
  virtual void _paint();
  virtual void _resize();
  virtual void _resize(int w, int h);
  virtual ~Widget();

  // Rectangle in screen units: the inner box, or the outer box when outer.
  GfxRect get_abs_rect(bool outer);
  // Arrow-key move of the focus to the nearest widget in direction (dx, dy).
  var _nav(int dx, int dy);
  Widget* root();
};

// ---- container --------------------------------------------------------------------------

class Container : public Widget {
public:
  std::vector<Widget*> children;  // owned, painting order
  Widget* hovered = nullptr;      // child under the pointer
  Widget* focused = nullptr;      // child on the focus chain
  int32_t focus_guard = 0;        // set while _find_focus runs

  Container() = default;
  Container(const Container&) = delete;
  // Takes o's widget fields, then drops every child of this one.
  Container& operator=(const Container& o);
  ~Container() override;

  void add(Widget* w, int x, int y);
  void _find_focus();

  using Widget::resize;
  Widget* find(const char* name) override;
  Widget* find_hover() override;
  std::vector<Widget*> _list_descendants() override;
  bool _is_focus() override;
  var event(Event* e) override;
  void loop() override;
  void paint() override;
  void resize() override;
};

// ---- theme ------------------------------------------------------------------------------

// Box model around a widget's inner box; the themed entry points call it.
struct Theme {
  static var event(Widget* w, Event* e);
  static void paint(Widget* w);
  static void resize(Widget* w);
  static void resize(Widget* w, int width, int height);
};

// Edge sums of the computed style (margin + border + padding; unset as 0).
int gui_edge_left(const Widget* w);
int gui_edge_top(const Widget* w);
int gui_edge_right(const Widget* w);
int gui_edge_bottom(const Widget* w);

// Whether the player can see w at all: its outer box has an area, and it is
// not a plain Widget whose style draws nothing (a blank backdrop that only
// catches the pointer). Arrow keys never move the focus to an unseen widget.
bool gui_seen(Widget* w);

// ---- layout containers and labels -------------------------------------------------------
// (qel_gui_layout.cpp)

// A container built around its first child: it grows to fit the child (or,
// with the clip word, keeps its declared size and cuts the child) and places
// it by align and valign.
class Box : public Container {
public:
  explicit Box(Widget* child);

  using Container::resize;
  void paint() override;
  void resize() override;
  void resize(int w, int h) override;
  virtual void _align();
};

// One radio option. The leader of a group holds every member and the chosen
// value; clicking an option selects its value in the whole group. An option
// leaves its group when it is destroyed, however that happens; a leader
// hands the group and its value to the next member.
class OptionBox : public Box {
public:
  var value;                      // this option's own value
  OptionBox* leader = nullptr;    // the option that holds the group; null: itself
  std::vector<OptionBox*> members;  // in the leader: every option of the group
  var selected;                   // in the leader: the group's current value

  explicit OptionBox(Widget* child);
  ~OptionBox() override;

  var get_value() override;
  void set_value(var v) override;
  var event(Event* e) override;

private:
  OptionBox* _lead() { return leader ? leader : this; }
  void _mark();
};

// Cells on a grid of columns and rows sized to fit them; spans allowed.
class Table : public Container {
public:
  int32_t row_cursor = -1;        // builders append rows and cells with these
  int32_t col_cursor = 0;
  Widget* background = nullptr;   // disabled first child spanning the grid

  Table();

  using Container::resize;
  void resize() override;
};

bool t_sort_by_colspan(Widget* a, Widget* b);
bool t_sort_by_rowspan(Widget* a, Widget* b);

// Content (the first child) scrolled by dragging with momentum, and by the
// wheel; sy is the scroll offset.
class ScrollBox : public Container {
public:
  int32_t drag = 0;       // distance dragged since the press
  float momentum = 0;
  int32_t drag_ok = 0;    // 1 when a pointer drag may scroll

  ScrollBox() = default;

  using Container::resize;
  int get_value_i() override;
  void set_value_i(int v) override;
  var event(Event* e) override;
  void loop() override;
  void paint() override;
  void resize() override;

private:
  int _max_y();  // the largest scroll offset
  int _max_x();
};

class VSlider;

// A scrolled content (in practice a ScrollBox) beside a vertical scroll bar;
// the bar follows the content's scroll offset and drives it when moved.
class ScrollBox2 : public Table {
public:
  Container* content = nullptr;  // cell (0, 0), owned as a child
  VSlider* slider = nullptr;     // cell (1, 0), owned as a child; on_change is -1

  explicit ScrollBox2(Container* content);

  using Table::resize;
  var event(Event* e) override;
  void loop() override;
  void paint() override;
  void resize() override;
};

// A line or block of text in one font, wrapped at its computed width.
class Label : public Widget {
public:
  int32_t font = 0;
  std::string text;

  Label(int font, const char* text);

  using Widget::resize;
  void set_value_s(const char* s) override;
  var event(Event* e) override;
  void paint() override;
  void resize() override;
};

// ---- screen base class ------------------------------------------------------------------

// Screens hold the game they belong to and keep their widgets in a root
// Container of their own.
class State {
public:
  virtual void init() {}
  virtual void deinit() {}
  virtual void paint() {}
  virtual void event(Event e) {}
  virtual void loop(float dt) {}
  virtual var call(var msg) { return var(); }
  virtual ~State() = default;
};

// ---- slider, toggle and check box widgets -----------------------------------------------
// (qel_gui_widgets.cpp)
//
// Leaves that hold an integer and return their on_change value from event()
// when it changes.

// Horizontal number slider: a track with a knob, and on the right a number
// box that can be clicked and typed into.
class NumSlider : public Widget {
public:
  int32_t low = 0;
  int32_t high = 0;
  int32_t value = 0;
  int32_t knob_width = 0;    // width of the knob image
  int32_t label_width = 0;   // number box width + 10: the right part the track leaves free
  int32_t box_width = 0;     // number box width
  int32_t step = 1;          // never 0: the divisor of the snap
  int32_t live = 0;          // 1: drags report at once; 0: only at release
  int32_t font = 0;
  int32_t dragging = 0;      // 1 while the pointer drags the knob
  int32_t pressed_in_box = 0;  // the last press fell into the number box
  char typed[256] = {};      // digits typed so far (at most 4 kept)
  int32_t typing = 0;        // 1 while a number is typed

  NumSlider() = default;

  int get_value_i() override;
  void set_value_i(int v) override;  // not clamped
  var get_value() override;
  void set_value(var v) override;
  var event(Event* e) override;
  void paint() override;
  virtual void change();  // after every set_value_i
};

// Vertical scroll bar.
class VSlider : public Widget {
public:
  int32_t low = 0;
  int32_t high = 0;
  int32_t value = 0;
  int32_t knob_length = 0;   // along the bar
  float fade = 0;            // drawing alpha, eased toward the enabled look each frame

  VSlider() = default;

  int get_value_i() override;
  void set_value_i(int v) override;  // limited to [low, high]
  var event(Event* e) override;
  void paint() override;
  virtual void change();  // after every set_value_i
};

// YES/NO switch: 1 for on; a click turns anything else into 1 and 1 into -1.
// The override style block (the "on" look) applies exactly while it is on.
class MyToggle : public Widget {
public:
  int32_t font = 0;
  int32_t value = 0;

  MyToggle() = default;

  int get_value_i() override;
  void set_value_i(int v) override;
  var get_value() override;
  void set_value(var v) override;
  var event(Event* e) override;
  void paint() override;
};

// Check box with the same values and looks as MyToggle; shows a tick when on.
class MyCheckbox : public Widget {
public:
  int32_t font = 0;
  int32_t value = 0;

  MyCheckbox() = default;

  int get_value_i() override;
  void set_value_i(int v) override;
  var get_value() override;
  void set_value(var v) override;
  var event(Event* e) override;
  void paint() override;
};
