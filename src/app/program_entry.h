// The program's entry: the runtime's sub-process switch, the runtime's settings and start, the
// application, and the shut-down in order.
#pragma once

#include "include/internal/cef_types_wrappers.h"

#include <QString>

#include <functional>

// The user interface language as a Windows language id (only its low byte is read).
unsigned short userUiLanguage();

// The runtime's settings for the user interface language langId, with the cache below
// privateFolder.
CefSettings runtimeSettings(unsigned short langId, const QString& privateFolder);

// The steps of the entry that depend on where it runs.
struct ProgramSteps {
    // Makes the page engine the runtime's backend; runs before the runtime starts.
    std::function<void()> installBackend;
    // Builds the application, runs it unless a quit was requested and destroys it; answers the
    // event loop's result, or code when the loop did not run.
    std::function<int(int& argc, char** argv, int code)> runApplication;
    // Starts the updater.
    std::function<void()> execUpdater;
};

// The program's application step: Application, init and exec unless a quit was requested.
int runApplication(int& argc, char** argv, int code);

// The whole program, from the sub-process switch to the updater hand-off; answers the exit code.
int programMain(int argc, char** argv, const ProgramSteps& steps);
