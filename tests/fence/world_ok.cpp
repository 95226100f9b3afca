// expect: builds
#include "world/zentar.h"
#include "ruvezor/util/qel_var.h"
int fence_world_ok() { return ZT_ITEMS; }
