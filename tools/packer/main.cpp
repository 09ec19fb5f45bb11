// packer [--end-mark] [--prefix TEXT] [--header TEXT] <folder> <output>
// Packs every file below folder into a package named by its path relative to folder.
#include "packer.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    packer::Options options;
    QString prefix;
    QStringList paths;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--end-mark")) {
            options.endMark = true;
        } else if ((a == QLatin1String("--prefix") || a == QLatin1String("--header")) && i + 1 < args.size()) {
            (a == QLatin1String("--prefix") ? prefix : options.header) = args.at(++i);
        } else if (a.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(a));
            return 2;
        } else {
            paths << a;
        }
    }
    if (paths.size() != 2) {
        std::fprintf(stderr, "usage: packer [--end-mark] [--prefix TEXT] [--header TEXT] <folder> <output>\n");
        return 2;
    }
    QString error;
    if (!packer::packFolder(paths.at(0), prefix, paths.at(1), options, &error)) {
        std::fprintf(stderr, "packer: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
