// conf.xml and define.xml: the input is read as either file, and the values the program derives
// from conf.xml are computed.
#include "fuzz_check.h"

#include "app/conf.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("conf.xml"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    }

    // A file that cannot be parsed leaves the values as they were.
    const ConfMap before{{QStringLiteral("Debug"), QStringLiteral("true")}};
    ConfMap conf = before;
    if (!parseConfFile(path, &conf))
        FUZZ_CHECK(conf == before);
    const QSize window = clientSizeFor(conf);
    FUZZ_CHECK(window.width() > 0 && window.height() > 0);
    pageRootFor(conf, QStringLiteral("/app"), QDir::tempPath());
    imageSubPathFor(conf.value(QStringLiteral("LoadPath")));

    KeyCodeMap keys;
    parseDefineText(QString::fromUtf8(bytes), &keys);
    return 0;
}
