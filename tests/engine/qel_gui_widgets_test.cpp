// Sliders, toggles, check boxes and the scroll bar box: values, clamping,
// pointer and key changes, typed numbers and the action values they return.
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gui.h"
#include "z2_test_util.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <string>

namespace {

class Env : public testing::Environment {  // typing tells gfx where the text goes
  z2test::TempDir tmp;

public:
  void SetUp() override {
    tmp.enter_as_home("widgets-");
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    z2test::stdout_of([] { driver_init(DRIVER_VIDEO), driver_video_init(64, 64, 64, 64, 64, 64, 0), gfx_init(); });
  }
  void TearDown() override {
    z2test::stdout_of([] { gfx_deinit(), driver_deinit(); });
    tmp.leave();
  }
};
const auto* env = testing::AddGlobalTestEnvironment(new Env);

var send(Widget& w, int type, float x = 0, float y = 0, int b = 0, int key = 0, int ch = 0, float dy = 0) {
  Event e{};
  e.type = type, e.x = x, e.y = y, e.b = b, e.key = key, e.unicode = ch, e.dy = dy;
  return w.event(&e);
}
var key(Widget& w, int k, int ch = 0) { return send(w, GUI_EV_KEYDOWN, 0, 0, 0, k, ch); }
bool none(const var& v) { return v.__type__() == VAR_NONE; }
var action(const char* v) {
  var t("type"), o("onchange"), k("value"), x(v);
  return var(VAR_DICT, 4, &t, &o, &k, &x);
}

// 0..100 by 5 at 50, inner width 200: knob 20, number box 40, track 130.
struct Slider : testing::Test {
  NumSlider s;
  void SetUp() override {
    s.low = 0, s.high = 100, s.step = 5, s.value = 50;
    s.knob_width = 20, s.box_width = 40, s.label_width = 50, s.w = 200, s.h = 29;
    s.on_change = action("vol");
    send(s, GUI_EV_FOCUS);
  }
};

TEST_F(Slider, KeysStepSnapAndStopAtTheEnds) {
  EXPECT_EQ(key(s, GUI_KEY_RIGHT)["value"].__str__(), "vol");
  key(s, GUI_KEY_LEFT), key(s, GUI_KEY_LEFT);
  EXPECT_EQ(s.get_value().__str__(), "45");
  s.value = 100;
  EXPECT_TRUE(none(key(s, GUI_KEY_RIGHT)));
  s.value = 52;  // any other key snaps to the step grid
  EXPECT_EQ(key(s, GUI_KEY_UP)["type"].__str__(), "onchange");
  EXPECT_EQ(s.value, 50);
  s.set_value_i(500);  // set directly: not clamped
  EXPECT_EQ(s.value, 500);
  s.set_value(var("7.9"));  // truncated
  send(s, GUI_EV_BLUR);
  EXPECT_TRUE(none(key(s, GUI_KEY_RIGHT)));  // without focus nothing moves
  EXPECT_EQ(s.value, 7);
}

TEST_F(Slider, DragReportsAtReleaseUnlessLive) {
  send(s, GUI_EV_PRESS, 10, 5, 1);
  EXPECT_TRUE(none(send(s, GUI_EV_MOVE, 75, 5, 1)));  // 65 x 101 / 130 = 50.5
  EXPECT_EQ(s.value, 50);
  send(s, GUI_EV_MOVE, 500, 5, 1);
  send(s, GUI_EV_MOVE, 20, 5, 0);  // no button: no change
  EXPECT_EQ(s.value, 100);
  EXPECT_EQ(send(s, GUI_EV_RELEASE, 20, 5)["value"].__str__(), "vol");

  s.live = 1;
  send(s, GUI_EV_PRESS, 10, 5, 1);
  EXPECT_EQ(send(s, GUI_EV_MOVE, 40, 5, 1)["value"].__str__(), "vol");
  EXPECT_EQ(s.value, 20);  // 23.3 snapped down
  send(s, GUI_EV_RELEASE);
  s.w = 70;  // no room left for the track: still a value in range
  send(s, GUI_EV_PRESS, 5, 5, 1), send(s, GUI_EV_MOVE, 1e30f, 5, 1);
  EXPECT_EQ(s.value, 100);
}

TEST_F(Slider, TypedNumberKeepsFourDigitsAndIsClamped) {
  send(s, GUI_EV_PRESS, 20, 5, 1), send(s, GUI_EV_RELEASE, 20, 5), send(s, GUI_EV_CLICK, 170, 5);
  EXPECT_EQ(s.typing, 0);  // the press was on the track
  send(s, GUI_EV_PRESS, 170, 5, 1), send(s, GUI_EV_RELEASE, 170, 5), send(s, GUI_EV_CLICK, 170, 5);
  ASSERT_EQ(s.typing, 1);
  for (char c : std::string("1x2345")) key(s, 0, c);
  key(s, 6);  // Backspace
  EXPECT_STREQ(s.typed, "123");
  EXPECT_EQ(key(s, GUI_KEY_RETURN)["value"].__str__(), "vol");
  EXPECT_EQ(s.typing + s.value, 100);
  s.low = 10;  // nothing typed: the value stays, the action still comes
  send(s, GUI_EV_PRESS, 170, 5, 1), send(s, GUI_EV_CLICK, 170, 5);
  EXPECT_EQ(send(s, GUI_EV_BLUR)["type"].__str__(), "onchange");
  EXPECT_EQ(s.value, 100);
}

TEST_F(Slider, KnobOfAValueOutsideTheRangeStaysOnTheTrack) {
  // The markup sets the value unclamped (value 9 of 1..5): the knob stops at
  // the end of the track instead of being drawn past the widget.
  z2test::TempDir tmp;
  std::string dir = tmp.enter("knob-").string();
  driver_set_altdir(dir.c_str());
  unsigned char white[64];
  for (unsigned char& v : white) v = 255;
  ASSERT_NE(stbi_write_png((dir + "/gui-slider2.png").c_str(), 4, 4, 4, white, 16), 0);
  z2test::stdout_of([] { gfx_set_size(64, 64), gfx_set_scale(1), gfx_set_view(0, 0, 64, 64); });
  gfx_gl_state_reset(), gfx_clear(), gfx_ortho();
  s.low = 1, s.high = 5, s.value = 9;
  s.knob_width = 10, s.label_width = 10, s.box_width = 0, s.w = 40, s.h = 10;
  z2test::stdout_of([&] { s.paint(); });
  auto white_at = [](int x, int y) {
    unsigned char p[4];
    glReadPixels(x, 64 - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return p[0] > 200 && p[1] > 200 && p[2] > 200;
  };
  EXPECT_TRUE(white_at(25, 5));   // the knob at the track's right end, 20..30
  EXPECT_FALSE(white_at(45, 5));  // nothing past the widget's 40
  tmp.leave();
}

template <class T>
void switch_cycle(const char* name) {
  SCOPED_TRACE(name);
  Container root;
  T* t = new T();
  t->focusable = 1, t->style.declared().width = t->style.declared().height = 44;
  t->on_change = action(name);
  root.add(t, 0, 0), root.resize();
  send(root, GUI_EV_PRESS, 10, 10, 1);  // press and release over it click it
  EXPECT_EQ(send(root, GUI_EV_RELEASE, 10, 10)["value"].__str__(), name);
  EXPECT_EQ(t->get_value_i() * 10 + t->style.override_on, 11);
  EXPECT_EQ(send(*t, GUI_EV_CLICK)["type"].__str__(), "onchange");
  EXPECT_EQ(t->get_value_i() * 10 + t->style.override_on, -10);
  t->set_value(var(1.0));
  EXPECT_EQ(t->style.override_on, 1);
  EXPECT_TRUE(none(send(*t, GUI_EV_PRESS)));  // only clicks change it
}

TEST(Switches, ClicksAlternateOnAndOff) {
  switch_cycle<MyToggle>("sound");
  switch_cycle<MyCheckbox>("agree");
}

TEST(ScrollBar, ClampsFollowsThePointerAndTheWheel) {
  VSlider v;
  v.low = 0, v.high = 100, v.knob_length = 20, v.h = 120, v.on_change = var(-1.0);
  v.set_value_i(500);
  EXPECT_EQ(v.get_value_i(), 100);
  v.set_value_i(-5);
  EXPECT_EQ(send(v, GUI_EV_WHEEL, 0, 0, 0, 0, 0, 2).__str__(), "-1");  // without focus too
  EXPECT_EQ(v.value, 60);
  EXPECT_TRUE(none(send(v, GUI_EV_PRESS, 5, 60, 1)));  // without focus
  send(v, GUI_EV_FOCUS);
  EXPECT_EQ(send(v, GUI_EV_PRESS, 5, 60, 1).__str__(), "-1");  // 50 x 101 / 100
  EXPECT_EQ(v.value, 50);
  EXPECT_TRUE(none(send(v, GUI_EV_MOVE, 5, 60, 1)));  // unchanged
  EXPECT_EQ(key(v, GUI_KEY_DOWN).__str__(), "0");
}

// A 100-high view over 400 units of content, with the bar beside it.
struct Scroll2 : testing::Test {
  Container root;
  ScrollBox* view = new ScrollBox();
  ScrollBox2* box = nullptr;
  void SetUp() override {
    Widget* page = new Widget();
    page->style.declared().width = 100, page->style.declared().height = 400;
    view->add(page, 0, 0);
    view->style.declared().width = 100, view->style.declared().height = 60;
    box = new ScrollBox2(view);
    box->style.declared().height = 100;  // wins over the content's own height
    root.add(box, 0, 0);
    frame();
  }
  void frame() { root.loop(), root.resize(); }
};

TEST_F(Scroll2, BarAndContentMoveTogether) {
  EXPECT_EQ(view->oh + box->slider->h, 200);
  EXPECT_EQ(box->slider->x, 100);
  EXPECT_EQ(box->slider->high, 300);
  EXPECT_EQ(box->slider->knob_length, 40);  // 100 x 100 / 400 = 25, at least 40

  send(root, GUI_EV_MOVE, 50, 50), send(root, GUI_EV_WHEEL, 50, 50, 0, 0, 0, 2);  // over the content
  EXPECT_EQ(view->sy, 60);
  frame();
  EXPECT_EQ(box->slider->value, 60);

  EXPECT_TRUE(none(send(root, GUI_EV_PRESS, 105, 50, 1)));  // (50 - 20) x 301 / 60
  EXPECT_EQ(view->sy, 150);
  EXPECT_EQ(box->style.override_on, 1);
  send(root, GUI_EV_MOVE, 105, 200, 1), send(root, GUI_EV_RELEASE, 105, 200);  // past the end
  EXPECT_EQ(view->sy, 300);
  EXPECT_EQ(box->style.override_on, 0);

  ScrollBox2 empty(new ScrollBox()), null(nullptr);  // nothing to scroll
  empty.resize(), null.resize();
  EXPECT_EQ(empty.slider->high + null.slider->high, 0);
}

}  // namespace
