// html2gui: the walk over the tag records, tables and cells, the attributes
// every element shares, and the tab order.
#include "markup/html2gui.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "shell/game_video.h"  // game_get_sw, game_get_sh: percentages of the screen
#include "markup/html2gui_art.h"  // html2gui_art_init
#include "ruvezor/util/qel_gfx_image.h"  // gfx_img_load
#include "ruvezor/util/qel_html.h"
#include "ruvezor/util/qel_log.h"

// ---- attribute helpers shared by the builders ---------------------------------------------

var _attr(var& rec, const char* key) {
  if (rec.__type__() != VAR_DICT || !rec.__has__(var(key))) return var();
  return rec[key];
}

int32_t _hex_color(std::string s) {
  if (!s.empty() && s[0] == '#') s.erase(0, 1);
  return (int32_t)(strtoul(s.c_str(), nullptr, 16) & 0xffffff);
}

// ---- builders installed from outside --------------------------------------------------------

namespace {

struct Html2guiState {
  std::map<std::string, Html2guiBuilder> builders;  // tag -> builder, only for late modules
};

Html2guiState& _h2g_state() {
  static Html2guiState s;
  // The picture builders install themselves through html2gui_builder_set,
  // which comes back here: the flag is up before the call.
  static bool art = false;
  if (!art) {
    art = true;
    html2gui_art_init();
  }
  return s;
}

// Keeps a depth count for the builders that recurse; see HTML2GUI_MAX_DEPTH.
struct DepthGuard {
  HData& hd;
  explicit DepthGuard(HData& h) : hd(h) { hd.depth++; }
  ~DepthGuard() { hd.depth--; }
};

bool _too_deep(HData& hd) {
  if (hd.abandoned) return true;
  if (hd.depth < HTML2GUI_MAX_DEPTH) return false;
  qel_log("html2gui: markup nested deeper than %d, rest of the page skipped\n", HTML2GUI_MAX_DEPTH);
  hd.abandoned = 1;
  return true;
}

// A size from markup: non-finite values are dropped, the rest clamped.
bool _size_ok(double v, float& out) {
  if (!std::isfinite(v)) return false;
  if (v > HTML2GUI_MAX_SIZE) v = HTML2GUI_MAX_SIZE;
  if (v < -HTML2GUI_MAX_SIZE) v = -HTML2GUI_MAX_SIZE;
  out = (float)v;
  return true;
}

// "width" or "height": a number, or a percentage of the screen side.
void _style_size(var v, float& word, int screen) {
  if (v._obj == nullptr) return;
  std::string s = v.__str__();
  double num = v.__num__();
  float f;
  if (s.find('%') != std::string::npos) {
    if (_size_ok(num * screen / 100, f)) word = f;
  } else if (num != 0) {
    if (_size_ok(num, f)) word = f;
  }
}

int _side(const std::string& s, const char* lo, const char* mid, const char* hi) {
  if (s == lo) return -1;
  if (s == hi) return 1;
  if (s == mid) return 0;
  return STYLE_UNSET;
}

// "span" attribute: 0 (or missing) is 1; negative ones are taken as 1 too,
// and large ones clamped so the grid stays small.
int _span(var v) {
  int s = (int)v;
  if (s < 1) return 1;
  return s > HTML2GUI_MAX_SPAN ? HTML2GUI_MAX_SPAN : s;
}

}  // namespace

Html2guiBuilder html2gui_builder_set(const char* tag, Html2guiBuilder fn) {
  if (!tag) return nullptr;
  Html2guiState& s = _h2g_state();
  Html2guiBuilder old = html2gui_builder_get(tag);
  if (fn)
    s.builders[tag] = fn;
  else
    s.builders.erase(tag);
  return old;
}

Html2guiBuilder html2gui_builder_get(const char* tag) {
  if (!tag) return nullptr;
  Html2guiState& s = _h2g_state();
  auto it = s.builders.find(tag);
  if (it != s.builders.end()) return it->second;
  if (strcmp(tag, "input") == 0) return _html2gui_input;
  return nullptr;
}

