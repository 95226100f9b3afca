// qel_driver_sdl2: the window, its GL context and the input of the platform
// driver, over SDL2.
//
// The GL context is made once and outlives every re-created window; only
// _sdl2_create_context replaces it. Typed text arrives as UTF-8 pieces and
// leaves as one UTF-32 character per polled event. Typed text is never
// logged: passwords are typed through here too.
#include "ruvezor/util/qel_driver.h"

#include "ruvezor/util/qel_gfx.h"  // focus rectangle for the text input area
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_utf.h"  // typed UTF-8 -> UTF-32
#include "ruvezor/util/qel_var.h"  // str_put

#include <GL/gl.h>  // viewport after a resize
#include <SDL.h>
#include <stb_image.h>  // stbi_image_free for the icon pixels

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

// ---- types ------------------------------------------------------------------------------

struct _DriverSdl2 {
  SDL_Window* window = nullptr;       // the one game window, none before the first request
  SDL_GLContext context = nullptr;    // made once, kept across window re-creation
  SDL_DisplayMode desktop = {};       // display 0's desktop mode, read on the first request
  bool desktop_read = false;
  bool gl_held = false;               // our own hold on SDL's GL library (see below)
  char caption[256] = {};             // caption last given to the window
  char icon[512] = {};                // icon path last given to the window
  std::string text;                   // typed UTF-8 waiting for conversion
  UTF32 chars[257] = {};              // typed characters still to hand out, 0 after the last
  // Frame pacing when swaps do not wait for the display (see _sdl2_pace).
  struct Pace {
    bool on = false;       // flips wait for the next frame time
    double period = 0;     // seconds per frame of the display
    uint64_t last = 0;     // counter when the last flip returned
    uint64_t next = 0;     // counter before which the next flip does not return
    uint64_t delayed = 0;  // _driver_timer_delayed_ms at the last flip
    double sum = 0;        // own intervals of the flips of this window
    int frames = 0;
  } pace;
};

// ---- globals --------------------------------------------------------------------------------

static _DriverSdl2 _sdl2;

// ---- module-internal functions ----------------------------------------------------------------

// Window titles must be valid UTF-8: control bytes and every non-ASCII byte become '?'.
static void _sdl2_title(char* dst, size_t cap, const char* src) {
  str_put(dst, cap, src);
  for (char* p = dst; *p; p++) {
    unsigned char c = (unsigned char)*p;
    if (c < 32 || c >= 128) *p = '?';
  }
}

static void _sdl2_set_icon(SDL_Window* window, const char* path) {
  SDL_Surface* icon = _sdl2_load_image(path);
  if (!icon) return;
  SDL_SetWindowIcon(window, icon);
  SDL_FreeSurface(icon);
}

// The swap interval needs a current context; it is set again each time one is made current.
static void _sdl2_vsync() {
  if (SDL_GL_SetSwapInterval(1) != 0) qel_log("SDL_GL_SetSwapInterval: %s\n", SDL_GetError());
}

static int _sdl2_mods(Uint16 mod) {
  int b = 0;
  if (mod & KMOD_SHIFT) b |= 1;
  if (mod & KMOD_CTRL) b |= 2;
  if (mod & (KMOD_ALT | KMOD_MODE)) b |= 4;  // Alt Gr reports itself as either
  if (mod & KMOD_GUI) b |= 8;
  return b;
}

// Converts the pending typed text into the character queue.
static void _sdl2_text_convert() {
  qel_log("doing UTF8 conversion...\n");
  const UTF8* src = (const UTF8*)_sdl2.text.data();
  const UTF8* src_end = src + _sdl2.text.size();
  UTF32* dst = _sdl2.chars;
  ConversionResult r = ConvertUTF8toUTF32(&src, src_end, &dst, _sdl2.chars + 256, lenientConversion);
  if (r != conversionOK) qel_log("ConvertUTF8toUTF32 error: %d\n", (int)r);
  *dst = 0;
  _sdl2.text.clear();
}

// ---- window, GL context and video --------------------------------------------------------------

