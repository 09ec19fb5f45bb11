// The single-instance check at start-up: where the running instance's local server listens, and
// bringing another process's main window forward.
#pragma once

#include "windows.h"

#include <QString>

// Brings the main window of the process with this id to the front; 0 does nothing.
void psActivateProcess(quint64 pid);
// The window enumeration of psActivateProcess (lParam: the address of the process id): FALSE, ending
// the enumeration, once it has brought a window of that process with the program's title forward.
BOOL CALLBACK activateProcessEnumProc(HWND hwnd, LPARAM lParam);

// The file name of the single-instance server in its folder: short, so that it fits a local
// socket's address below any folder that leaves room for it; derived from the server name.
QString instanceSocketName(const QString& serverName);

// Where the folder of the single-instance server may lie, in this order.
struct InstancePlaces {
    QString runtimeDir; // $XDG_RUNTIME_DIR: "tarquilmervane"
    QString tempDir; // the system temporary folder: "tarquilmervane-instance-<uid>"
    QString homeDir; // $HOME: ".tarquilmervane-instance"
    QString sharedTempDir; // "/tmp", for a temporary folder too long: "tarquilmervane-instance-<uid>"
};
// The first of the places' folders that is an absolute path, is a private folder (privateFolderAt:
// nobody else can have made it or enter it) and leaves room for socketName within a local
// socket's address; "" when none does.
QString instanceFolderIn(const InstancePlaces& places, const QString& socketName);
// The server's address with $XDG_RUNTIME_DIR, the system temporary folder, $HOME and "/tmp":
// the folder of instanceFolderIn, "/" and instanceSocketName; "" without a folder.
QString instanceAddress(const QString& serverName);
