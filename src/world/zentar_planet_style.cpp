// zentar_planet_style: the default planet style block of teams, users and
// planets (which textures and colours the planet renderer draws).
#include "world/zentar.h"

#include <cstring>  // memset, strncpy, strcmp

#include "ruvezor/util/qel_log.h"

// ---- internal ------------------------------------------------------------------

// Texture names are NUL-padded to their 16 bytes: the block travels raw.
static void _planet_tex_set(char (&dst)[16], const char* name) {
    std::memset(dst, 0, sizeof(dst));
    std::strncpy(dst, name, sizeof(dst) - 1);
}

static void _planet_layer_set(PlanetLayer& l, int colour, const char* tex, int flags, float alpha) {
    l.color = colour;
    _planet_tex_set(l.tex, tex);
    l.core = 0;
    l.flags = flags;
    l.alpha = alpha;
}

// ---- public ----------------------------------------------------------------------

void planet_style_init(Zentar& world, int slot, int colour1, int colour2, const char* style,
                       const char* aura) {
    if (slot < 1 || slot >= ZT_ITEMS) {
        // 0 is the scratch record of a full table: nothing to write.
        if (slot != 0) qel_log("planet_style_init: bad slot %d\n", slot);
        return;
    }
    if (!style) style = "default";
    if (!aura) aura = "planet-aura";
    PlanetStyle& s = world.items[slot].planet_style;

    s.layer[0].flags = 0;
    s.layer[1].flags = 0;
    s.sprite[0].enabled = 0;
    s.sprite[1].enabled = 0;

    s.sprite[1].color = colour2;
    _planet_tex_set(s.sprite[1].tex, aura);
    s.sprite[1].enabled = 1;

    if (!std::strcmp(style, "neutral")) {
        _planet_layer_set(s.layer[0], colour1, "planet-tex1", 0x1805, 0.5f);
    } else if (!std::strcmp(style, "gas")) {
        _planet_layer_set(s.layer[0], colour1, "planet-tex2", 0x0c09, 0.65f);
    } else if (!std::strcmp(style, "ice")) {
        _planet_layer_set(s.layer[1], colour1, "planet-tex3", 0x0e09, 0.65f);
    } else if (!std::strcmp(style, "lava")) {
        _planet_layer_set(s.layer[0], colour1, "planet-tex0", 0x0805, 1.0f);
        _planet_layer_set(s.layer[1], 0xffaa00, "planet-tex4", 0x0a09, 1.0f);
    } else {
        _planet_layer_set(s.layer[0], colour1, "planet-tex0", 0x0805, 1.0f);
    }
}
