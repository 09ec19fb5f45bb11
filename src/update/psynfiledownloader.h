// The download of an update package into the working folder "tupload/" below the program folder,
// and its install into the program folder. Nothing in the program starts one.
#pragma once

#include "update/ranged_download.h"

class PsynfileDownLoader : public RangedDownload {
    Q_OBJECT
public:
    // Prepares the output on the calling thread: every other plain file in "tupload/" and in
    // "tupload/download/" is deleted (the folders made when missing), a part file of the package
    // kept for resuming.
    PsynfileDownLoader(QThread* thread, const QString& url);

    // Checks the downloaded package whole, then puts all of its files into the program folder or,
    // on any failure, none of them: the working folder is deleted and downLoadFailed emitted.
    // unpressFinished once every file is in place.
    void unpackUpdate();
    void clearWorkDir();

signals:
    void unpressFinished();

protected:
    void prepareOutput();
    void discardOutput() override;
    // downLoadFinished, unless the server had nothing beyond the kept part, then the install.
    void downloaded(bool rangeWasWhole) override;
    void logInfo(const QString& text) const override;

private:
    void failInstall(const QString& line);
};

// Deletes the folder at path with everything in it through the shell, links not followed. An empty
// or relative path, or one too long for the shell's buffer, is left alone.
void deleteDirectoryTree(const QString& path);
