// Widget tree: event routing, hover and focus chains, keyboard navigation,
// the box model and style animation. Only the paint test needs GL.
#include "ruvezor/util/qel_gui.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Records what reaches its plain event() and paint().
struct Probe : Widget {
  std::vector<Event> got;
  int painted = 0;
  Probe(float w_, float h_, const char* action = nullptr) {
    style.declared().width = w_;
    style.declared().height = h_;
    focusable = 1;
    if (action) on_click = action_of("onclick", action);
  }
  static var action_of(const char* type, const char* value) {
    var d(VAR_DICT, 0);
    d["type"] = type;
    d["value"] = value;
    return d;
  }
  void paint() override { painted++; }
  std::vector<int> types() const {
    std::vector<int> t;
    for (const Event& e : got) t.push_back(e.type);
    return t;
  }
  var answer;  // given to a broadcast
  var event(Event* e) override {
    got.push_back(*e);
    return e->type == GUI_EV_BROADCAST ? answer : Widget::event(e);
  }
};

var send(Container& c, int type, float x = 0, float y = 0, int key = 0, int b = 0) {
  Event e{};
  e.type = type, e.x = x, e.y = y, e.key = key, e.b = b;
  return c.event(&e);
}

std::string text(const var& v) { return v.__type__() == VAR_NONE ? "none" : v.__str__(); }

// Root with A at (0,0) and B at (0,30), both 50x20.
struct Tree : testing::Test {
  Container root;
  Probe* a = new Probe(50, 20, "a");
  Probe* b = new Probe(50, 20, "b");
  void SetUp() override {
    root.add(a, 0, 0);
    root.add(b, 0, 30);
    root.resize();
  }
};

TEST_F(Tree, PressFocusesBeforeItArrivesThenReleaseClicks) {
  var r = send(root, GUI_EV_PRESS, 10, 5);
  EXPECT_EQ(root.focused, a);
  EXPECT_EQ(root.hovered, a);
  ASSERT_EQ(a->types(), (std::vector<int>{GUI_EV_ENTER, GUI_EV_FOCUS, GUI_EV_PRESS}));
  EXPECT_EQ(a->got.back().key, GUI_EV_FOCUS);  // a focusing press
  EXPECT_EQ(a->style.vstate, 4);

  send(root, GUI_EV_PRESS, 10, 5);
  EXPECT_EQ(a->got.back().key, 0);  // already focused

  r = send(root, GUI_EV_RELEASE, 12, 7);
  ASSERT_EQ(r.__type__(), VAR_DICT);
  EXPECT_EQ(text(r["type"]), "onclick");
  EXPECT_EQ(text(r["value"]), "a");
  EXPECT_EQ(a->got.back().type, GUI_EV_CLICK);
  EXPECT_EQ(a->got.back().x, 12);
}

TEST_F(Tree, DragKeepsHoverAndReleaseElsewhereIsNoClick) {
  send(root, GUI_EV_PRESS, 10, 5);
  a->got.clear();
  send(root, GUI_EV_MOVE, 10, 35, 0, 1);  // button held over B
  EXPECT_EQ(root.hovered, a);
  EXPECT_EQ(a->got.back().y, 35);  // still A's, in A's coordinates
  EXPECT_TRUE(b->got.empty());

  var r = send(root, GUI_EV_RELEASE, 10, 35);  // hover moves to B first
  EXPECT_EQ(text(r), "none");
  EXPECT_EQ(root.hovered, b);
  EXPECT_EQ(a->types(), (std::vector<int>{GUI_EV_MOVE, GUI_EV_LEAVE, GUI_EV_RELEASE}));
  EXPECT_EQ(a->style.vstate, 3);
}

TEST_F(Tree, PointerEnterLeaveAndActionsReturned) {
  b->on_enter = Probe::action_of("enter", "b");
  var r = send(root, GUI_EV_MOVE, 5, 35);
  EXPECT_EQ(text(r["type"]), "enter");
  EXPECT_EQ(b->style.vstate, 2);
  send(root, GUI_EV_MOVE, 5, 25);  // the gap between them
  EXPECT_EQ(root.hovered, nullptr);
  EXPECT_EQ(b->style.hover, 0);
  EXPECT_EQ(b->types(), (std::vector<int>{GUI_EV_ENTER, GUI_EV_MOVE, GUI_EV_LEAVE}));
}

