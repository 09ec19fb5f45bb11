#include "app/macro_text.h"

QList<MacroAction> parseMacroText(const QString& text, const std::function<QString(const QString&)>& hidCodeOf)
{
    QList<MacroAction> actions;
    // A key the table does not name gives no action.
    const auto key = [&](const char* type, const QString& name) {
        const QString code = hidCodeOf(name.toUpper());
        if (!code.isEmpty())
            actions.append({QLatin1String(type), code});
    };
    for (const QString& item : text.split(QLatin1Char(')'), Qt::SkipEmptyParts)) {
        const int open = item.indexOf(QLatin1Char('('));
        const QString verb = open < 0 ? item : item.left(open);
        const QString param = open < 0 ? QString() : item.mid(open + 1);
        if (verb == QStringLiteral("按下")) {
            key("down", param);
        } else if (verb == QStringLiteral("弹起")) {
            key("up", param);
        } else if (verb == QStringLiteral("延迟")) {
            actions.append({QStringLiteral("delayTime"), param.trimmed()});
        } else if (verb == QStringLiteral("按下左键")) {
            actions.append({QStringLiteral("mouseDown"), QStringLiteral("1")});
        } else if (verb == QStringLiteral("弹起左键")) {
            actions.append({QStringLiteral("mouseUp"), QStringLiteral("1")});
        } else if (verb == QStringLiteral("按下右键")) {
            actions.append({QStringLiteral("mouseDown"), QStringLiteral("2")});
        } else if (verb == QStringLiteral("弹起右键")) {
            actions.append({QStringLiteral("mouseUp"), QStringLiteral("2")});
        } else if (verb == QStringLiteral("左键单击")) {
            actions.append({QStringLiteral("mouseDown"), QStringLiteral("1")});
            actions.append({QStringLiteral("mouseUp"), QStringLiteral("1")});
        } else if (verb == QStringLiteral("右键单击")) {
            actions.append({QStringLiteral("mouseDown"), QStringLiteral("2")});
            actions.append({QStringLiteral("mouseUp"), QStringLiteral("2")});
        } else if (verb == QStringLiteral("位移")) {
            actions.append({QStringLiteral("mouseMove"), param.trimmed()});
        }
    }
    return actions;
}
