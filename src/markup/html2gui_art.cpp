// html2gui_art: picture widgets of markup pages (data images, vector art,
// planet art, trophies) and the builders of their elements.
#include "markup/html2gui_art.h"

#include <GL/gl.h>
#include <stb_image.h>

#include <climits>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/game_parts.h"  // game_parts: the world the planet art borrows
#include "mods/mods_api.h"  // planet_style_set
#include "render/pixart.h"
#include "ruvezor/util/qel_base64.h"
#include "ruvezor/util/qel_driver.h"  // _driver_tex_load_from_data
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_log.h"
#include "render/zentar_draw_paint.h"  // draw_color
#include "render/zentar_planet_paint.h"

namespace {

// Pictures in markup above this many pixels are refused before decoding.
constexpr long long MAX_DATA_PIXELS = 4096LL * 4096LL;

// A decimal integer of any length, clamped to 32 bits; 0 when none.
int32_t _dec(const std::string& s) {
  long long v = strtoll(s.c_str(), nullptr, 10);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  return (int32_t)v;
}

}  // namespace

void html2gui_art_init() {
  html2gui_builder_set("trophy", _html2gui_trophy);
  html2gui_builder_set("vectors", _html2gui_vectors);
  html2gui_builder_set("pixart", _html2gui_pixart);
  html2gui_builder_set("planet", _html2gui_planetart);
}

// ---- data image -------------------------------------------------------------------------------

DataImage::~DataImage() { gfx_gl_name_free(texture, texture_context); }

void DataImage::paint() {
  int pw = 0, ph = 0;
  if (gfx_gl_name_dropped(texture, texture_context)) load(&pw, &ph);
  if (texture) gfx_tex_blit2(texture, 0, 0, u, v, 0, 0, w, h);
}

bool DataImage::load(int* pw, int* ph) {
  gfx_gl_name_free(texture, texture_context);
  const unsigned char* src = (const unsigned char*)bytes.data();
  int comp = 0;
  *pw = *ph = 0;
  if (bytes.empty() || bytes.size() > (size_t)INT_MAX ||
      !stbi_info_from_memory(src, (int)bytes.size(), pw, ph, &comp) || *pw <= 0 || *ph <= 0) {
    qel_log("html2gui: img data is not a picture\n");
    return false;
  }
  if ((long long)*pw * *ph > MAX_DATA_PIXELS) {
    qel_log("html2gui: img data picture %dx%d too large\n", *pw, *ph);
    return false;
  }
  int dw = 0, dh = 0;
  unsigned char* px = stbi_load_from_memory(src, (int)bytes.size(), &dw, &dh, &comp, 4);
  if (!px) {
    qel_log("html2gui: img data does not decode: %s\n", stbi_failure_reason());
    return false;
  }
  int iw = 1, ih = 1, tw = 1, th = 1;
  texture = _driver_tex_load_from_data(px, dw, dh, &iw, &ih, &tw, &th);
  texture_context = driver_gl_context_serial();
  stbi_image_free(px);
  if (texture && tw > 0 && th > 0) {
    u = (float)iw / (float)tw;
    v = (float)ih / (float)th;
  } else {
    gfx_gl_name_free(texture, texture_context);
  }
  return true;
}

Widget* mk_img_data(std::string data) {
  DataImage* img = new DataImage();
  StyleBlock& d = img->style.declared();
  d.fg_image = gfx_img_load("blank");
  img->bytes = base64_decode(data);
  int pw = 0, ph = 0;
  if (!img->load(&pw, &ph)) {
    img->bytes.clear();
    return img;
  }
  // The picture's place is kept even when no texture could be made.
  d.width = (float)std::fmin(pw / 2.0, HTML2GUI_MAX_SIZE);
  d.height = (float)std::fmin(ph / 2.0, HTML2GUI_MAX_SIZE);
  return img;
}

// ---- vector art -------------------------------------------------------------------------------

void VectorArt::append(const char* text) {
  if (!text) return;
  size_t len = strlen(text);
  std::string rev;  // the number text, collected back to front
  auto take = [&rev]() {
    std::string s(rev.rbegin(), rev.rend());
    rev.clear();
    return s;
  };
  bool full = false;
  for (size_t at = len; at-- > 0;) {
    char c = text[at];
    switch (c) {
      case ' ': break;
      case 'X': cur_x = _dec(take()); break;
      case 'Y': cur_y = _dec(take()); break;
      case 'C': color = (int32_t)(strtoul(take().c_str(), nullptr, 16) & 0xffffff); break;
      case 'P':
        take();
        cur[k] = ArtVertex{(float)cur_x, (float)cur_y, (uint8_t)(color >> 16), (uint8_t)(color >> 8),
                           (uint8_t)color, 255};
        k = (k + 1) % 3;
        break;
      case 'T':
        take();
        if (vertices.size() / 3 >= VECTOR_ART_MAX_TRIANGLES) {
          if (!full) qel_log("html2gui: vectors over %zu triangles, rest dropped\n", VECTOR_ART_MAX_TRIANGLES);
          full = true;
          break;
        }
        vertices.insert(vertices.end(), cur, cur + 3);
        break;
      default: rev.push_back(c); break;
    }
  }
}

