#include "app/program_entry.h"
#include "update/updater.h"

#include "cef_extras/qt_backend.h"

int main(int argc, char** argv)
{
    return programMain(argc, argv, {cefqt::InstallBackend, runApplication, psExecUpdater});
}
