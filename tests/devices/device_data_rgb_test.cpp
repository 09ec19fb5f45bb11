// The per-key colour report: its bytes, its running state and what is sent.
#include "device_data_fixture.h"
#include "row_name.h"
#include "test_files.h"

#include <QTemporaryDir>

#include <ostream>

namespace {

const int kA = 0, kB = 1, kNumEnter = 41, kEsc = 53, kEnter = 75, kWin = 107;

class KeyRgbTest : public DeviceDataTest {
protected:
    // The report last sent for the keyboard; empty when none was sent.
    static QByteArray sent(const char* version = "K1.0")
    {
        uint8_t ver[14] = {};
        QByteArray report(1024, '\0');
        if (vqsim().lastRgb(version, ver, reinterpret_cast<uint8_t*>(report.data())) != 1)
            return QByteArray();
        return report;
    }
    static QByteArray keyBytes(const QByteArray& report, int ordinal) { return report.mid(8 + 3 * ordinal, 3); }
    static QByteArray expectedReport(std::initializer_list<std::pair<int, const char*>> keys)
    {
        QByteArray r(1024, '\0');
        r.replace(0, 8, hexBytes("05 02 BB AA 07 00 F8 03"));
        for (const auto& k : keys)
            r.replace(8 + 3 * k.first, 3, hexBytes(k.second));
        return r;
    }
    bool colour(const QStringList& items, const QString& driver = "K1.0")
    {
        return handler->writeRgbDevice("K1.0", driver, items);
    }
};

TEST_F(KeyRgbTest, ReportBytesAndRunningState)
{
    ASSERT_TRUE(colour({"A#FF0000"}));
    EXPECT_EQ(sent().toHex(' '), expectedReport({{kA, "ff 00 00"}}).toHex(' '));
    uint8_t ver[14];
    ASSERT_EQ(vqsim().lastRgb("K1.0", ver, nullptr), 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(ver), 14), QByteArray("K1.0").append(10, '\0'));

    // Keys of the previous call go dark unless named again.
    ASSERT_TRUE(colour({"B#00FF00", "Esc#123456"}));
    EXPECT_EQ(sent(), expectedReport({{kB, "00 ff 00"}, {kEsc, "12 34 56"}}));
    ASSERT_TRUE(colour({"Esc#abcdef", "Esc#010203"}));
    EXPECT_EQ(sent(), expectedReport({{kEsc, "01 02 03"}}));
    ASSERT_TRUE(colour({}));
    EXPECT_EQ(sent(), expectedReport({}));
}

struct ColourText {
    const char* name;
    const char* item;
    int ordinal;
    const char* bytes;
};

void PrintTo(const ColourText& row, std::ostream* os) { *os << row.name; }

class KeyRgbColourTexts : public KeyRgbTest, public ::testing::WithParamInterface<ColourText> {};

TEST_P(KeyRgbColourTexts, ColourTexts)
{
    const ColourText& c = GetParam();
    ASSERT_TRUE(colour({c.item}));
    EXPECT_EQ(sent(), expectedReport({{c.ordinal, c.bytes}}));
}

INSTANTIATE_TEST_SUITE_P(Items, KeyRgbColourTexts,
                         ::testing::Values(ColourText{"ThreeDigits", "A#FFF", kA, "ff f0 00"},
                                           ColourText{"NotHexadecimal", "A#GG0000", kA, "00 00 00"},
                                           ColourText{"EightDigits", "A#ff8000aa", kA, "ff 80 00"},
                                           ColourText{"Enter", "Enter#010101", kEnter, "01 01 01"},
                                           ColourText{"NumEnter", "Num Enter#020202", kNumEnter, "02 02 02"},
                                           ColourText{"Win", "Win#0A0B0C", kWin, "0a 0b 0c"}),
                         test_support::RowName());

TEST_F(KeyRgbTest, TheLastKeysColourSitsAtItsAbsoluteOffset)
{
    ASSERT_TRUE(colour({"Win#0A0B0C"}));
    // 8 header bytes and 107 keys before Win.
    EXPECT_EQ(sent().mid(329, 3), hexBytes("0a 0b 0c"));
}

TEST_F(KeyRgbTest, MalformedItemsAreSkippedOneByOne)
{
    ASSERT_TRUE(colour({"A#FF0000"}));
    // A short colour still names its key: A goes dark here and is not coloured.
    ASSERT_TRUE(colour({"A#FF", "B", "C#1#2", "#FFFFFF", "Nope#FFFFFF", "D#0000FF"}));
    EXPECT_EQ(sent(), expectedReport({{3, "00 00 ff"}}));
}

