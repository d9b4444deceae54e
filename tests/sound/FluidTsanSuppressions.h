#pragma once
// FluidSynth reads sample data on OpenMP worker threads; libgomp synchronises
// them in ways ThreadSanitizer cannot see (it is not instrumented), so its
// hand-over of buffers looks like a race. Include once per test program.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions(); // looked up by the sanitizer runtime
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libgomp.so.1\n"
         "race:libgomp.so.1\n";
}
#endif
