// The font library keeps its configuration cache for the whole process; LeakSanitizer would
// report it at exit in every window test.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