// ---- the page ---------------------------------------------------------------------------------

Widget* html2gui(std::string markup, var options) {
  // The tokenizer turns the entity into a line feed inside the text around it.
  markup = str_replace(markup, "<br/>", "&#10;");
  var list = html_parse(markup);
  int n = list.__type__() == VAR_LIST ? list.__len__() : 0;

  HData hd;
  hd.options = options;
  Widget* root = nullptr;
  _html2gui_next(hd, list, 0, n, root);
  if (!root) root = new Widget();

  // Builders may have deleted widgets they had styled (the inner element of a
  // text input, a dropped cell): link only what is in the tree, each once.
  std::vector<Widget*> all = root->_list_descendants();
  std::unordered_set<Widget*> live(all.begin(), all.end());
  live.insert(root);
  Widget* prev = nullptr;
  for (auto& [key, w] : hd.tabs) {
    if (!live.erase(w)) continue;
    if (prev) prev->next = w;
    prev = w;
  }
  return root;
}

int _html2gui_next(HData& hd, var& list, int i, int n, Widget*& out) {
  if (i >= n) return i;
  if (_too_deep(hd)) return n;
  DepthGuard guard(hd);

  for (; i < n; i++) {
    var& rec = list[i];
    if (rec.__type__() != VAR_DICT) continue;
    std::string tag = _attr(rec, "tag").__str__();
    int closed = (int)_attr(rec, "closed");

    if (tag == "table") {
      if (closed) return i;
      return _html2gui_table(hd, list, i, n, out);
    }
    if (tag == "td" || tag == "th" || tag == "tr") return i;
    if (tag == "textbox") return _html2gui_textbox(hd, list, i, n, out);
    if (tag == "div") {
      Label* l = mk_p(rec);
      _html2gui_style(hd, l, rec);
      _html_font_style(rec, l);
      out = l;
      return i + 1;
    }
    if (tag == "p") return _html2gui_p(hd, list, i, n, out);
    if (tag == "h1" || tag == "h2" || tag == "h3" || tag == "h4") {
      Label* (*mk[])(var&) = {mk_h1, mk_h2, mk_h3, mk_h4};
      out = _html2gui_style(hd, mk[tag[1] - '1'](rec), rec);
      return i + 1;
    }
    if (tag == "img") {
      out = _html2gui_img_build(rec);
      return i + 1;
    }
    if (tag == "rank") return _html2gui_rank(hd, list, i, n, out);
    if (tag == "trophy" || tag == "vectors" || tag == "pixart" || tag == "planet" || tag == "input") {
      Html2guiBuilder fn = html2gui_builder_get(tag.c_str());
      if (fn) return fn(hd, list, i, n, out);
      if (hd.missing.insert(tag).second) qel_log("html2gui: no builder for <%s>, skipped\n", tag.c_str());
    }
  }
  return n;
}

// ---- tables -----------------------------------------------------------------------------------

int _html2gui_table(HData& hd, var& list, int i, int n, Widget*& out) {
  Table* t = new Table();
  t->row_cursor = -1;
  t->col_cursor = 0;
  out = t;
  _html2gui_style(hd, t, list[i]);
  if (_too_deep(hd)) return n;
  DepthGuard guard(hd);

  for (i = i + 1; i < n;) {
    var& rec = list[i];
    if (rec.__type__() != VAR_DICT) {
      i++;
      continue;
    }
    std::string tag = _attr(rec, "tag").__str__();
    int closed = (int)_attr(rec, "closed");
    if (tag == "table" && closed == 1) return i + 1;
    if ((tag == "td" || tag == "th") && !closed) {
      int j = _html2gui_td(hd, list, i, n, t);
      i = j > i ? j : i + 1;  // a cell always moves the scan on
      continue;
    }
    if (tag == "tr" && !closed) {
      if (t->row_cursor < HTML2GUI_MAX_GRID) t->row_cursor++;
      t->col_cursor = 0;
    }
    i++;
  }
  return n;
}

