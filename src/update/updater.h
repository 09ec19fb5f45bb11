// The process-wide update values, the updater's arguments and its launch.
#pragma once

#include "windows.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// The updater's argument string of the launch at exit, as one text (for logs): the items of
// g_updateArgList joined by blanks, without quotes.
extern QString g_updateArgs;
// The same arguments, one item each: what the updater receives.
extern QStringList g_updateArgList;
// Non-zero when the updater is to run once the program has shut down; never reset.
extern int g_runUpdaterOnExit;
// Release notes and version number of the newer release, from the last update answer.
extern QString g_updateDescription;
extern QString g_updateVersion;

// "--update=TarquilMervane", "--down=" + ret's package, "--deployment=" + ret's deployment,
// "--version=" + fwversion and, when silent, "--SilentUpgrade".
QStringList updaterArguments(const QJsonObject& ret, const QString& fwversion, bool silent);
// The items joined by blanks, unquoted.
QString updaterArgumentText(const QStringList& items);
// The items as one Windows command-line text: each item that holds a blank, a tab, a line break or
// a double quote, or is empty, is quoted so that the C runtime's rules give it back whole.
QString windowsCommandLine(const QStringList& items);

// The updater program beside the executable: exeDirPath() + "Updater" ("Updater.exe" on Windows).
QString updaterProgramPath();
// Starts the updater with the items as its arguments and the program directory as its working
// folder, without waiting; a launch the shell refuses is logged. Answers the shell's result.
INT_PTR launchUpdater(const QStringList& items);

// The launch at exit with g_updateArgList.
void psExecUpdater();
