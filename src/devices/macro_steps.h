// The steps of a device macro text ("按下(A)延迟(50)弹起(A)"), as the device macros and the key
// mappings read it.
#pragma once

#include <QList>
#include <QString>

struct MacroStep {
    QString verb;
    QString argument;
};

// Split on ")" dropping empty parts; the first "(" separates verb and argument, both trimmed; a
// step without "(", or starting with it, is skipped.
inline QList<MacroStep> macroSteps(const QString& text)
{
    QList<MacroStep> steps;
    for (const QString& part : text.split(QLatin1Char(')'), Qt::SkipEmptyParts)) {
        const int open = part.indexOf(QLatin1Char('('));
        if (open <= 0)
            continue;
        steps.append({part.left(open).trimmed(), part.mid(open + 1).trimmed()});
    }
    return steps;
}