void _driver_video_init() {
  driver_set_idiom("desktop");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) qel_log("SDL_Init(SDL_INIT_VIDEO): %s\n", SDL_GetError());
  SDL_version linked, compiled;
  SDL_GetVersion(&linked);
  SDL_VERSION(&compiled);
  qel_log("SDL Runtime Version: %u.%u.%u\n", linked.major, linked.minor, linked.patch);
  qel_log("SDL Compile Version: %u.%u.%u\n", compiled.major, compiled.minor, compiled.patch);
}

void _driver_video_deinit() {
  if (_sdl2.context) SDL_GL_DeleteContext(_sdl2.context);
  if (_sdl2.window) SDL_DestroyWindow(_sdl2.window);
  _sdl2.context = nullptr;
  _sdl2.window = nullptr;
  if (_sdl2.gl_held) SDL_GL_UnloadLibrary();
  _sdl2.gl_held = false;
  _sdl2.caption[0] = 0;
  _sdl2.icon[0] = 0;
  _sdl2.text.clear();
  _sdl2.chars[0] = 0;
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// Linked with the window code, driver_init brings video up through these.
static const bool _driver_video_hooked =
    (_driver_video_hooks = DriverVideoHooks{_driver_video_init, _driver_video_deinit, driver_video_unseen}, true);

SDL_Window* driver_sdl2_window() { return _sdl2.window; }

static bool _sdl2_draws_nowhere() {
  const char* used = SDL_GetCurrentVideoDriver();
  return used && (strcmp(used, "offscreen") == 0 || strcmp(used, "dummy") == 0);
}

static bool _sdl2_fit_nowhere = false;
void _sdl2_fit_to_desktop_always(bool on) { _sdl2_fit_nowhere = on; }

// Whether SDL_VIDEODRIVER names the driver: SDL reads it as a comma-separated
// list and matches the names in any case ("OFFSCREEN" picks "offscreen").
static bool _sdl2_driver_asked(const char* used) {
  const char* asked = getenv("SDL_VIDEODRIVER");
  if (!asked || !used) return false;
  size_t n = strlen(used);
  for (const char* p = asked;;) {
    const char* end = strchr(p, ',');
    size_t len = end ? (size_t)(end - p) : strlen(p);
    if (len == n && SDL_strncasecmp(p, used, n) == 0) return true;
    if (!end) return false;
    p = end + 1;
  }
}

const char* driver_video_unseen() {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return "video did not start";
  if (_sdl2_draws_nowhere() && !_sdl2_driver_asked(SDL_GetCurrentVideoDriver()))
    return "no display answered, and SDL's fallback draws nowhere";
  return "";
}

SDL_Surface* _sdl2_load_image(const char* path) {
  if (!path || !*path) return nullptr;
  int w = 0, h = 0, comp = 0;
  unsigned char* px = _stbi_load(path, &w, &h, &comp, 4);
  if (!px) return nullptr;
  SDL_Surface* copy = nullptr;
  if (w > 0 && h > 0 && w <= (1 << 20) / 4) {
    SDL_Surface* wrap = SDL_CreateRGBSurfaceFrom(px, w, h, 32, 4 * w, 0x000000ffu, 0x0000ff00u, 0x00ff0000u,
                                                 0xff000000u);
    if (wrap) {
      copy = SDL_ConvertSurface(wrap, wrap->format, 0);
      SDL_FreeSurface(wrap);
    }
  }
  stbi_image_free(px);
  return copy;
}

static uint32_t _sdl2_context_serial = 0;

uint32_t driver_gl_context_serial() { return _sdl2_context_serial; }

void _sdl2_create_context(SDL_Window* window) {
  if (_sdl2.context) {
    qel_log("SDL_GL_DeleteContext\n");
    SDL_GL_DeleteContext(_sdl2.context);
    _sdl2.context = nullptr;
  }
  _sdl2.context = SDL_GL_CreateContext(window);
  _sdl2_context_serial++;
  qel_log("SDL_GL_CreateContext\n");
  static const struct {
    SDL_GLattr attr;
    const char* fmt;
  } attrs[] = {
      {SDL_GL_RED_SIZE, "GL_RED_SIZE:%d\n"},       {SDL_GL_GREEN_SIZE, "GL_GREEN_SIZE:%d\n"},
      {SDL_GL_BLUE_SIZE, "GL_BLUE_SIZE:%d\n"},     {SDL_GL_ALPHA_SIZE, "GL_ALPHA_SIZE:%d\n"},
      {SDL_GL_DEPTH_SIZE, "GL_DEPTH_SIZE:%d\n"},   {SDL_GL_BUFFER_SIZE, "GL_BUFFER_SIZE:%d\n"},
      {SDL_GL_DOUBLEBUFFER, "GL_DOUBLEBUFFER:%d\n"}, {SDL_GL_STENCIL_SIZE, "GL_STENCIL_SIZE:%d\n"},
  };
  for (const auto& a : attrs) {
    int v = 0;
    SDL_GL_GetAttribute(a.attr, &v);
    qel_log(a.fmt, v);
  }
  SDL_GL_MakeCurrent(window, _sdl2.context);
  qel_log("SDL_GL_MakeCurrent\n");
  _sdl2_vsync();
}

SDL_Window* _try_init_video(int w, int h, int fullscreen) {
  qel_log("_try_init_video(%d,%d,%d)\n", w, h, fullscreen);
  if (!SDL_WasInit(SDL_INIT_VIDEO)) SDL_InitSubSystem(SDL_INIT_VIDEO);
  if (!_sdl2.desktop_read) {
    if (SDL_GetDesktopDisplayMode(0, &_sdl2.desktop) != 0) {
      qel_log("SDL_GetDesktopDisplayMode: %s\n", SDL_GetError());
      _sdl2.desktop = SDL_DisplayMode{};
    }
    _sdl2.desktop_read = true;
  }
  int dw = _sdl2.desktop.w, dh = _sdl2.desktop.h;
  int bw = dw * 80 / 100, bh = dh * 80 / 100;
  int tw = w, th = h;
  if (!w || !h) {
    tw = fullscreen ? dw : bw;
    th = fullscreen ? dh : bh;
  }
  // A window larger than the desktop (1920x1080 picked on a 1366x768
  // laptop) puts the window's edges, and with them the screens' tabs and
  // buttons, out of reach: it shrinks to the backup size, in its shape. A
  // driver that draws nowhere has no desktop to fit (pictures of any size
  // are drawn there).
  if (!fullscreen && dw > 0 && dh > 0 && bw > 0 && bh > 0 && (tw > dw || th > dh) &&
      (_sdl2_fit_nowhere || !_sdl2_draws_nowhere())) {
    double fit = std::min(static_cast<double>(bw) / tw, static_cast<double>(bh) / th);
    int fw = std::max(1, static_cast<int>(tw * fit)), fh = std::max(1, static_cast<int>(th * fit));
    qel_log("_try_init_video: %d x %d is larger than the desktop, using %d x %d\n", tw, th, fw, fh);
    tw = fw;
    th = fh;
  }

  if (_sdl2.window) {
    int sw = 0, sh = 0;
    SDL_GetWindowSize(_sdl2.window, &sw, &sh);
    bool fs = (SDL_GetWindowFlags(_sdl2.window) & SDL_WINDOW_FULLSCREEN) != 0;
    qel_log("_try_init_video: desktop: %d x %d, backup: %d x %d, target: %d x %d, screen: %d x %d\n", dw, dh, bw,
            bh, tw, th, sw, sh);
    if (sw == tw && sh == th && fs == (fullscreen != 0)) {
      qel_log("_try_init_video: no changes needed.\n");
      return _sdl2.window;
    }
    SDL_DestroyWindow(_sdl2.window);
    _sdl2.window = nullptr;
  } else {
    qel_log("_try_init_video: desktop: %d x %d, backup: %d x %d, target: %d x %d, screen: %d x %d\n", dw, dh, bw,
            bh, tw, th, 0, 0);
  }

  qel_log("_try_init_video: initial init\n");
  if (!SDL_WasInit(SDL_INIT_VIDEO)) SDL_InitSubSystem(SDL_INIT_VIDEO);
  // SDL unloads the GL library with the last GL window, which would take the
  // context with it; holding a reference keeps it across window re-creation.
  if (!_sdl2.gl_held) {
    if (SDL_GL_LoadLibrary(nullptr) == 0)
      _sdl2.gl_held = true;
    else
      qel_log("SDL_GL_LoadLibrary: %s\n", SDL_GetError());
  }

  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_ACCELERATED_VISUAL, 1);
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "1");
  qel_log("QEL_SDL_WINDOW_RESIZABLE:%d\n", 1);
  qel_log("SDL_WINDOW_RESIZABLE\n");

  char title[256];
  _sdl2_title(title, sizeof(title), driver_get_caption());
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE;
  if (fullscreen) flags |= SDL_WINDOW_FULLSCREEN;
  SDL_Window* win = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, tw, th, flags);
  if (!win) {
    qel_log("failed to init at %d x %d .. trying %d x %d\n", tw, th, bw, bh);
    win = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, bw, bh,
                           SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
  }
  if (!win) return nullptr;

  _sdl2.window = win;
  _sdl2.pace = _DriverSdl2::Pace{};
  str_put(_sdl2.caption, sizeof(_sdl2.caption), driver_get_caption());
  str_put(_sdl2.icon, sizeof(_sdl2.icon), driver_get_icon());
  _sdl2_set_icon(win, _sdl2.icon);
  if (!_sdl2.context) _sdl2_create_context(win);
  SDL_GL_MakeCurrent(win, _sdl2.context);
  _sdl2_vsync();
  int nw = 0, nh = 0;
  SDL_GetWindowSize(win, &nw, &nh);
  qel_log("now: %d x %d - %d\n", nw, nh, (SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN) ? 1 : 0);
  return win;
}

