// Window, GL context and input on SDL's offscreen video driver (a real GL
// context, no display). Input is fed with SDL_PushEvent and read back as
// engine Event records.
#include "ruvezor/util/qel_driver.h"
#include "z2_test_util.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using z2test::stdout_of;

class Sdl2Test : public testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    driver_init(255);
  }
  void TearDown() override { driver_deinit(); }

  void open_window(int w = 640, int h = 480) {
    driver_video_init(w, h, 640, 480, 320, 320, 0);
    ASSERT_NE(driver_sdl2_window(), nullptr);
    drain();
  }
  // Empties the queue. SDL also ends a poll pass at events pushed after the
  // pass began, so every batch of pushes starts with a drain.
  static void drain() {
    Event e;
    for (int i = 0; i < 1000 && driver_event_poll(&e); i++) {
    }
  }
  static Event poll_one() {
    Event e;
    memset(&e, 0x77, sizeof(e));
    EXPECT_TRUE(driver_event_poll(&e));
    return e;
  }
  static void push_key(Uint32 type, SDL_Keycode sym, Uint16 mod) {
    SDL_Event ev = {};
    ev.type = type;
    ev.key.keysym.sym = sym;
    ev.key.keysym.mod = mod;
    ASSERT_EQ(SDL_PushEvent(&ev), 1);
  }
  static void push_text(const char* utf8) {
    SDL_Event ev = {};
    ev.type = SDL_TEXTINPUT;
    snprintf(ev.text.text, sizeof(ev.text.text), "%s", utf8);
    ASSERT_EQ(SDL_PushEvent(&ev), 1);
  }
};

// ---- video -------------------------------------------------------------------------------------

TEST_F(Sdl2Test, VideoStartLogsTheVersionsBuiltAndLinked) {
  driver_deinit();
  std::string out = stdout_of([] { driver_init(255); });
  EXPECT_STREQ(driver_get_idiom(), "desktop");
  EXPECT_EQ(driver_sdl2_window(), nullptr);  // no window until asked for
  SDL_version built, linked;
  SDL_VERSION(&built);
  SDL_GetVersion(&linked);
  char want[64];
  snprintf(want, sizeof(want), "SDL Compile Version: %u.%u.%u\n", built.major, built.minor, built.patch);
  EXPECT_NE(out.find(want), std::string::npos) << out;
  snprintf(want, sizeof(want), "SDL Runtime Version: %u.%u.%u\n", linked.major, linked.minor, linked.patch);
  EXPECT_NE(out.find(want), std::string::npos) << out;
  EXPECT_NE(out.find("_mixer: audio_init: OK\n"), std::string::npos) << out;

  // A driver asked for by name, in any case, is what the player wanted, even
  // one that draws nowhere.
  EXPECT_STREQ(driver_video_unseen(), "");
  for (const char* asked : {"OFFSCREEN", "nosuch,Offscreen"}) {
    driver_deinit();
    setenv("SDL_VIDEODRIVER", asked, 1);
    stdout_of([] { driver_init(255); });
    EXPECT_STREQ(SDL_GetCurrentVideoDriver(), "offscreen") << asked;
    EXPECT_STREQ(driver_video_unseen(), "") << asked;
  }

  // Where no display answers, the game ends saying so: the sound device is
  // not tried, so its library's errors do not come before that one reason.
  const char* display = getenv("DISPLAY");
  std::string was = display ? display : "";
  driver_deinit();
  unsetenv("DISPLAY");
  setenv("SDL_VIDEODRIVER", "x11", 1);
  out = stdout_of([] { driver_init(255); });
  EXPECT_STRNE(driver_video_unseen(), "");
  EXPECT_EQ(out.find("_mixer"), std::string::npos) << out;
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  if (display) setenv("DISPLAY", was.c_str(), 1);
}

