// qel_gfx: the 2D graphics module.
//
// One state object behind the module pointer, made by gfx_init and freed by
// gfx_deinit. Everything is drawn in logical units: the shell picks a logical
// size, and the projection scales, rotates and centres it in the viewport.
// Input coordinates come back through the same transform reversed.
//
// Sections: shared types; module life and GL state; view, projection and
// coordinate mapping; focus; clip stack. The texture cache, images and
// atlases are in qel_gfx_image, the drawing calls in qel_gfx_draw.
#pragma once

#include <cstdint>

struct Event;

// ---- shared types ----------------------------------------------------------------

struct GfxRect {
  float x, y, w, h;
};

// One texture cache slot; the match renderer reads these fields directly.
struct GfxTexture {
  int32_t id;          // its own slot number
  int32_t loaded;      // 1 while the GL texture is resident
  uint32_t gl_name;    // GL texture name, 0 when none
  int32_t filtered;    // 1 once the filters below were set
  int32_t mag_filter;  // GL magnification filter
  int32_t min_filter;  // GL minification filter
  uint32_t mem;        // bytes charged to memused
  GfxRect rect;        // (0, 0, tw, th)
  char name[64];       // name it was loaded by
  char file[512];      // full path of the image file
  int32_t mtime;       // file time when last loaded
  char atlas[512];     // full path of the atlas JSON, or empty
  int32_t atlas_mtime; // JSON file time when last read
  int32_t last_use;    // time() of the last use
};

// One named rectangle of a texture.
struct GfxImage {
  int32_t id;    // its own slot number
  int32_t tex;   // texture id
  GfxRect src;   // pixels in the texture
  GfxRect trim;  // placement inside the untrimmed picture; w, h its size
};

// ---- module life and GL state ----------------------------------------------------------

// Creates the state on first call; every call refreshes the view.
void gfx_init();
// Releases every texture and the state.
void gfx_deinit();
bool _gfx_is_ready();  // a GL context is current

// The fixed-function state all 2D drawing assumes (premultiplied blending).
void gfx_gl_state_reset();

// A GL name kept beside the serial of the context it was made in
// (driver_gl_context_serial). Once the context has been re-created the name
// is dropped, never deleted: the new context may already use it for
// something else. Dropped answers whether it had to forget the name (the
// holder then makes it again); free deletes a name of the current context
// and drops any other.
bool gfx_gl_name_dropped(uint32_t& name, uint32_t& context);
void gfx_gl_name_free(uint32_t& name, uint32_t& context);
void gfx_clear();

// ---- view, projection and coordinate mapping -------------------------------------

void gfx_set_view(int x, int y, int w, int h);  // viewport in window pixels
void gfx_get_view(int* x, int* y, int* w, int* h);
void gfx_set_size(int w, int h);  // logical screen size
void gfx_get_size(int* w, int* h);
void gfx_set_scale(float scale);  // logical units to pixels; must be positive
float gfx_get_scale();
void gfx_set_orient(float degrees);
float gfx_get_orient();
void gfx_set_shift(float x, float y);
void gfx_get_shift(int* x, int* y);
void gfx_set_ortho_near_far(float near_z, float far_z);
// Loads the projection for the logical screen and identity model-view.
void gfx_ortho();
// Moves the current GL matrix and the clip origin; callers undo their own.
void gfx_translate(float x, float y);

GfxRect gfx_pos_to_hwpos(GfxRect r);    // logical point -> window pixels
GfxRect gfx_hwpos_to_pos(GfxRect r);    // window pixels -> logical point
GfxRect gfx_rect_to_hwrect(GfxRect r);  // corners mapped; may come out negative
GfxRect gfx_hwrect_to_rect(GfxRect r);
// Pointer and wheel events (8, 9, 10, 14) to logical units; others untouched.
void gfx_event_correct(Event* e);

// ---- focus ----------------------------------------------------------------------------

void gfx_focus(GfxRect r);  // text entry that must stay visible, logical units
void gfx_blur();
GfxRect _gfx_get_focus_fixed();  // the focus rectangle in window pixels

// ---- clip stack -------------------------------------------------------------------------

constexpr int GFX_CLIP_MAX = 8;

// Pushes a clip in the current (translated) logical coordinates.
void gfx_clip(float x, float y, float w, float h);
void gfx_unclip();
// Cuts dst (and src in proportion) to the top clip; 0 when nothing is left.
int _gfx_clip(GfxRect* dst, GfxRect* src);
