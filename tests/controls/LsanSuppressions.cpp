// Leaks of libraries the leak checker must not count: Fontconfig keeps its caches until the
// process ends, and libsndfile drops the Vorbis set-up of a stream whose headers it refuses.
extern "C" const char* __lsan_default_suppressions(); // looked up by the sanitizer runtime
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:vorbis_info_init\n";
}
