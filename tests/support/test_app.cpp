#include "test_app.h"

#include "app/window.h"

#include <QtGlobal>

TestApplication::TestApplication(int& argc, char** argv)
    : Application(argc, argv)
{
    registerInstance();
}

void TestApplication::setMainWindow(Window* window) { psSetMainWindow(window); }

TestApplication* TestApplication::get()
{
    static TestApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tests";
        static char* argv[] = {name, nullptr};
        return new TestApplication(argc, argv);
    }();
    return app;
}
