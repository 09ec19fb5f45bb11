// Built-in driver descriptions and the property byte strings built from page tasks.
#include "device_data_fixture.h"
#include "row_name.h"
#include "test_files.h"

#include <pugixml.hpp>

#include <QTemporaryDir>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

// ---- the built-in descriptions ----

struct Description {
    pugi::xml_document doc;
    bool ok = false;
    explicit Description(const QString& resource)
    {
        device_data_handler registersResources;
        const QByteArray text = test_support::readFile(resource);
        ok = !text.isEmpty() && static_cast<bool>(doc.load_buffer(text.constData(), size_t(text.size())));
    }
    pugi::xml_node root() const { return doc.document_element(); }
    std::vector<pugi::xml_node> rows() const
    {
        std::vector<pugi::xml_node> out;
        for (pugi::xml_node k : root().children("Key"))
            out.push_back(k);
        return out;
    }
    pugi::xml_node task(const char* name) const { return root().find_child_by_attribute("Key", "Task", name); }
    std::string code(const char* name) const { return task(name).attribute("Code").value(); }
    // The rows from "A" (vkCode 65) to the end.
    std::vector<pugi::xml_node> keyRows() const
    {
        std::vector<pugi::xml_node> out;
        for (pugi::xml_node k = root().find_child_by_attribute("Key", "vkCode", "65"); k; k = k.next_sibling())
            out.push_back(k);
        return out;
    }
};

