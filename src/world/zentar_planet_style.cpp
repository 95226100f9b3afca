// zentar_planet_style: the default planet style block of teams, users and
// planets (which textures and colours the planet renderer draws).
#include "world/zentar.h"

#include <cstring>  // strcmp

#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_var.h"  // str_put

// ---- internal ------------------------------------------------------------------

static void _planet_layer_set(PlanetLayer& l, int colour, const char* tex, int flags, float alpha) {
    l.color = colour;
    str_put(l.tex, sizeof(l.tex), tex);  // NUL-padded: the block travels raw
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
    str_put(s.sprite[1].tex, sizeof(s.sprite[1].tex), aura);
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
