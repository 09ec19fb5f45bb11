// Entry of the end-to-end tests: the program's own entry and application, with the test cases run
// inside its event loop once it has started.
//
// A run first lays out a program folder of its own in a new temporary folder (this executable, the
// program and the simulated libraries linked, copied where a link cannot be made; the page package
// and Resources/ copied) and runs itself from there, so that whatever the program writes below its
// folder, and the simulated devices' state file, stay in that temporary folder. The process also
// gets that folder as its temporary and runtime folder, so that its single-instance server and its
// unpacked pages are apart from every other program run. A case may start a second program run
// from the same folder (see RunInAnotherProgramRun). Run whole, or with a filter that selects several
// cases, each case gets a program folder and a program run of its own, as under CTest.
#include "app/application.h"
#include "app/program_entry.h"

#include "process_folders.h"
#include "program_folder_layout.h"

#include "cef_extras/qt_backend.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

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

// The cases the arguments select, listed by GoogleTest in this process without running any.
std::vector<std::string> selectedCases(int argc, char** argv, const fs::path& listFile)
{
    std::vector<char*> args(argv, argv + argc);
    std::string list = "--gtest_list_tests";
    args.push_back(&list[0]);
    int count = int(args.size());
    ::testing::InitGoogleTest(&count, args.data());
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    FILE* file = std::fopen(listFile.c_str(), "w");
    if (saved < 0 || !file)
        return {};
    dup2(fileno(file), STDOUT_FILENO);
    const int listed = RUN_ALL_TESTS();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::fclose(file);
    if (listed != 0)
        return {};
    // "Suite." lines, then the suite's cases indented, each possibly followed by "  # GetParam() = ...".
    std::vector<std::string> cases;
    std::ifstream in(listFile);
    std::string line, suite;
    while (std::getline(in, line)) {
        const std::string name = line.substr(0, line.find("  #"));
        if (name.empty())
            continue;
        if (name[0] != ' ')
            suite = name;
        else
            cases.push_back(suite + name.substr(name.find_first_not_of(' ')));
    }
    return cases;
}

// Lays out a program folder below base and runs the copy there with args: the devices fresh, their
// state kept in base for a second program run of the same case.
int runInProgramFolder(const fs::path& base, const fs::path& executable, char** args)
{
    const fs::path folder = base / "program";
    // This executable beside the program's files; the program is among them for the cases that
    // start it as a second program.
    test_support::ProgramFolderLayout layout;
    layout.self = QString::fromStdString(executable.filename().string());
    if (!test_support::layOutProgramFolder(QString::fromStdString(folder.string()), layout)) {
        std::fprintf(stderr, "cannot lay out a program folder in %s\n", base.c_str());
        return 2;
    }
    test_support::useProcessFolders(base.string());
    setenv("TM_E2E_PROGRAM_DIR", folder.c_str(), 1);
    unsetenv("VQSIM_DEVICES");
    setenv("VQSIM_STATE", (base / "devices.state").c_str(), 1);
    return runFrom(folder / executable.filename(), args);
}

// Runs every selected case as a program run of its own, as CTest runs them, so that no case meets
// the devices, page files or quit of another. Ends with the plain count of passed and failed cases.
int runEachCase(const fs::path& base, const fs::path& executable, const std::vector<std::string>& cases,
                int argc, char** argv)
{
    int passed = 0;
    std::vector<std::string> failed;
    for (size_t i = 0; i < cases.size(); ++i) {
        const fs::path caseBase = base / ("case-" + std::to_string(i));
        std::error_code error;
        fs::create_directory(caseBase, error);
        fs::permissions(caseBase, fs::perms::owner_all, error);
        std::string filter = "--gtest_filter=" + cases[i];
        std::vector<char*> args{argv[0], &filter[0]};
        for (int a = 1; a < argc; ++a)
            if (std::strncmp(argv[a], "--gtest_filter", 14) != 0)
                args.push_back(argv[a]);
        args.push_back(nullptr);
        const int rc = error ? 2 : runInProgramFolder(caseBase, executable, args.data());
        fs::remove_all(caseBase, error);
        if (rc == 0)
            ++passed;
        else
            failed.push_back(cases[i]);
    }
    for (const std::string& name : failed)
        std::printf("FAILED: %s\n", name.c_str());
    std::printf("e2e: %d passed, %d failed\n", passed, int(failed.size()));
    return cases.empty() || !failed.empty() ? 1 : 0;
}

bool hasArgument(int argc, char** argv, const char* prefix)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0)
            return true;
    return false;
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
        std::error_code error;
        const fs::path executable = fs::read_symlink("/proc/self/exe", error);
        int rc = 2;
        if (error) {
            std::fprintf(stderr, "cannot read the test's own path\n");
        } else if (hasArgument(argc, argv, "--gtest_list_tests")) {
            rc = runInProgramFolder(base, executable, argv);
        } else {
            const std::vector<std::string> cases = selectedCases(argc, argv, base / "cases.txt");
            rc = cases.size() == 1 ? runInProgramFolder(base, executable, argv)
                                   : runEachCase(base, executable, cases, argc, argv);
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
