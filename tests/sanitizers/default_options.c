// Sanitizer settings of the sanitizer build, read by the runtimes at start.
#define VELMO_EXPORT __attribute__((visibility("default"), used))

VELMO_EXPORT const char* __asan_default_options(void) {
  return "detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1";
}

VELMO_EXPORT const char* __lsan_default_options(void) {
  return "suppressions=" VELMO_LSAN_SUPPRESSIONS ":print_suppressions=0";
}

VELMO_EXPORT const char* __ubsan_default_options(void) { return "print_stacktrace=1:halt_on_error=1"; }
