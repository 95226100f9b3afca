// colorblind: the colour-blind palette.
#include "render/colorblind.h"

#include <map>

#include "render/zentar_ui.h"
#include "shell/game_parts.h"
#include "world/zentar_sim.h"  // sys_listeners

// ==== module state ================================================================

static const int COLORBLIND_PALETTE[12] = {
    0x0000FF, 0xFF0000, 0xFFFF00, 0x00FFFF, 0xFFFFFF, 0xFF8800,
    0x99FF99, 0xFF9999, 0x00FF00, 0xBB00FF, 0xFF88FF, 0x9999FF,
};
static const int COLORBLIND_SIZE = 12;

struct _ColorblindData {
    std::map<int, int> map;  // colour -> its replacement
    int count = 0;           // replacements handed out; 13 once the palette overflowed
    bool overflow = false;   // set: every colour passes unchanged until the reset
};

static _ColorblindData _colorblind;

// ==== public ======================================================================

// The option lives in the in-match input state's copy of the settings.
static bool _colorblind_on() {
    GameParts* g = game_parts();
    return g && g->ui.options.ui_colorblind >= 1;
}

int colorblind_map(int colour) {
    if (!_colorblind_on() || _colorblind.overflow) return colour;
    int r = (colour >> 16) & 0xFF, gr = (colour >> 8) & 0xFF, b = colour & 0xFF;
    if (r == gr && gr == b && r < 170) return colour;
    auto it = _colorblind.map.find(colour);
    if (it != _colorblind.map.end()) return it->second;
    _colorblind.count++;
    if (_colorblind.count > COLORBLIND_SIZE) {
        _colorblind.overflow = true;
        return colour;
    }
    int mapped = COLORBLIND_PALETTE[_colorblind.count - 1];
    _colorblind.map[colour] = mapped;
    sys_listeners.palette_reset = colorblind_reset;  // the world reset starts over
    return mapped;
}

void colorblind_reset() { _colorblind = _ColorblindData{}; }