TEST_F(Sdl2Test, WindowOpensWithMetricsContextAndVsync) {
  EXPECT_EQ(driver_video_minimize(), 0);
  driver_set_caption("Zentar 2");
  open_window(640, 480);
  SDL_Window* win = driver_sdl2_window();
  int w = 0, h = 0;
  SDL_GetWindowSize(win, &w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_STREQ(SDL_GetWindowTitle(win), "Zentar 2");
  EXPECT_NE(SDL_GetWindowFlags(win) & SDL_WINDOW_RESIZABLE, 0u);
  SDL_GetWindowMinimumSize(win, &w, &h);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 320);
  driver_get_size(&w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_FLOAT_EQ(driver_get_aspect(), 640.0f / 480.0f);
  EXPECT_FLOAT_EQ(driver_get_scale(), 1.0f);
  ASSERT_NE(glGetString(GL_VERSION), nullptr);
  GLint vp[4] = {};
  glGetIntegerv(GL_VIEWPORT, vp);
  EXPECT_EQ(vp[2], 640);
  EXPECT_EQ(vp[3], 480);
  // Vsync is asked for once the context is current, from the first window on.
  EXPECT_EQ(SDL_GL_GetSwapInterval(), 1);
  EXPECT_EQ(driver_video_minimize(), 1);

  // Offscreen swaps never wait for a display, so after the sixteen flips
  // that show it, flips wait for the frame times (60 Hz: none is given).
  for (int i = 0; i < 17; i++) driver_video_flip();
  Uint64 t0 = SDL_GetPerformanceCounter();
  for (int i = 0; i < 12; i++) driver_video_flip();
  double took = static_cast<double>(SDL_GetPerformanceCounter() - t0) / static_cast<double>(SDL_GetPerformanceFrequency());
  EXPECT_GE(took, 10 / 60.0);
}

TEST_F(Sdl2Test, ZeroSizeRequestUsesDesktopFractionOrDesktop) {
  SDL_DisplayMode desk;
  ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desk), 0);
  driver_video_init(0, 0, 640, 480, 320, 320, 0);
  int w = 0, h = 0;
  SDL_GetWindowSize(driver_sdl2_window(), &w, &h);
  EXPECT_EQ(w, desk.w * 80 / 100);
  EXPECT_EQ(h, desk.h * 80 / 100);
  driver_video_init(0, 0, 640, 480, 320, 320, 1);
  EXPECT_NE(SDL_GetWindowFlags(driver_sdl2_window()) & SDL_WINDOW_FULLSCREEN, 0u);
  SDL_GetWindowSize(driver_sdl2_window(), &w, &h);
  EXPECT_EQ(w, desk.w);
  EXPECT_EQ(h, desk.h);
  driver_video_init(500, 400, 640, 480, 320, 320, 0);
  EXPECT_EQ(SDL_GetWindowFlags(driver_sdl2_window()) & SDL_WINDOW_FULLSCREEN, 0u);

  // A window wider than the desktop takes the backup size's width, in its
  // own shape (offscreen pictures of any size stay possible).
  driver_video_init(desk.w * 2, desk.h * 3 / 2, 640, 480, 320, 320, 0);
  SDL_GetWindowSize(driver_sdl2_window(), &w, &h);
  EXPECT_EQ(w, desk.w * 2);
  _sdl2_fit_to_desktop_always(true);
  driver_video_init(desk.w * 2, desk.h * 3 / 2, 640, 480, 320, 320, 0);
  _sdl2_fit_to_desktop_always(false);
  SDL_GetWindowSize(driver_sdl2_window(), &w, &h);
  EXPECT_EQ(w, desk.w * 80 / 100);
  EXPECT_NEAR(h, desk.h * 60 / 100, 1);
}

TEST_F(Sdl2Test, SameRequestKeepsWindowOtherRequestKeepsContext) {
  open_window(640, 480);
  Uint32 id = SDL_GetWindowID(driver_sdl2_window());
  SDL_GLContext ctx = SDL_GL_GetCurrentContext();
  std::string out = stdout_of([] { driver_video_init(640, 480, 640, 480, 320, 320, 0); });
  EXPECT_NE(out.find("_try_init_video: no changes needed.\n"), std::string::npos);
  EXPECT_EQ(SDL_GetWindowID(driver_sdl2_window()), id);
  // Objects of the context survive a new window.
  GLuint tex = 0;
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  driver_video_init(800, 600, 640, 480, 320, 320, 0);
  EXPECT_NE(SDL_GetWindowID(driver_sdl2_window()), id);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), ctx);
  EXPECT_EQ(SDL_GL_GetCurrentWindow(), driver_sdl2_window());
  EXPECT_TRUE(glIsTexture(tex));
  int w = 0, h = 0;
  driver_get_size(&w, &h);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
}

