// A stand-in for a program that the system starts: a shell script that writes its argument vector
// and its working folder into that folder ("argv", each argument followed by a NUL byte, and
// "cwd"), each file complete once it appears.
#pragma once

#include <QString>
#include <QStringList>

namespace test_support {

struct StubRun {
    bool ran = false;
    QStringList arguments;
    QString workingFolder;
};

// Writes the script at path, executable; false when that failed.
bool writeStubProgram(const QString& path);
// What the stub wrote into folder, waited for up to ms. The stub runs on its own: the wait needs no
// event loop.
StubRun waitForStubRun(const QString& folder, int ms = 20000);

} // namespace test_support
