// expect: builds
#include "ruvezor/util/qel_var.h"
int fence_engine_ok() { return 1; }
