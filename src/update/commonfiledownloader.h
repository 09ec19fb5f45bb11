// The download of one page's file into a folder below the program folder.
#pragma once

#include "update/ranged_download.h"

// Whether path names a file that the program runs or loads, which no download may create or
// replace: in the program folder the executable, "CrashReporter.exe", the updater and "skn.dat";
// anything below its "Resources/"; and a shared library anywhere below it. Letter case is ignored.
bool isProgramFile(const QString& path);

class commonFileDownloader : public RangedDownload {
    Q_OBJECT
public:
    // Prepares the output on the calling thread: the target is appDirPath() + relativeDir + the URL's
    // file name ("file-<number>" when the URL names none), its folder made when missing. An address
    // other than http or https, or a target that is not a file below the program folder or is one
    // of the program's own files (isProgramFile), is refused.
    commonFileDownloader(QThread* thread, const QString& url, const QString& relativeDir, QObject* parent = nullptr);

    const QString relativeDir;

protected:
    void prepareOutput();
    void discardOutput() override;
    void downloaded(bool rangeWasWhole) override;
    void logInfo(const QString& text) const override;
};
