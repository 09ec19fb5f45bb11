// File helpers of the tests.
#pragma once

#include <QByteArray>
#include <QString>

namespace test_support {

// Writes data to path, creating its folders; false when anything failed.
bool writeFile(const QString& path, const QByteArray& data);
// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);

// A base for temporary folders whose paths must stay short (a local socket's address lies below
// them): the system temporary folder, or "/tmp" when that is long.
QString shortTempBase();

} // namespace test_support
