// Markup inputs and buttons: the widget each "type" and "class" becomes, the
// attributes it reads, the action values it returns, option groups, and the
// inner element an unclosed input takes (kept by buttons, dropped by the
// rest without leaving the tab order or a group pointing at it).
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "markup/html2gui.h"
#include "markup/html2gui_widgets.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "z2_game_fixture.h"
#include "z2_test_util.h"

namespace {

const auto* env = testing::AddGlobalTestEnvironment(new z2test::GlFontEnv);

std::unique_ptr<Widget> build(const std::string& markup) {
  Widget* w = nullptr;
  z2test::stdout_of([&] { w = html2gui(markup, var()); });
  return std::unique_ptr<Widget>(w);
}

template <class T>
T* named(Widget* root, const char* name) {
  return dynamic_cast<T*>(root->find(name));
}

var click(Widget* w) {
  Event e = {};
  e.type = GUI_EV_CLICK;
  return w->event(&e);
}

std::string action(var v) { return v["type"].__str__() + ":" + v["value"].__str__(); }
int img(const char* name) { return gfx_img_load(name); }

TEST(Html2guiInput, TextEntriesKeepTheirValueAndLimits) {
  auto root = build(
      "<table><tr><td><input type='text' name='t' maxlength='10' encoding='latin1' value='abcdefghijklmnopqrst'/>"
      "<td><input type='textarea' name='a' maxlength='10'/><td><input type='password' name='p' maxlength='-3'/>"
      "<td><input type='hidden' name='h' value='secret'/></table>");
  auto* t = named<TextInput>(root.get(), "t");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->maxlength, 20);
  EXPECT_EQ(t->encoding, 1);
  Event undo = {};
  undo.type = GUI_EV_KEYDOWN, undo.key = 63, undo.b = 2;  // Ctrl+Z must not erase the starting text
  t->event(&undo);
  EXPECT_STREQ(t->get_value_s(), "abcdefghijklmnopqrst");
  const StyleSheet& s = t->style;
  int fh = (int)font_get_height(font_load("font-gui", 20), nullptr, 0);
  EXPECT_EQ(s.block[STYLE_DECLARED].width, 150);
  EXPECT_EQ(s.block[STYLE_DECLARED].padding[0], (42 - fh) / 2);
  EXPECT_EQ(s.block[STYLE_DECLARED].margin[3], 3);
  EXPECT_EQ(s.block[STYLE_DECLARED].bg_image, img("gui-input1"));
  EXPECT_NE(img("gui-input1"), 0);
  EXPECT_EQ(s.block[STYLE_DECLARED].fg_alpha + s.block[STYLE_HOVER].fg_alpha + s.block[STYLE_FOCUS].fg_alpha +
                s.block[STYLE_HOVER_FOCUS].fg_alpha, 510);
  EXPECT_EQ(s.block[STYLE_HOVER_FOCUS].fg_alpha, 255);

  auto* a = named<TextInput>(root.get(), "a");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->textarea, 1);
  EXPECT_EQ(a->maxlength, 255);
  auto* p = named<TextInput>(root.get(), "p");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->password, 1);
  EXPECT_EQ(p->maxlength, 255);  // a negative length would refuse every key
  auto* h = named<TextInput>(root.get(), "h");
  ASSERT_TRUE(h);
  EXPECT_STREQ(h->get_value_s(), "secret");
  EXPECT_EQ(h->style.declared().width + h->style.declared().height, 0);
  EXPECT_EQ(h->style.declared().clip, 1);
}

TEST(Html2guiInput, InnerElementsAreKeptByButtonsOnly) {
  auto root = build(
      "<table><tr><td><input type='text' name='t'><input type='option' name='g' value='a'/>"
      "<td><input type='option' name='g' value='b' checked='1'/>"
      "<td><input type='button' name='b' tabindex='-2'><h3>Go</h3></input>"
      "<td><input type='button' name='c' value='Plain' onclick='c1'></table>");
  auto* t = named<TextInput>(root.get(), "t");
  auto* g = named<OptionBox>(root.get(), "g");
  auto* b = named<Box>(root.get(), "b");
  auto* c = named<Box>(root.get(), "c");
  ASSERT_TRUE(t && g && b && c);
  // The option swallowed by the text entry is gone; the other leads its own group.
  EXPECT_EQ(g->value.__str__(), "b");
  EXPECT_EQ(g->leader, g);
  EXPECT_EQ(g->members.size(), 1u);
  EXPECT_EQ(g->get_value().__str__(), "b");
  EXPECT_EQ(g->style.override_on, 1);

  auto* go = dynamic_cast<Label*>(b->children[0]);
  ASSERT_TRUE(go);
  EXPECT_EQ(go->text, "Go");
  auto* plain = dynamic_cast<Label*>(c->children[0]);
  ASSERT_TRUE(plain);  // the closing table stopped the inner scan and still closed the table
  EXPECT_EQ(plain->text, "Plain");
  EXPECT_EQ(plain->font, font_load("font-gui", 28));
  EXPECT_EQ(action(click(c)), "onclick:c1");

  EXPECT_EQ(t->next, g);
  EXPECT_EQ(g->next, c);
  EXPECT_EQ(c->next, nullptr);
  EXPECT_EQ(b->next, nullptr);
}

