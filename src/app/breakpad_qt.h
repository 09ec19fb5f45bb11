// The crash-dump set-up: on a crash a dump is written into the dump folder and the crash reporter
// is started with the dump's path.
#pragma once

#include "client/windows/handler/exception_handler.h"

#include <QString>

class BreakpadQtPrivate;

class BreakpadQt {
public:
    // Made on first use; destroyInstance runs at process exit.
    static BreakpadQt* instance();
    // Takes the crash handler away (the handlers it replaced come back), then frees the wrapper.
    static void destroyInstance();

    // Installs the crash handler with this dump folder; the first folder given is kept. Sets the
    // reporter to "CrashReporter" on every call.
    void setDumpPath(const QString& path);
    // The folder of the dumps, empty before setDumpPath.
    QString dumpPath() const;
    // The reporter: an absolute path is used as it is; any other name is the program of that name
    // and ".exe" in the application directory.
    void setReporter(const QString& reporter);
    // Writes a dump of the running process now (the reporter is started for it too).
    bool writeMinidump();
    // true: a crash counts as handled only when its dump was written.
    void setReporterExitFlag(bool exitFlag);

    // The handler's minidump callback: starts the reporter with the dump's path. Async-signal-safe.
    static bool dumpCallback(const wchar_t* dump_path, const wchar_t* minidump_id, void* context,
                             EXCEPTION_POINTERS* exinfo, MDRawAssertionInfo* assertion, bool succeeded);
    // Starts the program argv[0] with these arguments, detached, without a window or inherited
    // files; a failure is written to the standard error. Always false. Async-signal-safe.
    static bool launchReporter(char* const argv[]);

private:
    BreakpadQt();
    ~BreakpadQt();

    BreakpadQtPrivate* d;
};
