// Macro texts to device macro records, and their storage in the device's macro slots.
#include "device_data_fixture.h"
#include "row_name.h"

#include <ostream>
#include <string>

namespace {

const int kMouseSlot0 = 0xA00;
const int kKeyboardSlot0 = 0x1250;

QByteArray slotBytes(const char* records)
{
    QByteArray b = hexBytes(records);
    b.append(QByteArray(200 - b.size(), '\0'));
    return b;
}

class DeviceMacroTest : public DeviceDataTest {
protected:
    // Occupies a mouse slot with one non-zero byte at its end.
    void occupy(const char* id, int first, int slot) { setMemory(id, first + 200 * slot + 199, "\x01"); }
    bool writeMacro(const QString& text, const QString& count = "1", int index = 61)
    {
        return handler->writeDeviceTask("M1.0", "M1.0", QString::number(index), text, "Macro", count);
    }
};

TEST_F(DeviceMacroTest, StepsParseIntoEvents)
{
    useDriver("M1.0");
    const QList<MacroEvent> events =
        handler->parseMacro(QStringLiteral(" 按下( A )弹起 (Ctrl)延迟(100)按下(左键)弹起(右键)按下A)(B)跳(A)按下(Nope)延迟()弹起(Win)"));
    QStringList seen;
    for (const MacroEvent& e : events)
        seen << e.kind + ":" + e.value;
    EXPECT_EQ(seen, (QStringList{"keyDown:04", "keyUp:E0", "delay:100", "mDown:0x81", "mUp:0x82", "keyUp:E3"}));
    EXPECT_TRUE(handler->parseMacro("按下A").isEmpty());
    EXPECT_TRUE(handler->parseMacro("(按下)(A)").isEmpty());
}

struct MacroRecords {
    const char* name;
    const char* text;
    const char* count;
    const char* records;
    const char* keyRecord;
};

void PrintTo(const MacroRecords& row, std::ostream* os) { *os << row.name; }

class DeviceMacroRecords : public DeviceMacroTest, public ::testing::WithParamInterface<MacroRecords> {};

TEST_P(DeviceMacroRecords, RecordsAndKeyRecordPerMacro)
{
    const MacroRecords& c = GetParam();
    setMemory(kMouseId, kMouseSlot0, QByteArray(200, '\0'));
    ASSERT_TRUE(writeMacro(QString::fromUtf8(c.text), c.count));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 200).toHex(' '), slotBytes(c.records).toHex(' '));
    EXPECT_EQ(prop(kMouseId, 61).toHex(' '), hexBytes(c.keyRecord).toHex(' '));
}

INSTANTIATE_TEST_SUITE_P(
    Macros, DeviceMacroRecords,
    ::testing::Values(
        MacroRecords{"KeyPress", "按下(A)弹起(A)", "1", "84 04 00 04 04 00 07 01 00", "04 00 00 09"},
        MacroRecords{"ModifierAroundKey", "按下(Ctrl)按下(V)弹起(V)弹起(Ctrl)", "1",
                     "84 E0 00 84 19 00 04 19 00 04 E0 00 07 01 00", "04 00 00 0f"},
        MacroRecords{"MouseButtonWithDelay", "按下(左键)延迟(50)弹起(左键)", "1", "81 81 00 06 32 00 01 81 00 07 01 00",
                     "04 00 00 0c"},
        MacroRecords{"RepeatedTwice", "按下(右键)弹起(右键)", "2", "81 82 00 01 82 00 07 02 00", "04 00 00 09"},
        MacroRecords{"DelayOnly", "延迟(300)", "1", "06 2C 01 07 01 00", "04 00 00 06"},
        MacroRecords{"LongAndZeroDelays", "延迟(5000)延迟(0)", "1", "06 88 13 06 00 00 07 01 00", "04 00 00 09"},
        MacroRecords{"LongestDelay", "延迟(65535)", "1", "06 ff ff 07 01 00", "04 00 00 06"},
        // The repeat count goes out as the page wrote it, read as hexadecimal by the writer.
        MacroRecords{"CountReadAsHexadecimal", "按下(Num 5)", "10", "84 5D 00 07 10 00", "04 00 00 06"}),
    test_support::RowName());

TEST_F(DeviceMacroTest, OccupiedSlotsArePassedOver)
{
    occupy(kMouseId, kMouseSlot0, 0);
    occupy(kMouseId, kMouseSlot0, 1);
    ASSERT_TRUE(writeMacro("按下(B)弹起(B)"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("04 00 02 09"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0 + 400, 200), slotBytes("84 05 00 04 05 00 07 01 00"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 199), QByteArray(199, '\0'));

    // Slots are searched from 0 every time and never freed; the slot number is hexadecimal.
    for (int s = 3; s < 10; ++s)
        occupy(kMouseId, kMouseSlot0, s);
    ASSERT_TRUE(writeMacro("按下(C)", "1", 62));
    EXPECT_EQ(prop(kMouseId, 62), hexBytes("04 00 0a 06"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0 + 2000, 6), hexBytes("84 06 00 07 01 00"));
}

TEST_F(DeviceMacroTest, AFailingSlotWriteMovesToTheNextSlot)
{
    vqsim().failNext("vqWrite");
    ASSERT_TRUE(writeMacro("按下(A)"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("04 00 01 06"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 200), QByteArray(200, '\0'));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0 + 200, 6), hexBytes("84 04 00 07 01 00"));
}

