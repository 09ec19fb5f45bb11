// The crash-dump client's exception handler: when this process crashes, a dump named
// "<id>.dmp" is written into the dump folder and the minidump callback is told its folder and id.
// What runs on a crash, and the dump format, are described in platform/crashdump/README.md.
#pragma once

#include "windows.h"

#include <string>

// Details of a failed assertion; only the invalid-parameter and pure-call handlers, which this
// platform does not have, would give them.
struct MDRawAssertionInfo;

namespace google_breakpad {

class ExceptionHandler {
public:
    // Asked before a dump is written; false: no dump, the crash goes on to the handler that was in
    // place before this one.
    typedef bool (*FilterCallback)(void* context, EXCEPTION_POINTERS* exinfo, MDRawAssertionInfo* assertion);
    // Told where the dump went (succeeded: it was written whole). True: the crash is handled and
    // the process ends with the signal's default action; false: the handler that was in place
    // before this one gets the crash. On a crash it runs inside the signal handler: it may make
    // only async-signal-safe calls.
    typedef bool (*MinidumpCallback)(const wchar_t* dump_path, const wchar_t* minidump_id, void* context,
                                     EXCEPTION_POINTERS* exinfo, MDRawAssertionInfo* assertion, bool succeeded);

    enum HandlerType {
        HANDLER_NONE = 0,
        // Crashes: the signals SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT.
        HANDLER_EXCEPTION = 1 << 0,
    };

    // Installs the handlers named by handler_types over the ones in place, which it keeps. The
    // dump folder must exist when a dump is written.
    ExceptionHandler(const std::wstring& dump_path, FilterCallback filter, MinidumpCallback callback,
                     void* callback_context, int handler_types);
    // Puts the kept handlers back before it frees anything.
    ~ExceptionHandler();

    ExceptionHandler(const ExceptionHandler&) = delete;
    ExceptionHandler& operator=(const ExceptionHandler&) = delete;

    // Writes a dump of the calling thread now and calls the callback (without exception details);
    // answers the callback's result, or without a callback whether the dump was written.
    bool WriteMinidump();

    std::wstring dump_path() const;

    struct Impl;

private:
    Impl* impl_;
};

} // namespace google_breakpad
