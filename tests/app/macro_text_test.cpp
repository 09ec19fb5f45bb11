// Macro text to the macro worker's actions.
#include "row_name.h"

#include "app/macro_text.h"

#include <gtest/gtest.h>

#include <ostream>

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

struct MacroCase {
    const char* name;
    const char* text;
    const char* actions;
};

void PrintTo(const MacroCase& row, std::ostream* os) { *os << row.name; }

class MacroText : public ::testing::TestWithParam<MacroCase> {};

TEST_P(MacroText, ItemsBecomeActions)
{
    EXPECT_EQ(joined(parseMacroText(QString::fromUtf8(GetParam().text), hid)), QString::fromUtf8(GetParam().actions));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MacroText,
    ::testing::Values(
        MacroCase{"KeyWithDelay", "按下(A)延迟(50)弹起(A)", "down=04 delayTime=50 up=04"},
        MacroCase{"LeftClick", "左键单击", "mouseDown=1 mouseUp=1"},
        MacroCase{"RightClickWithBrackets", "右键单击()", "mouseDown=2 mouseUp=2"},
        MacroCase{"ButtonsPressedAndReleased", "按下左键()弹起左键()按下右键(x)弹起右键",
                  "mouseDown=1 mouseUp=1 mouseDown=2 mouseUp=2"},
        MacroCase{"DelayWithBlanks", "延迟( 100 )", "delayTime=100"},
        MacroCase{"Move", "位移(300,200)", "mouseMove=300,200"},
        MacroCase{"MoveWithBlanks", "位移( 300,200 )", "mouseMove=300,200"},
        // Key names are looked up in upper case, not trimmed; a name without a code gives nothing.
        MacroCase{"KeyNames", "按下(ENTER)按下( A)按下(a)弹起(Enter)", "down=28 down=04 up=28"},
        MacroCase{"KeysWithoutACode", "按下(Q)弹起()延迟(5)", "delayTime=5"},
        // A space before a verb, an unknown verb or a missing bracket part give nothing.
        MacroCase{"SpaceBeforeAVerb", "按下(A) 弹起(A)", "down=04"},
        MacroCase{"UnknownVerb", "点击(A)()))", ""}, MacroCase{"Empty", "", ""},
        MacroCase{"NoClosingBracket", "弹起(A", "up=04"},
        MacroCase{"BracketInADelay", "延迟(1(2)", "delayTime=1(2"}),
    test_support::RowName());

} // namespace
