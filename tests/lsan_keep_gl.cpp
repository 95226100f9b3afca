// Linked into every test program of the sanitizer build, and into the binary
// that the program tests start. The GL stack loads its driver modules at run
// time and unloads them before the leak check, so their own allocations
// would show as leaks with no module name, past any suppression. Holding
// each module open for the life of the process keeps what they allocated
// reachable; tests/lsan.supp names the GL stack for anything left over.
#include <dlfcn.h>

#include <initializer_list>

namespace {

struct KeepGl {
  KeepGl() {
    for (const char* lib : {"libEGL_mesa.so.0", "libGLX_mesa.so.0", "libglapi.so.0",
                            "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"})
      dlopen(lib, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
  }
} keep_gl;

}  // namespace