TEST_F(Sdl2Test, ContextCanBeRecreated) {
  open_window();
  GLuint tex = 0;
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  std::string out = stdout_of([] { _sdl2_create_context(driver_sdl2_window()); });
  size_t at = out.find("SDL_GL_DeleteContext\n");
  EXPECT_NE(at, std::string::npos);
  for (const char* line : {"SDL_GL_CreateContext\n", "GL_RED_SIZE:8\n", "GL_ALPHA_SIZE:8\n", "GL_DEPTH_SIZE:",
                           "GL_BUFFER_SIZE:", "GL_DOUBLEBUFFER:", "GL_STENCIL_SIZE:", "SDL_GL_MakeCurrent\n"}) {
    size_t p = out.find(line, at);
    EXPECT_NE(p, std::string::npos) << line;  // in this order
    if (p != std::string::npos) at = p;
  }
  EXPECT_NE(glGetString(GL_VERSION), nullptr);
  EXPECT_FALSE(glIsTexture(tex));  // a fresh context
  EXPECT_EQ(SDL_GL_GetSwapInterval(), 1);
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  unsigned char px[4] = {};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
  EXPECT_EQ(px[1], 255);
}

TEST_F(Sdl2Test, ResizeEventRunsTheResizeStep) {
  driver_set_size(300, 200);
  _driver_video_resize();  // no window: nothing
  int w = 0, h = 0;
  driver_get_size(&w, &h);
  EXPECT_EQ(w, 300);

  open_window(640, 480);
  SDL_SetWindowSize(driver_sdl2_window(), 1000, 500);
  // The offscreen driver reports no resize itself; send the one a window system would.
  SDL_Event ev = {};
  ev.type = SDL_WINDOWEVENT;
  ev.window.event = SDL_WINDOWEVENT_RESIZED;
  ev.window.data1 = 1000;
  ev.window.data2 = 500;
  SDL_PushEvent(&ev);
  Event e = poll_one();
  while (e.type == 0) e = poll_one();  // the window's own size-change notes
  ASSERT_EQ(e.type, 4);
  EXPECT_EQ(e.w, 1000.0f);
  EXPECT_EQ(e.h, 500.0f);
  driver_get_size(&w, &h);
  EXPECT_EQ(w, 1000);
  EXPECT_EQ(h, 500);
  EXPECT_FLOAT_EQ(driver_get_aspect(), 2.0f);
  EXPECT_FLOAT_EQ(driver_get_scale(), 1.0f);
  EXPECT_FLOAT_EQ(driver_get_orient(), 0.0f);
  GLint vp[4] = {};
  glGetIntegerv(GL_VIEWPORT, vp);
  EXPECT_EQ(vp[2], 1000);
  EXPECT_EQ(vp[3], 500);
}

