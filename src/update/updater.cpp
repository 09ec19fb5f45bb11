#include "update/updater.h"

#include "app/application.h"
#include "app/pswindow.h"

#include <QDir>
#include <QProcess>

QString g_updateArgs;
int g_runUpdaterOnExit = 0;

void psExecUpdater()
{
    const QString program = QDir::toNativeSeparators(exeDirPath() + QStringLiteral("Updater"));
    QProcess::startDetached(program, QProcess::splitCommand(g_updateArgs), appDirPath());
}
