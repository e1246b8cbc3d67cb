// ThreadSanitizer suppressions, linked into every test program of the TSan build.
// GLib, GIO and Aravis are not built with ThreadSanitizer and lock with futexes it cannot see, so
// the system calls and memory functions they make on their own threads (Aravis's heartbeat and
// stream threads) look unsynchronised. Only calls made directly from those libraries are
// ignored; our own code on their threads stays checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libaravis-0.8.so.0\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n";
}
