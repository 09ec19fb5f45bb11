// Shared by the shell tests: one application object per test process, and file helpers.
#pragma once

#include "app/application.h"

#include <QByteArray>
#include <QString>

// The process's Application (offscreen unless a platform is set), created on first use.
Application* testApp();

bool writeFile(const QString& path, const QByteArray& data);
QByteArray readFile(const QString& path);