TEST_F(Tree, KeyReleaseOfReturnOrSpaceClicksTheFocusedCentre) {
  b->_focus();
  for (int key : {GUI_KEY_RETURN, GUI_KEY_SPACE}) {
    var r = send(root, GUI_EV_KEYUP, 0, 0, key);
    EXPECT_EQ(text(r["value"]), "b");
    EXPECT_EQ(b->got.back().key, GUI_EV_KEYUP);
    EXPECT_EQ(b->got.back().x, 25);
    EXPECT_EQ(b->got.back().y, 10);
  }
  EXPECT_EQ(text(send(root, GUI_EV_KEYUP, 0, 0, 38)), "none");
}

TEST_F(Tree, DisabledChildIsSkippedEverywhere) {
  a->disabled = 1;
  send(root, GUI_EV_PRESS, 10, 5);
  EXPECT_EQ(root.hovered, nullptr);
  EXPECT_EQ(root.focused, nullptr);
  root.loop();  // automatic focus goes past A
  EXPECT_EQ(root.focused, b);
  EXPECT_EQ(b->style.hover, 1);
  a->answer = "a";
  b->answer = "b";
  EXPECT_EQ(text(send(root, GUI_EV_BROADCAST)), "b");
  EXPECT_TRUE(a->got.empty());
  a->disabled = 0;
  EXPECT_EQ(text(send(root, GUI_EV_BROADCAST)), "a");  // the lowest index wins
}

TEST_F(Tree, FocusChainAcrossNestedContainers) {
  Container* inner = new Container;
  Probe* c = new Probe(10, 10);
  inner->add(c, 0, 0);
  root.add(inner, 100, 0);
  root.resize();
  a->_focus();
  EXPECT_TRUE(a->_is_focus());
  c->_focus();
  EXPECT_EQ(a->style.focus, 0);  // the old chain is cleared from the root
  EXPECT_EQ(root.focused, inner);
  EXPECT_EQ(inner->focused, c);
  EXPECT_EQ(inner->style.focus, 1);
  EXPECT_FALSE(inner->_is_focus());  // only the end of the chain
  EXPECT_TRUE(c->_is_focus());
  c->_hover();
  EXPECT_EQ(root.find_hover(), c);
  // a press inside the nested container reaches c in its own coordinates
  send(root, GUI_EV_PRESS, 104, 3);
  EXPECT_EQ(c->got.back().type, GUI_EV_PRESS);
  EXPECT_EQ(c->got.back().x, 4);
}

TEST_F(Tree, TabFollowsTheSuccessor) {
  a->_focus();
  send(root, GUI_EV_KEYDOWN, 0, 0, GUI_KEY_TAB);
  EXPECT_EQ(root.focused, a);  // no successor: nothing
  a->next = b;
  send(root, GUI_EV_KEYDOWN, 0, 0, GUI_KEY_TAB);
  EXPECT_EQ(root.focused, b);
  EXPECT_EQ(a->style.focus, 0);

  // a hidden value between two fields is passed over: typing would go into it
  Probe* hidden = new Probe(0, 0);
  root.add(hidden, 0, 60);
  root.resize();
  a->_focus();
  a->next = hidden;
  hidden->next = b;
  send(root, GUI_EV_KEYDOWN, 0, 0, GUI_KEY_TAB);
  EXPECT_EQ(root.focused, b);
  b->next = hidden;  // nothing seen after it: Tab stays
  send(root, GUI_EV_KEYDOWN, 0, 0, GUI_KEY_TAB);
  EXPECT_EQ(root.focused, b);
}

