// Compiled into every program that links the runtime, in the AddressSanitizer build only: the leak
// checker's list of leaks that are not ours. The system's font configuration library keeps a few
// allocations for the life of the process that no pointer reaches.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif
