// The per-key colour report: its bytes, its running state and what is sent.
#include "device_data_fixture.h"
#include "test_files.h"

#include <QTemporaryDir>

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

TEST_F(KeyRgbTest, ColourTexts)
{
    const struct {
        const char* item;
        int ordinal;
        const char* bytes;
    } cases[] = {
        {"A#FFF", kA, "ff f0 00"},          {"A#GG0000", kA, "00 00 00"},    {"A#ff8000aa", kA, "ff 80 00"},
        {"Enter#010101", kEnter, "01 01 01"}, {"Num Enter#020202", kNumEnter, "02 02 02"},
        {"Win#0A0B0C", kWin, "0a 0b 0c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        ASSERT_TRUE(colour({c.item}));
        EXPECT_EQ(sent(), expectedReport({{c.ordinal, c.bytes}}));
    }
    // The last report sent holds Win at its absolute offset: 8 header bytes and 107 keys before it.
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

TEST(KeyRgbDigits, HexDigitValue)
{
    const struct {
        QString text;
        int value;
    } cases[] = {{"0", 0},  {"9", 9},  {"a", 10}, {"f", 15}, {"A", 10}, {"F", 15},
                 {"g", 0},  {"G", 0},  {"", 0},   {"10", 0}, {" ", 0},  {QString(QChar(0xFF11)), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(device_data_handler::hexDigitValue(c.text), c.value) << c.text.toStdString();
}

} // namespace
