// expect: refused
// Beside the including file, as src/world/x.cpp would write "../chat/chat.h".
#include "../../src/chat/chat.h"
