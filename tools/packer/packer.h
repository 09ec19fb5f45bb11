// Builds package files: the LZMA payload of named entries behind the SHA-1-guarded container header.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace packer {

struct Options {
    int level = 5;
    unsigned dictSize = 1u << 22;
    int lc = 3;
    int lp = 0;
    int pb = 2;
    bool endMark = false;       // end the stream with an end mark
    QString header = QStringLiteral("TarquilMervane pages");
};

struct Entry {
    QString name; // relative, "/" between folders
    QByteArray data;
};

// A raw LZMA stream of data and its 5 property bytes; false when the encoder fails or data is above the
// 512 MiB the unpacker takes.
bool compress(const QByteArray& data, const Options& options, QByteArray* props, QByteArray* stream);

// The payload: header text, entry count, then name, size and data per entry (QDataStream version 14).
QByteArray payloadOf(const QList<Entry>& entries, const QString& header);

// The container around a stream: 128 zero bytes, SHA-1 of the rest, properties, size, stream.
QByteArray container(const QByteArray& props, qint32 unpackedSize, const QByteArray& stream);

// Compresses any payload into a container ("" when the encoder fails).
QByteArray packPayload(const QByteArray& payload, const Options& options = Options());
QByteArray packEntries(const QList<Entry>& entries, const Options& options = Options());

// Every file below folder (links not followed), named relative to it with prefix in front, in name order.
// False when a name is one the unpacker refuses (FilePackage::isSafeEntryName).
bool collectFolder(const QString& folder, const QString& prefix, QList<Entry>* entries, QString* error);
bool packFolder(const QString& folder, const QString& prefix, const QString& output, const Options& options,
    QString* error);

} // namespace packer
