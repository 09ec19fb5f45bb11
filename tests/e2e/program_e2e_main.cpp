// Entry of the end-to-end tests: the program's own entry and application, with the test cases run
// inside its event loop once it has started.
//
// A run first lays out a program folder of its own in a new temporary folder (this executable, the
// program and the simulated libraries linked, copied where a link cannot be made; the page package
// and Resources/ copied) and runs itself from there, so that whatever the program writes below its
// folder, and the simulated devices' state file, stay in that temporary folder. The process also
// gets that folder as its temporary and runtime folder, so that its single-instance server and its
// unpacked pages are apart from every other program run. A case may start a second program run
// from the same folder (see RunInAnotherProgramRun).
#include "app/application.h"
#include "app/program_entry.h"

#include "process_folders.h"

#include "cef_extras/qt_backend.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The program's files beside the executable, the program itself among them for the cases that
// start it as a second program.
const char* const kProgramFiles[] = {"Brontivex", "libvq.dll", "Hexlane.dll", "skn.dat"};

bool linkOrCopy(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    fs::create_hard_link(from, to, error);
    if (error)
        fs::copy_file(from, to, error);
    return !error;
}

bool layOutProgramFolder(const fs::path& executable, const fs::path& folder)
{
    std::error_code error;
    const fs::path from = executable.parent_path();
    if (!fs::create_directory(folder, error) || !linkOrCopy(executable, folder / executable.filename()))
        return false;
    for (const char* name : kProgramFiles)
        if (!linkOrCopy(from / name, folder / name))
            return false;
    fs::copy(from / "Resources", folder / "Resources", fs::copy_options::recursive, error);
    return !error;
}

// Runs the laid-out copy with the same arguments; its exit code, or 1 when it did not end normally.
int runFrom(const fs::path& executable, char** argv)
{
    const std::string path = executable.string();
    argv[0] = const_cast<char*>(path.c_str());
    pid_t child = 0;
    if (posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ) != 0)
        return 2;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (!getenv("TM_E2E_PROGRAM_DIR")) {
        // Its own temporary and runtime folders: its own single-instance server and unpacked pages.
        const std::string tmp = test_support::useFreshProcessFolders("tm-e2e");
        if (tmp.empty())
            return 2;
        const fs::path base(tmp);
        const fs::path folder = base / "program";
        std::error_code error;
        const fs::path executable = fs::read_symlink("/proc/self/exe", error);
        int rc = 2;
        if (!error && layOutProgramFolder(executable, folder)) {
            setenv("TM_E2E_PROGRAM_DIR", folder.c_str(), 1);
            // The default simulated devices: one mouse and one keyboard, fresh in every run, their
            // state kept in this run's folder for any second program run.
            unsetenv("VQSIM_DEVICES");
            setenv("VQSIM_STATE", (base / "devices.state").c_str(), 1);
            rc = runFrom(folder / executable.filename(), argv);
        } else {
            std::fprintf(stderr, "cannot lay out a program folder in %s\n", tmp.c_str());
        }
        fs::remove_all(base, error);
        return rc;
    }

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
    return programMain(argc, argv, {cefqt::InstallBackend, runTests, [] {}});
}