TEST_F(DeviceMacroTest, ASlotIsJudgedByTheBytesReadNotByTheReadsResult)
{
    // The read answers non-zero and leaves the zeroed block as it was: the slot reads as empty.
    vqsim().failNext("vqRead");
    ASSERT_TRUE(writeMacro("按下(A)"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("04 00 00 06"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 6), hexBytes("84 04 00 07 01 00"));
}

TEST_F(DeviceMacroTest, SlotsNoButtonNamesAreGivenBackWhenEveryOneIsTaken)
{
    for (int s = 0; s < 30; ++s)
        occupy(kMouseId, kMouseSlot0, s);
    // Macro key records name slots 5 and 0x1d; a key combination whose third byte is 7 names none.
    setProp(kMouseId, 62, hexBytes("04 00 05 09"));
    setProp(kMouseId, 90, hexBytes("04 00 1d 06"));
    setProp(kMouseId, 63, hexBytes("02 00 07 00"));
    ASSERT_TRUE(writeMacro("按下(A)弹起(A)"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("04 00 00 09"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 200), slotBytes("84 04 00 04 04 00 07 01 00"));
    for (int s = 1; s < 30; ++s) {
        SCOPED_TRACE(s);
        const QByteArray expected = (s == 5 || s == 29) ? QByteArray(199, '\0') + '\x01' : QByteArray(200, '\0');
        EXPECT_EQ(memory(kMouseId, kMouseSlot0 + 200 * s, 200), expected);
    }
    // The slots given back take the next macros.
    ASSERT_TRUE(writeMacro("按下(B)", "1", 64));
    EXPECT_EQ(prop(kMouseId, 64), hexBytes("04 00 01 06"));
}

TEST_F(DeviceMacroTest, NoSlotLeftWhenButtonsNameThemAllFailsWithNothingWritten)
{
    for (int s = 0; s < 30; ++s) {
        occupy(kMouseId, kMouseSlot0, s);
        QByteArray record = hexBytes("04 00 00 09");
        record[2] = char(s);
        setProp(kMouseId, 61 + s, record);
    }
    vqsim().clearCalls();
    EXPECT_FALSE(writeMacro("按下(A)弹起(A)", "1", 61));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("04 00 00 09"));
    EXPECT_EQ(simCalls("vqRead"), 30);
    EXPECT_EQ(simCalls("vqReadProp"), 30);
    EXPECT_EQ(simCalls("vqWrite"), 0);
    EXPECT_EQ(simCalls("vqWriteProp"), 0);
}

TEST_F(DeviceMacroTest, AButtonThatCannotBeReadKeepsEverySlot)
{
    setProp(kMouseId, 61, hexBytes("01 01 00 00"));
    for (int s = 0; s < 30; ++s)
        occupy(kMouseId, kMouseSlot0, s);
    vqsim().failNext("vqReadProp");
    EXPECT_FALSE(writeMacro("按下(A)弹起(A)"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("01 01 00 00"));
    for (int s = 0; s < 30; ++s)
        EXPECT_EQ(memory(kMouseId, kMouseSlot0 + 200 * s + 199, 1), "\x01") << s;
    EXPECT_EQ(simCalls("vqWrite"), 0);
}

TEST_F(DeviceMacroTest, EveryWriteFailingFailsWithNothingWritten)
{
    setProp(kMouseId, 61, hexBytes("01 01 00 00"));
    for (int s = 0; s < 30; ++s)
        vqsim().failNext("vqWrite");
    EXPECT_FALSE(writeMacro("按下(A)"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("01 01 00 00"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 6000), QByteArray(6000, '\0'));
    EXPECT_EQ(simCalls("vqWriteProp"), 0);
}

TEST_F(DeviceMacroTest, AMacroWhoseButtonIsNotWrittenGivesItsSlotBack)
{
    // No 4-byte row at the index: refused before any slot is touched.
    EXPECT_FALSE(writeMacro("按下(A)", "1", 99));
    EXPECT_FALSE(writeMacro("按下(A)", "1", 42));
    EXPECT_EQ(simCalls("vqRead"), 0);
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 200), QByteArray(200, '\0'));
    // The library refuses the property write.
    setProp(kMouseId, 61, hexBytes("01 01 00 00"));
    vqsim().failNext("vqWriteProp");
    EXPECT_FALSE(writeMacro("按下(B)"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("01 01 00 00"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 200), QByteArray(200, '\0'));
    // Slot 0 is still free for the next macro.
    ASSERT_TRUE(writeMacro("按下(C)"));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("04 00 00 06"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0, 6), hexBytes("84 06 00 07 01 00"));
}

TEST_F(DeviceMacroTest, MacrosBeyondOneSlotAreRefusedBeforeAnySlotIsRead)
{
    QString steps65, steps66;
    for (int i = 0; i < 65; ++i)
        steps65 += "按下(A)";
    steps66 = steps65 + "弹起(A)";
    setProp(kMouseId, 61, hexBytes("01 01 00 00"));
    EXPECT_FALSE(writeMacro(steps66));
    EXPECT_EQ(simCalls("vqRead"), 0);
    EXPECT_EQ(simCalls("vqWrite"), 0);
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("01 01 00 00"));
    // 65 steps and the end record fill 198 bytes: stored.
    ASSERT_TRUE(writeMacro(steps65));
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("04 00 00 c6"));
    EXPECT_EQ(memory(kMouseId, kMouseSlot0 + 195, 5), hexBytes("07 01 00 00 00"));
}