TEST_F(KeyRgbTest, MouseDescriptionGivesTheSameOrder)
{
    ASSERT_TRUE(colour({"Win#FFFFFF"}, "M1.0"));
    EXPECT_EQ(keyBytes(sent(), kWin), hexBytes("ff ff ff"));
}

TEST_F(KeyRgbTest, NothingSentIsReportedAsFailure)
{
    ASSERT_TRUE(colour({"A#FF0000"}));
    const QByteArray first = sent();
    // A description that was never loaded: nothing changes and nothing is sent.
    vqsim().clearCalls();
    EXPECT_FALSE(colour({"B#FFFFFF"}, "X9.9"));
    EXPECT_EQ(sent(), first);
    // The next call still darkens the keys of the last call that parsed.
    ASSERT_TRUE(colour({"C#0000FF"}));
    EXPECT_EQ(sent(), expectedReport({{2, "00 00 ff"}}));

    // A device that is not listed.
    EXPECT_FALSE(handler->writeRgbDevice("Z1.0", "K1.0", {"A#FFFFFF"}));
    EXPECT_EQ(sent("Z1.0"), QByteArray());

    // A report the keyboard refused: it still holds the last one it took.
    const QByteArray held = sent();
    vqsim().failNext("vqNotifyRGBDevice");
    EXPECT_FALSE(colour({"D#FFFFFF"}));
    EXPECT_EQ(sent(), held);
}

TEST_F(KeyRgbTest, OrdinalsPastTheReportAreIgnored)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("wide.xml");
    QByteArray xml = "<Driver Version=\"T1.0\"><Key Task=\"pid\" Name=\"k0\"/><Key Name=\"k0\" vkCode=\"65\"/>";
    for (int i = 1; i < 400; ++i)
        xml += "<Key Name=\"k" + QByteArray::number(i) + "\"/>";
    xml += "</Driver>";
    ASSERT_TRUE(test_support::writeFile(path, xml));
    handler->loadDriverXml(path);

    ASSERT_TRUE(colour({"k0#010101", "k337#FFFFFF", "k338#FFFFFF", "k399#FFFFFF"}, "T1.0"));
    EXPECT_EQ(sent(), expectedReport({{0, "01 01 01"}, {337, "ff ff ff"}}));
    ASSERT_TRUE(colour({}, "T1.0"));
    EXPECT_EQ(sent(), expectedReport({}));
    EXPECT_EQ(KeyRgbReport::kMaxOrdinal, 337);
}

TEST_F(KeyRgbTest, TheLastReportsKeysGoDarkByTheDescriptionInUse)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("moved.xml");
    ASSERT_TRUE(test_support::writeFile(
        path, "<Driver Version=\"T1.0\"><Key Name=\"k0\" vkCode=\"65\"/><Key Name=\"k1\"/><Key Name=\"A\"/></Driver>"));
    handler->loadDriverXml(path);

    ASSERT_TRUE(colour({"A#FF0000", "C#00FF00"}));
    // The other description puts A at ordinal 2 (C's bytes here) and has no C: ordinal 2 goes
    // dark and ordinal 0 keeps its colour.
    ASSERT_TRUE(colour({}, "T1.0"));
    EXPECT_EQ(sent(), expectedReport({{kA, "ff 00 00"}}));
    ASSERT_TRUE(colour({"Esc#010101"}));
    EXPECT_EQ(sent(), expectedReport({{kA, "ff 00 00"}, {kEsc, "01 01 01"}}));
}

struct HexDigit {
    const char* name;
    QString text;
    int value;
};

void PrintTo(const HexDigit& row, std::ostream* os) { *os << row.name; }

class KeyRgbDigits : public ::testing::TestWithParam<HexDigit> {};

TEST_P(KeyRgbDigits, HexDigitValue)
{
    EXPECT_EQ(device_data_handler::hexDigitValue(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, KeyRgbDigits,
    ::testing::Values(HexDigit{"Zero", "0", 0}, HexDigit{"Nine", "9", 9}, HexDigit{"LowerA", "a", 10},
                      HexDigit{"LowerF", "f", 15}, HexDigit{"UpperA", "A", 10}, HexDigit{"UpperF", "F", 15},
                      HexDigit{"LowerG", "g", 0}, HexDigit{"UpperG", "G", 0}, HexDigit{"Empty", "", 0},
                      HexDigit{"TwoDigits", "10", 0}, HexDigit{"Blank", " ", 0},
                      HexDigit{"FullWidthOne", QString(QChar(0xFF11)), 0}),
    test_support::RowName());

} // namespace
