#include "app/page_file_cache.h"

#include "devices/failure_reason.h"

#include "include/base/cef_logging.h"

#include <pugixml.hpp>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <string>

namespace {

// Collects the XML library's output.
struct xml_string_writer : pugi::xml_writer {
    std::string result;
    void write(const void* data, size_t size) override { result.append(static_cast<const char*>(data), size); }
};

const unsigned kFormat = pugi::format_indent;

bool parse(pugi::xml_document& doc, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return doc.load_buffer(utf8.constData(), size_t(utf8.size()));
}

// Replaces the file with text (UTF-8, no byte-order mark) through a temporary file, so that a
// failed write leaves the old file whole.
bool writeText(const QString& path, const QString& text, QString* why)
{
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (file.open(QIODevice::WriteOnly | QIODevice::Text) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    return failBecause(why, QStringLiteral("the file %1 could not be written: %2")
                                .arg(QFileInfo(path).fileName(), file.errorString()));
}

} // namespace

bool PageFileCache::isXmlFileName(const QString& path)
{
    return QFileInfo(path).fileName().endsWith(QLatin1String(".xml"), Qt::CaseInsensitive);
}

void PageFileCache::cacheFile(const QString& path)
{
    if (!isXmlFileName(path))
        return;
    {
        QMutexLocker lock(&m_lock);
        if (m_files.contains(path))
            return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    const QString text = in.readAll();
    QMutexLocker lock(&m_lock);
    if (!m_files.contains(path))
        m_files.insert(path, text);
}

QMap<QString, QString> PageFileCache::cachedFiles() const
{
    QMutexLocker lock(&m_lock);
    return m_files;
}

QStringList PageFileCache::dirtyFiles() const
{
    QMutexLocker lock(&m_lock);
    return m_dirty;
}

PageFileCache::Result PageFileCache::query(const QString& path, const QString& xpath, QString* text)
{
    cacheFile(path);
    pugi::xml_document doc;
    if (!parse(doc, cachedFiles().value(path)))
        return Result::NotXml;
    pugi::xpath_node_set nodes;
    try {
        nodes = doc.select_nodes(xpath.toUtf8().constData());
    } catch (const pugi::xpath_exception&) {
        return Result::BadXPath;
    }
    xml_string_writer writer;
    for (const pugi::xpath_node& node : nodes)
        node.node().print(writer, "\t", kFormat, pugi::encoding_auto, 0);
    *text = QString::fromStdString(writer.result);
    return Result::Ok;
}

PageFileCache::Result PageFileCache::modify(const QString& path, const QString& content, QString* why)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')) || QFileInfo(path).isDir()) {
        failBecause(why, QStringLiteral("the path names no file"));
        return Result::NotAFile;
    }
    if (!isXmlFileName(path)) {
        failBecause(why, QStringLiteral("the file is no XML file"));
        return Result::NotXmlFile;
    }
    pugi::xml_document doc;
    if (!parse(doc, content)) {
        failBecause(why, QStringLiteral("the text is no XML document"));
        return Result::NotXml;
    }
    xml_string_writer writer;
    doc.save(writer, "\t", kFormat, pugi::encoding_auto);
    const QString text = QString::fromStdString(writer.result);
    if (!QFileInfo::exists(path) && !writeText(path, text, why))
        return Result::WriteFailed;
    LOG(INFO) << text.toStdString();
    QMutexLocker lock(&m_lock);
    m_files.insert(path, text);
    if (!m_dirty.contains(path))
        m_dirty.append(path);
    return Result::Ok;
}

PageFileCache::Flush PageFileCache::flush(QString* why)
{
    QMap<QString, QString> files;
    QStringList dirty;
    {
        QMutexLocker lock(&m_lock);
        if (m_files.isEmpty())
            return Flush::NothingCached;
        files = m_files;
        dirty = m_dirty;
    }
    QStringList failed, reasons;
    for (const QString& path : dirty) {
        QString reason;
        if (!writeText(path, files.value(path), &reason)) {
            failed.append(path);
            reasons.append(reason);
        }
    }
    QMutexLocker lock(&m_lock);
    // Paths changed again meanwhile stay for the next write-back.
    for (const QString& path : dirty) {
        if (!failed.contains(path) && m_files.value(path) == files.value(path))
            m_dirty.removeOne(path);
    }
    if (failed.isEmpty())
        return Flush::Written;
    failBecause(why, reasons.join(QStringLiteral("; ")));
    return Flush::Failed;
}
