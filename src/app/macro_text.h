// Macro text, as the pages write it ("按下(A)延迟(50)弹起(A)"), to the macro worker's action list.
#pragma once

#include "devices/command_exec.h"

#include <functional>

// Items end with ")"; each is a verb, optionally followed by "(" and its parameter. Key names are
// looked up in upper case by hidCodeOf ("" for an unknown name, which gives no action); unknown
// verbs give nothing.
QList<MacroAction> parseMacroText(const QString& text, const std::function<QString(const QString&)>& hidCodeOf);
