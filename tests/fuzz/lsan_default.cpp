// The leaks of lsan.supp for the targets that make a Qt application, also where the leak checker
// is not given that file (the corpus replays under the address checks): system libraries that
// keep what they made for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