TEST_F(Sdl2Test, FlipCarriesSanitisedCaptionAndIcon) {
  driver_set_caption("plain");
  driver_video_flip();  // no window: nothing, and nothing taken as given
  open_window();
  EXPECT_STREQ(SDL_GetWindowTitle(driver_sdl2_window()), "plain");
  driver_set_caption("Zen\ttar \xc3\xa9\x7f!");
  driver_video_flip();
  EXPECT_STREQ(SDL_GetWindowTitle(driver_sdl2_window()), "Zen?tar ??\x7f!");
  EXPECT_STREQ(driver_get_caption(), "Zen\ttar \xc3\xa9\x7f!");

  // The icon keeps R, G, B, A in memory order.
  std::vector<unsigned char> px = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 10, 20, 30, 40};
  std::string png;
  stbi_write_png_to_func([](void* c, void* d, int n) { ((std::string*)c)->append((char*)d, n); }, &png, 2, 2, 4,
                         px.data(), 8);
  std::string path = "/tmp/qel_sdl2_test_icon_" + std::to_string(getpid()) + ".png";
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(png.data(), 1, png.size(), f);
  fclose(f);
  SDL_Surface* s = _sdl2_load_image(path.c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->w, 2);
  EXPECT_EQ(s->format->BitsPerPixel, 32);
  for (int y = 0; y < 2; y++) EXPECT_EQ(memcmp((unsigned char*)s->pixels + y * s->pitch, &px[y * 8], 8), 0);
  SDL_FreeSurface(s);
  EXPECT_EQ(_sdl2_load_image(""), nullptr);
  EXPECT_EQ(_sdl2_load_image("/nonexistent/icon.png"), nullptr);
  driver_set_icon(path.c_str());
  driver_video_flip();
  driver_set_icon("/nonexistent/icon.png");  // the window keeps its icon
  driver_video_flip();
  unlink(path.c_str());
}

// ---- keys ------------------------------------------------------------------------------------------

TEST(Sdl2Keys, EngineKeyCodes) {
  const int table[][2] = {{SDLK_UP, 1},       {SDLK_RIGHT, 2},     {SDLK_DOWN, 3},       {SDLK_LEFT, 4},
                          {SDLK_ESCAPE, 5},   {SDLK_BACKSPACE, 6}, {SDLK_DELETE, 7},     {SDLK_RETURN, 8},
                          {SDLK_KP_ENTER, 8}, {SDLK_HOME, 9},      {SDLK_END, 10},       {SDLK_F1, 14},
                          {SDLK_F12, 25},     {SDLK_TAB, 26},      {SDLK_SPACE, 27},     {SDLK_KP_0, 28},
                          {SDLK_KP_1, 29},    {SDLK_KP_9, 37},     {'a', 38},            {'z', 63},
                          {'0', 64},          {'9', 73},           {SDLK_PLUS, 74},      {SDLK_MINUS, 75},
                          {SDLK_BACKQUOTE, 76}, {SDLK_PAGEUP, 77}, {SDLK_PAGEDOWN, 78},  {SDLK_F13, 0},
                          {SDLK_KP_PLUS, 0},  {SDLK_LSHIFT, 0},    {SDLK_INSERT, 0},     {'A', 0},
                          {'0' - 1, 0},       {'9' + 1, 0},        {SDLK_UNKNOWN, 0}};
  for (auto& t : table) EXPECT_EQ(_driver_sdl_sym2key(t[0]), t[1]) << t[0];
  for (int i = 0; i < 12; i++) EXPECT_EQ(_driver_sdl_sym2key(SDLK_F1 + i), 14 + i);
  for (int c = 'a'; c <= 'z'; c++) EXPECT_EQ(_driver_sdl_sym2key(c), c - 59);
}

TEST_F(Sdl2Test, KeyDownUpAndModifiers) {
  open_window();
  struct {
    Uint16 mod;
    int b;
  } mods[] = {{KMOD_LSHIFT, 1}, {KMOD_RSHIFT, 1}, {KMOD_LCTRL, 2}, {KMOD_RCTRL, 2}, {KMOD_LALT, 4},
              {KMOD_RALT, 4},   {KMOD_MODE, 4},   {KMOD_RGUI, 8},  {KMOD_CAPS, 0},  {KMOD_LCTRL | KMOD_RSHIFT | KMOD_LGUI, 11}};
  for (auto& m : mods) {
    drain();
    push_key(SDL_KEYDOWN, SDLK_r, m.mod);
    push_key(SDL_KEYUP, SDLK_KP_ENTER, m.mod);
    Event e = poll_one();
    EXPECT_EQ(e.type, 6);
    EXPECT_EQ(e.key, 55);
    EXPECT_EQ(e.sym, 'r');
    EXPECT_EQ(e.b, m.b) << m.mod;
    e = poll_one();
    EXPECT_EQ(e.type, 7);
    EXPECT_EQ(e.key, 8);
    EXPECT_EQ(e.b, m.b);
    EXPECT_EQ(e.unicode, 0);
  }
}

