// The page package and its unpacker. The first byte chooses what the rest is: even, the payload
// (packed here into a package); odd, the container's bytes from its LZMA properties on (signed
// here). The package is unpacked into a sandbox folder that holds links to a folder beside it and
// to its own parent. Checked: nothing is ever written outside the sandbox, and when the unpacker
// reports success the sandbox holds exactly the entries the package's payload lists.
#include "fuzz_check.h"
#include "fuzz_sandbox.h"

#include "app/application.h"
#include "app/file_package.h"
#include "packer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <cstdint>

namespace {

struct Sandbox {
    QTemporaryDir root;
    QString target = root.filePath(QStringLiteral("target"));
    QString outside = root.filePath(QStringLiteral("outside"));
    QString program = root.filePath(QStringLiteral("program"));

    Sandbox()
    {
        FUZZ_CHECK(root.isValid());
        for (const QString& dir : {outside, program})
            FUZZ_CHECK(QDir().mkpath(dir));
        setAppDirPath(program + QLatin1Char('/'));
    }

    // The sandbox anew: empty but for its links and one folder.
    void reset()
    {
        if (QFileInfo::exists(target))
            FUZZ_CHECK(QDir(target).removeRecursively());
        FUZZ_CHECK(QDir().mkpath(target + QStringLiteral("/pages")));
        FUZZ_CHECK(QFile::link(outside, target + QStringLiteral("/elsewhere")));
        FUZZ_CHECK(QFile::link(QStringLiteral(".."), target + QStringLiteral("/up")));
        FUZZ_CHECK(QFile::link(outside + QStringLiteral("/file"), target + QStringLiteral("/file")));
    }

    void checkNothingOutside() const
    {
        const QStringList top = QDir(root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                                 QDir::NoDotAndDotDot,
                                                             QDir::Name);
        FUZZ_CHECK(top == (QStringList{"outside", "program", "target"}));
        FUZZ_CHECK(QDir(outside).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
        FUZZ_CHECK(QDir(program).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) ==
                   QStringList{"skn.dat"});
    }
};

// The entries a successful unpack must have written: each name with its last data.
QMap<QString, QByteArray> expectedEntries(const QByteArray& package)
{
    QByteArray payload;
    FUZZ_CHECK(FilePackage::unpack(package, &payload) == FilePackage::Ok);
    FilePackage::Reader reader(payload);
    quint32 count = 0;
    FUZZ_CHECK(reader.readHeader() && reader.readCount(&count));
    QMap<QString, QByteArray> out;
    for (quint32 i = 0; i < count; ++i) {
        FilePackage::Entry entry;
        FUZZ_CHECK(reader.readEntry(&entry));
        out.insert(entry.name, QByteArray(entry.data.constData(), entry.data.size()));
    }
    return out;
}

QByteArray packageOf(const uint8_t* data, size_t size)
{
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    if (data[0] % 2 == 0) {
        packer::Options options;
        options.level = 0;
        options.dictSize = 1u << 16;
        options.endMark = data[0] & 2;
        return packer::packPayload(rest, options);
    }
    return QByteArray(FilePackage::DigestOffset, '\0') + QCryptographicHash::hash(rest, QCryptographicHash::Sha1) +
           rest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static Sandbox sandbox;
    const QByteArray package = packageOf(data, size);
    if (package.isEmpty())
        return 0;
    sandbox.reset();
    {
        QFile file(sandbox.program + QStringLiteral("/skn.dat"));
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(package) == package.size());
    }
    const bool unpacked = Application::unpackPackage(QStringLiteral("skn.dat"), sandbox.target);
    sandbox.checkNothingOutside();
    if (unpacked)
        FUZZ_CHECK(fuzz_sandbox::filesBelow(sandbox.target) == expectedEntries(package));
    return 0;
}
