// expect: refused
// ".." after the view's link climbs from the link's target, src/world.
#include "world/../chat/chat.h"
