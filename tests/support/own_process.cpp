#include "own_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace test_support {
namespace {

const char kVariable[] = "TM_TEST_OWN_PROCESS";
// Below the tests' own time-out, so that a hanging process is reported as this test's failure.
const auto kBound = std::chrono::seconds(100);

std::string currentTest()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

} // namespace

bool ranInOwnProcess()
{
    const std::string name = currentTest();
    const char* mine = std::getenv(kVariable);
    if ((mine && name == mine) || ::testing::UnitTest::GetInstance()->test_to_run_count() == 1)
        return false;

    std::string filter = "--gtest_filter=" + name;
    std::string program = "/proc/self/exe";
    std::vector<char*> argv{&program[0], &filter[0], nullptr};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, kVariable, sizeof kVariable - 1) != 0 || (*e)[sizeof kVariable - 1] != '=')
            env.emplace_back(*e);
    env.push_back(std::string(kVariable) + "=" + name);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
        ADD_FAILURE() << "could not start a process for " << name;
        return true;
    }
    const auto until = std::chrono::steady_clock::now() + kBound;
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << name << " did not end in its own process";
        return true;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name << " failed in its own process";
    return true;
}

} // namespace test_support
