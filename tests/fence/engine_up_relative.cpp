// expect: refused
#include "../../src/world/zentar.h"
