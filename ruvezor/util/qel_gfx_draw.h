// qel_gfx_draw: the 2D drawing calls.
//
// Images (by image id) and raw GL textures (by GL name) drawn into boxes,
// 9-slice boxes, tiles, free quads and flat fills. Every box call clips
// itself on the CPU against the clip stack and draws one 4-vertex triangle
// strip; the texture is tinted by the current GL colour, which only gfx_fill
// changes (and sets back to opaque white).
#pragma once

// ---- images ------------------------------------------------------------------------

// w or h 0: the image's own width or height.
void gfx_img_blit(int img, float x, float y, float w, float h);
// (sx, sy, sw, sh): part of the image as fractions of its pixels.
void gfx_img_blit2(int img, float sx, float sy, float sw, float sh, float x, float y, float w, float h);
// Corners (x, y, z): bottom-left, bottom-right, top-left, top-right; unclipped.
// For painters that draw an image in perspective.
void gfx_img_quad(int img, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2,
                  float z2, float x3, float y3, float z3);
// 9-slice box whose corners keep the picture's aspect, border units on the short side.
void gfx_img_box(int img, int x, int y, int w, int h, int border);
// Copies of the image, size x size each, clipped to the box.
void gfx_img_tile(int img, int x, int y, int w, int h, int size);

// ---- raw GL textures ---------------------------------------------------------------

void gfx_tex_blit(unsigned tex, float x, float y, float w, float h);
void gfx_tex_blit2(unsigned tex, float s, float t, float ds, float dt, float x, float y, float w, float h);
// The whole texture on a free quad: for painters that draw a texture in perspective.
void gfx_tex_quad(unsigned tex, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2,
                  float z2, float x3, float y3, float z3);
void gfx_tex_box(unsigned tex, int x, int y, int w, int h, int border);
// The same box with edges and middle tiled in border-sized cells.
void gfx_tex_box_slow(unsigned tex, int x, int y, int w, int h, int border);

// ---- colour ------------------------------------------------------------------------

// Opaque 0xRRGGBB over the box; leaves the colour opaque white.
void gfx_fill(unsigned rgb, float x, float y, float w, float h);
// The same at alpha 0..255, premultiplied like everything the 2D state blends.
void gfx_fill_a(unsigned rgb, float x, float y, float w, float h, unsigned char alpha);
