// A program folder laid out for a test from the build's folder, where the test executables lie
// beside the program, the simulated vendor libraries, the page package and Resources/. A file is
// hard-linked, as the program finds its folder from its own file (a symbolic link would lead back
// to the build), and copied where a link cannot be made; the files that the program or its pages
// may change are copied, so that the build's stay as they are.
#pragma once

#include <QString>
#include <QStringList>

namespace test_support {

struct ProgramFolderLayout {
    // Files of the build's folder, linked under the same names.
    QStringList linked{"Brontivex", "libvq.dll", "Hexlane.dll", "skn.dat"};
    // Files of the build's folder, copied under the same names.
    QStringList copied;
    // Files of the build's Resources/, copied into the program's; "*" is all of it, with its
    // subfolders.
    QStringList resources{"*"};
    // The name under which the running test executable is linked into the folder ("": it is not).
    QString self;
};

// The running executable's path, with or without an application object.
QString ownExecutable();

// Makes folder (and the folders above it) and places the layout's files there from the folder of
// the running executable. False when a file could not be placed.
bool layOutProgramFolder(const QString& folder, const ProgramFolderLayout& layout = {});

} // namespace test_support
