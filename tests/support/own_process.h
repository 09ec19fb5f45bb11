// Tests that need a process of their own: a quit, like the program's, happens once a process,
// and the program's start listens on a name that stays taken. Such a test begins with
//
//     if (test_support::ranInOwnProcess())
//         return;
//
// When this process runs other tests too, the call runs this one alone in a new process of the
// same executable, records a failure when that process fails, and answers true; in the process
// made for it, or when it is the only test this process runs, it answers false and the test goes on.
#pragma once

namespace test_support {

bool ranInOwnProcess();

} // namespace test_support
