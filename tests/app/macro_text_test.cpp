// Macro text to the macro worker's actions.
#include "app/macro_text.h"

#include <gtest/gtest.h>

namespace {

QString hid(const QString& key)
{
    if (key == "A")
        return "04";
    if (key == "ENTER")
        return "28";
    return QString();
}

QString joined(const QList<MacroAction>& actions)
{
    QStringList out;
    for (const MacroAction& a : actions)
        out << a.first + "=" + a.second;
    return out.join(' ');
}

TEST(MacroText, ItemsBecomeActions)
{
    struct Case {
        const char* text;
        const char* actions;
    } cases[] = {
        {"按下(A)延迟(50)弹起(A)", "down=04 delayTime=50 up=04"},
        {"左键单击", "mouseDown=1 mouseUp=1"},
        {"右键单击()", "mouseDown=2 mouseUp=2"},
        {"按下左键()弹起左键()按下右键(x)弹起右键", "mouseDown=1 mouseUp=1 mouseDown=2 mouseUp=2"},
        {"延迟( 100 )", "delayTime=100"},
        {"位移(300,200)", "mouseMove=300,200"},
        {"位移( 300,200 )", "mouseMove=300,200"},
        // Key names are looked up in upper case, not trimmed; a name without a code gives nothing.
        {"按下(ENTER)按下( A)按下(a)弹起(Enter)", "down=28 down=04 up=28"},
        {"按下(Q)弹起()延迟(5)", "delayTime=5"},
        // A space before a verb, an unknown verb or a missing bracket part give nothing.
        {"按下(A) 弹起(A)", "down=04"},
        {"点击(A)()))", ""},
        {"", ""},
        {"弹起(A", "up=04"},
        {"延迟(1(2)", "delayTime=1(2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(joined(parseMacroText(QString::fromUtf8(c.text), hid)), QString::fromUtf8(c.actions)) << c.text;
}

} // namespace
