// html2gui: turns a page of GUI markup into a widget tree.
//
// html_parse cuts the markup into a flat list of tag records; the builder
// walks that list by index, hands each tag to its element builder, applies
// the attributes every element shares, nests cells in tables and links the
// focusable widgets into a tab order.
//
// Element builders share one shape (Html2guiBuilder): they start at record i
// of the n records, store at most one new widget in out (left alone when
// they build nothing) and return the index of the first record they did not
// consume. The caller owns what they build until it adds it to a container.
//
// Markup comes from mods and the web: any text gives a tree (at worst an
// empty plain Widget) or a logged skip, never a crash. Nesting is capped at
// HTML2GUI_MAX_DEPTH and table grids at HTML2GUI_MAX_GRID columns and rows.
// Main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_var.h"

// Deeper nesting (tables in cells, inputs around inputs) ends the build there.
constexpr int HTML2GUI_MAX_DEPTH = 64;
// Spans are clamped to this; cells past this column or row are dropped.
constexpr int HTML2GUI_MAX_SPAN = 64;
constexpr int HTML2GUI_MAX_GRID = 1024;
// Sizes from markup are clamped to +/- this many units.
constexpr float HTML2GUI_MAX_SIZE = 65536.0f;

// Working state of one html2gui call; it dies with the call.
struct HData {
  // Focusable widgets by tab key (tabindex * 65536 + entry number). The key is
  // 64 bits wide so that any 32-bit tabindex orders correctly.
  std::map<int64_t, Widget*> tabs;
  int32_t count = 0;                           // widgets entered into tabs so far
  var options;                                 // the caller's options ("p:max-width")
  std::map<std::string, OptionBox*> groups;    // option name -> the option leading the group
  int32_t depth = 0;                           // element builders active right now
  int32_t abandoned = 0;                       // 1 once nesting ran past the cap
  std::set<std::string> missing;               // tags without a builder, logged once
  int32_t cells_dropped = 0;                   // cells past the grid cap, logged once
};

using Html2guiBuilder = int (*)(HData& hd, var& list, int i, int n, Widget*& out);

// ---- public --------------------------------------------------------------------------------

// The root of a new tree; never null. The caller owns it.
Widget* html2gui(std::string markup, var options);

// ---- the walk (html2gui.cpp) ---------------------------------------------------------------

// At most one element from record i on; tags outside the dispatch are skipped.
int _html2gui_next(HData& hd, var& list, int i, int n, Widget*& out);
// Applies the common attributes of tag to w and returns w.
Widget* _html2gui_style(HData& hd, Widget* w, var& tag);
// Forgets the groups led by options of a subtree that is about to be
// deleted during the build (each option leaves its group by itself).
void _html2gui_forget(HData& hd, Widget* dead);
int _html2gui_table(HData& hd, var& list, int i, int n, Widget*& out);
// One cell from the "td" or "th" at record i, added to table.
int _html2gui_td(HData& hd, var& list, int i, int n, Table* table);

// A tag record's attribute without adding it to the record (reading a dict
// through [] would); none when missing.
var _attr(var& rec, const char* key);
// A hexadecimal colour, '#' optional, as 0xRRGGBB.
int32_t _hex_color(std::string s);

// ---- element builders (html2gui_elements.cpp) ----------------------------------------------

Label* mk_p(var& tag);
Label* mk_h1(var& tag);
Label* mk_h2(var& tag);
Label* mk_h3(var& tag);
Label* mk_h4(var& tag);
// "font" ("name:size") and "color" of tag onto label.
void _html_font_style(var& tag, Widget* label);
int _html2gui_p(HData& hd, var& list, int i, int n, Widget*& out);
int _html2gui_textbox(HData& hd, var& list, int i, int n, Widget*& out);
// widget in a w x h box that scrolls when it is taller; sizes below 1 count
// from the screen size.
Widget* html_menus_scrollbox(Widget* widget, int w, int h);
// The box look of tag's "class".
void mk_style(Widget* w, var& tag);
Widget* _html2gui_img_build(var& tag);
Widget* mk_img_src(std::string src);
Widget* mk_img_data(std::string data);
int _html2gui_rank(HData& hd, var& list, int i, int n, Widget*& out);

// ---- input elements (html2gui_input.cpp) ---------------------------------------------------

// The widget of the input's "type", with the common attributes applied. An
// input that is not closed consumes the element after it as its inner widget.
int _html2gui_input(HData& hd, var& list, int i, int n, Widget*& out);
// A radio option; options of one name form a group led by the first.
Widget* _html2gui_input_option(HData& hd, var& tag, Widget* inner);

// ---- builders installed by other modules ----------------------------------------------------------------
// The picture elements "trophy", "vectors", "pixart" and "planet" have their
// widgets in modules of their own, which install their builders here (from
// their init: a static library drops an object that nothing calls). "input"
// defaults to _html2gui_input and may be replaced too. An element without a
// builder is logged and skipped, so the rest of the page still builds.
// Returns the builder that was installed before (null when none).
Html2guiBuilder html2gui_builder_set(const char* tag, Html2guiBuilder fn);
Html2guiBuilder html2gui_builder_get(const char* tag);
