// colorblind: the colour-blind palette. With the option on, the first twelve
// distinct colours drawn after a world reset are replaced by twelve
// well-separated ones, in the order they first appear. A thirteenth colour
// turns the palette off until the next reset, since the players could no
// longer be told apart by it anyway.
#pragma once

// Colours are 0xRRGGBB. Dark greys (the neutral side) always pass unchanged.
int colorblind_map(int colour);
// Forgets every replacement; the world reset calls it.
void colorblind_reset();