// ---- typed text ----------------------------------------------------------------------------------

TEST_F(Sdl2Test, ShiftedLetterGivesKeyThenQueuedCharacter) {
  open_window();
  push_key(SDL_KEYDOWN, SDLK_a, KMOD_LSHIFT);
  push_text("A");
  Event e = poll_one();
  EXPECT_EQ(e.type, 6);
  EXPECT_EQ(e.key, 38);
  EXPECT_EQ(e.sym, 97);
  EXPECT_EQ(e.b, 1);
  EXPECT_EQ(poll_one().type, 0);  // the text is queued
  e = poll_one();
  EXPECT_EQ(e.type, 6);
  EXPECT_EQ(e.unicode, 0x41);
  EXPECT_EQ(e.key | e.sym | e.b, 0);
}

TEST_F(Sdl2Test, TypedTextComesOutOneCharacterPerPollBeforeLaterEvents) {
  open_window();
  push_text("\xe2\x82\xac" "b\xf0\x9f\x98\x80");  // euro sign, 'b', an emoji
  push_key(SDL_KEYDOWN, SDLK_ESCAPE, KMOD_NONE);
  push_text("ok\xe2\x82");  // ends inside a sequence
  EXPECT_EQ(poll_one().type, 0);
  EXPECT_EQ(poll_one().unicode, 0x20AC);
  EXPECT_EQ(poll_one().unicode, 'b');
  EXPECT_EQ(poll_one().unicode, 0x1F600);
  Event e = poll_one();
  EXPECT_EQ(e.key, 5);
  EXPECT_EQ(e.unicode, 0);
  EXPECT_EQ(poll_one().type, 0);
  // What converted before the fault still comes out; the broken tail is dropped.
  std::string out = stdout_of([] { EXPECT_EQ(poll_one().unicode, 'o'); });
  EXPECT_NE(out.find("ConvertUTF8toUTF32 error: 1\n"), std::string::npos);
  EXPECT_EQ(poll_one().unicode, 'k');
  EXPECT_FALSE(driver_event_poll(&e));
}

TEST_F(Sdl2Test, TypedTextStaysOutOfTheLog) {
  open_window();
  std::string out = stdout_of([] {
    push_text("hunter2");
    SDL_Event ev = {};
    ev.type = SDL_TEXTEDITING;
    snprintf(ev.edit.text, sizeof(ev.edit.text), "secret");
    SDL_PushEvent(&ev);
    Event e;
    std::u32string got;
    while (driver_event_poll(&e))
      if (e.unicode) got += (char32_t)e.unicode;
    EXPECT_EQ(got, U"hunter2");
  });
  EXPECT_NE(out.find("SDL_TEXTINPUT"), std::string::npos);  // the event itself is logged
  EXPECT_NE(out.find("SDL_TEXTEDITING"), std::string::npos);
  for (const char* s : {"hunter2", "secret", "UTF32: 68", "UTF32: 75"}) EXPECT_EQ(out.find(s), std::string::npos) << s;
}

// ---- pointer, wheel and the rest ---------------------------------------------------------------------

