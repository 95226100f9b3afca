// expect: not found
#include "world/zentar.h"
