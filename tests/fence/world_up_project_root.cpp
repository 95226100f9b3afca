// expect: not found
// The project root is on no include path.
#include "src/screens/menus.h"
