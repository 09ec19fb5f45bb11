#include "windows.h"

#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace {

QString text(LPCWSTR s) { return s ? QString::fromUtf16(s) : QString(); }

HINSTANCE result(intptr_t code) { return reinterpret_cast<HINSTANCE>(code); }

// The arguments of a command-line text, as the Windows C runtime reads them.
QStringList commandLineArguments(const QString& line)
{
    QStringList args;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (!quoted && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
            if (inArgument)
                args.append(current);
            current.clear();
            inArgument = false;
            continue;
        }
        inArgument = true;
        if (c == QLatin1Char('\\')) {
            int n = 0;
            while (i < line.size() && line.at(i) == QLatin1Char('\\')) {
                ++n;
                ++i;
            }
            if (i < line.size() && line.at(i) == QLatin1Char('"')) {
                current.append(QString(n / 2, QLatin1Char('\\')));
                if (n % 2)
                    current.append(QLatin1Char('"'));
                else
                    --i; // the quote opens or closes a quoted part
            } else {
                current.append(QString(n, QLatin1Char('\\')));
                --i;
            }
        } else if (c == QLatin1Char('"')) {
            if (quoted && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                current.append(QLatin1Char('"'));
                ++i;
            } else {
                quoted = !quoted;
            }
        } else {
            current.append(c);
        }
    }
    if (inArgument)
        args.append(current);
    return args;
}

} // namespace

HINSTANCE ShellExecuteW(HWND /*hwnd*/, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
    LPCWSTR lpDirectory, INT /*nShowCmd*/)
{
    const QString verb = text(lpOperation);
    if (verb.compare(QLatin1String("runas"), Qt::CaseInsensitive) == 0)
        return result(SE_ERR_ACCESSDENIED);
    if (!verb.isEmpty() && verb.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
        return result(SE_ERR_NOASSOC);
    const QString file = text(lpFile);
    const QFileInfo program(file);
    if (file.isEmpty() || !program.exists())
        return result(SE_ERR_FNF);
    const QString dir = text(lpDirectory);
    if (!dir.isEmpty() && !QFileInfo(dir).isDir())
        return result(SE_ERR_PNF);
    if (!program.isFile() || !program.isExecutable())
        return result(SE_ERR_ACCESSDENIED);
    if (!QProcess::startDetached(program.absoluteFilePath(), commandLineArguments(text(lpParameters)), dir))
        return result(ERROR_BAD_FORMAT);
    return result(42);
}
