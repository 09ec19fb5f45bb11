// The package container of the pages (skn.dat) and of the update packages, and its SHA-1.
//
// Layout: 128 free bytes; SHA-1 of every byte from offset 148 on; the 5 LZMA property bytes; the
// unpacked size (int32, little-endian); the raw LZMA stream. The unpacked payload is a QDataStream of
// version 14: an optional header text, a quint32 entry count, then per entry its relative name
// (QString), its size (quint32) and its bytes (QByteArray).
#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QString>

#include <functional>

// SHA-1 of length bytes at data into out (20 bytes); returns out. A negative length counts as 0.
unsigned char* sha1(const unsigned char* data, int length, unsigned char* out);
inline unsigned char* sha1(const char* data, int length, unsigned char* out)
{
    return sha1(reinterpret_cast<const unsigned char*>(data), length, out);
}

class FilePackage {
public:
    enum : int {
        DigestOffset = 128,
        DigestSize = 20,
        PropsOffset = 148,
        PropsSize = 5,
        SizeOffset = 153,
        StreamOffset = 157,
    };
    // Bounds of the declared unpacked size: absolute, and relative to the stream length (above the
    // largest ratio an LZMA stream can reach, about 7000:1).
    static constexpr qint64 MaxUnpackedSize = 512LL * 1024 * 1024;
    static constexpr qint64 MaxRatio = 8192;

    enum Result {
        Ok,
        TooShort,      // no stream after the fixed fields
        BadDigest,     // the digest does not match the bytes from offset 148 on
        BadSize,       // the declared unpacked size is beyond what the stream can hold
        DecodeFailed,  // the decoder's result was not success (see lzmaResult)
    };

    // Checks the container and unpacks the payload. A negative declared size gives an empty payload; an
    // end mark before the declared size leaves the rest of the payload zero, and decodedSize tells how
    // much of it the stream gave. No caller in the program yet: the update-package reader uses it.
    static Result unpack(const QByteArray& file, QByteArray* payload, int* lzmaResult = nullptr,
        int* decodedSize = nullptr);

    // unpack in two steps, for a caller that reads the payload while it is being decoded. check: the
    // container's checks, giving the payload's size (0 for a negative declared size). decode: decodes
    // the stream of a checked container into out (size bytes, the caller's), calling progress with the
    // number of bytes decoded so far every DecodeStep bytes; the bytes below that number are final.
    static constexpr int DecodeStep = 64 * 1024;
    static Result check(const QByteArray& file, int* size);
    static Result decode(const QByteArray& file, char* out, int size, int* lzmaResult, int* decodedSize,
        const std::function<void(int decoded)>& progress);

    // A name that stays below the target folder: relative, "/" between non-empty parts, none of them
    // "." or "..", and no "\", ":" or NUL. Whole characters only: a lone surrogate, which no file
    // name can hold, would be written under another name.
    static bool isSafeEntryName(const QString& name);

    struct Entry {
        QString name;
        quint32 size = 0;
        QByteArray data;
    };

    // Reads the payload's fields in order; every read reports whether the stream is still sound.
    class Reader {
    public:
        explicit Reader(const QByteArray& payload);
        bool readHeader();
        // False on a damaged stream or a count of 0.
        bool readCount(quint32* count);
        // False on a damaged stream or a size that differs from the data's length. The entry's data
        // is not copied: it refers to the payload, which the reader keeps while it exists.
        bool readEntry(Entry* entry);
        // After a false read: the payload ended inside the field (a longer payload may hold it).
        bool endedEarly() const { return m_stream.status() == QDataStream::ReadPastEnd; }
        QDataStream::Status status() const { return m_stream.status(); }
        // The read position, to go on from in a reader of a longer payload.
        qint64 position() const { return m_stream.device()->pos(); }
        void seek(qint64 position) { m_stream.device()->seek(position); }

    private:
        QByteArray m_payload;
        QDataStream m_stream;
    };
};
