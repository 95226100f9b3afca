// qel_gfx_image: textures, images and atlases of the 2D renderer.
//
// A texture id names one loaded picture file; an image id names a rectangle
// of a texture (the whole picture, or one frame of an atlas). Both are small
// ints, 0 meaning none. Resident texture memory is kept under a cap by
// freeing the textures idle longest; a freed texture keeps its id and is read
// again from its file the next time it is used. Changed files are reloaded
// while the program runs.
#pragma once

#include <cstdint>

#include "ruvezor/util/qel_gfx.h"  // GfxRect, GfxTexture, GfxImage

class var;

// ---- finding files ---------------------------------------------------------------

// Tries name, name.tga, .png, .jpg, .qel (the bare name only when it holds a
// '.'), each in the data directory, then the document directory. Static
// 512-byte result, valid until the next call; null when nothing is found.
const char* _gfx_find_ext(const char* name);
const char* _gfx_find(const char* name);  // the same, logged
// Whether the file is in the data or else the document directory: for
// callers that ask before they load (the loaders go by _gfx_find).
int driver_gfx_exists(const char* name);
// Data-directory path when the file is there, else the document-directory
// path when it is there, else the data-directory path.
const char* driver_gfx_fname(const char* name);

// ---- textures --------------------------------------------------------------------

int gfx_tex_load(const char* name);  // texture id, 0 when not found
void gfx_tex_reload(int tex);
void _gfx_tex_check(int tex);       // reloads a freed texture and stamps its use
unsigned gfx_tex_get_id(int tex);   // GL name after _gfx_tex_check
void _gfx_tex_recycle();            // frees idle textures while over the cap
// Deletes the slot's GL texture and uncharges its memory; keeps the record.
void _gfx_tex_gl_free(int tex);
// Records by id; valid until the next texture or image is added. Out of range
// ids give the zeroed slot 0.
GfxTexture* _gfx_get_tex(int tex);
GfxImage* _gfx_get_img(int img);

// ---- images ----------------------------------------------------------------------

// Adds the image, or overwrites it in place keeping its id.
void gfx_img_add(const char* name, int tex, GfxRect src, GfxRect trim);
int gfx_img_load(const char* name);  // image id, 0 when not found
unsigned gfx_img_get_tex(int img);   // GL name of its texture, after _gfx_tex_check
int gfx_img_get_width(int img);      // untrimmed size, whole numbers
int gfx_img_get_height(int img);
double gfx_img_get_ratio(int img);

// ---- atlases ---------------------------------------------------------------------

// Loads the texture name and the frames of "name.json" as images.
void gfx_atlas_load(const char* name);
// Reads the atlas description at path (its own directory) into images of tex.
void gfx_atlas_reload(int tex, const char* path);
GfxRect _gfx_json_rect(var& v);  // members x, y, w, h; missing ones read 0

// ---- hot reload ------------------------------------------------------------------

// Once a second at most: reloads textures and atlases whose files changed.
void gfx_reload_auto();

// ---- module life and seams -------------------------------------------------------

// Resident texture memory in bytes, and the cap it is held under.
uint32_t _gfx_memused();
uint32_t _gfx_memmax();
// Releases every texture and forgets every name (the end of the gfx module).
void _gfx_img_deinit();
// Tests: the clock in seconds (null restores time()) and a cap override
// (0 restores the device's own).
void _gfx_img_set_clock(int (*now)());
void _gfx_img_set_memmax(uint32_t bytes);
