// expect: refused
// An absolute path, given through a macro: the next layer up, net.
#include Z2_FENCE_ABSOLUTE
