// qel_driver: the engine's one door to the operating system.
//
// Driver core: start/stop, names and screen metrics, the data, alternative
// and document directories, whole-file load/save, the log file with its
// in-memory backlog, the millisecond clock, frame pacing and opening URLs.
// Window/GL, input, audio and Steam are further parts of the same driver;
// driver_init/driver_deinit start and stop them through the _driver_*_init
// and _driver_*_deinit entries declared at the bottom.
//
// Event record (88 bytes, every field 32 bits, little-endian in memory):
//   off  field    type  meaning
//     0  type     i32   event type code (0 none, 1 quit, 4 resize, 6 key down
//                       or typed char, 7 key up, 11/12/13 pointer press/move/
//                       release, 14 wheel)
//     4  x        f32   pointer x (window pixels, later logical units)
//     8  y        f32   pointer y
//    12  spread   f32   finger spread (touch tracker; driver leaves 0)
//    16  dx       f32   pointer movement / wheel x
//    20  dy       f32   pointer movement / wheel y
//    24  dspread  f32   touch tracker; driver leaves 0
//    28  w        f32   new window width on resize
//    32  h        f32   new window height on resize
//    36  raw_x    f32   pointer x in window pixels
//    40  raw_y    f32   pointer y in window pixels
//    44  (spare)  i32   zero
//    48  raw_dx   f32   movement / wheel x in window pixels
//    52  raw_dy   f32   movement / wheel y in window pixels
//    56  (spare)  i32   zero
//    60  b        i32   modifier bits / button number / held-button mask
//    64  key      i32   engine key code, 0 when unmapped
//    68  unicode  i32   UTF-32 character of a typed-character event
//    72  fingers  i32   touch tracker; driver leaves 0
//    76  sym      i32   SDL key code of a key event
//    80  (spare)  i32   zero
//    84  which    i32   mouse device id of a pointer event
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Event {
  int32_t type;
  float x;
  float y;
  float spread;
  float dx;
  float dy;
  float dspread;
  float w;
  float h;
  float raw_x;
  float raw_y;
  int32_t _spare0;
  float raw_dx;
  float raw_dy;
  int32_t _spare1;
  int32_t b;
  int32_t key;
  int32_t unicode;
  int32_t fingers;
  int32_t sym;
  int32_t _spare2;
  int32_t which;
};

// Modifier bits in b of a key event, as the key came.
enum { EVENT_MOD_SHIFT = 1, EVENT_MOD_CTRL = 2, EVENT_MOD_ALT = 4, EVENT_MOD_GUI = 8 };

static_assert(sizeof(float) == 4, "Event fields are 32 bits wide");
static_assert(sizeof(Event) == 88, "Event is 88 bytes");
static_assert(offsetof(Event, type) == 0);
static_assert(offsetof(Event, x) == 4);
static_assert(offsetof(Event, y) == 8);
static_assert(offsetof(Event, spread) == 12);
static_assert(offsetof(Event, dx) == 16);
static_assert(offsetof(Event, dy) == 20);
static_assert(offsetof(Event, dspread) == 24);
static_assert(offsetof(Event, w) == 28);
static_assert(offsetof(Event, h) == 32);
static_assert(offsetof(Event, raw_x) == 36);
static_assert(offsetof(Event, raw_y) == 40);
static_assert(offsetof(Event, _spare0) == 44);
static_assert(offsetof(Event, raw_dx) == 48);
static_assert(offsetof(Event, raw_dy) == 52);
static_assert(offsetof(Event, _spare1) == 56);
static_assert(offsetof(Event, b) == 60);
static_assert(offsetof(Event, key) == 64);
static_assert(offsetof(Event, unicode) == 68);
static_assert(offsetof(Event, fingers) == 72);
static_assert(offsetof(Event, sym) == 76);
static_assert(offsetof(Event, _spare2) == 80);
static_assert(offsetof(Event, which) == 84);

// ---- start and stop ----------------------------------------------------------

