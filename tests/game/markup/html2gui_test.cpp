// Markup pages to widget trees: what becomes the root, how tables place their
// cells, the shared attributes, the tab order, the picture and text elements,
// and hostile pages (mutated, deeply nested) under the sanitizers.
#include "markup/html2gui.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_gui.h"
#include "z2_test_util.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>  // the pictures the pages name

#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// A GL context on a 640 x 640 window, data read from a scratch directory that
// holds a mono font as "font-gui" and the pictures the tests name.
class Html2gui : public testing::Test {
protected:
  z2test::TempDir tmp;
  std::string dir;

  void SetUp() override {
    dir = tmp.enter("html2gui-").string();
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    driver_init(DRIVER_VIDEO | DRIVER_TIMER);
    driver_set_altdir(dir.c_str());
    driver_video_init(640, 640, 640, 640, 640, 640, 0);
    gfx_init();
    font_init();
    std::string f = "common lineHeight=20 scaleW=256 scaleH=256\n";  // every glyph 10 wide
    for (int c = 32; c < 127; c++) f += "char id=" + std::to_string(c) + " width=8 height=16 xadvance=10\n";
    z2test::write_text(dir + "/font-gui.fnt", f);
    for (const char* name : {"icons_star", "flag3", "wings0", "stars0", "gui-box1"}) picture(name, 32, 16);
  }
  void TearDown() override {
    font_deinit();
    gfx_deinit();
    driver_deinit();
    tmp.leave();
  }
  void picture(const char* name, int w, int h) {
    std::vector<unsigned char> px((size_t)w * h * 4, 255);
    ASSERT_NE(stbi_write_png((dir + "/" + name + ".png").c_str(), w, h, 4, px.data(), w * 4), 0);
  }
};

std::unique_ptr<Widget> build(const std::string& markup, var options = var()) {
  std::unique_ptr<Widget> w;
  z2test::stdout_of([&] { w.reset(html2gui(markup, options)); });
  return w;
}

Table* table_of(Widget* w) { return dynamic_cast<Table*>(w); }

// The cells of a table in their layout order (the background cell left out).
std::vector<Box*> cells(Table* t) {
  std::vector<Box*> out;
  for (Widget* c : t->children)
    if (c != t->background) out.push_back(dynamic_cast<Box*>(c));
  return out;
}

Label* label_in(Widget* box) {
  auto* b = dynamic_cast<Box*>(box);
  return b && !b->children.empty() ? dynamic_cast<Label*>(b->children[0]) : nullptr;
}

TEST_F(Html2gui, RootIsTheFirstElementBuiltAndNeverNull) {
  auto w = build("<p>Hi there<table><td>x</td></table>");
  auto* l = dynamic_cast<Label*>(w.get());
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->text, "Hi there");
  EXPECT_EQ(l->font, font_load("font-gui", 20));

  for (const char* page : {"", "plain text", "<unknown a='1'>x</unknown>", "</td><tr>"}) {
    auto w = build(page);
    Widget& built = *w;
    EXPECT_EQ(typeid(built), typeid(Widget)) << page;
  }
  // A line break tag keeps its words in one label; the slashless one is a tag.
  EXPECT_EQ(dynamic_cast<Label*>(build("<p>one<br/>two</p>").get())->text, "one\ntwo");
  EXPECT_EQ(dynamic_cast<Label*>(build("<p>one<br>two</p>").get())->text, "one");
}

TEST_F(Html2gui, TableCellsTakeRowsColumnsAndSpans) {
  auto w = build(
      "<table name=t><td name=a align=left valign=bottom clip=1>A</td>"
      "<tr><td colspan=3>B</td><td colspan=0>C</td><td colspan=-4 rowspan=2>D</td>"
      "<tr><td><h2>E</h2><h3>lost</h3></td></table><p>after</p>");
  Table* t = table_of(w.get());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->name, "t");
  // Each cell as text@col,row colspan x rowspan, sorted by text.
  std::map<std::string, std::string> got;
  Box* a = nullptr;
  for (Box* b : cells(t)) {
    Label* l = label_in(b);
    ASSERT_NE(l, nullptr);
    got[l->text] = std::to_string(b->col) + "," + std::to_string(b->row) + " " + std::to_string(b->colspan) + "x" +
                   std::to_string(b->rowspan);
    if (l->text == "A") a = b;
  }
  EXPECT_EQ(got, (std::map<std::string, std::string>{
                     {"A", "0,0 1x1"}, {"B", "0,1 3x1"}, {"C", "3,1 1x1"}, {"D", "4,1 1x2"}, {"E", "0,2 1x1"}}));
  // A text cell's label carries the cell's attributes; its box the placement.
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->name, "a");
  EXPECT_EQ(a->style.declared().align + 10 * a->style.declared().valign + 100 * a->style.declared().clip, 109);
  EXPECT_EQ(label_in(a)->name, "a");
  // The heading is the cell: one element per cell.
  for (Box* b : cells(t))
    if (label_in(b)->text == "E") {
      EXPECT_EQ(label_in(b)->font, font_load("font-gui", 28));
    }
}

