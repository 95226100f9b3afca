// zentar_paint: one frame of the match world in world units, and the HUD
// drawn over it in screen units.
#pragma once

struct Zentar;
struct ZentarUI;

// Background (when asked), drawing items under and over the planets and
// over the ships, the planets, the particles and the start marker; leaves
// the plain 2D mode.
// viewer is the local user's item (0 none).
void sys_paint(Zentar& world, ZentarUI& ui, int viewer, int with_background);
// The spinning marker on the planets of players while the intro runs.
void you_paint(Zentar& world);

// ---- HUD (zentar_ui_hud.cpp) ---------------------------------------------------------

// Selection rings, hover labels, status line, rank badge and the slider;
// user is the local player's user item (0 none).
void ui_paint(Zentar& world, ZentarUI& ui, int user);
// The status line alone, centred at the top of the screen.
void ui_paint_status(Zentar& world);
// A colour raised until it reads on the dark background.
int _chat_color_brighten(int colour);