// Part bits for driver_init: the application passes 255 windowed, 12 headless.
enum {
  DRIVER_VIDEO = 1,
  DRIVER_AUDIO = 2,
  DRIVER_TIMER = 4,
  DRIVER_LOG = 8,
};

// Makes a fresh driver state, then starts log, timer, video, audio as flagged.
// With video asked for, audio starts only where a window can be seen
// (driver_video_unseen is empty).
void driver_init(int flags);
// Whether driver_init picks the debug data directory: the application shell
// points this at builds_get_debug. Null (engine-only programs): never.
void driver_set_debug_check(bool (*debug)());
// Stops audio, video, timer, closes the log file, frees the state.
void driver_deinit();
// For a platform that ends the app through its driver; a no-op on the desktop.
void driver_app_exit();

// ---- names and metrics -------------------------------------------------------

void driver_set_gamename(const char* name);  // names the document directory
void driver_set_caption(const char* text);
const char* driver_get_caption();
void driver_set_icon(const char* path);
const char* driver_get_icon();
void driver_set_idiom(const char* text);
const char* driver_get_idiom();
void driver_set_altdir(const char* dir);  // null or "" clears it

void driver_get_size(int* w, int* h);
void driver_set_size(int w, int h);
float driver_get_aspect();
void driver_set_aspect(float aspect);
float driver_get_scale();
void driver_set_scale(float scale);
float driver_get_orient();
void driver_set_orient(float orient);

const char* driver_get_tmpdir();   // "/tmp"
const char* driver_get_osinfo();   // "Linux"
const char* driver_get_home_dir(); // HOME, "" when unset; static buffer
// Home under which the document directory lives: HOME, else the password
// database's entry, else ".".
const char* _driver_doc_home();

// ---- paths (static buffers, valid until the next call of the same kind) ------

// The alternative directory's file when it opens for reading, else the data
// directory's, whether it exists or not. "" when the path would not fit.
const char* driver_data_fname(const char* name);
// The document directory's file; finding the directory creates it.
const char* driver_doc_fname(const char* name);
// 0 when a name climbs out of the directory it is looked for in (a ".."
// between slashes). Names of pictures, sounds and fonts come from mods and
// from hosts: those lookups take only names that stay inside.
int driver_name_inside(const char* name);

// ---- files -------------------------------------------------------------------

// 1 when it opens for reading. Only regular files are read, so reading
// never waits: a FIFO or device counts as absent (with a log line), and so
// does a directory.
int driver_file_exists(const char* path);
int driver_file_fsize(const char* path);   // 0 when it can't be examined
int driver_file_mtime(const char* path);   // seconds since the epoch, 0 on failure
// Hot reload of images, fonts, sounds and mod scripts: the file's time when it
// changed after `seen` (its time at the last load) and has been left alone for
// over a second before `now`, so a file still being written waits; else 0.
int driver_file_changed(const char* path, long seen, long now);
// Reads min(cap, size) bytes, returns the count; no NUL added.
int driver_file_load(const char* path, void* buf, int cap);
// Largest file read whole: well past any picture, sound or script the game
// uses, and it keeps a huge file from freezing the game and filling memory.
constexpr int DRIVER_FILE_MAX = 128 * 1024 * 1024;
// Whole file in a malloc'd block (release with free); none and *len 0 when
// missing, empty or larger than DRIVER_FILE_MAX (logged).
void* driver_file_alloc(const char* path, int* len);
std::string driver_file_load(const char* path);
// Replaces the file with n bytes; the old content survives a failed write.
// A new file is made 0600; an existing one loses any access by others,
// unless it is reached through a symlink. Returns 1 on success, 0 (logged)
// on failure.
int driver_file_save(const char* path, const void* buf, int n);

int driver_data_exists(const char* name);
int driver_data_fsize(const char* name);
int driver_data_load(const char* name, void* buf, int cap);
std::string driver_data_load(const char* name);

int driver_doc_exists(const char* name);
int driver_doc_fsize(const char* name);
int driver_doc_load(const char* name, void* buf, int cap);
std::string driver_doc_load(const char* name);
int driver_doc_save(const char* name, const void* buf, int n);
// Removes the temporary files that saves of processes no longer running left
// in the document directory (a save killed between write and rename);
// returns how many went. Called at start-up.
int driver_doc_sweep_saves();