TEST_F(Html2gui, CommonAttributes) {
  auto get = [](const std::string& page, var opt = var()) {
    auto w = build(page, opt);
    return w->style.declared();
  };
  EXPECT_EQ(get("<h1 width=\"50%\">x").width, 320);  // of the 640-unit screen
  EXPECT_EQ(get("<h1 width=50%>x").width, 50);      // unquoted: the tokenizer stops at %
  EXPECT_EQ(get("<h1 height=\"1e300\">x").height, HTML2GUI_MAX_SIZE);
  EXPECT_EQ(get("<h1 width=nan>x").width, STYLE_UNSET_F);
  StyleBlock s = get("<h4 align=center valign=up>x");
  EXPECT_EQ(s.align, 0);
  EXPECT_EQ(s.valign, STYLE_UNSET);

  auto w = build("<h3 name=title disabled=no>x");
  EXPECT_EQ(w->name, "title");
  EXPECT_EQ(w->disabled, 1);

  // "box" and "box1" are one look; a class replaces a background's image.
  StyleBlock box = get("<div class=box>x"), box1 = get("<div class=box1 background=\"icons_star:#ff0000\">x");
  EXPECT_EQ(box.bg_image, gfx_img_load("gui-box1"));
  EXPECT_NE(box.bg_image, 0);
  EXPECT_EQ(box1.bg_image, box.bg_image);
  EXPECT_EQ(box1.bg_color, 0xff0000);
  EXPECT_EQ(box1.padding[1], 8);
  // A colour alone is read as an image name.
  s = get("<div background=\"#00ff00\">x");
  EXPECT_EQ(s.bg_image, 0);
  EXPECT_EQ(s.bg_color, STYLE_UNSET);
  s = get("<div background=\"icons_star:00ff00\">x");
  EXPECT_EQ(s.bg_image, gfx_img_load("icons_star"));
  EXPECT_EQ(s.bg_color, 0x00ff00);

  // The paragraph width option fills only unset widths, and only for "p".
  var opt(VAR_DICT, 0);
  opt["p:max-width"] = var(300);
  EXPECT_EQ(get("<p>x", opt).width, 300);
  EXPECT_EQ(get("<p width=100>x", opt).width, 100);
  EXPECT_EQ(get("<div>x", opt).width, STYLE_UNSET_F);
  auto t = build("<table><td>cell text</td></table>", opt);
  EXPECT_EQ(label_in(cells(table_of(t.get()))[0])->style.declared().width, 300);
  EXPECT_EQ(get("<p>x", var("not a dict")).width, STYLE_UNSET_F);

  // Font and colour reach "div" labels, not "p" labels.
  auto d = build("<div font=\"font-gui:28\" color=\"#102030\">x");
  EXPECT_EQ(dynamic_cast<Label*>(d.get())->font, font_load("font-gui", 28));
  EXPECT_EQ(d->style.declared().color, 0x102030);
  auto p = build("<p font=\"font-gui:28\" color=\"#102030\">x");
  EXPECT_EQ(dynamic_cast<Label*>(p.get())->font, font_load("font-gui", 20));
  EXPECT_EQ(p->style.declared().color, STYLE_UNSET);
}

// Walks the tab links from w; stops at a repeat so a cycle fails the test.
std::vector<std::string> tab_chain(Widget* w) {
  std::vector<std::string> out;
  for (int guard = 0; w && guard < 100; guard++, w = w->next) out.push_back(w->name);
  return out;
}