void driver_video_init(int w, int h, int a, int b, int min_w, int min_h, int fullscreen) {
  qel_log("init_video: %d %d %d %d %d %d %d\n", w, h, a, b, min_w, min_h, fullscreen);
  SDL_Window* win = _try_init_video(w, h, fullscreen);
  if (!win) return;
  SDL_SetWindowMinimumSize(win, min_w, min_h);
  _driver_video_resize();
}

void _driver_video_resize() {
  if (!_sdl2.window) return;
  int w = 0, h = 0, dw = 0, dh = 0;
  SDL_GetWindowSize(_sdl2.window, &w, &h);
  SDL_GL_GetDrawableSize(_sdl2.window, &dw, &dh);
  qel_log("window: %d x %d. drawable: %d x %d\n", w, h, dw, dh);
  // A window with no area (minimised on some systems) would make the aspect,
  // the scale and everything mapped through them divide by zero: keep the
  // last good metrics until it has an area again.
  if (w <= 0 || h <= 0 || dw <= 0 || dh <= 0) return;
  glViewport(0, 0, dw, dh);
  driver_set_size(w, h);
  driver_set_aspect((float)w / (float)h);
  driver_set_scale((float)dw / (float)w);
  driver_set_orient(0);
}

// With vertical sync in effect a swap waits for the display, and the time
// from one flip's return to the next flip's swap is about a frame. With
// none (no swap control, Xvfb, many remote desktops) it returns at once and
// the loop would draw as fast as it can: when the flips of a window of
// sixteen average under three quarters of a frame, each flip waits for the
// next frame time of the display (60 Hz when it does not say). Waits, ours
// and the loop's own sleeps, are left out of the intervals, so vertical
// sync that comes back ends them.
static void _sdl2_pace() {
  _DriverSdl2::Pace& p = _sdl2.pace;
  const double freq = static_cast<double>(SDL_GetPerformanceFrequency());
  uint64_t now = SDL_GetPerformanceCounter();
  // Asked at the first flip of a window and with every verdict: the window
  // may have moved to another display.
  auto ask_period = [&]() {
    SDL_DisplayMode mode{};
    int hz = SDL_GetWindowDisplayMode(_sdl2.window, &mode) == 0 ? mode.refresh_rate : 0;
    p.period = 1.0 / (hz >= 20 && hz <= 1000 ? hz : 60);
  };
  if (p.period <= 0) ask_period();
  // The loop's own sleeps between flips are no part of the frame's work.
  uint64_t delayed = _driver_timer_delayed_ms();
  if (p.last && now >= p.last) {
    double slept = static_cast<double>(delayed - p.delayed) / 1000;
    p.sum += std::max(0.0, static_cast<double>(now - p.last) / freq - slept);
    if (++p.frames == 16) {
      p.on = p.sum / p.frames < 0.75 * p.period;
      p.sum = 0;
      p.frames = 0;
      ask_period();
    }
  }
  if (p.on) {
    uint64_t step = static_cast<uint64_t>(p.period * freq);
    if (p.next == 0 || now > p.next + step) p.next = now;  // far behind: start again from here
    if (now < p.next) {
      SDL_Delay(static_cast<Uint32>(static_cast<double>(p.next - now) * 1000 / freq));
      now = SDL_GetPerformanceCounter();
    }
    p.next += step;
  } else {
    p.next = 0;
  }
  p.last = now;
  p.delayed = delayed;
}