// ---- log file ----------------------------------------------------------------

// Queues one complete line (no newline added) and writes the queue to
// "ruvezor.log" once that is open, flushed, so that a killed process loses
// no line. Works before driver_init.
void driver_log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Why the log file misses lines (it cannot be opened, or a write failed:
// a full disk), once for each time that begins; empty otherwise. The log
// function puts it on standard output.
std::string driver_log_trouble();
void _driver_log_init();    // (re)opens the log file when the game name is set
void _driver_log_deinit();  // writes the closing line and closes it
// Writes text straight to standard output and the log file's descriptor,
// behind the buffered log: safe inside a signal handler, where the process
// is about to end. Lines already logged are in the file (each is flushed).
void driver_log_emergency(const char* text);
// Log lines to a descriptor whose reader may stop reading: a pipe to `tee`
// or a collector, a FIFO, a socket, a terminal. A reader that stops must not
// stop the game (and a host with it, every player's match): a piece of a
// line is written only while there is room for it, and a line that finds
// none is counted instead. A reader that keeps up may still be a moment
// behind a burst of lines, so a piece waits up to DRIVER_LINE_WAIT_MS for
// room; only a reader that lets that pass is taken as stalled, and its lines
// go without waiting until it reads again. Then one line says how many it
// missed and `elsewhere` where they still are.
struct DriverLineOut {
  int fd = -1;
  const char* elsewhere = "";
  long dropped = 0;      // lines (or their rests) that found no room
  bool cut = false;      // the last line written stopped partway
  bool stalled = false;  // the reader let a wait pass: no more waits until it reads
  // Writes the line whole, after the note of those missed; false when it
  // was counted instead.
  bool line(const char* text, size_t n);
};
constexpr int DRIVER_LINE_WAIT_MS = 100;
// Whether fd is a pipe, a socket or a terminal: a reader there can stall.
bool driver_fd_may_stall(int fd);
// Lines waiting for the log file are capped at this many bytes; the oldest go.
constexpr size_t _driver_log_backlog_cap = 1u << 20;
// The log file stops growing at this many bytes (a run that starts truncates
// it): one line then says so, and later lines reach standard output only.
constexpr size_t _driver_log_file_cap = size_t(256) << 20;
void _driver_log_set_file_cap(size_t bytes);  // for tests; 0 restores the cap above

// ---- clock -------------------------------------------------------------------

// Milliseconds since the origin (first reading or last reset); wraps modulo 2^32.
int driver_timer_get_ticks();
void driver_timer_reset_ticks();
int zt_get_ticks();
void zt_timer_reset();
void driver_timer_delay(int ms);
// Milliseconds driver_timer_delay has been asked to sleep, all told.
uint64_t _driver_timer_delayed_ms();
void driver_timer_set(int rate);  // frames per second for driver_timer_tick, 0 off
int driver_timer_tick();          // frames due since the last call
// Microsecond source behind the clock (monotonic by default); null restores it.
void _driver_timer_set_source(uint64_t (*now_us)());

// ---- other -------------------------------------------------------------------

// Opens an http or https address in the user's browser (xdg-open, in the
// background); any other address is refused with a log line.
void driver_open_url(const char* url);
// Once for each opened address where no browser could be started (no
// xdg-open, or xdg-open failed): that address; else the empty text. Never
// waits: call it every frame.
std::string driver_open_url_failed();
// Loads an image file as a GL texture; 0 on failure.
unsigned int driver_tex_load(const char* path, int* w, int* h, int* tw, int* th);

// ---- entries into the other driver parts ---------------------------------------

void _driver_video_init();   // video subsystem up, no window yet
void _driver_video_deinit(); // window and GL context gone, video subsystem down
// The window part (qel_driver_sdl2.cpp) lives in the media library and fills
// these in when it is linked, so the core runs a headless program without it.
struct DriverVideoHooks {
  void (*init)();
  void (*deinit)();
  const char* (*unseen)();  // driver_video_unseen
};
extern DriverVideoHooks _driver_video_hooks;
void _driver_audio_init();   // audio device and mixer state
void _driver_audio_deinit();
void _driver_cloud_deinit(); // Steam cloud stop
// Fills e with the next platform event; 0 when nothing is pending.
int driver_event_poll(Event* e);
// Texture loader behind driver_tex_load.
unsigned int _driver_tex_load(const char* path, int* w, int* h, int* tw, int* th);

// ---- window, GL context and video (qel_driver_sdl2.cpp) ------------------------

struct SDL_Window;
struct SDL_Surface;

// Opens (or keeps) the game window at w x h, full screen or not; a and b are
// only logged. Sets the minimum size and runs the resize step.
void driver_video_init(int w, int h, int a, int b, int min_w, int min_h, int fullscreen);
// Swaps buffers, then hands a changed caption or icon to the window.
void driver_video_flip();
int driver_video_minimize();           // 1 when there was a window to minimise
int driver_video_restore();            // back from minimised, in front; 1 when there was a window
SDL_Window* driver_sdl2_window();      // null before the first window
// Why no window of this run could be seen, "" when one can: video did not
// start (no display, or an SDL_VIDEODRIVER that has none), or SDL fell back
// to a driver that draws nowhere without SDL_VIDEODRIVER asking for it.
const char* driver_video_unseen();
// Replaces the GL context with a new one for the window and makes it current.
void _sdl2_create_context(SDL_Window* window);
// Counts the GL contexts made so far (0 before the first). A GL name is good
// only in the context it was made in; holders compare this with the count
// they kept beside the name.
uint32_t driver_gl_context_serial();
// Reads window and drawable size into the driver metrics and the viewport.
void _driver_video_resize();
SDL_Window* _try_init_video(int w, int h, int fullscreen);
// A windowed size larger than the desktop is fitted to it, except on a
// driver that draws nowhere; tests turn this on to see the fitting there.
void _sdl2_fit_to_desktop_always(bool on);
// Window icon from an image file (RGBA bytes in memory order); caller frees.
SDL_Surface* _sdl2_load_image(const char* path);

// ---- input events, keyboard and clipboard (qel_driver_sdl2.cpp) -----------------

int _driver_sdl_sym2key(int sym);      // SDL key code -> engine key code, 0 unmapped
void driver_keyboard_show();
void driver_keyboard_hide();
int driver_keyboard_state();
// For screens that make room for an on-screen keyboard; no-ops on the desktop, which has none.
int driver_keyboard_get_height();
void driver_keyboard_init(void* data);
void driver_keyboard_set_height(int h);
std::string driver_clipboard_get_text();
void driver_clipboard_set_text(const std::string& text);

// ---- texture loading (qel_driver_tex_load.cpp) ---------------------------------

// Premultiplies, pads and uploads RGBA pixels with a full mipmap chain. The
// pixels are scratch afterwards; the caller still frees them. 0 on failure.
unsigned int _driver_tex_load_from_data(unsigned char* pixels, int w, int h, int* out_w, int* out_h,
                                        int* tw, int* th);
unsigned char* _stbi_load(const char* path, int* w, int* h, int* comp, int req_comp);
// Halves an RGBA buffer in place (packed result), updating w and h.
void _driver_tex_load_downscale(unsigned char* pixels, int* w, int* h);
void _driver_tex_load_downscale_both(unsigned char* pixels, int* w, int* h);
void _driver_tex_load_downscale_horz(unsigned char* pixels, int* w, int* h);
void _driver_tex_load_downscale_vert(unsigned char* pixels, int* w, int* h);
int _driver_tex_size(int n);           // padded texture side for an image side
int _driver_gl_version();              // major*65536 + minor*256 + release
int _has_glGenerateMipmap();
int _has_gl_generate_mipmap();
int _has_gl_manual_mipmap();
int _qel_gl_texture_min_filter();
int _qel_gl_texture_mag_filter();
