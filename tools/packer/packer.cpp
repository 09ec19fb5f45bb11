#include "packer.h"

#include "app/file_package.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>

extern "C" {
#include <lzma/LzmaEnc.h>
}

namespace packer {
namespace {

void* allocBytes(void*, size_t size) { return size ? std::malloc(size) : nullptr; }
void freeBytes(void*, void* address) { std::free(address); }

const int kMaxPayload = 512 * 1024 * 1024;

} // namespace

bool compress(const QByteArray& data, const Options& options, QByteArray* props, QByteArray* stream)
{
    // The unpacker refuses larger payloads; the output estimate below also stays within an int.
    if (data.size() > kMaxPayload)
        return false;
    ISzAlloc alloc = {allocBytes, freeBytes};
    CLzmaEncProps p;
    LzmaEncProps_Init(&p);
    p.level = options.level;
    p.dictSize = options.dictSize;
    p.lc = options.lc;
    p.lp = options.lp;
    p.pb = options.pb;
    p.writeEndMark = options.endMark ? 1 : 0;
    p.numThreads = 1;
    QByteArray out(data.size() + data.size() / 3 + 256, '\0');
    SizeT outLen = static_cast<SizeT>(out.size());
    Byte encodedProps[LZMA_PROPS_SIZE];
    SizeT propsLen = LZMA_PROPS_SIZE;
    const SRes res = LzmaEncode(reinterpret_cast<Byte*>(out.data()), &outLen,
        reinterpret_cast<const Byte*>(data.constData()), static_cast<SizeT>(data.size()), &p, encodedProps, &propsLen,
        p.writeEndMark, nullptr, &alloc, &alloc);
    if (res != SZ_OK || propsLen != LZMA_PROPS_SIZE)
        return false;
    out.truncate(static_cast<int>(outLen));
    *props = QByteArray(reinterpret_cast<const char*>(encodedProps), LZMA_PROPS_SIZE);
    *stream = out;
    return true;
}

QByteArray payloadOf(const QList<Entry>& entries, const QString& header)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_1);
    out << header << quint32(entries.size());
    for (const Entry& e : entries)
        out << e.name << quint32(e.data.size()) << e.data;
    return payload;
}

QByteArray container(const QByteArray& props, qint32 unpackedSize, const QByteArray& stream)
{
    QByteArray rest = props;
    char size[4];
    qToLittleEndian<qint32>(unpackedSize, size);
    rest.append(size, 4);
    rest.append(stream);
    QByteArray file(128, '\0');
    file.append(QCryptographicHash::hash(rest, QCryptographicHash::Sha1));
    file.append(rest);
    return file;
}

QByteArray packPayload(const QByteArray& payload, const Options& options)
{
    QByteArray props, stream;
    if (!compress(payload, options, &props, &stream))
        return QByteArray();
    return container(props, payload.size(), stream);
}

QByteArray packEntries(const QList<Entry>& entries, const Options& options)
{
    return packPayload(payloadOf(entries, options.header), options);
}

bool collectFolder(const QString& folder, const QString& prefix, QList<Entry>* entries, QString* error)
{
    // Absolute: names relative to a relative folder would keep the folder's own path.
    const QDir root(QDir(folder).absolutePath());
    if (!root.exists()) {
        *error = QStringLiteral("no folder %1").arg(folder);
        return false;
    }
    QStringList names;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << root.relativeFilePath(it.next());
    std::sort(names.begin(), names.end());
    for (const QString& name : names) {
        // A name the unpacker refuses would stop the unpack at that entry.
        if (!FilePackage::isSafeEntryName(prefix + name)) {
            *error = QStringLiteral("entry name not allowed in a package: %1").arg(prefix + name);
            return false;
        }
        QFile f(root.filePath(name));
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1").arg(f.fileName());
            return false;
        }
        entries->append({prefix + name, f.readAll()});
    }
    return true;
}

bool packFolder(const QString& folder, const QString& prefix, const QString& output, const Options& options,
    QString* error)
{
    QList<Entry> entries;
    if (!collectFolder(folder, prefix, &entries, error))
        return false;
    if (entries.isEmpty()) {
        *error = QStringLiteral("no files below %1").arg(folder);
        return false;
    }
    const QByteArray file = packEntries(entries, options);
    if (file.isEmpty()) {
        *error = QStringLiteral("compression failed");
        return false;
    }
    QSaveFile out(output);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.commit()) {
        *error = QStringLiteral("cannot write %1").arg(output);
        return false;
    }
    return true;
}

} // namespace packer
