// Fontconfig keeps its caches until the process ends; the leak checker must not count them.
extern "C" const char* __lsan_default_suppressions(); // looked up by the sanitizer runtime
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
