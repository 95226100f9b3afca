// zentar_planet_paint: planets as textured, lit, spinning spheres with
// fixed-function GL lighting, two layers a planet, then two flat overlay
// images a planet (aura, rings, markers).
//
// Meshes are built once for 16 size levels, in a low- and a high-quality
// form, each smooth and faceted ("disco"); a frame picks one by the planet's
// surface on screen. Three lights around the centre of the visible planets
// shade in the owner's colour, a fourth gives an ambient tint, and at the best
// video quality the four strongest nearby fleets add their colours.
//
// Main thread with the GL context. Everything is drawn in world coordinates
// under the caller's view matrix; lighting, culling, colour material and the
// normal array are left off, blending premultiplied.
#pragma once

#include <cstdint>
#include <vector>

struct Zentar;

// Style flag bits of a sphere layer that the painter reads.
enum : uint32_t {
    PLANET_PREMUL = 0x4,
    PLANET_ADD = 0x8,          // wins over PLANET_PREMUL
    PLANET_AMBIENT = 0x200,    // light 3 tints in the layer colour
    PLANET_BACKFACES = 0x400,  // culling off
    PLANET_LIGHTING = 0x800,   // lights 0-2 in the layer colour
    PLANET_FLEETS = 0x1000,    // fleet lights 4-7
    PLANET_SPIN3 = 0x2000,     // spin seed x 3
    PLANET_YAXIS = 0x20000,    // spin about the vertical axis only
    PLANET_DISCO = 0x200000,   // faceted mesh
};

inline constexpr int PLANET_LEVELS = 16;

// A fleet that may light the planet being drawn.
struct PlanetLight {
    int32_t key;     // weight x 1000, truncated
    float weight;    // units x 1000 / squared distance
    float x, y;
    float units;
    int32_t item;
};

// One mesh: three vertices a triangle, unindexed client arrays.
struct PlanetSphere {
    std::vector<float> vertices;   // x, y, z
    std::vector<float> texcoords;  // u, v
    std::vector<float> normals;    // x, y, z
    int32_t count = 0;             // triangles drawn
};

inline constexpr int PLANET_LIGHTS_MAX = 4096;

// Planets stacked on one another cost the renderer every layer of every one
// of them while only the top ones show: a pass paints visible planets in
// slot order while the screen boxes of their auras have covered the screen
// at most PLANET_COVER_MAX times over, and at most PLANET_SHOWN_MAX of them.
// Planets of a match push one another apart, and their auras cover a tenth
// of the screen at the overview, about one screen close up; a host's
// thousands of planets on one spot stop after four.
inline constexpr float PLANET_COVER_MAX = 4.0f;
inline constexpr int PLANET_SHOWN_MAX = 1024;

// Module state: the meshes, built once for the process, and the fleets one
// sphere pass gathers for its planets.
struct _PlanetPaintData {
    PlanetSphere _planet_spheres[4][PLANET_LEVELS];  // [hq + 2 x disco][level]
    bool built = false;                              // planet_paint_init has run
    PlanetLight lights[PLANET_LIGHTS_MAX];           // the visible fleets of this pass
    int lights_n = 0;                                // how many of them
    int gl_err[8] = {};                              // last GL error logged at each check point
    bool crowded = false;                            // the last sphere pass left planets out
};
extern _PlanetPaintData _planet_paint;

// Builds every mesh once; later calls do nothing. Needs the C random
// generator seeded (the facets are jittered), not a GL context.
void planet_paint_init();
// Spheres, then overlays. k: screen units per world unit.
void planets_paint(Zentar& world, float k);
void planets_paint_spheres(Zentar& world, float k);
void planets_paint_overlays(Zentar& world);

// Mesh level of a planet of radius r: one per 512 square screen units of
// its surface, 0..15.
int _planet_level(float r, float k);
// The lattice sizes: n rings for a face parameter.
int _planet_rings(int faces, bool disco);


// qsort order: larger keys first.
int my_light_sort(const void* a, const void* b);
