// qel_font: bitmap fonts.
//
// A font is a glyph picture (an image of the font's own name) plus a text
// file giving every glyph's rectangle and metrics. Text is bytes: each byte
// value is one glyph. Fonts are loaded by name and pixel size, measured,
// wrapped to a width and drawn left, centred or right aligned; a text entry
// asks where the caret before a byte is and which byte is nearest a point.
//
// Description file (text, one record a line, words split at ' ', key=value):
//   common lineHeight=<n> scaleW=<n> scaleH=<n>
//   char id=<byte> x= y= width= height= xoffset= yoffset= xadvance=
// Other lines and keys are ignored; a number is read from the value's
// leading characters.
#pragma once

#include "ruvezor/util/qel_gfx.h"  // GfxRect

constexpr int FONT_GLYPHS = 256;
constexpr int FONT_WRAP_LINES = 256;

struct FontGlyph {
  float xoffset, yoffset, xadvance;  // font pixels
};

struct FontInfo {
  int tex;                       // texture id of the glyph picture
  GfxRect rects[FONT_GLYPHS];    // glyph rectangles in the picture, pixels
  FontGlyph glyphs[FONT_GLYPHS]; // metrics, font pixels
  float lineHeight;              // from the file
  float size;                    // pixel size asked for; 0 = the file's own
  float scale;                   // font pixels to logical units
  float scaleW, scaleH;          // picture size the file declares
  char file[512];                // full path of the description file
  int mtime;                     // its time when last read
  float margins[4];              // top, right, bottom, left, font pixels
  float line;                    // distance between lines, logical units
};

struct FontWrapLine {
  int start;  // first byte of the line
  int end;    // byte that ends it (newline, blank, NUL, or next line's first)
  int width;  // logical units, margins included
};

struct FontWrap {
  int count;
  FontWrapLine lines[FONT_WRAP_LINES];
};

void font_init();
void font_deinit();

int font_load(const char* name, int size);  // 0 when not found
const char* _font_find(const char* name);   // static buffer, null when missing
void font_reload(int font);
void font_reload_auto();
void font_set_margins(int font, float top, float right, float bottom, float left);

float font_get_width(int font, const char* text);
float font_get_height(int font, const char* text, float wrap);
void _font_wrap_calc(int font, const char* text, float wrap, FontWrap& out);

// align: -1 left, 0 centred, 1 right (used when wrap is not 0).
void font_draw(int font, const char* text, float x, float y, float wrap, int align);
void _font_draw(int font, const char* text, float x, float y);

GfxRect font_crect(int font, const char* text, int i, float wrap, int align);
int font_cnear(int font, const char* text, int x, int y, float wrap, int align);
int _font_dist(GfxRect& r, int x, int y);
const char* _font_filter(const char* text);

// The record of a font id (the zeroed slot 0 for an unknown id).
FontInfo* _font_get(int font);
// Reads description text into a font record (the file part of a reload).
void _font_parse(FontInfo& f, const char* text, int length);
// Tests: the clock in seconds (null restores time()).
void _font_set_clock(int (*now)());
