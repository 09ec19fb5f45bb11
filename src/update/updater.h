// The hand-off to the updater program when the program ends.
#pragma once

#include <QString>

// The updater's argument string, written by the update check.
extern QString g_updateArgs;
// Non-zero when the updater is to run once the program has shut down.
extern int g_runUpdaterOnExit;

// Starts the updater beside the program with g_updateArgs and does not wait for it.
void psExecUpdater();