void driver_video_flip() {
  if (!_sdl2.window) return;
  SDL_GL_SwapWindow(_sdl2.window);
  _sdl2_pace();
  const char* caption = driver_get_caption();
  if (strcmp(caption, _sdl2.caption) != 0) {
    str_put(_sdl2.caption, sizeof(_sdl2.caption), caption);
    char title[256];
    _sdl2_title(title, sizeof(title), caption);
    SDL_SetWindowTitle(_sdl2.window, title);
  }
  const char* icon = driver_get_icon();
  if (strcmp(icon, _sdl2.icon) != 0) {
    str_put(_sdl2.icon, sizeof(_sdl2.icon), icon);
    _sdl2_set_icon(_sdl2.window, _sdl2.icon);
  }
}

int driver_video_minimize() {
  if (!_sdl2.window) return 0;
  SDL_MinimizeWindow(_sdl2.window);
  return 1;
}

int driver_video_restore() {
  if (!_sdl2.window) return 0;
  SDL_RestoreWindow(_sdl2.window);
  SDL_RaiseWindow(_sdl2.window);
  return 1;
}

// ---- input events ----------------------------------------------------------------------------------

int _driver_sdl_sym2key(int sym) {
  if (sym >= SDLK_a && sym <= SDLK_z) return sym - 59;
  if (sym >= SDLK_0 && sym <= SDLK_9) return sym + 16;
  if (sym >= SDLK_F1 && sym <= SDLK_F12) return 14 + (sym - SDLK_F1);
  if (sym >= SDLK_KP_1 && sym <= SDLK_KP_9) return 29 + (sym - SDLK_KP_1);
  switch (sym) {
    case SDLK_UP: return 1;
    case SDLK_RIGHT: return 2;
    case SDLK_DOWN: return 3;
    case SDLK_LEFT: return 4;
    case SDLK_ESCAPE: return 5;
    case SDLK_BACKSPACE: return 6;
    case SDLK_DELETE: return 7;
    case SDLK_RETURN: return 8;
    case SDLK_KP_ENTER: return 8;
    case SDLK_HOME: return 9;
    case SDLK_END: return 10;
    case SDLK_TAB: return 26;
    case SDLK_SPACE: return 27;
    case SDLK_KP_0: return 28;
    case SDLK_PLUS: return 74;
    case SDLK_MINUS: return 75;
    case SDLK_BACKQUOTE: return 76;
    case SDLK_PAGEUP: return 77;
    case SDLK_PAGEDOWN: return 78;
    default: return 0;
  }
}

