// The crash-dump handler: on a crash a dump is written into the dump folder.
#pragma once

#include <QString>

class BreakpadQt {
public:
    static BreakpadQt* instance();
    static void destroyInstance();

    // The folder of the dumps; the first folder given is kept.
    void setDumpPath(const QString& path);
    QString dumpPath() const { return m_dumpPath; }

private:
    BreakpadQt() = default;

    QString m_dumpPath;
    bool m_installed = false;
};
