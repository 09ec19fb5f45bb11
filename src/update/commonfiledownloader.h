// The download of one page's file into a folder below the program folder.
#pragma once

#include "update/ranged_download.h"

class commonFileDownloader : public RangedDownload {
    Q_OBJECT
public:
    // Prepares the output on the calling thread: the target is appDirPath() + relativeDir + the URL's
    // file name ("file-<number>" when the URL names none), its folder made when missing. An address
    // other than http or https, or a target that is not a file below the program folder, is refused.
    commonFileDownloader(QThread* thread, const QString& url, const QString& relativeDir, QObject* parent = nullptr);

    const QString relativeDir;

protected:
    void prepareOutput();
    void discardOutput() override;
    void downloaded(bool rangeWasWhole) override;
    void logInfo(const QString& text) const override;
};
