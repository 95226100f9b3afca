// expect: not found
// The upper folders are not in a lower layer's include root.
#include "app/game.h"