TEST(Html2guiInput, OptionGroupsSharePickAndLook) {
  std::string wide;  // fills the grid up to column 962: the cell after it is dropped
  for (int i = 0; i < 15; i++) wide += "<td colspan='64'>x";
  auto root = build(
      "<table><tr><td><input type='option' name='g' value='1' title='One' selected='1' onchange='pick'/>"
      "<td><input type='option' name='g' value='2' title='Two' checked='1'/>" + wide +
      "<td colspan='64'><input type='option' name='g' value='3'/></table>");
  std::vector<OptionBox*> o;
  for (Widget* w : root->_list_descendants())
    if (auto* ob = dynamic_cast<OptionBox*>(w)) o.push_back(ob);
  ASSERT_EQ(o.size(), 2u);
  EXPECT_EQ(o[1]->leader, o[0]);
  EXPECT_EQ(o[0]->members, (std::vector<OptionBox*>{o[0], o[1]}));
  EXPECT_EQ(o[0]->name + o[1]->name, "gg");
  EXPECT_EQ(o[0]->get_value().__str__(), "2");  // checked beats selected: it comes later
  EXPECT_EQ(o[0]->style.override_on * 2 + o[1]->style.override_on, 1);
  EXPECT_EQ(dynamic_cast<Label*>(o[0]->children[0])->text, "One");
  EXPECT_EQ(o[0]->style.block[STYLE_OVERRIDE].bg_image, img("gui-option1"));
  EXPECT_EQ(o[0]->style.block[STYLE_NORMAL].fg_image, img("gui-option0o"));
  EXPECT_EQ(action(click(o[0])), "onchange:pick");
  EXPECT_EQ(o[0]->style.override_on * 2 + o[1]->style.override_on, 2);

  // A leader that goes hands its group and value on.
  Container* box = o[0]->parent;
  box->children.clear();
  delete o[0];
  EXPECT_EQ(o[1]->leader, o[1]);
  EXPECT_EQ(o[1]->members, (std::vector<OptionBox*>{o[1]}));
  EXPECT_EQ(o[1]->get_value().__str__(), "1");
}

TEST(Html2guiInput, SlidersTogglesAndCheckBoxes) {
  auto root = build(
      "<table><tr><td><input type='slider' name='s' low='5' high='0' step='0' value='7' onchange='sl'/>"
      "<td><input type='toggle' name='t' value='1'/><td><input type='checkbox' name='c' onchange='cb'/></table>");
  auto* s = named<NumSlider>(root.get(), "s");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->low, 5);
  EXPECT_EQ(s->high, 100);
  EXPECT_EQ(s->step, 1);
  EXPECT_EQ(s->value, 7);
  EXPECT_EQ(s->live, 0);
  EXPECT_EQ(s->style.declared().width, 160);
  EXPECT_EQ(s->style.declared().padding[2], 7);
  int f = font_load("font-gui", 20);
  EXPECT_EQ(s->box_width, (int)std::ceil(font_get_width(f, "8888")));
  EXPECT_EQ(s->label_width, s->box_width + 10);
  int k = img("gui-slider2");
  ASSERT_GT(gfx_img_get_height(k), 0);
  EXPECT_EQ(s->knob_width, gfx_img_get_width(k) * 29 / gfx_img_get_height(k));
  EXPECT_EQ(action(s->on_change), "onchange:sl");

  auto* t = named<MyToggle>(root.get(), "t");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->style.override_on, 1);
  EXPECT_EQ(t->style.declared().width, 80);
  EXPECT_EQ(t->style.block[STYLE_OVERRIDE].bg_image, img("gui-toggle1"));
  auto* c = named<MyCheckbox>(root.get(), "c");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->style.declared().width, 44);
  EXPECT_EQ(c->style.override_on, 0);
  EXPECT_EQ(action(click(c)), "onchange:cb");
  EXPECT_EQ(c->get_value_i(), 1);
}