TEST_F(Html2gui, TabOrderByIndexThenDocument) {
  auto w = build(
      "<table><td><input type=text name=two tabindex=2 /></td>"
      "<td><input type=text name=none /></td>"
      "<td><input type=text name=one tabindex=1 /></td>"
      "<td><input type=text name=out tabindex=-2 /></td>"
      "<td><input type=text name=big tabindex=2147483647 /></td></table>");
  Widget* none = w->find("none");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(tab_chain(none), (std::vector<std::string>{"none", "one", "two", "big"}));
  EXPECT_EQ(w->find("out")->next, nullptr);

  // The inner element of a text input is deleted: the chain must not reach it.
  auto v = build(
      "<table><td><input type=text name=a tabindex=1><input type=text name=gone /></td>"
      "<td><input type=text name=b tabindex=1 /></td></table>");
  ASSERT_NE(v->find("a"), nullptr);
  EXPECT_EQ(v->find("gone"), nullptr);
  EXPECT_EQ(tab_chain(v->find("a")), (std::vector<std::string>{"a", "b"}));
}

TEST_F(Html2gui, PicturesAndBadges) {
  auto img = build("<img src=\"icons/star:#00ff00\" width=64 />");
  const StyleBlock& d = img->style.declared();
  EXPECT_EQ(d.fg_image, gfx_img_load("icons_star"));
  EXPECT_NE(d.fg_image, 0);
  EXPECT_EQ(d.fg_color, 0x00ff00);
  EXPECT_EQ(d.width, 64);
  EXPECT_EQ(d.height, 32);
  auto natural = build("<img src=\"icons\\star\" name=ignored />");
  EXPECT_EQ(natural->style.declared().width, 32);
  EXPECT_EQ(natural->style.declared().height, 16);
  EXPECT_EQ(natural->name, "");  // no common attributes on pictures

  // Picture bytes in the markup that are no picture still give a widget.
  EXPECT_NE(build("<img data=\"!!not base64\" />"), nullptr);

  auto rank = build("<rank value=3 name=r />");
  auto* c = dynamic_cast<Container*>(rank.get());
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->children.size(), 3u);
  EXPECT_EQ(c->name, "r");
  EXPECT_EQ(c->children[0]->style.declared().fg_image, gfx_img_load("flag3"));
  EXPECT_EQ(c->children[1]->style.declared().fg_image, gfx_img_load("wings0"));
  EXPECT_EQ(c->children[2]->style.declared().fg_image, gfx_img_load("stars0"));
  auto odd = build("<rank value=\"#z9\" width=66 />");
  EXPECT_EQ(dynamic_cast<Container*>(odd.get())->children[0]->style.declared().width, 66);
  EXPECT_EQ(dynamic_cast<Container*>(odd.get())->children[0]->style.declared().fg_image, gfx_img_load("flag0"));
}

TEST_F(Html2gui, TextBoxScrollsOnlyWhenTaller) {
  // Each word is 10 units a letter; at 100 wide they wrap one a line.
  std::string words;
  for (int i = 0; i < 10; i++) words += "abcdefghi ";
  auto fits = build("<textbox width=100 height=0>" + words + "</textbox>");
  Widget& whole = *fits;
  EXPECT_EQ(typeid(whole), typeid(Box));
  EXPECT_EQ(fits->style.declared().height, 640);  // the whole screen
  Widget& inner = *dynamic_cast<Box*>(fits.get())->children[0];
  EXPECT_EQ(typeid(inner), typeid(Box));

  auto scrolls = build("<textbox width=100 height=40 name=t>" + words + "</textbox>");
  Box* outer = dynamic_cast<Box*>(scrolls.get());
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(outer->style.declared().height, 40);
  ASSERT_EQ(outer->children.size(), 1u);
  auto* bar = dynamic_cast<ScrollBox2*>(outer->children[0]);
  ASSERT_NE(bar, nullptr);
  EXPECT_NE(dynamic_cast<ScrollBox*>(bar->content), nullptr);
  Widget* text = scrolls->find("t");  // the label keeps the common attributes
  ASSERT_NE(text, nullptr);
  // Its text keeps clear of the background's edges and of the bar, within the width.
  EXPECT_GE(text->ox, 4);
  EXPECT_LE(text->ow, 100);
  EXPECT_LE(text->ox + text->w, text->ow - 4);

  // A width below 1 is the screen's less that much, and no width the whole
  // screen: the text wraps inside that box too, never past its right edge.
  for (const char* width : {"width=-540 ", ""}) {
    float box = *width ? 100 : 640;
    auto rel = build(std::string("<textbox ") + width + "height=40 name=t>" + words + words + "</textbox>");
    ASSERT_EQ(rel->style.declared().width, box) << width;
    Widget* t = rel->find("t");
    ASSERT_NE(t, nullptr);
    EXPECT_GE(t->w, box / 2) << width;
    EXPECT_LE(t->ow, box) << width;
  }
}

// ---- hostile pages ------------------------------------------------------------------------------

