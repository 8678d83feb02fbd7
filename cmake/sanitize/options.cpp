// Sanitizer defaults of the sanitized build: shims preloaded by tests must not stop ASan from
// starting, and UBSan reports say where they come from.

extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }
