#include "app/breakpad_qt.h"

namespace {
BreakpadQt* g_breakpad = nullptr;
}

BreakpadQt* BreakpadQt::instance()
{
    if (!g_breakpad)
        g_breakpad = new BreakpadQt;
    return g_breakpad;
}

void BreakpadQt::destroyInstance()
{
    delete g_breakpad;
    g_breakpad = nullptr;
}

void BreakpadQt::setDumpPath(const QString& path)
{
    if (m_installed)
        return;
    m_installed = true;
    m_dumpPath = path;
}
