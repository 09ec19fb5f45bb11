// Unpacking the page package: entries are decoded, checked and written as the stream goes.
#include "app/application.h"

#include "app/file_package.h"
#include "app/path_containment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {
using path_containment::Itself;
using path_containment::Missing;

// The data goes to a new file beside the entry, which then replaces the entry (or a link in its
// place, which is never followed): an entry is never left half-written. Nothing is synced to disk:
// the pages are written anew at every start.
bool writeEntry(const QString& path, const QByteArray& data)
{
    QTemporaryFile out(path + QStringLiteral(".XXXXXX"));
    if (!out.open() || out.write(data) != data.size() || !out.flush())
        return false;
    if (std::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    out.setAutoRemove(false);
    return true;
}

// Writes entries on a thread of its own, one after another in the order they are given. After a
// failure the entries still waiting are dropped.
class EntryWriter {
public:
    EntryWriter()
        : m_thread([this] { run(); })
    {
    }
    ~EntryWriter() { finish(); }

    void write(const QString& path, const QByteArray& data)
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_queue.emplace_back(path, data);
        }
        m_wake.notify_one();
    }
    bool failed() const { return m_failed; }
    // Waits for the entries given so far; true when each of them was written.
    bool finish()
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_closing = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
        return !m_failed;
    }

private:
    void run()
    {
        for (;;) {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            std::pair<QString, QByteArray> entry = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            if (!m_failed && !writeEntry(entry.first, entry.second))
                m_failed = true;
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::pair<QString, QByteArray>> m_queue;
    bool m_closing = false;
    std::atomic<bool> m_failed{false};
    std::thread m_thread; // last: it starts once the members above exist
};

// Reads a payload's entries while its bytes are being decoded and hands each entry to the entry
// writer, which writes them in package order. The entries before a failing one (one that cannot be
// read, placed or written) are written, none after it.
class PayloadUnpacker {
public:
    // payload: the buffer being decoded, kept by the caller until finish returns.
    PayloadUnpacker(const QByteArray& payload, const QString& base)
        : m_payload(payload)
        , m_base(base)
    {
    }

    // Reads every entry that lies wholly within the first `available` bytes; complete: there are no
    // more bytes, so an entry that does not fit is a damaged payload.
    void read(int available, bool complete)
    {
        if (m_failed)
            return;
        FilePackage::Reader reader(QByteArray::fromRawData(m_payload.constData(), available));
        reader.seek(m_position);
        if (!m_counted) {
            if (!reader.readHeader() || !reader.readCount(&m_count)) {
                m_failed = complete || !reader.endedEarly();
                return;
            }
            m_counted = true;
            m_position = reader.position();
        }
        while (m_read < m_count && !m_writer.failed()) {
            FilePackage::Entry entry;
            if (!reader.readEntry(&entry)) {
                m_failed = complete || !reader.endedEarly();
                return;
            }
            m_position = reader.position();
            ++m_read;
            QString path;
            if (!place(entry.name, &path)) {
                m_failed = true;
                return;
            }
            m_writer.write(path, entry.data);
        }
    }

    // Waits for the writer; true when every entry was read and written. Otherwise error says what
    // failed.
    bool finish(QString* error)
    {
        const bool written = m_writer.finish();
        if (written && m_counted && m_read == m_count && !m_failed)
            return true;
        *error = written ? QStringLiteral("its list of files is damaged")
                         : QStringLiteral("a file could not be written below %1").arg(m_base);
        return false;
    }

private:
    // The entry's path below the target, with its folder made: false for a name that leaves the
    // target or a folder that lies elsewhere.
    bool place(const QString& name, QString* path)
    {
        if (!FilePackage::isSafeEntryName(name))
            return false;
        *path = m_base + QLatin1Char('/') + name;
        const QString folder = QDir(path->left(path->lastIndexOf(QLatin1Char('/')) + 1)).absolutePath();
        if (m_checkedFolders.contains(folder))
            return true;
        if (!QFileInfo(folder).isDir()) {
            // Levels are only created below an existing folder that lies inside the target: a link
            // on the way must not make folders elsewhere.
            if (!QFileInfo(m_base).isDir())
                Application::makePath(m_base);
            if (!path_containment::insideResolved(folder, m_base, Itself::Inside, Missing::NearestExisting))
                return false;
            Application::makePath(folder);
        }
        // A folder reached through a link may lie elsewhere.
        if (!path_containment::insideResolved(folder, m_base, Itself::Inside))
            return false;
        // Entries create files only, so a checked folder stays as it is.
        m_checkedFolders.insert(folder);
        return true;
    }

    const QByteArray& m_payload;
    const QString m_base;
    qint64 m_position = 0;
    bool m_counted = false;
    quint32 m_count = 0;
    quint32 m_read = 0;
    bool m_failed = false;
    QSet<QString> m_checkedFolders;
    EntryWriter m_writer;
};
} // namespace

bool Application::unpackPackage(const QString& fileName, const QString& targetFolder, QString* error)
{
    QString ignored;
    QString& why = error ? *error : ignored;
    QFile file(appDirPath() + fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("it cannot be opened (%1)").arg(file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    int size = 0;
    switch (FilePackage::check(bytes, &size)) {
    case FilePackage::Ok:
        break;
    case FilePackage::TooShort:
        why = QStringLiteral("it is too short to be a package (%1 bytes)").arg(bytes.size());
        return false;
    case FilePackage::BadDigest:
        why = QStringLiteral("its digest does not match its contents (damaged, cut short or altered)");
        return false;
    default:
        why = QStringLiteral("its declared size does not fit its data");
        return false;
    }
    QString base = targetFolder;
    if (base.isEmpty()) {
        base = appDirPath();
        if (base.endsWith(QLatin1Char('/')))
            base.chop(1);
    }
    // Entries are written while the rest of the stream is decoded. They come only from what the
    // stream gave, never from the bytes after an early end mark.
    QByteArray payload(size, Qt::Uninitialized);
    PayloadUnpacker unpacker(payload, base);
    int decoded = 0;
    const bool decodedAll = FilePackage::decode(bytes, payload.data(), size, nullptr, &decoded,
                                [&](int available) { unpacker.read(available, false); })
        == FilePackage::Ok;
    if (decodedAll)
        unpacker.read(decoded, true);
    QString unpackError;
    const bool written = unpacker.finish(&unpackError);
    if (!decodedAll)
        why = QStringLiteral("its data cannot be decoded");
    else if (!written)
        why = unpackError;
    return decodedAll && written;
}

bool Application::makePath(const QString& path)
{
    QString p = path;
    if (!p.endsWith(QLatin1Char('/')))
        p += QLatin1Char('/');
    bool result = false;
    for (int i = p.indexOf(QLatin1Char('/')); i >= 0; i = p.indexOf(QLatin1Char('/'), i + 1)) {
        const QString prefix = p.left(i);
        if (prefix.isEmpty())
            continue; // the root of an absolute path
        if (!QFileInfo(prefix).isDir())
            result = QDir().mkdir(prefix);
    }
    return result;
}