TEST_F(Sdl2Test, PointerEventsCarryWindowPixels) {
  open_window();
  SDL_Event ev = {};
  ev.type = SDL_MOUSEBUTTONDOWN;
  ev.button.button = SDL_BUTTON_RIGHT;
  ev.button.x = 120;
  ev.button.y = 45;
  ev.button.which = 3;
  SDL_PushEvent(&ev);
  ev.type = SDL_MOUSEBUTTONUP;
  SDL_PushEvent(&ev);
  ev = {};
  ev.type = SDL_MOUSEMOTION;
  ev.motion = {SDL_MOUSEMOTION, 0, 0, SDL_TOUCH_MOUSEID, SDL_BUTTON_LMASK | SDL_BUTTON_RMASK, 130, 40, 10, -5};
  SDL_PushEvent(&ev);

  Event e = poll_one();
  EXPECT_EQ(e.type, 11);
  EXPECT_EQ(e.b, 3);
  EXPECT_EQ(e.raw_x, 120.0f);
  EXPECT_EQ(e.raw_y, 45.0f);
  EXPECT_EQ(e.x, 120.0f);
  EXPECT_EQ(e.y, 45.0f);
  EXPECT_EQ(e.which, 3);
  e = poll_one();
  EXPECT_EQ(e.type, 13);
  EXPECT_EQ(e.b, 3);
  e = poll_one();
  EXPECT_EQ(e.type, 12);
  EXPECT_EQ(e.raw_x, 130.0f);
  EXPECT_EQ(e.raw_dx, 10.0f);
  EXPECT_EQ(e.dy, -5.0f);
  EXPECT_EQ(e.b, (int)(SDL_BUTTON_LMASK | SDL_BUTTON_RMASK));
  EXPECT_EQ(e.which, -1);  // mouse events made from touches carry SDL's touch id
  EXPECT_EQ(e.spread + e.dspread, 0.0f);
  EXPECT_EQ(e.fingers | e._spare0 | e._spare1 | e._spare2, 0);
}

TEST_F(Sdl2Test, WheelIsNegatedAtThePointer) {
  open_window();
  SDL_WarpMouseInWindow(driver_sdl2_window(), 200, 150);
  drain();
  SDL_Event ev = {};
  ev.type = SDL_MOUSEWHEEL;
  ev.wheel.y = 1;
  SDL_PushEvent(&ev);
  ev.wheel.x = INT32_MIN;  // must not overflow when negated
  ev.wheel.y = -3;
  SDL_PushEvent(&ev);
  Event e = poll_one();
  EXPECT_EQ(e.type, 14);
  EXPECT_EQ(e.raw_dx, 0.0f);
  EXPECT_EQ(e.raw_dy, -1.0f);
  EXPECT_EQ(e.dy, -1.0f);
  EXPECT_EQ(e.raw_x, 200.0f);
  EXPECT_EQ(e.y, 150.0f);
  e = poll_one();
  EXPECT_EQ(e.raw_dx, 2147483648.0f);
  EXPECT_EQ(e.raw_dy, 3.0f);
}

TEST_F(Sdl2Test, QuitUntranslatedAndEmpty) {
  open_window();
  for (Uint32 type : {(Uint32)SDL_QUIT, (Uint32)SDL_JOYAXISMOTION, (Uint32)SDL_FINGERDOWN}) {
    SDL_Event ev = {};
    ev.type = type;
    SDL_PushEvent(&ev);
  }
  EXPECT_EQ(poll_one().type, 1);
  EXPECT_EQ(poll_one().type, 0);  // joysticks are not read
  EXPECT_EQ(poll_one().type, 0);  // nor fingers
  Event e;
  memset(&e, 0x55, sizeof(e));
  EXPECT_FALSE(driver_event_poll(&e));
  EXPECT_FALSE(driver_event_poll(nullptr));
}

TEST_F(Sdl2Test, ClipboardAndDesktopKeyboard) {
  EXPECT_EQ(driver_keyboard_state(), 0);  // no window
  open_window();
  driver_clipboard_set_text("zentar \xe2\x82\xac 2");
  EXPECT_EQ(driver_clipboard_get_text(), "zentar \xe2\x82\xac 2");
  driver_clipboard_set_text("");
  EXPECT_EQ(driver_clipboard_get_text(), "");
  // No on-screen keyboard here: show and hide do nothing, text input stays on.
  EXPECT_TRUE(SDL_IsTextInputActive());
  std::string out = stdout_of([] {
    driver_keyboard_show();
    driver_keyboard_hide();
  });
  EXPECT_EQ(out.find("keyboard_"), std::string::npos);
  EXPECT_TRUE(SDL_IsTextInputActive());
  EXPECT_EQ(driver_keyboard_state(), 0);
}

}  // namespace