void VectorArt::paint() {
  if (vertices.empty()) return;
  glColor4f(1, 1, 1, 1);
  glDisable(GL_TEXTURE_2D);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  const char* base = (const char*)vertices.data();
  glVertexPointer(2, GL_FLOAT, sizeof(ArtVertex), base);
  glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(ArtVertex), base + offsetof(ArtVertex, r));
  glDrawArrays(GL_TRIANGLES, 0, (GLsizei)vertices.size());
  glDisableClientState(GL_COLOR_ARRAY);
  glColor4f(1, 1, 1, 1);
  glEnable(GL_TEXTURE_2D);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
}

// ---- planet art -------------------------------------------------------------------------------

PlanetArt::PlanetArt() = default;

void PlanetArt::paint() {
  // Kept within the hour like the match clock, in which the planet turns
  // whole turns: summed for days, a float clock stops.
  clock += 1.0f / 60;
  if (!(clock < ZT_CLOCK_TURN)) clock = std::isfinite(clock) ? std::fmod(clock, ZT_CLOCK_TURN) : 0.0f;
  planet->planet_r = std::fmin(w, h) * 0.5f * 0.93f;
  GameParts* game = game_parts();
  if (!game || !(planet->planet_r > 0)) return;  // no world to draw through

  Zentar& world = game->world;
  memcpy(kept, world.items, sizeof kept);
  const float time = world.time;
  const int32_t top = world.top;
  float clip[4];
  memcpy(clip, world.clip, sizeof clip);

  memcpy(world.items, items, sizeof items);
  world.time = clock;
  world.top = 2;
  // The art's planet sits at 0, 0 whatever part of the map a mod clips to.
  world.clip[2] = world.clip[3] = 0;

  gfx_translate(w / 2, h / 2);
  planets_paint(world, 1.0f);
  gfx_translate(-w / 2, -h / 2);

  memcpy(world.items, kept, sizeof kept);
  world.time = time;
  world.top = top;
  memcpy(world.clip, clip, sizeof clip);
}

// ---- trophy -----------------------------------------------------------------------------------

void TrophyWidget::paint() {
  const int q = (int)(w / 4);
  glow_clock += 1.0 / 60;
  shine_clock += 1.0 / 60;

  // Glow behind everything.
  draw_color(0xffffff, (int)(std::sin(2.5 * glow_clock) * 16 + 170));
  gfx_img_blit(gfx_img_load("trophy-shineglow"), (float)-q, (float)-q, w + 2 * q, h + 2 * q);

  // Burst turning about the centre.
  const int r = (int)(w / 8);
  glPushMatrix();
  glTranslatef(w / 2, h / 2, 0);
  glRotatef(5 * glow_clock, 0, 0, 1);
  glTranslatef(-w / 2, -h / 2, 0);
  gfx_img_blit(gfx_img_load("trophy-shineburst"), (float)-r, (float)-r, w + 2 * r, h + 2 * r);
  glPopMatrix();

  // Alpha mask over the box, so the shine line lands only on the trophy.
  draw_color(0xffffff, 255);
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
  glBlendFunc(GL_ONE, GL_ZERO);
  gfx_img_blit(gfx_img_load("blank"), 0, 0, w, h);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);

  draw_color((unsigned)color1, 255);
  gfx_img_blit(gfx_img_load(image1), 0, 0, w, h);
  draw_color((unsigned)color2, 255);
  gfx_img_blit(gfx_img_load(image2), 0, 0, w, h);

  const long long hi = (long long)h;
  if (color3 > 0 && hi > 0) {
    gfx_clip(0, 0, w, h);
    draw_color(0xffffff, 255);
    glBlendFunc(GL_DST_ALPHA, GL_ONE);
    // Whole steps in 64 bits: the clock may run for days.
    double sweep = std::floor(shine_clock * h * 8);
    long long period = hi * 48;
    float y = (std::isfinite(sweep) ? (float)std::fmod(sweep, (double)period) : 0) - h;
    gfx_img_blit(gfx_img_load("trophy-shineline"), 0, y, w, h);
    gfx_unclip();
  }

  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  const int front = gfx_img_load(image3);
  draw_color((unsigned)color3, 255);
  gfx_img_blit(front, 0, 0, w, h);
  draw_color(0xffffff, (int)(std::sin(3.5 * glow_clock) * 32 + 32));
  gfx_img_blit(front, 0, 0, w, h);
  draw_color(0xffffff, 255);

  if (color3 <= 0) return;
  const int star = gfx_img_load("trophy-shinestar");
  const int reach = (int)(w / 2);  // a box under 2 wide sparkles at its centre
  for (Sparkle& s : sparkles) {
    if (s.age < 1) {
      float size = 0.1f + std::sin(s.age * (float)M_PI) * w * 0.1f * s.scale;
      gfx_img_blit(star, s.x - size, s.y - size, 2 * size, 2 * size);
    }
    s.age += 1.0f / 60;
    if (s.age > 1 && rand() % 30 == 0) {
      s.age = 0;
      double angle = (rand() % 360) * M_PI / 180;
      int d = reach > 0 ? rand() % reach : 0;
      s.x = (float)(std::cos(angle) * d + w / 2);
      s.y = (float)(std::sin(angle) * d + h / 2);
      s.scale = (float)((rand() % 75) + 50) / 100;
    }
  }
}