TEST(GuiNav, ArrowsPickNearestAndTiesGoToTheEarlier) {
  // 3x3 grid of 20x20 cells, 10 apart; the middle one focused.
  Container root;
  Probe* cell[9];
  for (int i = 0; i < 9; i++) root.add(cell[i] = new Probe(20, 20), (i % 3) * 30, (i / 3) * 30);
  root.resize();
  cell[4]->_focus();
  auto press = [&](int key) { send(root, GUI_EV_KEYDOWN, 0, 0, key); };
  press(GUI_KEY_RIGHT);
  EXPECT_EQ(root.focused, cell[5]);
  press(GUI_KEY_UP);
  EXPECT_EQ(root.focused, cell[2]);
  press(GUI_KEY_UP);  // nothing above
  EXPECT_EQ(root.focused, cell[2]);
  press(GUI_KEY_LEFT);
  EXPECT_EQ(root.focused, cell[1]);
  EXPECT_EQ(cell[1]->style.hover, 1);

  // One press from the first of some 20x20 probes placed at (x, y): the
  // index of the probe focused after it.
  auto after_press = [](std::vector<std::pair<int, int>> at, int key) {
    Container c;
    std::vector<Probe*> probes;
    for (auto [x, y] : at) {
      probes.push_back(new Probe(20, 20));
      c.add(probes.back(), x, y);
    }
    c.resize();
    probes[0]->_focus();
    send(c, GUI_EV_KEYDOWN, 0, 0, key);
    for (size_t i = 0; i < probes.size(); i++)
      if (c.focused == probes[i]) return (int)i;
    return -1;
  };
  // two candidates at the same distance below: the earlier one wins
  EXPECT_EQ(after_press({{15, 0}, {0, 40}, {30, 40}}, GUI_KEY_DOWN), 1);
  // the offset across the move counts double: 30 straight beats 10 right, 15 down
  EXPECT_EQ(after_press({{0, 0}, {30, 15}, {50, 0}}, GUI_KEY_RIGHT), 2);

  // what the player cannot see is no place to go: a blank backdrop under
  // everything and a widget without area are nearer than the far button
  Container page;
  Widget* backdrop = new Widget();
  backdrop->focusable = 1;
  backdrop->style.declared().width = backdrop->style.declared().height = 200;
  Probe* button = new Probe(20, 20);
  Probe* hidden = new Probe(0, 0);
  Probe* gear = new Probe(20, 20);
  page.add(backdrop, 0, 0);
  page.add(button, 0, 100);
  page.add(hidden, 180, 150);
  page.add(gear, 180, 180);
  page.resize();
  gear->_focus();
  send(page, GUI_EV_KEYDOWN, 0, 0, GUI_KEY_UP);
  EXPECT_EQ(page.focused, button);
  backdrop->style.declared().bg_color = 0x102030;  // a backdrop that draws is seen
  page.resize();
  gear->_focus();
  send(page, GUI_EV_KEYDOWN, 0, 0, GUI_KEY_UP);
  EXPECT_EQ(page.focused, backdrop);
}

TEST(GuiGeometry, BoxModelAbsRectAndScroll) {
  struct Sized : Widget {
    int asked_w = -1, asked_h = -1;
    void resize(int w_, int h_) override { asked_w = w_, asked_h = h_; }
    using Widget::resize;
  };
  Container root;
  Container* panel = new Container;
  Sized* s = new Sized;
  for (int k = 0; k < 4; k++) s->style.declared().padding[k] = 5;
  s->style.declared().width = 10;
  s->style.declared().height = 10;
  s->style.loop();
  s->_resize();
  EXPECT_EQ(s->ox, 5);
  EXPECT_EQ(s->ow, 20);
  EXPECT_EQ(s->oh, 20);
  s->_resize(30, 30);
  EXPECT_EQ(s->asked_w, 20);
  EXPECT_EQ(s->asked_h, 20);

  root.add(panel, 100, 50);
  panel->add(s, 7, 9);
  panel->sy = 4;
  GfxRect in = s->get_abs_rect(false), out = s->get_abs_rect(true);
  EXPECT_EQ(in.x, 112);  // 100 + 7 + 5
  EXPECT_EQ(in.y, 60);   // 50 + 9 + 5 - 4
  EXPECT_EQ(out.x, 107);
  EXPECT_EQ(out.w, 20);
  root.resize();  // shrink-wraps the children where they sit
  EXPECT_EQ(panel->w, 27);
  EXPECT_EQ(root.w, 127);
}