int driver_event_poll(Event* e) {
  if (!e) return 0;
  memset(e, 0, sizeof(*e));
  if (!_sdl2.text.empty()) _sdl2_text_convert();
  if (_sdl2.chars[0]) {
    e->type = 6;
    e->unicode = (int32_t)_sdl2.chars[0];
    memmove(_sdl2.chars, _sdl2.chars + 1, sizeof(_sdl2.chars) - sizeof(_sdl2.chars[0]));
    _sdl2.chars[256] = 0;
    return 1;
  }
  if (!SDL_WasInit(SDL_INIT_EVENTS)) return 0;
  SDL_Event ev;
  if (!SDL_PollEvent(&ev)) return 0;

  switch (ev.type) {
    case SDL_QUIT:
      e->type = 1;
      break;
    case SDL_WINDOWEVENT:
      if (ev.window.event == SDL_WINDOWEVENT_RESIZED) {
        e->type = 4;
        int ww = 0, wh = 0;
        if (_sdl2.window) SDL_GetWindowSize(_sdl2.window, &ww, &wh);
        qel_log("Window size: %d %d ... Really: %d %d\n", ev.window.data1, ev.window.data2, ww, wh);
        e->w = (float)ev.window.data1;
        e->h = (float)ev.window.data2;
        _driver_video_resize();
      }
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      e->type = ev.type == SDL_KEYDOWN ? 6 : 7;
      e->sym = ev.key.keysym.sym;
      e->key = _driver_sdl_sym2key(ev.key.keysym.sym);
      e->b = _sdl2_mods(ev.key.keysym.mod);
      break;
    case SDL_TEXTEDITING:
      qel_log("SDL_TEXTEDITING\n");
      break;
    case SDL_TEXTINPUT:
      _sdl2.text.append(ev.text.text, strnlen(ev.text.text, sizeof(ev.text.text)));
      qel_log("SDL_TEXTINPUT @%d\n", (int)ev.text.timestamp);
      break;
    case SDL_MOUSEMOTION:
      e->type = 12;
      e->raw_x = (float)ev.motion.x;
      e->raw_y = (float)ev.motion.y;
      e->raw_dx = (float)ev.motion.xrel;
      e->raw_dy = (float)ev.motion.yrel;
      e->b = (int32_t)ev.motion.state;
      e->which = (int32_t)ev.motion.which;
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      e->type = ev.type == SDL_MOUSEBUTTONDOWN ? 11 : 13;
      e->raw_x = (float)ev.button.x;
      e->raw_y = (float)ev.button.y;
      e->b = ev.button.button;
      e->which = (int32_t)ev.button.which;
      break;
    case SDL_MOUSEWHEEL: {
      e->type = 14;
      int mx = 0, my = 0;
      SDL_GetMouseState(&mx, &my);
      e->raw_x = (float)mx;
      e->raw_y = (float)my;
      // Negated as integers; widened so that the most negative amount can't overflow.
      e->raw_dx = (float)(-(long long)ev.wheel.x);
      e->raw_dy = (float)(-(long long)ev.wheel.y);
      break;
    }
    default:
      break;
  }
  e->x = e->raw_x;
  e->y = e->raw_y;
  e->dx = e->raw_dx;
  e->dy = e->raw_dy;
  return 1;
}