TEST(Html2guiInput, ButtonClassesPickLabelLookAndLayout) {
  auto plain = build("<input type='button' value='Play now'/>");
  auto* b = dynamic_cast<Box*>(plain.get());
  ASSERT_TRUE(b);
  const StyleBlock& d = b->style.declared();
  EXPECT_EQ(d.width * 1000 + d.height, 160044);
  EXPECT_EQ(d.margin[0] + d.padding[0], 7);
  EXPECT_EQ(d.bg_image, img("gui-button1"));
  EXPECT_EQ(dynamic_cast<Label*>(b->children[0])->text, "Play now");

  auto ib = build("<input type='button' class='ibutton2' icon='icon-buy' value='buy'/>");
  auto* it = dynamic_cast<Table*>(dynamic_cast<Box*>(ib.get())->children[0]);
  ASSERT_TRUE(it);
  EXPECT_EQ(ib->style.declared().width, 190);
  EXPECT_EQ(ib->style.declared().bg_image, img("gui-ibutton2"));
  EXPECT_EQ(it->children.size(), 3u);  // background, icon cell, label cell
  std::string label;
  for (Widget* w : it->_list_descendants())
    if (auto* l = dynamic_cast<Label*>(w)) label += l->text + (l->parent->col == 1 ? "@1" : "@0");
  EXPECT_EQ(label, "BUY@1");

  auto tab = build("<input type='button' class='tab' value='news' alert='3'/>");
  auto* tb = dynamic_cast<Box*>(tab.get());
  ASSERT_EQ(tb->children.size(), 2u);
  auto* alert = dynamic_cast<AlertLabel*>(tb->children[1]);
  ASSERT_TRUE(alert);
  tb->loop();
  EXPECT_EQ(alert->x, tb->w - alert->w - 1);
  EXPECT_EQ(dynamic_cast<Box*>(build("<input type='button' class='tab' alert=''/>").get())->children.size(), 1u);
  // With or without an icon a tab's label sits in the second row, under an 18 x 18 cell.
  for (const char* icon : {"", " icon='icon-more'"}) {
    auto t = build(std::string("<input type='button' class='tab' value='more'") + icon + "/>");
    auto* table = dynamic_cast<Table*>(dynamic_cast<Box*>(t.get())->children[0]);
    ASSERT_TRUE(table) << icon;
    Label* l = nullptr;
    for (Widget* w : table->_list_descendants())
      if (auto* found = dynamic_cast<Label*>(w)) l = found;
    ASSERT_TRUE(l);
    EXPECT_EQ(l->parent->row, 1) << icon;
    for (Widget* w : table->_list_descendants())
      if (w->parent && w->parent->row == 0 && w->parent->parent == table) {
        EXPECT_EQ(w->style.declared().width, 18);
      }
  }

  auto tab2 = build("<input type='button' class='tab2' value='home' pseudo='first last'/>");
  auto* l2 = dynamic_cast<Label*>(dynamic_cast<Box*>(tab2.get())->children[0]);
  EXPECT_EQ(l2->text, "HOME");
  EXPECT_EQ(l2->font, font_load("font-gui2", 20));
  const StyleBlock& c2 = tab2->style.computed();  // ten style steps: 4 -> 10 arrives, 3 -> -10 not yet
  EXPECT_EQ(c2.padding[1] + c2.padding[3], 20);
  EXPECT_EQ(c2.margin[1] + c2.margin[3], -14);
  EXPECT_EQ(tab2->style.declared().margin[1] + tab2->style.declared().margin[3], -20);
  EXPECT_EQ(c2.bg_image, img("gui-button1"));

  auto tab0 = build("<input type='button' class='tab0' value='x'/>");
  EXPECT_EQ(tab0->style.computed().fg_corner, STYLE_UNSET);
  EXPECT_EQ(tab0->style.computed().fg_alpha, 255);
  EXPECT_EQ(tab0->style.computed().fg_image, img("gui-tab0o"));

  auto clan = build("<input type='button' class='clan' value='x'/>");
  clan->style.loop();  // the wide edges arrive in one step
  EXPECT_EQ(clan->style.computed().padding[1], 100);
}

}  // namespace

// A text entry clips its text to its own box, one line high, and the GUI
// fonts draw a sixteenth of a line below its top: the underscore, lowest of
// all glyphs, must still land inside at every size.
TEST(Html2guiInput, UnderscoresShowInTextEntriesAtEverySize) {
  for (int size : {16, 20, 28, 40}) {
    TextInput t(_w_font("font-gui", size), 20);
    t.set_value_s("____");
    t.style.loop();
    t.resize();
    gfx_clear();
    gfx_ortho();
    t.paint();
    int w = (int)t.w, h = (int)t.h, lit = 0;
    std::vector<unsigned char> px((size_t)w * h * 4);
    glReadPixels(0, 480 - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    for (size_t i = 0; i < px.size(); i += 4) lit += px[i] > 100;
    EXPECT_GT(lit, w / 2) << "font-gui " << size << ": " << w << " x " << h;
  }
}