TEST_F(DeviceMacroTest, MacrosThatCannotBeEncodedAreRefusedWithNothingWritten)
{
    setProp(kMouseId, 61, hexBytes("01 01 00 00"));
    const char* texts[] = {
        "按下(A)延迟(65536)弹起(A)", "延迟(-5)", "按下(A)延迟(abc)弹起(A)", "延迟(1.5)", "延迟(0x10)",
        // No step is kept.
        "按下A弹起(Nope)", "", "延迟()", "跳(A)",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(writeMacro(QString::fromUtf8(text)));
    }
    EXPECT_EQ(prop(kMouseId, 61), hexBytes("01 01 00 00"));
    EXPECT_EQ(simCalls("vqRead"), 0);
    EXPECT_EQ(simCalls("vqWrite"), 0);
    EXPECT_EQ(simCalls("vqWriteProp"), 0);
}

TEST_F(DeviceMacroTest, KeyboardSlots)
{
    ASSERT_TRUE(handler->writeDeviceTask("K1.0", "K1.0", "44", "按下(Shift)弹起(Shift)", "Macro", "1"));
    EXPECT_EQ(prop(kKeyboardId, 44), hexBytes("04 00 00 09"));
    EXPECT_EQ(memory(kKeyboardId, kKeyboardSlot0, 9), hexBytes("84 E1 00 04 E1 00 07 01 00"));
    for (int s = 1; s < 9; ++s)
        occupy(kKeyboardId, kKeyboardSlot0, s);
    ASSERT_TRUE(handler->writeDeviceTask("K1.0", "K1.0", "45", "按下(A)", "Macro", "1"));
    EXPECT_EQ(prop(kKeyboardId, 45), hexBytes("04 00 09 06"));
    EXPECT_EQ(memory(kKeyboardId, kKeyboardSlot0 + 1800, 6), hexBytes("84 04 00 07 01 00"));
    // All ten slots are taken now; the keys name only slots 0 and 9, so slots 1 to 8 are given back.
    ASSERT_TRUE(handler->writeDeviceTask("K1.0", "K1.0", "46", "按下(B)", "Macro", "1"));
    EXPECT_EQ(prop(kKeyboardId, 46), hexBytes("04 00 01 06"));
    EXPECT_EQ(memory(kKeyboardId, kKeyboardSlot0 + 200, 6), hexBytes("84 05 00 07 01 00"));
    EXPECT_EQ(memory(kKeyboardId, kKeyboardSlot0 + 400, 200), QByteArray(200, '\0'));
    EXPECT_EQ(memory(kKeyboardId, kKeyboardSlot0, 9), hexBytes("84 E1 00 04 E1 00 07 01 00"));
    EXPECT_EQ(memory(kKeyboardId, kKeyboardSlot0 + 1800, 6), hexBytes("84 04 00 07 01 00"));
}

TEST_F(DeviceMacroTest, StoreMacroDataAndMacroBytesDirectly)
{
    handler->writeDeviceTask("M1.0", "M1.0", "0", "", "", ""); // the description and device in use
    const QString data = device_data_handler::padTokens({"0x84", "0x04", "0x00"}, 200).join(',');
    EXPECT_EQ(handler->storeMacroData(data), "0");
    EXPECT_EQ(handler->storeMacroData(data), "1");
    EXPECT_EQ(handler->storeMacroData("0x01"), ""); // not 200 tokens: every write is refused
    EXPECT_EQ(handler->macroBytes({}, "1"), "");
    EXPECT_EQ(handler->macroBytes({{"keyDown", "04"}, {"other", "x"}}, "1"), "0x04,0,2,6");
}

} // namespace