// ---- keyboard and clipboard ------------------------------------------------------------------------

static bool _sdl2_has_screen_keyboard() { return _sdl2.window && SDL_HasScreenKeyboardSupport(); }

void driver_keyboard_show() {
  if (!_sdl2_has_screen_keyboard()) return;
  qel_log("- keyboard_show ...\n");
  GfxRect r = _gfx_get_focus_fixed();
  if (r.w == 0) {
    SDL_StartTextInput();
  } else {
    SDL_Rect rect = {(int)r.x, (int)r.y, (int)r.w, (int)r.h};
    qel_log("- keyboard_show:focus (%d,%d,%d,%d)...\n", rect.x, rect.y, rect.w, rect.h);
    SDL_SetTextInputRect(&rect);
    SDL_StartTextInput();
  }
  qel_log("- keyboard_show: OK\n");
}

void driver_keyboard_hide() {
  if (!_sdl2_has_screen_keyboard()) return;
  qel_log("- keyboard_hide ...\n");
  SDL_StopTextInput();
  qel_log("- keyboard_hide: OK\n");
}

int driver_keyboard_state() {
  if (!_sdl2_has_screen_keyboard()) return 0;
  return SDL_IsTextInputActive() && SDL_IsScreenKeyboardShown(_sdl2.window) ? 1 : 0;
}

int driver_keyboard_get_height() { return 0; }
void driver_keyboard_init(void* data) {}
void driver_keyboard_set_height(int h) {}

std::string driver_clipboard_get_text() {
  char* t = SDL_GetClipboardText();
  if (!t) return std::string();
  std::string s(t);
  SDL_free(t);
  return s;
}

void driver_clipboard_set_text(const std::string& text) { SDL_SetClipboardText(text.c_str()); }