// ---- builders ---------------------------------------------------------------------------------

TrophyWidget* mk_trophy(var& tag) {
  TrophyWidget* t = new TrophyWidget();
  std::string v = _attr(tag, "value").__str__() + ":#ffffff:#ffffff:#ffffff";
  std::string piece[4];
  size_t at = 0;
  for (int k = 0; k < 4; k++) {
    size_t colon = v.find(':', at);
    piece[k] = v.substr(at, colon == std::string::npos ? std::string::npos : colon - at);
    at = colon == std::string::npos ? v.size() : colon + 1;
  }
  snprintf(t->image1, sizeof t->image1, "%s1", piece[0].c_str());
  snprintf(t->image2, sizeof t->image2, "%s2", piece[0].c_str());
  snprintf(t->image3, sizeof t->image3, "%s3", piece[0].c_str());
  t->color1 = _hex_color(piece[1]);
  t->color2 = _hex_color(piece[2]);
  t->color3 = _hex_color(piece[3]);
  t->glow_clock = rand() / 2147483648.0 * 100;
  t->shine_clock = rand() / 2147483648.0 * 100;
  return t;
}

int _html2gui_trophy(HData& hd, var& list, int i, int n, Widget*& out) {
  if (i < 0 || i >= n) return i + 1;
  var& tag = list[i];
  out = _html2gui_style(hd, mk_trophy(tag), tag);
  return i + 1;
}

int _html2gui_vectors(HData& hd, var& list, int i, int n, Widget*& out) {
  if (i < 0 || i >= n) return i + 1;
  var& tag = list[i];
  VectorArt* v = new VectorArt();
  v->append(_attr(tag, "data").__str__().c_str());
  out = _html2gui_style(hd, v, tag);
  return i + 1;
}

int _html2gui_pixart(HData& hd, var& list, int i, int n, Widget*& out) {
  if (i < 0 || i >= n) return i + 1;
  var& tag = list[i];
  int edit = (int)_attr(tag, "edit");
  if (edit == INT32_MIN) edit = 0;  // not a number
  PixArt* p = new PixArt(_attr(tag, "data").__str__().c_str(), edit, -1, 0);
  out = _html2gui_style(hd, p, tag);
  return i + 1;
}

int _html2gui_planetart(HData& hd, var& list, int i, int n, Widget*& out) {
  if (i < 0 || i >= n) return i + 1;
  var& tag = list[i];
  int32_t color = _hex_color(_attr(tag, "color").__str__());
  var team = _attr(tag, "team");
  int32_t team_color = team._obj ? _hex_color(team.__str__()) : color;

  PlanetArt* a = new PlanetArt();
  Item& p = *a->planet;
  p.planet_color = color;
  p.render_color = team_color;
  p.user_team_n = 1;
  p.owner_n = 1;
  if (GameParts* game = game_parts())
    planet_style_set(game->mods, p, _attr(tag, "data").__str__());
  else
    qel_log("html2gui: planet without a running game, left unstyled\n");
  p.in_use = 1;
  p.n = 1;
  p.has_position = p.has_ships = p.has_owner = p.has_title = 1;
  p.has_planet = p.has_collide = p.has_object = p.has_select = 1;
  p.ships_value = 100;
  p.ships_production = 100;
  snprintf(p.title_value, sizeof p.title_value, "%s", "planet");
  p.position_x = p.position_y = 0;
  p.planet_r = p.collide_r = p.fleet_r = 24;
  p.collide_mass = 1809.5574f;
  p.collide_group = 1;
  p.collide_yield_mask = 0;
  p.collide_yield_id = 1;
  p.planet_seed = rand() % 9999;
  p.planet_style.sprite[1].color = team_color;

  out = _html2gui_style(hd, a, tag);
  return i + 1;
}
