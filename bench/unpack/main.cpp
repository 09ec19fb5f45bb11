// Unpacking a page package of several megabytes, against its floor: xz decoding the same LZMA
// stream with its output going to /dev/null. The two sides alternate, round by round, in runs that
// repeat until three consecutive runs' ratios agree; the medians are those of the last three.
// Usage: bench_unpack [megabytes (default 8)] [rounds per run (default 15)]
// Exit status: 0 when the median ratio meets the target, 1 when it misses it, 2 when the
// measurement could not be made.
#include "app/application.h"
#include "packer.h"
#include "stable_runs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

extern char** environ;

namespace {

const double kTargetRatio = 1.10;

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
        const char* type = i % 4 == 3 ? "png" : "html";
        entries.append({QString("template/page%1/file%2.%3").arg(i % 20).arg(i).arg(type), data});
    }
    return entries;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// Runs xz on the .lzma file with its standard output on the given file; true when it exits with 0.
bool runXz(const QString& lzmaPath, const char* outputPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray input = QFile::encodeName(lzmaPath);
    char* argv[] = {const_cast<char*>("xz"), const_cast<char*>("--format=lzma"), const_cast<char*>("-d"),
        const_cast<char*>("--stdout"), const_cast<char*>(input.constData()), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "xz", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Milliseconds one run takes, or -1 when it failed.
double timeMs(const std::function<bool()>& run)
{
    QElapsedTimer t;
    t.start();
    return run() ? t.nsecsElapsed() / 1e6 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? qMax(1, atoi(argv[1])) : 8;
    const int rounds = argc > 2 ? qMax(1, atoi(argv[2])) : 15;

    const QList<packer::Entry> pages = samplePages(megabytes);
    const QByteArray payload = packer::payloadOf(pages, "bench");
    QByteArray props, stream;
    if (!packer::compress(payload, packer::Options(), &props, &stream)) {
        std::fprintf(stderr, "compression failed\n");
        return 2;
    }
    std::printf("payload %.1f MiB in %d entries, stream %.1f MiB\n", payload.size() / 1048576.0,
        int(pages.size()), stream.size() / 1048576.0);

    QTemporaryDir dir;
    setAppDirPath(dir.path() + "/");
    const QString target = dir.path() + "/out";
    // The same stream as an .lzma file: properties, 64-bit unpacked size, stream.
    QByteArray lzma = props;
    char size[8];
    qToLittleEndian<quint64>(static_cast<quint64>(payload.size()), size);
    lzma.append(size, 8).append(stream);
    const QString lzmaPath = dir.path() + "/payload.lzma";
    const QString decodedPath = dir.path() + "/payload.out";
    if (!writeFile(dir.path() + "/skn.dat", packer::container(props, payload.size(), stream))
        || !writeFile(lzmaPath, lzma)) {
        std::fprintf(stderr, "cannot write to %s\n", qPrintable(dir.path()));
        return 2;
    }

    // Both sides once, checking what they produce; this also warms the file cache and creates the
    // files that every later unpack replaces, as at every start of the program.
    if (!runXz(lzmaPath, QFile::encodeName(decodedPath).constData())) {
        std::fprintf(stderr, "xz is missing or could not decode the stream\n");
        return 2;
    }
    QFile decoded(decodedPath);
    if (!decoded.open(QIODevice::ReadOnly) || decoded.readAll() != payload) {
        std::fprintf(stderr, "xz decoded something else\n");
        return 2;
    }
    if (!Application::unpackPackage("skn.dat", target)) {
        std::fprintf(stderr, "unpackPackage failed\n");
        return 2;
    }
    for (const packer::Entry& e : pages) {
        QFile f(target + "/" + e.name);
        if (!f.open(QIODevice::ReadOnly) || f.readAll() != e.data) {
            std::fprintf(stderr, "unpackPackage wrote %s wrong\n", qPrintable(e.name));
            return 2;
        }
    }

    // Runs of `rounds` rounds until three consecutive runs' ratios agree.
    bench::RunSamples xzRuns, unpackRuns;
    bool failed = false;
    const bench::Stability stability = bench::repeatUntilStable([&](int) {
        std::vector<double> xzMs, unpackMs;
        for (int i = 0; i < rounds; ++i) {
            // Alternate which side goes first, so neither always runs in the other's wake.
            const auto floor = [&] { xzMs.push_back(timeMs([&] { return runXz(lzmaPath, "/dev/null"); })); };
            const auto unpack = [&] {
                unpackMs.push_back(timeMs([&] { return Application::unpackPackage("skn.dat", target); }));
            };
            if (i % 2) {
                unpack();
                floor();
            } else {
                floor();
                unpack();
            }
            if (xzMs.back() < 0 || unpackMs.back() < 0) {
                std::fprintf(stderr, "a run failed in round %d\n", i + 1);
                failed = true;
                return std::vector<double>();
            }
        }
        xzRuns.add(xzMs);
        unpackRuns.add(unpackMs);
        return std::vector<double>{unpackRuns.lastMedian() / xzRuns.lastMedian()};
    });
    if (failed)
        return 2;

    const bench::Stats xz = xzRuns.lastStats(), unpack = unpackRuns.lastStats();
    std::printf("runs of %d rounds, median (min..max) of the last three:\n", rounds);
    std::printf("  floor: xz --format=lzma -d to /dev/null  %7.1f ms (%.1f..%.1f)\n", xz.median, xz.min, xz.max);
    std::printf("  Application::unpackPackage               %7.1f ms (%.1f..%.1f)\n", unpack.median, unpack.min,
        unpack.max);
    bench::printStability(stability);
    const double ratio = unpack.median / xz.median;
    const bool met = ratio <= kTargetRatio;
    std::printf("ratio unpack / xz: %.3f (target <= %.2f): %s\n", ratio, kTargetRatio, met ? "met" : "MISSED");
    return met ? 0 : 1;
}
