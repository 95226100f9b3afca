// zentar_bkgr: the slowly turning background image and the star layer over it.
//
// Star styles (Zentar.bkgr_stars): 0 none, 1 drift, 2 fly toward the viewer,
// 3 twinkle. The star table is process-wide and only rebuilt when the screen
// size or the style changes, so stars move on smoothly across screens.
#pragma once

#include <cstdint>

struct Zentar;

inline constexpr int BKGR_STARS_MAX = 256;

struct BkgrStar {
    float x, y;  // position in star space, -R..R
    float z;     // depth 0..2R, 0 at the viewer
    float size;  // 1..2
    float a;     // brightness 0..1
};

// Module state, process-wide.
struct _BkgrData {
    BkgrStar stars[BKGR_STARS_MAX];  // the star table
    int prev_ticks = 0;              // timer at the previous star frame
    int key = 0;                     // layout key of the last initialisation, 0 = never
};
extern _BkgrData _bkgr;

void bkgr_paint(Zentar& world);
void _bkgr_paint_background(Zentar& world);
void _bkgr_paint_stars(Zentar& world);

// Stars shown on a logical screen, and the star-space radius R.
int _bkgr_star_count(int sw, int sh);
int _bkgr_star_radius(int sw, int sh);
// The image name shown when the world names none.
const char* _bkgr_image_name(const Zentar& world);

void _bkgr_stars_init_1(int count, int R);
void _bkgr_stars_init_2(int count, int R);
void _bkgr_stars_init_3(int count, int R);
void _bkgr_stars_loop_1(int count, int R, float dt);
void _bkgr_stars_loop_2(int count, int R, float dt);
void _bkgr_stars_loop_3(Zentar& world, int count);
void _bkgr_stars_draw(Zentar& world, int count, int R, int style);
