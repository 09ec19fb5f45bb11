// The process's one application object for tests that need the system's Application.
#pragma once

#include "app/application.h"

class Window;

class TestApplication : public Application {
public:
    TestApplication(int& argc, char** argv);

    // Registers window as the application's main window (nullptr unregisters it).
    void setMainWindow(Window* window);

    // Makes this application the running instance, as the single-instance check does when no
    // instance answers: its server listens from then on. Once per process; later calls do nothing.
    void becomeRunningInstance();

    // The process's one application, created on first use (offscreen unless a platform is
    // set) and kept until exit. Its single-instance server lives in a runtime folder of the
    // process's own ($XDG_RUNTIME_DIR).
    static TestApplication* get();
};
