// expect: not found
#include "src/world/zentar.h"