const char* const kSeeds[] = {
    "<table name=t width=\"50%\"><tr><td colspan=2 align=right>Hello<br/>world</td><th>x</th>"
    "<tr><td><input type=button value=Go onclick=go class=tab alert=3></td>"
    "<td><input type=option name=o value=1 checked=1 /></td></table>",
    "<div class=box font=\"font-gui:16\" color=#ff00ff background=\"gui-box1:#123456\">text</div>",
    "<textbox width=-40 height=0>long &amp; text <p>more</p></textbox>",
    "<p tabindex=3 name=a>a</p><img src=\"a/b:#fff\" width=10 /><rank value=ab9 />",
    ("<input type=slider low=5 high=0 step=0 value=7><input type=text maxlength=3 value=abcdef>"
     "<input type=toggle value=1 /><input type=checkbox /><input type=hidden value=h />"),
    "<trophy value=cup:#ff0000 /><planet color=#fff /><pixart data=AAAA edit=1 /><vectors data=\"T P X0 Y0\" />",
};

// Cuts, repeats, splices and byte flips over the seed pages.
std::string mutate(std::mt19937& rng, const std::string& a, const std::string& b) {
  std::string s = a;
  int edits = 1 + (int)(rng() % 8);
  const char* bits[] = {"<", ">", "/", "\"", "'", "=", "&", "<table>", "<td>", "</table>", "<input ", "%", "<tr>"};
  for (int e = 0; e < edits && !s.empty(); e++) {
    size_t at = rng() % (s.size() + 1);
    switch (rng() % 5) {
      case 0: s.erase(at, rng() % 16); break;
      case 1: s.insert(at, bits[rng() % (sizeof bits / sizeof *bits)]); break;
      case 2: s.insert(at, b.substr(rng() % b.size(), rng() % 40)); break;
      case 3:
        if (at < s.size()) s[at] = (char)(rng() & 0xff);
        break;
      default: s.insert(at, s.substr(at, rng() % 64)); break;
    }
  }
  return s;
}

TEST_F(Html2gui, MutatedAndDeepPagesBuildOrLogNeverCrash) {
  std::mt19937 rng(20261208);
  const int nseeds = sizeof kSeeds / sizeof *kSeeds;
  for (int k = 0; k < 400; k++) {
    std::string page = mutate(rng, kSeeds[k % nseeds], kSeeds[rng() % nseeds]);
    auto w = build(page);
    ASSERT_NE(w, nullptr) << page;
    tab_chain(w.get());
    w->style.loop();
    w->_resize();
    w->_paint();
  }

  // Spans that would make a grid of millions of columns are held small.
  std::string wide = "<table>";
  for (int i = 0; i < 100; i++) wide += "<td colspan=100000000>x</td>";
  std::unique_ptr<Widget> t;
  std::string log =
      z2test::stdout_of([&] { t.reset(html2gui(wide + "<tr><td colspan=999999999999>y</td>", var())); });
  for (Box* b : cells(table_of(t.get()))) EXPECT_LE(b->col + b->colspan, HTML2GUI_MAX_GRID);
  t->_resize();
  // The cells past the cap are many; the page says so once.
  EXPECT_EQ(z2test::count_of(log, "table cell past"), 1) << log;

  // Nesting that would recurse once per level stops at the cap.
  for (std::string unit : {"<table><td>", "<input type=button>", "<table><tr><td><input type=option>"}) {
    std::string page;
    for (int i = 0; i < 20000; i++) page += unit;
    std::string log = z2test::stdout_of([&] { delete html2gui(page, var()); });
    EXPECT_NE(log.find("nested deeper than"), std::string::npos) << unit;
  }
}

TEST_F(Html2gui, MissingBuildersAreLoggedAndSkipped) {
  Html2guiBuilder old = html2gui_builder_set("vectors", nullptr);
  std::unique_ptr<Widget> w;
  std::string log = z2test::stdout_of([&] { w.reset(html2gui("<vectors data=x /><h2>after</h2>", var())); });
  EXPECT_NE(log.find("no builder for <vectors>"), std::string::npos) << log;
  EXPECT_EQ(dynamic_cast<Label*>(w.get())->text, "after");

  // An installed builder takes the element.
  html2gui_builder_set("vectors", [](HData& hd, var& list, int i, int n, Widget*& out) {
    out = _html2gui_style(hd, new Widget(), list[i]);
    return i + 1;
  });
  EXPECT_EQ(build("<vectors name=v />")->name, "v");
  html2gui_builder_set("vectors", old);
}

}  // namespace
