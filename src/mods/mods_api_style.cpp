// mods_api_style: planet_style_set, the planet style block from a JSON object.
//
// Style block (Item.planet_style, 112 bytes = 28 words):
//   words  0..7   main layer     colour, texture name[16], core, flags, alpha
//   words  8..15  second layer   the same ("overdraw")
//   words 16..21  first sprite   not written here
//   words 22..27  aura           colour, texture name[16], flags (1 = shown)
// Names are cut to 15 characters and NUL-padded: the block travels raw.
#include "mods/mods_api.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "ruvezor/util/qel_json.h"
#include "world/zentar.h"

namespace {

struct StyleFlag {
    const char* key;
    int32_t bit;
};

const StyleFlag STYLE_FLAGS[] = {
    {"normal", 0x4},        {"addition", 0x8},    {"ambient", 0x200},
    {"drawback", 0x400},    {"lighting", 0x800},  {"reflection", 0x1000},
    {"core", 0x4000},       {"yaxis", 0x20000},   {"disco", 0x200000},
};

bool _style_has(const var& s, const char* key) { return s.__has__(var(key)); }

// The member's value; s must hold the key.
var _style_at(const var& s, const char* key) {
    var copy(s);
    return copy[key];
}

// A float from a script number, without the undefined cast of huge values.
float _style_float(double d) {
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return d > 0 ? FLT_MAX : -FLT_MAX;
    return (float)d;
}

void _style_layer_build(PlanetLayer& l, const var& s, int32_t colour) {
    std::string tex = "planet-tex0";
    if (_style_has(s, "texture")) tex = "planet-" + _style_at(s, "texture").__str__().substr(0, 31);
    int32_t flags = 0x1;
    for (const StyleFlag& f : STYLE_FLAGS)
        if (_style_has(s, f.key)) flags |= f.bit;
    l.color = colour;
    str_put(l.tex, tex);
    l.core = _style_has(s, "core") ? zt_sat_int(_style_at(s, "core").__num__()) : 0;
    l.flags = flags;
    l.alpha = _style_has(s, "alpha") ? _style_float(_style_at(s, "alpha").__num__()) : 1.0f;
}

// Only a JSON object has keys; anything else reads as {}.
var _style_object(const var& v) { return v.__type__() == VAR_DICT ? v : var(VAR_DICT, 0); }

}  // namespace

void planet_style_set(ModsGame& game, Item& item, const std::string& text) {
    PlanetStyle& ps = item.planet_style;
    ps.layer[0].flags = 0;
    ps.layer[1].flags = 0;
    int32_t colour = item.planet_color;

    var decoded;
    var s = json_decode(decoded, text.data(), text.size()) == 0 ? _style_object(decoded)
                                                                : var(VAR_DICT, 0);
    if (!_style_has(s, "hidden")) {
        _style_layer_build(ps.layer[0], s, colour);
        if (_style_has(s, "overdraw")) {
            var o = _style_object(_style_at(s, "overdraw"));
            if (!_style_has(o, "hidden")) _style_layer_build(ps.layer[1], o, colour);
        }
    }

    PlanetSprite& aura = ps.sprite[1];
    aura.color = _item_read(game.world, item.user_team_n).render_color;
    str_put(aura.tex, _style_has(s, "aura") ? _style_at(s, "aura").__str__() : "planet-aura");
    aura.enabled = 1;
}