int _html2gui_td(HData& hd, var& list, int i, int n, Table* table) {
  var& cell = list[i];
  Widget* content = nullptr;
  int j = _html2gui_next(hd, list, i + 1, n, content);
  if (!content) {
    // Text alone: the cell's own record becomes the paragraph.
    Widget* p = nullptr;
    _html2gui_p(hd, list, j - 1, n, p);
    content = p;
  }
  if (!content) content = new Widget();

  Box* box = new Box(content);
  StyleBlock& d = box->style.declared();
  d.align = _side(_attr(cell, "align").__str__(), "left", "center", "right");
  d.valign = _side(_attr(cell, "valign").__str__(), "top", "middle", "bottom");
  if (_attr(cell, "clip").__bool__()) d.clip = 1;
  _html2gui_style(hd, box, cell);

  box->colspan = _span(_attr(cell, "colspan"));
  box->rowspan = _span(_attr(cell, "rowspan"));
  if (table->row_cursor < 0) table->row_cursor = 0;
  if (table->col_cursor + box->colspan > HTML2GUI_MAX_GRID ||
      table->row_cursor + box->rowspan > HTML2GUI_MAX_GRID) {
    // Once a page: a long table would write a line for every row past the cap.
    if (hd.cells_dropped++ == 0)
      qel_log("html2gui: table cell past %d columns or rows, dropped (and any more of this page)\n",
              HTML2GUI_MAX_GRID);
    _html2gui_forget(hd, box);
    delete box;
    return j;
  }
  box->col = table->col_cursor;
  box->row = table->row_cursor;
  table->col_cursor += box->colspan;
  table->add(box, 0, 0);
  return j;
}

void _html2gui_forget(HData& hd, Widget* dead) {
  std::vector<Widget*> list = dead->_list_descendants();
  list.push_back(dead);
  std::unordered_set<Widget*> gone(list.begin(), list.end());
  for (auto it = hd.groups.begin(); it != hd.groups.end();)
    it = gone.count(it->second) ? hd.groups.erase(it) : std::next(it);
}

// ---- common attributes ------------------------------------------------------------------------

Widget* _html2gui_style(HData& hd, Widget* w, var& tag) {
  if (!w) return w;
  StyleBlock& d = w->style.declared();

  _style_size(_attr(tag, "width"), d.width, game_get_sw());
  _style_size(_attr(tag, "height"), d.height, game_get_sh());

  int a = _side(_attr(tag, "align").__str__(), "left", "center", "right");
  if (a != STYLE_UNSET) d.align = a;
  int va = _side(_attr(tag, "valign").__str__(), "top", "middle", "bottom");
  if (va != STYLE_UNSET) d.valign = va;

  if (w->focusable) {
    int tabindex = (int)_attr(tag, "tabindex");
    if (tabindex >= 0) {
      hd.tabs[(int64_t)tabindex * 65536 + hd.count] = w;
      hd.count++;
    }
  }

  var name = _attr(tag, "name");
  if (name._obj) w->name = name.__str__();

  var bg = _attr(tag, "background");
  if (bg._obj) {
    std::string s = bg.__str__();
    size_t colon = s.find(':');
    d.bg_image = gfx_img_load(s.substr(0, colon).c_str());
    if (colon != std::string::npos) {
      std::string c = s.substr(colon + 1);
      size_t end = c.find(':');
      if (end != std::string::npos) c.resize(end);
      if (!c.empty() && c[0] == '#') c.erase(0, 1);
      d.bg_color = (int32_t)(strtoul(c.c_str(), nullptr, 16) & 0xffffff);
    }
  }

  if (_attr(tag, "disabled")._obj) w->disabled = 1;
  mk_style(w, tag);
  return w;
}
