#include "test_app.h"

#include "app/window.h"
#include "test_files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

TestApplication::TestApplication(int& argc, char** argv)
    : Application(argc, argv)
{
    registerInstance();
}

void TestApplication::setMainWindow(Window* window) { psSetMainWindow(window); }

void TestApplication::becomeRunningInstance()
{
    connectInstanceSignals();
    socketError(QLocalSocket::ServerNotFoundError);
}

TestApplication* TestApplication::get()
{
    static TestApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // The single-instance server of this process, apart from every other process, in a
        // folder short enough for a local socket's address whatever the temporary folder is.
        static QTemporaryDir runtime(test_support::shortTempBase() + "/tm-run-XXXXXX");
        if (runtime.isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        static int argc = 1;
        static char name[] = "tests";
        static char* argv[] = {name, nullptr};
        return new TestApplication(argc, argv);
    }();
    return app;
}
