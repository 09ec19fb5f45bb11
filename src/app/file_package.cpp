#include "app/file_package.h"

#include "app/lzma_uncompress.h"

#include <QtEndian>

#include <cstring>

namespace {

inline quint32 rotl(quint32 v, int n) { return (v << n) | (v >> (32 - n)); }

void sha1Block(quint32 h[5], const unsigned char* block)
{
    quint32 w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = qFromBigEndian<quint32>(block + 4 * i);
    for (int i = 16; i < 80; ++i)
        w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    quint32 a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
        quint32 f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const quint32 t = rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotl(b, 30);
        b = a;
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

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
    quint32 h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const quint64 len = length > 0 ? static_cast<quint64>(length) : 0;
    quint64 done = 0;
    for (; done + 64 <= len; done += 64)
        sha1Block(h, data + done);
    unsigned char tail[128];
    const size_t rest = static_cast<size_t>(len - done);
    if (rest)
        std::memcpy(tail, data + done, rest);
    tail[rest] = 0x80;
    const size_t tailLen = rest + 1 + 8 <= 64 ? 64 : 128;
    std::memset(tail + rest + 1, 0, tailLen - rest - 1);
    qToBigEndian<quint64>(len * 8, tail + tailLen - 8);
    for (size_t off = 0; off < tailLen; off += 64)
        sha1Block(h, tail + off);
    for (int i = 0; i < 5; ++i)
        qToBigEndian<quint32>(h[i], out + 4 * i);
    return out;
}

FilePackage::Result FilePackage::unpack(const QByteArray& file, QByteArray* payload, int* lzmaResult,
    int* decodedSize)
{
    payload->clear();
    if (decodedSize)
        *decodedSize = 0;
    const qint64 streamLen = qint64(file.size()) - StreamOffset;
    if (streamLen <= 0)
        return TooShort;
    if (!digestMatches(file))
        return BadDigest;
    const qint64 size = qMax<qint64>(0, declaredSize(file));
    if (size > MaxUnpackedSize || size > streamLen * MaxRatio)
        return BadSize;
    QByteArray out(static_cast<int>(size), '\0');
    size_t outLen = static_cast<size_t>(size);
    size_t inLen = static_cast<size_t>(streamLen);
    const int res = LzmaUncompress(reinterpret_cast<unsigned char*>(out.data()), &outLen,
        reinterpret_cast<const unsigned char*>(file.constData() + StreamOffset), &inLen,
        reinterpret_cast<const unsigned char*>(file.constData() + PropsOffset), PropsSize);
    if (lzmaResult)
        *lzmaResult = res;
    if (res != LZMA_RESULT_OK)
        return DecodeFailed;
    *payload = out;
    if (decodedSize)
        *decodedSize = static_cast<int>(outLen);
    return Ok;
}

bool FilePackage::isSafeEntryName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
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
    m_stream >> entry->name >> entry->size >> entry->data;
    if (m_stream.status() != QDataStream::Ok)
        return false;
    return entry->size == static_cast<quint32>(entry->data.size());
}
