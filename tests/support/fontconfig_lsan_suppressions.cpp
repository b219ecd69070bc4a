// fontconfig keeps the configuration FcInit loads for the life of the
// process (only FcFini frees it, which a process that also runs GTK must
// not call). The leak checker of the sanitizer build ignores it.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
