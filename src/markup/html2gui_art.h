// html2gui_art: the picture widgets of markup pages and their element
// builders: images carried as base64 bytes, vector triangles, a lit planet
// and the animated trophy. (The pixel-art widget lives in pixart.h; only its
// builder is here.)
//
// Every widget paints in its inner box; a widget made from bad data is built
// anyway and paints nothing. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "markup/html2gui.h"
#include "ruvezor/util/qel_gui.h"
#include "world/zentar.h"

// Installs the "trophy", "vectors", "pixart" and "planet" builders into
// html2gui. Idempotent; html2gui calls it before its first lookup.
void html2gui_art_init();

// A picture decoded from the bytes of an <img data=...>. Owns its texture,
// which it makes again from the bytes after the GL context was re-created.
class DataImage : public Widget {
public:
  uint32_t texture = 0;  // GL name, 0 = none
  uint32_t texture_context = 0;  // serial of the GL context the name belongs to
  float u = 1, v = 1;    // part of the texture the picture covers
  std::string bytes;     // the picture file, kept while it gave a texture

  ~DataImage() override;
  void paint() override;
  // Decodes bytes into the texture; false when they are no picture. Sets
  // pw, ph to the picture's size.
  bool load(int* pw, int* ph);
};

// One vertex of the triangle list, handed to GL as it is.
struct ArtVertex {
  float x, y;
  uint8_t r, g, b, a;
};
static_assert(sizeof(ArtVertex) == 12, "GL reads the list with a 12-byte stride");

// Coloured triangles from a compact text (see append).
class VectorArt : public Widget {
public:
  std::vector<ArtVertex> vertices;  // three a triangle
  // Scan state kept across calls.
  int32_t cur_x = 0, cur_y = 0, color = 0xffffff, k = 0;
  ArtVertex cur[3] = {{0, 0, 255, 255, 255, 255}, {0, 0, 255, 255, 255, 255}, {0, 0, 255, 255, 255, 255}};

  // Read from the last character to the first: each command letter takes
  // the number written right after it. X, Y set the position, C the colour
  // (hex), P stores a vertex, T appends the three stored vertices.
  void append(const char* text);
  void paint() override;
};

// More triangles than this from one widget are dropped (a page is not a model).
constexpr size_t VECTOR_ART_MAX_TRIANGLES = 1 << 20;

// A planet drawn by the match's planet painter, borrowing the running game's
// world for the length of a paint.
class PlanetArt : public Widget {
public:
  Item items[2]{};              // [0] cleared, [1] the planet
  Item* planet = &items[1];
  Item kept[2]{};               // the world's first two records while painting
  float clock = 0;              // seconds, 0 .. ZT_CLOCK_TURN as the match clock

  PlanetArt();
  PlanetArt(const PlanetArt&) = delete;
  PlanetArt& operator=(const PlanetArt&) = delete;
  void paint() override;
};

// The trophy: three tinted layers with glow, burst, shine line and sparkles.
class TrophyWidget : public Widget {
public:
  struct Sparkle {
    float x, y, age, scale;  // age 0..1; 1 or more = finished
  };
  char image1[32] = {};  // back layer
  char image2[32] = {};  // middle layer
  char image3[32] = {};  // front layer
  int32_t color1 = 0xffffff;
  int32_t color2 = 0xffffff;
  int32_t color3 = 0xffffff;  // 0 or less: no shine line, no sparkles
  Sparkle sparkles[3] = {{0, 0, 1, 0}, {0, 0, 1, 0}, {0, 0, 1, 0}};
  // Seconds in double: a page may stay up for days, and a float summed a
  // frame at a time stops moving after about three.
  double glow_clock = 0;
  double shine_clock = 0;

  void paint() override;
};

// ---- builders ---------------------------------------------------------------------------------

TrophyWidget* mk_trophy(var& tag);
int _html2gui_trophy(HData& hd, var& list, int i, int n, Widget*& out);
int _html2gui_vectors(HData& hd, var& list, int i, int n, Widget*& out);
int _html2gui_pixart(HData& hd, var& list, int i, int n, Widget*& out);
int _html2gui_planetart(HData& hd, var& list, int i, int n, Widget*& out);
