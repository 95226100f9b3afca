// A module with thread-local data, loaded by path at run time: each thread
// that touches it gets a dynamic TLS block, as the GL driver's LLVM does.
thread_local long z2_tls_value;

extern "C" void* z2_tls_touch() { return &z2_tls_value; }
