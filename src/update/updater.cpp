#include "update/updater.h"

#include "app/application.h"
#include "app/pswindow.h"

#include "include/base/cef_logging.h"

#include <QDir>

QString g_updateArgs;
QStringList g_updateArgList;
int g_runUpdaterOnExit = 0;
QString g_updateDescription;
QString g_updateVersion;

namespace {

const WCHAR* wide(const QString& text) { return reinterpret_cast<const WCHAR*>(text.utf16()); }

QString quotedArgument(const QString& item)
{
    static const QString special = QStringLiteral(" \t\n\v\"");
    bool plain = !item.isEmpty();
    for (const QChar c : item)
        plain = plain && !special.contains(c);
    if (plain)
        return item;
    QString out = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : item) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        // Backslashes are doubled only where a quote follows them.
        if (c == QLatin1Char('"'))
            out += QString(2 * backslashes + 1, QLatin1Char('\\'));
        else
            out += QString(backslashes, QLatin1Char('\\'));
        backslashes = 0;
        out += c;
    }
    out += QString(2 * backslashes, QLatin1Char('\\'));
    out += QLatin1Char('"');
    return out;
}

} // namespace

QStringList updaterArguments(const QJsonObject& ret, const QString& fwversion, bool silent)
{
    QStringList items{QStringLiteral("--update=TarquilMervane"),
        QStringLiteral("--down=") + ret.value(QStringLiteral("package")).toString(),
        QStringLiteral("--deployment=") + ret.value(QStringLiteral("deployment")).toString(),
        QStringLiteral("--version=") + fwversion};
    if (silent)
        items.append(QStringLiteral("--SilentUpgrade"));
    return items;
}

QString updaterArgumentText(const QStringList& items) { return items.join(QLatin1Char(' ')); }

QString windowsCommandLine(const QStringList& items)
{
    QStringList quoted;
    for (const QString& item : items)
        quoted.append(quotedArgument(item));
    return quoted.join(QLatin1Char(' '));
}

QString updaterProgramPath()
{
#ifdef Q_OS_WIN
    return exeDirPath() + QStringLiteral("Updater.exe");
#else
    return exeDirPath() + QStringLiteral("Updater");
#endif
}

INT_PTR launchUpdater(const QStringList& items)
{
    const QString program = QDir::toNativeSeparators(updaterProgramPath());
    const QString dir = QDir::toNativeSeparators(appDirPath());
    const QString parameters = windowsCommandLine(items);
    const INT_PTR result = reinterpret_cast<INT_PTR>(ShellExecuteW(0, elevateUpdater() ? wide(QStringLiteral("runas")) : nullptr,
        wide(program), wide(parameters), dir.isEmpty() ? nullptr : wide(dir), SW_SHOWNORMAL));
    if (result < 32)
        LOG(INFO) << "Application Error: failed to execute " << program.toStdString() << ", working directory: '"
                  << dir.toStdString() << "', result: " << result;
    return result;
}

void psExecUpdater() { launchUpdater(g_updateArgList); }
