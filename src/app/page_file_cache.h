// The texts of the pages' XML files below the program folder, keyed by path as the caller formed
// it. Each file is read once, as UTF-8, and never again; changed files are written back as a batch.
// Only files named "*.xml" are read or written: the pages' commands reach no other file.
#pragma once

#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

class PageFileCache {
public:
    enum class Result {
        Ok,
        NotXml,     // the text is no XML document (or the file could not be read)
        BadXPath,   // the expression does not compile
        NotAFile,   // the path names a folder or nothing
        NotXmlFile, // the file's name does not end in ".xml"
        WriteFailed,
    };
    enum class Flush {
        NothingCached,
        Written,
        Failed, // at least one file could not be written; it stays changed
    };

    // Whether the cache takes the file: its name ends in ".xml", in any letter case.
    static bool isXmlFileName(const QString& path);

    // Reads the file into the cache unless the path is there already; a file that cannot be read,
    // or is no XML file by its name, stays uncached.
    void cacheFile(const QString& path);
    QMap<QString, QString> cachedFiles() const;
    // Paths changed and not yet written back, in the order of their first change.
    QStringList dirtyFiles() const;

    // The nodes that xpath selects in the file, each printed with tab indentation, one after
    // another ("" when none matches).
    Result query(const QString& path, const QString& xpath, QString* text);
    // Replaces the file's text with the XML library's serialisation of content and marks it
    // changed; a file that does not exist yet is written at once. Content that is no XML
    // document changes nothing. why, when given, says what kept it from changing the file.
    Result modify(const QString& path, const QString& content, QString* why = nullptr);
    // Writes every changed file back, each replaced whole. A file that cannot be written keeps
    // its change; the others are written. why, when given, says what kept each failed one from
    // being written.
    Flush flush(QString* why = nullptr);

private:
    mutable QMutex m_lock;
    QMap<QString, QString> m_files;
    QStringList m_dirty;
};