TEST(GuiContainer, FindAssignAndOwnership) {
  Container root;
  root.name = "x";
  Probe* deep = new Probe(1, 1);
  deep->name = "x";
  Container* mid = new Container;
  mid->add(deep, 0, 0);
  root.add(mid, 0, 0);
  EXPECT_EQ(root.find("x"), deep);  // children before itself
  EXPECT_EQ(root.find("y"), nullptr);
  deep->_focus();

  Container fresh;
  fresh.focusable = 1;
  root = fresh;
  EXPECT_TRUE(root.children.empty());
  EXPECT_EQ(root.focused, nullptr);
  EXPECT_EQ(root.focusable, 1);
  EXPECT_EQ(root.name, "");
  EXPECT_EQ(root.style.focus, 0);
}

// ---- style sheets ------------------------------------------------------------------------

TEST(GuiStyle, UnsetMarkerAndAnimationSteps) {
  StyleSheet s;
  uint32_t bits;
  memcpy(&bits, &s.block[STYLE_HOVER].width, 4);
  EXPECT_EQ(bits, 0xCB7FFFFFu);
  EXPECT_EQ((uint32_t)s.block[STYLE_OVERRIDE].sound_focus, 0xFF000001u);
  s.declared().height = 12.75f;
  s.block[STYLE_FOCUS].alpha = 9;  // not the current state: ignored
  s.loop();
  EXPECT_EQ(s.computed().height, 12.75f);  // taken whole; the fraction stays
  EXPECT_EQ(s.computed().alpha, STYLE_UNSET);

  s.declared().color = 0xFFFFFF;
  s.declared().width = 0;
  s.declared().margin[0] = 0;
  s.loop();
  s.vstate = 2;
  s.block[STYLE_HOVER].color = 0x000000;
  s.block[STYLE_HOVER].width = 2500;
  s.block[STYLE_HOVER].margin[0] = 5;
  s.loop();
  EXPECT_EQ(s.computed().color, 0xDBDBDB);
  EXPECT_EQ(s.computed().width, 1000);
  s.loop();
  s.loop();
  EXPECT_EQ(s.computed().width, 2500);
  EXPECT_EQ(s.computed().margin[0], 3);
  for (int i = 0; i < 5; i++) s.loop();
  EXPECT_EQ(s.computed().color, 0x000000);  // after eight
  EXPECT_EQ(s.computed().margin[0], 5);

  // override wins only where set; clearing the state word goes back home
  s.override_on = 1;
  s.block[STYLE_OVERRIDE].align = 1;
  s.block[STYLE_HOVER].margin[0] = STYLE_UNSET;
  s.loop();
  EXPECT_EQ(s.computed().align, 1);
  EXPECT_EQ(s.computed().margin[0], 4);
  EXPECT_EQ(s.computed().color, 0x000000);

  EXPECT_EQ(StyleSheet::c_prep(0x10FF00, 0x00FF40, 36), 0x00FF24);
  EXPECT_EQ(StyleSheet::i_prep(-2000000000, 2000000000, 36), -2000000000 + 36);
}

// ---- painting --------------------------------------------------------------------------

TEST(GuiPaint, VisibleChildrenOnlyInsideTheClip) {
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  driver_init(DRIVER_VIDEO | DRIVER_TIMER);
  driver_video_init(320, 240, 320, 240, 320, 320, 0);
  gfx_init();
  {
    Container root;
    Probe* in = new Probe(20, 20);
    Probe* out = new Probe(20, 20);
    root.add(in, 10, 10);
    root.add(out, 200, 10);
    root.resize();
    gfx_clip(0, 0, 100, 100);
    root.paint();
    gfx_unclip();
    EXPECT_EQ(in->painted, 1);
    EXPECT_EQ(out->painted, 0);
    root.paint();  // no clip: everything
    EXPECT_EQ(out->painted, 1);
  }
  gfx_deinit();
  driver_deinit();
}

}  // namespace
