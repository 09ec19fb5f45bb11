// Entry of the end-to-end tests: the program's own entry and application, with the test cases run
// inside its event loop once it has started. The process gets a temporary folder of its own, so
// that its single-instance server and its unpacked pages are apart from every other program run.
#include "app/application.h"
#include "app/program_entry.h"

#include "process_folders.h"

#include "cef_extras/qt_backend.h"

#include <QDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const std::string tmp = test_support::useFreshProcessFolders("tm-e2e");
    if (tmp.empty())
        return 2;
    // The default simulated devices: one mouse and one keyboard, fresh in every run.
    unsetenv("VQSIM_DEVICES");
    unsetenv("VQSIM_STATE");
    if (!getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
    ::testing::InitGoogleTest(&argc, argv);

    const auto runTests = [](int& appArgc, char** appArgv, int code) {
        Application app(appArgc, appArgv);
        if (isQuitRequested())
            return code;
        app.init();
        int result = 1;
        QTimer::singleShot(0, [&result] {
            result = RUN_ALL_TESTS();
            quitApplication();
        });
        app.exec();
        return result;
    };
    const int rc = programMain(argc, argv, {cefqt::InstallBackend, runTests, [] {}});
    QDir(QString::fromStdString(tmp)).removeRecursively();
    return rc;
}
