// Sanitizer settings of the GStreamer test programs (read only by sanitizer
// builds). The one leak suppressed is a third-party frame, never project
// code: GLib allocates its tables in its library constructor (run from
// _dl_init) and keeps them for the life of the process. Matching that frame
// needs full stacks on malloc, as GLib is built without frame pointers.
extern "C" {

__attribute__((visibility("default"))) const char *__asan_default_options() {
  return "fast_unwind_on_malloc=0";
}

__attribute__((visibility("default"))) const char *__lsan_default_suppressions() {
  return "leak:_dl_init\n";
}

}  // extern "C"