const char* const kKeyOrder[] = {
    "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T", "U", "V",
    "W", "X", "Y", "Z", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "Num Lock", "Num /", "Num *", "Num -",
    "Num +", "Num Enter", "Num .", "Num 0", "Num 1", "Num 2", "Num 3", "Num 4", "Num 5", "Num 6", "Num 7", "Num 8",
    "Num 9", "Esc", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12", "`", "-", "=",
    "Backspace", "[", "]", "\\", ";", "'", "Enter", ",", ".", "/", "Tab", "CapsLock", "Left Shift", "Right Shift",
    "Left Ctrl", "Right Ctrl", "Left Alt", "Right Alt", "Left Windows", "Right Windows", "Application", "Space",
    "Print Screen", "Scroll Lock", "Pause", "Insert", "Home", "Page Up", "Delete", "End", "Page Down", "Up",
    "Down", "Left", "Right", "Ctrl", "Shift", "Alt", "Win"};

TEST(DriverDescriptions, RootsAndRowCounts)
{
    const Description m(":/drive/M1.0"), k(":/drive/K1.0"), m2(":/drive/M2.0");
    ASSERT_TRUE(m.ok);
    ASSERT_TRUE(k.ok);
    ASSERT_TRUE(m2.ok);
    EXPECT_STREQ(m.root().name(), "Driver");
    EXPECT_STREQ(m.root().attribute("Version").value(), "M1.0");
    EXPECT_STREQ(m.root().attribute("Name").value(), "鼠标按键驱动1.0");
    EXPECT_STREQ(k.root().attribute("Version").value(), "K1.0");
    EXPECT_STREQ(k.root().attribute("Name").value(), "键盘按键驱动1.0");
    EXPECT_STREQ(m2.root().attribute("Version").value(), "M1.0");
    EXPECT_EQ(m.rows().size(), 275u);
    EXPECT_EQ(k.rows().size(), 310u);
}

TEST(DriverDescriptions, KeyRowsInLedOrder)
{
    const Description m(":/drive/M1.0"), k(":/drive/K1.0");
    const auto mk = m.keyRows(), kk = k.keyRows();
    ASSERT_EQ(mk.size(), 108u);
    ASSERT_EQ(kk.size(), 108u);
    for (size_t i = 0; i < 108; ++i) {
        SCOPED_TRACE(kKeyOrder[i]);
        EXPECT_STREQ(mk[i].attribute("Task").value(), kKeyOrder[i]);
        EXPECT_STREQ(mk[i].attribute("Name").value(), kKeyOrder[i]);
        for (const char* a : {"Name", "Task", "Code", "vkCode", "ScanCode", "flag", "Value"})
            EXPECT_STREQ(mk[i].attribute(a).value(), kk[i].attribute(a).value()) << a;
    }
}

struct KeyUsage {
    const char* name;
    const char* task;
    const char* code;
};

void PrintTo(const KeyUsage& row, std::ostream* os) { *os << row.name; }

class KeyUsages : public ::testing::TestWithParam<KeyUsage> {};

TEST_P(KeyUsages, KeyRowsCarryTheirUsage)
{
    const Description m(":/drive/M1.0");
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.code(GetParam().task), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyUsages,
    ::testing::Values(KeyUsage{"A", "A", "04"}, KeyUsage{"Z", "Z", "1D"}, KeyUsage{"Digit1", "1", "1E"},
                      KeyUsage{"Digit0", "0", "27"}, KeyUsage{"NumLock", "Num Lock", "53"},
                      KeyUsage{"NumDot", "Num .", "63"}, KeyUsage{"Num0", "Num 0", "62"}, KeyUsage{"Num1", "Num 1", "59"},
                      KeyUsage{"Esc", "Esc", "29"}, KeyUsage{"F1", "F1", "3A"}, KeyUsage{"F12", "F12", "45"},
                      KeyUsage{"Minus", "-", "56"}, KeyUsage{"Enter", "Enter", "58"},
                      KeyUsage{"PageUp", "Page Up", "61"}, KeyUsage{"PageDown", "Page Down", "5B"},
                      KeyUsage{"LeftCtrl", "Left Ctrl", "E0"}, KeyUsage{"LeftShift", "Left Shift", "E1"},
                      KeyUsage{"LeftAlt", "Left Alt", "E2"}, KeyUsage{"LeftWindows", "Left Windows", "E3"},
                      KeyUsage{"RightCtrl", "Right Ctrl", "E4"}, KeyUsage{"RightWindows", "Right Windows", "E7"},
                      KeyUsage{"Space", "Space", "2C"}, KeyUsage{"Backslash", "\\", "31"}, KeyUsage{"Up", "Up", "52"},
                      KeyUsage{"Ctrl", "Ctrl", "1"}, KeyUsage{"Shift", "Shift", "2"}, KeyUsage{"Alt", "Alt", "4"},
                      KeyUsage{"Win", "Win", "8"}),
    test_support::RowName());

TEST(DriverDescriptions, AreasAndMacroSlots)
{
    const Description m(":/drive/M1.0"), k(":/drive/K1.0");
    const char* mModes[] = {"0x106", "0x232", "0x35E", "0x48A", "0x5B6", "0x6E2"};
    const char* kModes[] = {"0x94", "0x382", "0x670", "0x95E", "0xC4C", "0xF3A"};
    for (int i = 0; i < 6; ++i) {
        const std::string t = "mode" + std::to_string(i);
        EXPECT_EQ(m.code(t.c_str()), mModes[i]);
        EXPECT_EQ(k.code(t.c_str()), kModes[i]);
        EXPECT_STREQ(m.task(t.c_str()).attribute("Length").value(), "300");
        EXPECT_EQ(m.task(t.c_str()).attribute("Index").as_int(-1), i);
    }
    struct {
        const Description* d;
        int first, slotCount;
    } macros[] = {{&m, 0xA00, 30}, {&k, 0x1250, 10}};
    for (const auto& c : macros) {
        EXPECT_EQ(c.d->task("MacroData").attribute("Length").as_int(), c.slotCount);
        EXPECT_EQ(std::stoi(c.d->code("MacroData"), nullptr, 16), c.first);
        for (int i = 0; i < c.slotCount; ++i) {
            const std::string t = "Macro" + std::to_string(i);
            const pugi::xml_node row = c.d->task(t.c_str());
            ASSERT_TRUE(row) << t;
            EXPECT_EQ(std::string(row.attribute("Code").value()).substr(0, 2), "0x");
            EXPECT_EQ(std::stoi(row.attribute("Code").value(), nullptr, 16), c.first + 200 * i) << t;
            EXPECT_EQ(row.attribute("Index").as_int(-1), i);
            EXPECT_EQ(row.attribute("Length").as_int(), 200);
        }
        EXPECT_FALSE(c.d->task(("Macro" + std::to_string(c.slotCount)).c_str()));
    }
    EXPECT_EQ(m.code("Macro29"), "0x20A8");
    EXPECT_EQ(k.code("Macro9"), "0x1958");
}

TEST(DriverDescriptions, FunctionAndTemplateRows)
{
    const Description m(":/drive/M1.0"), k(":/drive/K1.0");
    for (const Description* d : {&m, &k}) {
        EXPECT_EQ(d->code("LeftClick"), "0x01,0x01,0x00,0x00");
        EXPECT_EQ(d->code("ScrollUp"), "0x01,0x12,0x00,0x00");
        EXPECT_EQ(d->code("ScrollDown"), "0x01,0x11,0x00,0x00");
        EXPECT_EQ(d->code("ReportrateDown"), "0x01,0x2A,0x00,0x00");
        EXPECT_EQ(d->code("LiftDown"), "0x01,0x31,0x00,0x00");
        EXPECT_EQ(d->code("ResetToDefaults"), "0x07,0x02,0x00,0x00");
        EXPECT_EQ(d->code("MediaPlayer"), "0x03,0x00,0x83,0x01");
        EXPECT_EQ(d->code("Mute"), "0x03,0x00,0xE2,0x00");
        EXPECT_EQ(d->code("HotKey"), "0x02,{0},{1},{2}");
        EXPECT_EQ(d->code("GLeft"), "0x81");
        EXPECT_EQ(d->code("GMiddle"), "0x84");
        EXPECT_EQ(d->code("左键"), "0x81");
        EXPECT_EQ(d->code("右键"), "0x82");
        EXPECT_STREQ(d->task("左键").attribute("name").value(), "左键");
    }
    EXPECT_TRUE(k.task("repeatKey"));
    EXPECT_FALSE(m.task("repeatKey"));
    EXPECT_EQ(k.code("KeyboardKey"), "Code");
    EXPECT_TRUE(m.task("mouseLeft").attribute("Value"));
    EXPECT_FALSE(m.task("mouseLeft").attribute("Code"));
    // Keyboard key buttons.
    EXPECT_EQ(k.task("Button0").attribute("Index").as_int(), 44);
    EXPECT_EQ(k.task("Button103").attribute("Index").as_int(), 147);
    EXPECT_EQ(k.task("Button104").attribute("Index").as_int(), 174);
    EXPECT_EQ(k.task("Button123").attribute("Index").as_int(), 193);
    EXPECT_STREQ(k.task("Button123").attribute("Name").value(), "G20");
    EXPECT_FALSE(k.task("pButtonData").attribute("Index"));
}

struct PropertyRow {
    std::string task, index, length;
};

// prefix0, prefix1, ... with consecutive indexes from firstIndex.
std::vector<PropertyRow> series(const char* prefix, int count, int firstIndex, int length)
{
    std::vector<PropertyRow> out;
    for (int i = 0; i < count; ++i)
        out.push_back({std::string(prefix) + std::to_string(i), std::to_string(firstIndex + i), std::to_string(length)});
    return out;
}

// The leading property rows of a description, in document order.
std::vector<PropertyRow> leadingRows(const Description& d, size_t n)
{
    std::vector<PropertyRow> out;
    for (const pugi::xml_node& k : d.rows()) {
        if (out.size() == n)
            break;
        out.push_back({k.attribute("Task").value(), k.attribute("Index").value(), k.attribute("Length").value()});
    }
    return out;
}

void expectRows(const std::vector<PropertyRow>& actual, const std::vector<PropertyRow>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].task);
        EXPECT_EQ(actual[i].task, expected[i].task);
        EXPECT_EQ(actual[i].index, expected[i].index);
        EXPECT_EQ(actual[i].length, expected[i].length);
    }
}

TEST(DriverDescriptions, PropertyRowsWithTheirIndexAndLength)
{
    auto append = [](std::vector<PropertyRow>& to, const std::vector<PropertyRow>& rows) {
        to.insert(to.end(), rows.begin(), rows.end());
    };

    std::vector<PropertyRow> mouse = {{"deviceId", "1", "73"},  {"pid", "2", "4"},        {"mode", "3", "1"},
                                      {"modeIndex", "4", "1"},  {"checkCode", "5", "2"},  {"gFlag", "6", "1"},
                                      {"gDpidata", "7", "83"},  {"gDpicount", "8", "1"},  {"gDpicurrent", "9", "1"},
                                      {"gDpisensor", "10", "1"}};
    append(mouse, series("gDpi", 10, 11, 8));
    append(mouse, {{"greportrate", "21", "1"}, {"gwheelSpeed", "22", "1"}, {"gLights", "23", "10"},
                   {"gJitters", "24", "10"},   {"gVoices", "25", "10"},     {"empty", "26", "10"},
                   {"pReportrate", "40", "1"}, {"pWheelSpeed", "41", "1"},  {"pLights", "42", "10"},
                   {"pJitters", "43", "10"},   {"pVoices", "44", "10"},     {"empty", "45", "10"},
                   {"pDpiData", "46", "83"},   {"pDpiCount", "47", "1"},    {"pDpiCurrent", "48", "1"},
                   {"pDpiSensor", "49", "1"}});
    append(mouse, series("pDpi", 10, 50, 8));
    append(mouse, {{"pButtonData", "60", "120"}});
    append(mouse, series("pButton", 30, 61, 4));
    ASSERT_EQ(mouse.size(), 77u);
    const Description m(":/drive/M1.0");
    expectRows(leadingRows(m, mouse.size()), mouse);

    std::vector<PropertyRow> keyboard = {{"deviceId", "1", "73"}, {"pid", "2", "4"},       {"mode", "3", "1"},
                                         {"modeIndex", "4", "1"}, {"checkCode", "5", "2"}, {"gFlag", "6", "1"},
                                         {"Lights", "21", "11"},  {"KeyLights", "43", "18"}, {"pButtonData", "", "120"}};
    append(keyboard, series("Button", 104, 44, 4));
    std::vector<PropertyRow> gButtons = series("Button", 124, 0, 4);
    for (int i = 104; i < 124; ++i)
        keyboard.push_back({gButtons[size_t(i)].task, std::to_string(174 + i - 104), "4"});
    ASSERT_EQ(keyboard.size(), 133u);
    const Description k(":/drive/K1.0");
    expectRows(leadingRows(k, keyboard.size()), keyboard);
    EXPECT_STREQ(k.task("Button0").attribute("Name").value(), "A");
    EXPECT_STREQ(k.task("Button103").attribute("Name").value(), "Led");
    EXPECT_STREQ(k.task("Button104").attribute("Name").value(), "G1");
}

// A code's tokens compared by value: the writer reads them as hexadecimal either way.
std::vector<long> codeBytes(const std::string& code)
{
    std::vector<long> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = code.find(',', start);
        out.push_back(std::strtol(code.substr(start, comma - start).c_str(), nullptr, 16));
        if (comma == std::string::npos)
            return out;
        start = comma + 1;
    }
}

struct FunctionCode {
    const char* name; // the row's Task as well
    int value;
};

void PrintTo(const FunctionCode& row, std::ostream* os) { *os << row.name; }

class FunctionCodes : public ::testing::TestWithParam<FunctionCode> {};

TEST_P(FunctionCodes, EveryFunctionCode)
{
    const Description m(":/drive/M1.0"), k(":/drive/K1.0");
    for (const Description* d : {&m, &k}) {
        SCOPED_TRACE(d->root().attribute("Version").value());
        EXPECT_EQ(codeBytes(d->code(GetParam().name)), (std::vector<long>{1, GetParam().value, 0, 0}));
        EXPECT_STREQ(d->task(GetParam().name).attribute("Length").value(), "4");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Functions, FunctionCodes,
    ::testing::Values(FunctionCode{"LeftClick", 0x01}, FunctionCode{"RightClick", 0x02},
                      FunctionCode{"MiddleClick", 0x04}, FunctionCode{"Back", 0x08}, FunctionCode{"Forward", 0x10},
                      FunctionCode{"ScrollUp", 0x12}, FunctionCode{"ScrollDown", 0x11},
                      FunctionCode{"ScrollLeft", 0x13}, FunctionCode{"ScrollRight", 0x14},
                      FunctionCode{"DpiCycling", 0x20}, FunctionCode{"DpiUp", 0x21}, FunctionCode{"DpiDown", 0x22},
                      FunctionCode{"DpiPosition", 0x23}, FunctionCode{"LockX", 0x24}, FunctionCode{"LockY", 0x25},
                      FunctionCode{"ModeShift", 0x26}, FunctionCode{"ModeDown", 0x27}, FunctionCode{"ModeUp", 0x28},
                      FunctionCode{"ReportrateUp", 0x29}, FunctionCode{"ReportrateDown", 0x2A},
                      FunctionCode{"LiftUp", 0x30}, FunctionCode{"LiftDown", 0x31}),
    test_support::RowName());

class MediaCodes : public ::testing::TestWithParam<FunctionCode> {};

TEST_P(MediaCodes, EveryMultimediaCode)
{
    const Description m(":/drive/M1.0"), k(":/drive/K1.0");
    const int usage = GetParam().value;
    for (const Description* d : {&m, &k}) {
        SCOPED_TRACE(d->root().attribute("Version").value());
        EXPECT_EQ(codeBytes(d->code(GetParam().name)), (std::vector<long>{3, 0, usage & 0xFF, usage >> 8}));
    }
}

INSTANTIATE_TEST_SUITE_P(Media, MediaCodes,
                         ::testing::Values(FunctionCode{"MediaPlayer", 0x183}, FunctionCode{"PlayPause", 0xCD},
                                           FunctionCode{"Stop", 0xB7}, FunctionCode{"PreTrack", 0xB6},
                                           FunctionCode{"NextTrack", 0xB5}, FunctionCode{"VolumeUp", 0xE9},
                                           FunctionCode{"VolumeDown", 0xEA}, FunctionCode{"Mute", 0xE2}),
                         test_support::RowName());

TEST(DriverDescriptions, TheOtherFunctionAndTemplateCodes)
{
    const Description m(":/drive/M1.0"), k(":/drive/K1.0");
    for (const Description* d : {&m, &k}) {
        SCOPED_TRACE(d->root().attribute("Version").value());
        EXPECT_EQ(codeBytes(d->code("SwitchLight")), (std::vector<long>{7, 1, 0, 0}));
        EXPECT_EQ(codeBytes(d->code("ResetToDefaults")), (std::vector<long>{7, 2, 0, 0}));
        EXPECT_EQ(d->code("Macro"), "0x04,{0},{1},{2}");
        EXPECT_EQ(d->code("GKey"), "0x05,{0},{1},{2}");
        EXPECT_EQ(d->code("GRight"), "0x82");
        for (const char* t : {"mouseDownMacro", "mouseUpMacro", "down", "up", "mousedown", "mouseup", "Keydown",
                              "Keyup", "delayTime", "light"})
            EXPECT_TRUE(d->task(t)) << t;
    }
}

TEST(DriverDescriptions, TheUnloadedMouseVariant)
{
    const Description m2(":/drive/M2.0");
    EXPECT_EQ(m2.code("ScrollUp"), "0x01,0x11,0x00,0x00");
    EXPECT_EQ(m2.code("ScrollDown"), "0x01,0x12,0x00,0x00");
    EXPECT_EQ(m2.task("macroData").attribute("Length").as_int(), 6000);
    EXPECT_EQ(m2.code("macro0"), "0xA00");
    EXPECT_FALSE(m2.task("MacroData"));
    EXPECT_FALSE(m2.task("Macro0"));
    EXPECT_FALSE(m2.task("左键"));
    EXPECT_FALSE(m2.task("右键"));
    EXPECT_FALSE(m2.task("GLeft"));
    const pugi::xml_node repeat = m2.task("repeatKey");
    ASSERT_TRUE(repeat);
    EXPECT_STREQ(repeat.find_child_by_attribute("repeatKey", "Task", "GRight").attribute("Code").value(), "0x82");
    EXPECT_EQ(m2.keyRows().size(), 108u);
}

// ---- lookups and builders ----

TEST_F(DeviceDataTest, CodeAndLengthLookups)
{
    useDriver("M1.0");
    EXPECT_EQ(handler->codeOfTask("Ctrl"), "E0");
    EXPECT_EQ(handler->codeOfTask("Shift"), "E1");
    EXPECT_EQ(handler->codeOfTask("Alt"), "E2");
    EXPECT_EQ(handler->codeOfTask("Win"), "E3");
    EXPECT_EQ(handler->codeOfTask("\\"), "31");
    EXPECT_EQ(handler->codeOfTask("'"), "34");
    EXPECT_EQ(handler->codeOfTask("左键"), "0x81");
    EXPECT_EQ(handler->codeOfTask("leftclick"), "");
    EXPECT_EQ(handler->codeOfTask(""), "");
    // Index when the text holds a digit, else Task; the first row in document order wins.
    EXPECT_EQ(handler->lengthOfKey("1"), "73");
    EXPECT_EQ(handler->lengthOfKey("0"), "300");
    EXPECT_EQ(handler->lengthOfKey("61"), "4");
    EXPECT_EQ(handler->lengthOfKey("60"), "120");
    EXPECT_EQ(handler->lengthOfKey("pDpi0"), "");
    EXPECT_EQ(handler->lengthOfKey("MacroData"), "30");
    useDriver("K1.0");
    EXPECT_EQ(handler->lengthOfKey("MacroData"), "10");
    EXPECT_EQ(handler->lengthOfKey("pButtonData"), "120");
    EXPECT_EQ(handler->lengthOfKey("21"), "11");
    EXPECT_EQ(handler->codeOfTask("Macro9"), "0x1958");
}

struct QueryText {
    const char* name;
    QString text;
};

void PrintTo(const QueryText& row, std::ostream* os) { *os << row.name; }

class QueryTexts : public DeviceDataTest, public ::testing::WithParamInterface<QueryText> {};

TEST_P(QueryTexts, QuotesAndQuerySyntaxInTextsFindNoRow)
{
    useDriver("M1.0");
    const QString& t = GetParam().text;
    EXPECT_EQ(handler->codeOfTask(t), "");
    EXPECT_EQ(handler->lengthOfKey(t), "");
    EXPECT_EQ(handler->lengthOfKey(t + "1"), "");
    for (const char* type : {"MouseFunction", "HotKey", "Keyborad", "Macro", "GKey", "MultiMedia", "DPI", "x"}) {
        SCOPED_TRACE(type);
        handler->buildTaskData(type, t, t);
        EXPECT_FALSE(handler->writeDeviceTask("M1.0", "M1.0", t, t, type, t));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QueryTexts,
    ::testing::Values(QueryText{"Quote", "\""}, QueryText{"ApostropheAndQuote", "'\""},
                      QueryText{"TrailingQuote", "LeftClick\""},
                      QueryText{"QueryUnion", "\"]|/Driver/Key[@Task=\"LeftClick"},
                      QueryText{"QueryOfAnyElement", "A\"] | //*[\""}, QueryText{"ApostropheClosingAQuery", "A')]"},
                      QueryText{"OpeningBracket", "[\""}, QueryText{"ClosingBrackets", "]]"},
                      QueryText{"Variable", "$v"}, QueryText{"EscapedQuote", "\\\""},
                      QueryText{"QuoteInside", "Left\"Click"}, QueryText{"ControlCharacter", "\x01"},
                      QueryText{"TrailingNul", QStringLiteral("LeftClick") + QChar(0)},
                      QueryText{"NulInsideAnIndex", QStringLiteral("6") + QChar(0) + "1"}),
    test_support::RowName());

// A quoted name finds no row on a valid index either: nothing, not another row's code.
TEST_F(DeviceDataTest, AQuotedNameOnAValidIndexWritesNothing)
{
    useDriver("M1.0");
    setProp(kMouseId, 61, hexBytes("01 21 00 00"));
    EXPECT_FALSE(handler->writeDeviceTask("M1.0", "M1.0", "61", "LeftClick\"", "MouseFunction", "1"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("01 21 00 00"));
}

struct ByteList {
    const char* name;
    int value;
    QStringList tokens;
};

void PrintTo(const ByteList& row, std::ostream* os) { *os << row.name; }

class DeviceDataByteLists : public ::testing::TestWithParam<ByteList> {};

TEST_P(DeviceDataByteLists, ToByteList)
{
    EXPECT_EQ(device_data_handler::toByteList(GetParam().value), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DeviceDataByteLists,
    ::testing::Values(ByteList{"Zero", 0, {"0", "0x00"}}, ByteList{"Sixteen", 16, {"10", "0x00"}},
                      ByteList{"Hundred", 100, {"64", "0x00"}}, ByteList{"LargestLowByte", 255, {"ff", "0x00"}},
                      ByteList{"SmallestHighByte", 256, {"00", "1"}}, ByteList{"HighAndLow", 261, {"05", "1"}},
                      ByteList{"FiveHundred", 500, {"f4", "1"}}, ByteList{"FiveThousand", 5000, {"88", "13"}},
                      ByteList{"Largest", 0xFFFF, {"ff", "ff"}}, ByteList{"PastTwoBytes", 0x10000, {}},
                      ByteList{"Negative", -1, {}}),
    test_support::RowName());

TEST(DeviceDataBuilders, HotkeyGkeyDpiAndPadding)
{
    EXPECT_EQ(device_data_handler::hotkeyData("04"), "0x02,0x00,04,0x00");
    EXPECT_EQ(device_data_handler::hotkeyData("E0,06"), "0x02,E0,06,0x00");
    EXPECT_EQ(device_data_handler::hotkeyData("E0,E1,04,05"), "0x02,E0,E1,04");
    EXPECT_EQ(device_data_handler::hotkeyData(",,"), "0x02,0x00,0x00,0x00");
    EXPECT_EQ(device_data_handler::gkeyData("0x81", "10", "50"), "0x05,0x81,a,32");
    EXPECT_EQ(device_data_handler::dpiData("1", "1600", "800"), "1,20,0x00,20,0x00,0x00,0x00,0x00");
    EXPECT_EQ(device_data_handler::dpiData("0", "1600", "800"), "0,20,0x00,10,0x00,0x00,0x00,0x00");
    EXPECT_EQ(device_data_handler::dpiData("1", "12000", "400"), "1,f0,0x00,f0,0x00,0x00,0x00,0x00");
    EXPECT_EQ(device_data_handler::dpiData("0", "3300000", "400"), "");
    EXPECT_EQ(device_data_handler::padTokens({"1"}, 3), (QStringList{"1", "0x00", "0x00"}));
    EXPECT_EQ(device_data_handler::padTokens({"1", "2", "3"}, 2), (QStringList{"1", "2", "3"}));
}

TEST(DeviceDataBuilders, FindConfigFileMatchesTheSecondKeyValue)
{
    const QMap<QString, QString> files{
        {"a.xml", "<Configuration><Conf><Key Index=\"2\" Value=\"other\"/></Conf></Configuration>"},
        {"b.xml", "not xml"},
        {"c.xml", "<Configuration><Conf><Key Index=\"1\" Value=\"mine\"/><Key Index=\"2\" Value=\"mine\"/>"
                  "</Conf></Configuration>"},
        {"d.xml", "<Configuration><Conf><Key Index=\"2\" Value=\"mine\"/></Conf></Configuration>"}};
    EXPECT_EQ(device_data_handler::findConfigFile("mine", files), files.value("c.xml"));
    EXPECT_EQ(device_data_handler::findConfigFile("none", files), "");
    EXPECT_EQ(device_data_handler::findConfigFile("\"", files), "");
}

// ---- writeDeviceTask against the simulated devices ----

// The device a task is written to: its version as the pages name it and its simulated id.
struct TaskDevice {
    const char* version;
    const char* id;
};

const TaskDevice kMouse{"M1.0", kMouseId}, kKeyboard{"K1.0", kKeyboardId};

struct TaskCase {
    const char* name;
    TaskDevice device;
    const char* driver;
    int index;
    const char* type;
    const char* task;
    std::optional<const char*> bytes; // nothing: refused, the property keeps its value
};

void PrintTo(const TaskCase& row, std::ostream* os) { *os << row.name; }

class TaskBytes : public DeviceDataTest, public ::testing::WithParamInterface<TaskCase> {};

TEST_P(TaskBytes, TasksToPropertyBytes)
{
    const TaskCase& c = GetParam();
    const char* id = c.device.id;
    const QByteArray sentinel = hexBytes("aa bb cc dd");
    vqsim().setProp(id, c.index, reinterpret_cast<const uint8_t*>(sentinel.constData()), sentinel.size());
    const bool ok = handler->writeDeviceTask(c.device.version, c.driver, QString::number(c.index),
                                             QString::fromUtf8(c.task), c.type, "1");
    uint8_t buf[VQ_BLOCK_SIZE] = {};
    const int n = vqsim().getProp(id, c.index, buf, sizeof buf);
    const QByteArray after(reinterpret_cast<const char*>(buf), n < 0 ? 0 : n);
    if (c.bytes) {
        EXPECT_TRUE(ok);
        EXPECT_EQ(after.toHex(' '), hexBytes(*c.bytes).toHex(' '));
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(after, sentinel);
    }
}

INSTANTIATE_TEST_SUITE_P(MouseTasks, TaskBytes, ::testing::Values(
    TaskCase{"DpiUp", kMouse, "M1.0", 61, "MouseFunction", "DpiUp", "01 21 00 00"},
    TaskCase{"ScrollUp", kMouse, "M1.0", 62, "MouseFunction", "ScrollUp", "01 12 00 00"},
    TaskCase{"SwitchLight", kMouse, "M1.0", 63, "MouseFunction", "SwitchLight", "07 01 00 00"},
    TaskCase{"MediaPlayer", kMouse, "M1.0", 64, "MouseFunction", "MediaPlayer", "03 00 83 01"},
    TaskCase{"UnknownFunction", kMouse, "M1.0", 65, "MouseFunction", "NoSuchRow", std::nullopt},
    TaskCase{"EmptyFunction", kMouse, "M1.0", 65, "MouseFunction", "", std::nullopt},
    // One token for four bytes.
    TaskCase{"KeyAsFunction", kMouse, "M1.0", 65, "MouseFunction", "A", std::nullopt},
    TaskCase{"HotKeyOneKey", kMouse, "M1.0", 61, "HotKey", "A", "02 00 04 00"},
    TaskCase{"HotKeyCtrlC", kMouse, "M1.0", 61, "HotKey", "Ctrl+C", "02 E0 06 00"},
    TaskCase{"HotKeyTwoModifiers", kMouse, "M1.0", 61, "HotKey", "Ctrl+Shift+A", "02 E0 E1 04"},
    TaskCase{"HotKeyFourKeysKeepThree", kMouse, "M1.0", 61, "HotKey", "Ctrl+Shift+Alt+A", "02 E0 E1 E2"},
    TaskCase{"HotKeyAltTab", kMouse, "M1.0", 61, "HotKey", "Alt+Tab", "02 E2 2B 00"},
    TaskCase{"KeyboardWinD", kMouse, "M1.0", 61, "Keyborad", "Win+D", "02 E3 07 00"},
    TaskCase{"HotKeyUnknownModifier", kMouse, "M1.0", 61, "HotKey", "Nope+Page Up", "02 00 61 00"},
    TaskCase{"HotKeyPlusAsKey", kMouse, "M1.0", 61, "HotKey", "Num 5++", "02 00 5D 00"},
    TaskCase{"MediaWithPrefixes", kMouse, "M1.0", 66, "MultiMedia", "0x03,0x00,0xCD,0x00", "03 00 CD 00"},
    TaskCase{"MediaWithoutPrefixes", kMouse, "M1.0", 66, "MultiMedia", "3,0,e9,0", "03 00 E9 00"},
    TaskCase{"MediaThreeTokens", kMouse, "M1.0", 66, "MultiMedia", "0x03,0x00,0xCD", std::nullopt},
    TaskCase{"MediaEmpty", kMouse, "M1.0", 66, "MultiMedia", "", std::nullopt},
    TaskCase{"GKeyLeft", kMouse, "M1.0", 67, "GKey", "GLeft|10|50", "05 81 0a 32"},
    TaskCase{"GKeyMiddle", kMouse, "M1.0", 67, "GKey", "GMiddle|255|1", "05 84 ff 01"},
    TaskCase{"GKeyRight", kMouse, "M1.0", 67, "GKey", "GRight|0|0", "05 82 00 00"},
    TaskCase{"GKeyNegativeSpeed", kMouse, "M1.0", 67, "GKey", "GLeft|-1|5", std::nullopt},
    TaskCase{"GKeyDelayPastAByte", kMouse, "M1.0", 67, "GKey", "GLeft|5|256", std::nullopt},
    TaskCase{"GKeyLetterSpeed", kMouse, "M1.0", 67, "GKey", "GLeft|x|5", std::nullopt},
    TaskCase{"GKeyHexadecimalDelay", kMouse, "M1.0", 67, "GKey", "GLeft|5|0x10", std::nullopt},
    TaskCase{"GKeyUnknownButton", kMouse, "M1.0", 67, "GKey", "Nope|1|1", std::nullopt},
    TaskCase{"GKeyTwoParts", kMouse, "M1.0", 67, "GKey", "GLeft|10", std::nullopt},
    TaskCase{"GKeyEmptyParts", kMouse, "M1.0", 67, "GKey", "|GLeft||10|", std::nullopt},
    TaskCase{"GKeyEmpty", kMouse, "M1.0", 67, "GKey", "", std::nullopt},
    TaskCase{"DpiLinked", kMouse, "M1.0", 50, "DPI", "1|1600|800", "01 20 00 20 00 00 00 00"},
    TaskCase{"DpiSeparate", kMouse, "M1.0", 50, "DPI", "0|1600|800", "00 20 00 10 00 00 00 00"},
    TaskCase{"DpiHigh", kMouse, "M1.0", 51, "DPI", "1|12000|400", "01 f0 00 f0 00 00 00 00"},
    TaskCase{"DpiOtherMode", kMouse, "M1.0", 52, "DPI", "2|5000|64000", "02 64 00 00 05 00 00 00"},
    TaskCase{"DpiModeSeven", kMouse, "M1.0", 53, "DPI", "7|800|800", "07 10 00 10 00 00 00 00"},
    // The mode is taken as written.
    TaskCase{"DpiModeTen", kMouse, "M1.0", 53, "DPI", "10|800|800", "10 10 00 10 00 00 00 00"},
    TaskCase{"DpiLetterMode", kMouse, "M1.0", 53, "DPI", "a|800|800", std::nullopt},
    TaskCase{"DpiHexadecimalMode", kMouse, "M1.0", 53, "DPI", "0x1|800|800", std::nullopt},
    TaskCase{"DpiNegativeMode", kMouse, "M1.0", 53, "DPI", "-1|800|800", std::nullopt},
    // Does not fit the byte.
    TaskCase{"DpiModePastAByte", kMouse, "M1.0", 53, "DPI", "100|800|800", std::nullopt},
    TaskCase{"DpiLetterX", kMouse, "M1.0", 53, "DPI", "1|x|800", std::nullopt},
    TaskCase{"DpiLetterY", kMouse, "M1.0", 53, "DPI", "0|800|y", std::nullopt},
    TaskCase{"DpiTwoParts", kMouse, "M1.0", 53, "DPI", "1|1600", std::nullopt},
    TaskCase{"DpiTooHigh", kMouse, "M1.0", 53, "DPI", "0|4000000|800", std::nullopt},
    TaskCase{"OtherTypeZeroFills", kMouse, "M1.0", 61, "SomethingElse", "LeftClick", "00 00 00 00"},
    // No row for the index.
    TaskCase{"NoRowForTheIndex", kMouse, "M1.0", 99, "MouseFunction", "LeftClick", std::nullopt},
    // A 4-byte key button on the keyboard.
    TaskCase{"DpiOnAKeyboardButton", kMouse, "K1.0", 50, "DPI", "1|1600|800", std::nullopt},
    // Never loaded.
    TaskCase{"NeverLoadedDescription", kMouse, "X9.9", 61, "MouseFunction", "LeftClick", std::nullopt}), test_support::RowName());

INSTANTIATE_TEST_SUITE_P(KeyboardTasks, TaskBytes, ::testing::Values(
    TaskCase{"HotKeyOnAKey", kKeyboard, "K1.0", 44, "HotKey", "Ctrl+V", "02 E0 19 00"},
    TaskCase{"FunctionOnTheLedKey", kKeyboard, "K1.0", 147, "MouseFunction", "LeftClick", "01 01 00 00"},
    TaskCase{"MediaOnG1", kKeyboard, "K1.0", 174, "MultiMedia", "0x03,0x00,0xB5,0x00", "03 00 B5 00"},
    TaskCase{"GKeyOnG20", kKeyboard, "K1.0", 193, "GKey", "GRight|1|2", "05 82 01 02"},
    // Between the two button ranges.
    TaskCase{"BetweenTheButtonRanges", kKeyboard, "K1.0", 148, "HotKey", "A", std::nullopt}), test_support::RowName());

TEST_F(DeviceDataTest, ZeroFillUsesTheRowLength)
{
    // Index 1 is the 73-byte "deviceId" row, not mode1 or Macro1.
    EXPECT_TRUE(handler->writeDeviceTask("M1.0", "M1.0", "1", "", "Unknown", "1"));
    EXPECT_EQ(prop(kMouseId, 1), QByteArray(73, '\0'));
    EXPECT_TRUE(handler->writeDeviceTask("K1.0", "K1.0", "21", "", "", ""));
    EXPECT_EQ(prop(kKeyboardId, 21), QByteArray(11, '\0'));
}

TEST_F(DeviceDataTest, UnlistedDeviceOrBadDescriptionWritesNothing)
{
    EXPECT_FALSE(handler->writeDeviceTask("Z1.0", "M1.0", "61", "DpiUp", "MouseFunction", "1"));
    EXPECT_EQ(simCalls("vqWriteProp"), 0);

    QTemporaryDir dir;
    const QString broken = dir.filePath("broken.xml");
    ASSERT_TRUE(test_support::writeFile(broken, "<Driver Version=\"B1.0\"><Key Task=\"x\""));
    handler->loadDriverXml(broken);
    handler->loadDriverXml(dir.filePath("missing.xml"));
    EXPECT_FALSE(handler->writeDeviceTask("M1.0", "B1.0", "61", "DpiUp", "MouseFunction", "1"));
    EXPECT_FALSE(handler->writeDeviceTask("M1.0", "", "61", "DpiUp", "MouseFunction", "1"));
    EXPECT_EQ(simCalls("vqWriteProp"), 0);
    // The description used before is not kept as the current one.
    EXPECT_EQ(handler->codeOfTask("DpiUp"), "");
}

} // namespace
