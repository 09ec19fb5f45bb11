#include "app/global_shortcut.h"

GlobalShortcut::GlobalShortcut(QObject* parent)
    : QObject(parent)
{
}

bool GlobalShortcut::setShortcut(const QKeySequence&) { return false; }
