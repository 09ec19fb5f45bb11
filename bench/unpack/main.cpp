// Unpack time of a several-megabyte page package, against xz decoding the same LZMA stream.
// Usage: bench_unpack [megabytes (default 8)] [rounds (default 5)]
#include "app/application.h"
#include "app/file_package.h"
#include "packer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>
#include <functional>

namespace {

// Page-like entries: markup and scripts that compress well, and images that do not.
QList<packer::Entry> samplePages(int megabytes)
{
    QRandomGenerator gen(42);
    QList<packer::Entry> entries;
    qint64 total = 0;
    const qint64 wanted = qint64(megabytes) * 1024 * 1024;
    for (int i = 0; total < wanted; ++i) {
        QByteArray data;
        if (i % 4 == 3) {
            data.resize(64 * 1024);
            for (char& c : data)
                c = static_cast<char>(gen.bounded(256));
        } else {
            while (data.size() < 96 * 1024)
                data += QByteArray("<div class=\"row item-") + QByteArray::number(gen.bounded(500))
                    + "\"><span data-key=\"" + QByteArray::number(gen.bounded(100000)) + "\">value "
                    + QByteArray::number(gen.bounded(1000)) + "</span></div>\n";
        }
        total += data.size();
        entries.append({QString("template/page%1/file%2.%3").arg(i % 20).arg(i).arg(i % 4 == 3 ? "png" : "html"), data});
    }
    return entries;
}

double bestMs(int rounds, const std::function<bool()>& run)
{
    double best = -1;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        if (!run())
            return -1;
        const double ms = t.nsecsElapsed() / 1e6;
        if (best < 0 || ms < best)
            best = ms;
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? qMax(1, atoi(argv[1])) : 8;
    const int rounds = argc > 2 ? qMax(1, atoi(argv[2])) : 5;

    const QByteArray payload = packer::payloadOf(samplePages(megabytes), "bench");
    QByteArray props, stream;
    if (!packer::compress(payload, packer::Options(), &props, &stream)) {
        std::fprintf(stderr, "compression failed\n");
        return 1;
    }
    const QByteArray package = packer::container(props, payload.size(), stream);
    std::printf("payload %.1f MiB, stream %.1f MiB\n", payload.size() / 1048576.0, stream.size() / 1048576.0);

    const double decodeMs = bestMs(rounds, [&] {
        QByteArray out;
        return FilePackage::unpack(package, &out) == FilePackage::Ok && out.size() == payload.size();
    });

    QTemporaryDir dir;
    setAppDirPath(dir.path() + "/");
    QFile pkg(dir.path() + "/skn.dat");
    if (!pkg.open(QIODevice::WriteOnly) || pkg.write(package) != package.size())
        return 1;
    pkg.close();
    const double unpackMs = bestMs(rounds, [&] { return Application::unpackPackage("skn.dat", dir.path() + "/out"); });

    std::printf("decode (digest + LzmaUncompress): %.1f ms\n", decodeMs);
    std::printf("unpackPackage (with files written): %.1f ms\n", unpackMs);

    const QString xz = QStandardPaths::findExecutable("xz");
    if (xz.isEmpty()) {
        std::printf("xz not found: no comparison\n");
        return decodeMs < 0 || unpackMs < 0 ? 1 : 0;
    }
    // The same stream as an .lzma file: properties, 64-bit unpacked size, stream.
    QByteArray lzma = props;
    char size[8];
    qToLittleEndian<quint64>(static_cast<quint64>(payload.size()), size);
    lzma.append(size, 8).append(stream);
    const QString lzmaPath = dir.path() + "/payload.lzma";
    QFile lf(lzmaPath);
    if (!lf.open(QIODevice::WriteOnly) || lf.write(lzma) != lzma.size())
        return 1;
    lf.close();

    bool same = false;
    const double xzMs = bestMs(rounds, [&] {
        QProcess p;
        p.start(xz, {"--format=lzma", "--decompress", "--stdout", lzmaPath});
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            return false;
        same = p.readAllStandardOutput() == payload;
        return true;
    });
    if (xzMs < 0 || !same) {
        std::printf("xz could not decode the stream\n");
        return 1;
    }
    std::printf("xz --format=lzma -d (process, output to a pipe): %.1f ms\n", xzMs);
    std::printf("ratio decode / xz: %.2f\n", decodeMs / xzMs);
    std::printf("ratio unpackPackage / xz: %.2f\n", unpackMs / xzMs);
    return 0;
}
