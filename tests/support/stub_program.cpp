#include "stub_program.h"

#include "test_files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace test_support {

bool writeStubProgram(const QString& path)
{
    const QByteArray script = "#!/bin/sh\n"
                              "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > argv.$$ && mv argv.$$ argv\n"
                              "pwd > cwd.$$ && mv cwd.$$ cwd\n";
    return writeFile(path, script)
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

StubRun waitForStubRun(const QString& folder, int ms)
{
    StubRun run;
    const QString argv = folder + QStringLiteral("/argv"), cwd = folder + QStringLiteral("/cwd");
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(argv) || !QFileInfo::exists(cwd)) {
        if (timer.elapsed() > ms)
            return run;
        QThread::msleep(5);
    }
    run.ran = true;
    const QByteArray bytes = readFile(argv);
    QList<QByteArray> items = bytes.split('\0');
    items.removeLast(); // after the last NUL
    for (const QByteArray& item : items)
        run.arguments.append(QString::fromUtf8(item));
    run.workingFolder = QString::fromUtf8(readFile(cwd)).trimmed();
    return run;
}

} // namespace test_support
