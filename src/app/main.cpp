#include "app/application.h"
#include "app/program_entry.h"
#include "app/start_snapshot.h"
#include "update/updater.h"

#include "cef_extras/qt_backend.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// TM_SCREENSHOT=<file.png>: a run without a user (no display of its own). Once the start page is
// shown the program saves a picture of its window there and quits.
void snapshotAndQuit()
{
    const QString path = qEnvironmentVariable("TM_SCREENSHOT");
    snapshotStartPage(path, 60000, [path](bool saved) {
        if (saved)
            std::printf("Screenshot of the start page: %s\n", qPrintable(path));
        else
            std::fprintf(stderr, "The start page was not shown in time; no screenshot.\n");
        std::fflush(stdout);
        quitApplication();
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TM_SCREENSHOT"))
        qAddPreRoutine(snapshotAndQuit);
    return programMain(argc, argv, {cefqt::InstallBackend, runApplication, psExecUpdater});
}
