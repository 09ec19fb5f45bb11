#include "app/file_package.h"

#include "app/lzma_uncompress.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <cstring>

namespace {

bool digestMatches(const QByteArray& file)
{
    if (file.size() < FilePackage::PropsOffset)
        return false;
    unsigned char digest[FilePackage::DigestSize];
    sha1(file.constData() + FilePackage::PropsOffset, file.size() - FilePackage::PropsOffset, digest);
    return std::memcmp(digest, file.constData() + FilePackage::DigestOffset, FilePackage::DigestSize) == 0;
}

qint32 declaredSize(const QByteArray& file)
{
    if (file.size() < FilePackage::StreamOffset)
        return 0;
    return qFromLittleEndian<qint32>(file.constData() + FilePackage::SizeOffset);
}

} // namespace

unsigned char* sha1(const unsigned char* data, int length, unsigned char* out)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (length > 0)
        hash.addData(reinterpret_cast<const char*>(data), length);
    const QByteArray digest = hash.result();
    std::memcpy(out, digest.constData(), FilePackage::DigestSize);
    return out;
}

FilePackage::Result FilePackage::check(const QByteArray& file, int* size)
{
    *size = 0;
    const qint64 streamLen = qint64(file.size()) - StreamOffset;
    if (streamLen <= 0)
        return TooShort;
    if (!digestMatches(file))
        return BadDigest;
    const qint64 declared = qMax<qint64>(0, declaredSize(file));
    if (declared > MaxUnpackedSize || declared > streamLen * MaxRatio)
        return BadSize;
    *size = static_cast<int>(declared);
    return Ok;
}

FilePackage::Result FilePackage::decode(const QByteArray& file, char* out, int size, int* lzmaResult,
    int* decodedSize, const std::function<void(int decoded)>& progress)
{
    size_t outLen = static_cast<size_t>(size);
    size_t inLen = static_cast<size_t>(file.size() - StreamOffset);
    const auto report = [](void* context, size_t decoded) {
        (*static_cast<const std::function<void(int)>*>(context))(static_cast<int>(decoded));
    };
    void* context = const_cast<void*>(static_cast<const void*>(&progress));
    const int res = LzmaUncompressInSteps(reinterpret_cast<unsigned char*>(out), &outLen,
        reinterpret_cast<const unsigned char*>(file.constData() + StreamOffset), &inLen,
        reinterpret_cast<const unsigned char*>(file.constData() + PropsOffset), PropsSize,
        progress ? DecodeStep : 0, progress ? +report : nullptr, context);
    if (lzmaResult)
        *lzmaResult = res;
    if (decodedSize)
        *decodedSize = res == LZMA_RESULT_OK ? static_cast<int>(outLen) : 0;
    return res == LZMA_RESULT_OK ? Ok : DecodeFailed;
}

FilePackage::Result FilePackage::unpack(const QByteArray& file, QByteArray* payload, int* lzmaResult,
    int* decodedSize)
{
    payload->clear();
    if (decodedSize)
        *decodedSize = 0;
    int size = 0;
    const Result checked = check(file, &size);
    if (checked != Ok)
        return checked;
    QByteArray out(size, Qt::Uninitialized);
    int decoded = 0;
    const Result result = decode(file, out.data(), size, lzmaResult, &decoded, {});
    if (result != Ok)
        return result;
    std::memset(out.data() + decoded, 0, static_cast<size_t>(size - decoded));
    *payload = out;
    if (decodedSize)
        *decodedSize = decoded;
    return Ok;
}

bool FilePackage::isSafeEntryName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || !name.isValidUtf16())
        return false;
    if (name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')) || name.contains(QChar(0)))
        return false;
    for (const QString& part : name.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

FilePackage::Reader::Reader(const QByteArray& payload)
    : m_payload(payload)
    , m_stream(&m_payload, QIODevice::ReadOnly)
{
    m_stream.setVersion(QDataStream::Qt_5_1);
}

bool FilePackage::Reader::readHeader()
{
    QString header;
    m_stream >> header;
    return m_stream.status() == QDataStream::Ok;
}

bool FilePackage::Reader::readCount(quint32* count)
{
    m_stream >> *count;
    return m_stream.status() == QDataStream::Ok && *count != 0;
}

bool FilePackage::Reader::readEntry(Entry* entry)
{
    quint32 length = 0;
    m_stream >> entry->name >> entry->size >> length;
    if (m_stream.status() != QDataStream::Ok)
        return false;
    if (length == 0xFFFFFFFF) {
        entry->data = QByteArray(); // a null array
    } else {
        const qint64 at = m_stream.device()->pos();
        if (length > m_payload.size() - at) {
            m_stream.setStatus(QDataStream::ReadPastEnd);
            return false;
        }
        entry->data = QByteArray::fromRawData(m_payload.constData() + at, static_cast<int>(length));
        m_stream.skipRawData(static_cast<int>(length));
    }
    return entry->size == static_cast<quint32>(entry->data.size());
}
