// zentar_parts_paint: drawing of the particle ring.
//
// The world keeps and ages the particles; turning them into textured quads
// belongs with the match renderer's batching and lands here with it. Until
// then the ring is simply not drawn.
#include "zentar.h"

void parts_paint(Zentar& world) {
    (void)world;
}
