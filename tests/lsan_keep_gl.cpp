// Linked into every test program of the sanitizer build, and into the binary
// that the program tests start. The GL stack loads its driver modules at run
// time and unloads them before the leak check, so their own allocations
// would show as leaks with no module name, past any suppression. Holding
// each module open for the life of the process keeps what they allocated
// reachable; tests/lsan.supp names the GL stack for anything left over.
//
// The programs also carry their sanitizer settings, so a run by hand, by
// ctest or as a child of a test checks the same way.
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

// The sanitizer's watch on __tls_get_addr guesses the size of each dynamic
// TLS block (the GL driver's LLVM has one per render thread) from the 16
// bytes before it whenever the block starts 16 bytes into a page. Under
// AddressSanitizer those bytes are the allocator's own chunk header, so about
// one block in 256 gets a made-up range, and the leak check crashes reading
// it ("Tracer caught signal 11"). Without the watch the blocks are still
// found, through the thread's TLS vector, as ordinary heap blocks.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0";
}

extern "C" const char* __lsan_default_options() {
  return "suppressions=" Z2_LSAN_SUPPRESSIONS ":print_suppressions=0";
}
