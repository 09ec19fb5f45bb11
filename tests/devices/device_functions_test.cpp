// Device list conversion and the property and memory operations over the simulated library.
#include "row_name.h"
#include "vqsim_devices.h"

#include "devices/device_functions.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QRegularExpression>

#include <cstring>
#include <memory>
#include <ostream>

namespace {

// Builds library lists byte by byte, as the library lays them out.
class ListBuilder {
public:
    ListBuilder() { std::memset(list.bytes, 0, sizeof list.bytes); }
    ListBuilder& count(int n)
    {
        list.bytes[0] = uint8_t(n & 0xFF);
        list.bytes[1] = uint8_t(n >> 8);
        return *this;
    }
    uint8_t* record(int i) { return list.bytes + 2 + i * VQ_RECORD_SIZE; }
    ListBuilder& text(int i, int offset, const QByteArray& bytes)
    {
        std::memcpy(record(i) + offset, bytes.constData(), size_t(bytes.size()));
        return *this;
    }
    ListBuilder& text16(int i, int offset, const QString& s)
    {
        for (int k = 0; k < s.size(); ++k) {
            record(i)[offset + 2 * k] = uint8_t(s[k].unicode() & 0xFF);
            record(i)[offset + 2 * k + 1] = uint8_t(s[k].unicode() >> 8);
        }
        return *this;
    }
    ListBuilder& device(int i, const QByteArray& version, const QString& id)
    {
        return text(i, VQ_REC_VERSION, version).text16(i, VQ_REC_ID, id).text16(i, VQ_REC_PATH, "path" + version);
    }
    DeviceInfoList list;
};

TEST(DeviceListConversion, ListsOnlyUpperCaseVidAndPid)
{
    ListBuilder b;
    b.count(4)
        .device(0, "A", "HID\\VID_046D&PID_C077&MI_00\\7&1A2B")
        .device(1, "B", "HID\\vid_046d&pid_c077")
        .device(2, "C", "USB\\VID_046D")
        .device(3, "D", "");
    const DeviceMap map = DeviceFunctions::convertDeviceList(b.list);
    EXPECT_EQ(map.keys(), QStringList{"A"});
    const QJsonObject a = map.value("A");
    EXPECT_EQ(a.keys(), (QStringList{"DeviceId", "DevicePath", "Mask", "Sid", "Sn", "Version", "type"}));
    EXPECT_EQ(a.value("Sid").toString(), QString());
    EXPECT_EQ(a.value("type").toString(), QString());
    EXPECT_EQ(a.value("DevicePath").toString(), QStringLiteral("pathA"));
    EXPECT_EQ(DeviceFunctions::vidPattern(), QStringLiteral("VID_\\w+"));
    EXPECT_EQ(DeviceFunctions::pidPattern(), QStringLiteral("PID_\\w+"));
}

// The list holds a record exactly when both patterns match its DeviceId: the patterns themselves
// judge every row.
struct IdRow {
    const char* name;
    const char16_t* id;
};

class DeviceIdPatterns : public ::testing::TestWithParam<IdRow> {};

TEST_P(DeviceIdPatterns, ListedExactlyWhenBothPatternsMatch)
{
    const QString id = QString::fromUtf16(GetParam().id);
    ListBuilder b;
    b.count(1).device(0, "M1.0", id);
    const bool expected = QRegularExpression(DeviceFunctions::vidPattern()).match(id).hasMatch() &&
                          QRegularExpression(DeviceFunctions::pidPattern()).match(id).hasMatch();
    EXPECT_EQ(DeviceFunctions::convertDeviceList(b.list).contains("M1.0"), expected) << qPrintable(id);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceIdPatterns,
    ::testing::Values(IdRow{"Usual", u"HID\\VID_046D&PID_C077&MI_00\\7&1A2B"}, IdRow{"Underscores", u"VID__PID__"},
                      IdRow{"PrefixAtTheEnd", u"HID\\PID_1\\VID_"}, IdRow{"NoWordAfterPrefix", u"VID_&PID_1"},
                      IdRow{"SecondPrefixHasAWord", u"VID_&VID_9&PID_1"}, IdRow{"Glued", u"xVID_1PID_2"},
                      IdRow{"LetterBeyondAscii", u"VID_\u00e9&PID_1"}, IdRow{"DigitBeyondAscii", u"VID_\u0663&PID_1"},
                      IdRow{"PairBeyondTheBmp", u"VID_\U0001D400&PID_1"}, IdRow{"LowerCase", u"vid_1&pid_1"}),
    test_support::RowName());

TEST(DeviceListConversion, DuplicateVersionKeepsTheLaterRecord)
{
    ListBuilder b;
    b.count(3)
        .device(0, "M1.0", "HID\\VID_1&PID_1\\first")
        .device(1, "K1.0", "HID\\VID_1&PID_2\\kbd")
        .device(2, "M1.0", "HID\\VID_1&PID_1\\second");
    const DeviceMap map = DeviceFunctions::convertDeviceList(b.list);
    EXPECT_EQ(map.size(), 2);
    EXPECT_EQ(map.value("M1.0").value("DeviceId").toString(), QStringLiteral("HID\\VID_1&PID_1\\second"));
}

TEST(DeviceListConversion, CountAboveTwentyReadsTwentyRecords)
{
    ListBuilder b;
    b.count(0xFFFF);
    for (int i = 0; i < 20; ++i)
        b.device(i, QByteArray("V") + QByteArray::number(i), QString("HID\\VID_1&PID_%1").arg(i));
    EXPECT_EQ(DeviceFunctions::convertDeviceList(b.list).size(), 20);
    EXPECT_TRUE(DeviceFunctions::convertDeviceList(ListBuilder().count(0).list).isEmpty());
}

TEST(DeviceListConversion, FullWidthFieldsStayInsideTheirBounds)
{
    ListBuilder b;
    b.count(2);
    // Record 1 starts at an odd offset; every field of record 0 is full.
    for (int i : {0, 1}) {
        b.text(i, VQ_REC_VERSION, "ABCDEFGHIJKLM" + QByteArray::number(i))
            .text(i, 54, "xyz")
            .text(i, VQ_REC_SN, "SN345678901234")
            .text(i, VQ_REC_MASK, "MK")
            .text(i, VQ_REC_VID, "\x01\x02\x03\x04")
            .text16(i, VQ_REC_PATH, QString(255, QChar('p')))
            .text16(i, VQ_REC_ID, "HID\\VID_1&PID_2\\" + QString(255 - 16, QChar('0' + i)));
    }
    b.text(1, VQ_RECORD_SIZE, "X"); // the byte after the last record's id is outside the list
    const DeviceMap map = DeviceFunctions::convertDeviceList(b.list);
    ASSERT_EQ(map.size(), 2);
    for (const QJsonObject& d : map) {
        EXPECT_EQ(d.value("Version").toString().size(), 14);
        EXPECT_EQ(d.value("Sn").toString(), QStringLiteral("SN345678901234"));
        EXPECT_EQ(d.value("Mask").toString(), QStringLiteral("MK"));
        EXPECT_EQ(d.value("DevicePath").toString(), QString(255, QChar('p')));
        EXPECT_EQ(d.value("DeviceId").toString().size(), 255);
    }
    EXPECT_TRUE(map.contains("ABCDEFGHIJKLM0"));
    EXPECT_TRUE(map.contains("ABCDEFGHIJKLM1"));
}

TEST(DeviceListConversion, ShortTextsEndAtTheirFirstZero)
{
    ListBuilder b;
    b.count(1).device(0, "M1.0", "HID\\VID_1&PID_1").text(0, VQ_REC_SN, "S1").text(0, VQ_REC_MASK, "7");
    b.record(0)[VQ_REC_VID] = 0x31; // the vendor id after a one-byte mask is not read as text
    const QJsonObject d = DeviceFunctions::convertDeviceList(b.list).value("M1.0");
    EXPECT_EQ(d.value("Version").toString(), QStringLiteral("M1.0"));
    EXPECT_EQ(d.value("Sn").toString(), QStringLiteral("S1"));
    EXPECT_EQ(d.value("Mask").toString(), QStringLiteral("7"));
}

// ---- through the simulated library ----

class DeviceFunctionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(devices.open());
        functions = std::make_unique<DeviceFunctions>();
        vqsim().clearCalls();
    }
    void TearDown() override
    {
        vqsim().waitIdle(5000);
        devices.closeWindow();
        functions.reset();
        devices.sim.reset();
    }
    QByteArray prop(const char* id, int index) { return simProp(id, index); }
    QByteArray memory(int address, int length) { return simMemory(kMouseId, address, length); }
    int libraryCalls() const { return vqsim().callCount(); }

    SimMainWindow devices;
    std::unique_ptr<DeviceFunctions> functions;
};

TEST_F(DeviceFunctionsTest, DeviceListFromTheSimulatedDeviceFile)
{
    SimDevices file(QStringLiteral(
        "# duplicate Version, lower-case ids, a record without PID_\n"
        "[device]\nVersion=M1.0\nDeviceId=HID\\VID_0001&PID_0001\\a\nSn=first\n"
        "[device]\nVersion=M1.0\nDeviceId=HID\\VID_0001&PID_0001\\b\nSn=second\n"
        "[device]\nVersion=L1.0\nDeviceId=HID\\vid_0001&pid_0001\n"
        "[device]\nVersion=N1.0\nDeviceId=HID\\VID_0001\n"
        "[device]\nVersion=K1.0\nDeviceId=HID\\VID_0001&PID_0002\nUsagePage=0xFFAA\nMask=AB\n"
        "[device]\nVersion=X1.0\nDeviceId=HID\\VID_0001&PID_0003\nUsagePage=0x0001\n"));
    const DeviceMap map = functions->deviceList();
    EXPECT_EQ(map.keys(), (QStringList{"K1.0", "M1.0"}));
    EXPECT_EQ(map.value("M1.0").value("Sn").toString(), QStringLiteral("second"));
    EXPECT_EQ(map.value("K1.0").value("Mask").toString(), QStringLiteral("AB"));
}

TEST_F(DeviceFunctionsTest, MoreThanTwentyDevicesListTwenty)
{
    QString text;
    for (int i = 0; i < 25; ++i)
        text += QString("[device]\nVersion=V%1\nDeviceId=HID\\VID_1&PID_%1\n").arg(i);
    SimDevices file(text);
    const DeviceMap map = functions->deviceList();
    EXPECT_EQ(map.size(), 20);
    EXPECT_TRUE(map.contains("V19"));
    EXPECT_FALSE(map.contains("V20"));
}

TEST_F(DeviceFunctionsTest, FullWidthFieldsFromTheLibrary)
{
    const QString id = "HID\\VID_1&PID_2\\" + QString(239, QChar('9'));
    SimDevices file("[device]\nVersion=ABCDEFGHIJKLMN\nSn=SN345678901234\nMask=MK\nVid=0x34333231\nDeviceId=" + id +
                    "\nDevicePath=" + QString(255, QChar('p')) + "\n");
    const DeviceMap map = functions->deviceList();
    ASSERT_EQ(map.keys(), QStringList{"ABCDEFGHIJKLMN"});
    const QJsonObject d = map.first();
    EXPECT_EQ(d.value("Sn").toString(), QStringLiteral("SN345678901234"));
    EXPECT_EQ(d.value("Mask").toString(), QStringLiteral("MK"));
    EXPECT_EQ(d.value("DeviceId").toString(), id);
    EXPECT_EQ(d.value("DevicePath").toString().size(), 255);
}

TEST_F(DeviceFunctionsTest, ReadPropFormatsTokens)
{
    const uint8_t bytes[3] = {0x01, 0x7D, 0x0A};
    vqsim().setProp(kMouseId, 60, bytes, 3);
    EXPECT_EQ(functions->readProp("M1.0", "60", "3"), QStringLiteral("0x01,0x7d,0x0a"));
    EXPECT_EQ(functions->readProp("M1.0", "60", "1"), QStringLiteral("0x01"));
    EXPECT_EQ(functions->readProp("M1.0", "60", "0"), QString());
    EXPECT_EQ(functions->readProp("M1.0", "60", "5"), QStringLiteral("0x01,0x7d,0x0a,0x00,0x00"));
    EXPECT_EQ(lastSimCall("vqReadProp").arg, 60);
    EXPECT_STREQ(lastSimCall("vqReadProp").id, kMouseId);
}

struct WrittenTask {
    const char* name;
    const char* data;
    const char* length;
    bool ok;
    QByteArray bytes;
};

void PrintTo(const WrittenTask& row, std::ostream* os) { *os << row.name; }

class WriteTaskTokens : public DeviceFunctionsTest, public ::testing::WithParamInterface<WrittenTask> {};

TEST_P(WriteTaskTokens, WriteTaskWritesOneBytePerToken)
{
    const WrittenTask& c = GetParam();
    vqsim().setProp(kMouseId, 70, reinterpret_cast<const uint8_t*>("\xee"), 1);
    vqsim().clearCalls();
    EXPECT_EQ(functions->writeTask("M1.0", "70", c.data, c.length), c.ok);
    EXPECT_EQ(simCalls("vqWriteProp"), c.ok ? 1 : 0);
    EXPECT_EQ(prop(kMouseId, 70), c.ok ? c.bytes : QByteArray("\xee"));
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, WriteTaskTokens,
    ::testing::Values(WrittenTask{"DecimalAndHexadecimal", "1,ff", "2", true, QByteArray("\x01\xff", 2)},
                      WrittenTask{"TrailingComma", "0x01,0x02,", "2", false, {}},
                      WrittenTask{"WideAndLetterTokens", "0x1FF,zz,", "3", true, QByteArray("\xff\x00\x00", 3)},
                      WrittenTask{"SignsAndTrailingLetters", " 0x10,-1,10x", "3", true, QByteArray("\x10\xff\x10", 3)},
                      WrittenTask{"TooFewTokens", "0x01", "2", false, {}},
                      WrittenTask{"TooManyTokens", "1,2,3", "2", false, {}},
                      WrittenTask{"WhitespaceAroundTokens", "\t0x0a,\n7", "2", true, QByteArray("\x0a\x07", 2)},
                      WrittenTask{"NothingForNoLength", "", "0", false, {}},
                      WrittenTask{"EmptyForOneByte", "", "1", true, QByteArray("\x00", 1)}),
    test_support::RowName());

struct Address {
    const char* name;
    const char* text;
    bool ok;
    int value;
};

void PrintTo(const Address& row, std::ostream* os) { *os << row.name; }

class AddressTexts : public ::testing::TestWithParam<Address> {};

TEST_P(AddressTexts, ParseAddress)
{
    const Address& a = GetParam();
    int value = -1;
    EXPECT_EQ(DeviceFunctions::parseAddress(a.text, &value), a.ok);
    if (a.ok) {
        EXPECT_EQ(value, a.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressTexts,
    ::testing::Values(Address{"Prefixed", "0xE00", true, 0xE00}, Address{"StopsAtALetter", "0xEBO", true, 0xEB},
                      Address{"Unprefixed", "E00", true, 0xE00}, Address{"BlanksAndCapitalX", "  0X1f", true, 0x1F},
                      Address{"Empty", "", true, 0}, Address{"Letters", "zz", true, 0},
                      Address{"PrefixOnly", "0x", true, 0}, Address{"PlusSign", "+10", true, 0x10},
                      Address{"PastAnInt", "7FFFFFFFF", true, 0x7FFFFFFF},
                      Address{"NegativePrefixed", "-0x10", false, 0}, Address{"Negative", "-1", false, 0},
                      Address{"BlanksBeforeMinus", "  -5", false, 0}),
    test_support::RowName());

struct DecToken {
    const char* name;
    const char* token;
    const char* dec;
};

void PrintTo(const DecToken& row, std::ostream* os) { *os << row.name; }

class HexTokens : public ::testing::TestWithParam<DecToken> {};

TEST_P(HexTokens, HexTokenToDec)
{
    EXPECT_EQ(DeviceFunctions::hexTokenToDec(GetParam().token), QString(GetParam().dec));
}

INSTANTIATE_TEST_SUITE_P(Tokens, HexTokens,
                         ::testing::Values(DecToken{"Prefixed", "0x7d", "125"}, DecToken{"Zero", "0x00", "0"},
                                           DecToken{"Unprefixed", "7d", "125"}, DecToken{"Largest", "0xff", "255"},
                                           DecToken{"Letters", "zz", "0"}, DecToken{"Empty", "", "0"},
                                           DecToken{"TrailingLetter", "0x1g", "0"}),
                         test_support::RowName());

struct DpiText {
    const char* name;
    const char* text;
    const char* x;
    const char* y;
};

void PrintTo(const DpiText& row, std::ostream* os) { *os << row.name; }

class DpiTexts : public ::testing::TestWithParam<DpiText> {};

TEST_P(DpiTexts, DecodeDpi)
{
    EXPECT_EQ(DeviceFunctions::decodeDpi(GetParam().text), (QStringList{GetParam().x, GetParam().y}));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DpiTexts,
    ::testing::Values(DpiText{"EightTokens", "0x00,0x10,0x00,0x14,0x00,0x00,0x00,0x00", "800", "1000"},
                      DpiText{"FourTokens", "0x01,0x02,0x03,0x04", "100", "200"},
                      // Empty parts are dropped.
                      DpiText{"EmptyParts", ",,0x01,,0x02,0x03,0x04", "100", "200"},
                      // Short lists read missing tokens as 0.
                      DpiText{"TwoTokens", "0x01,0x02", "100", "0"}, DpiText{"Empty", "", "0", "0"},
                      // No overflow past a byte.
                      DpiText{"WideTokens", "0,0x7fffffff,0,-0x7fffffff", "107374182350", "-107374182350"}),
    test_support::RowName());

struct DpiStep {
    const char* name;
    const char* step;
    int property;
};

void PrintTo(const DpiStep& row, std::ostream* os) { *os << row.name; }

class DpiSteps : public DeviceFunctionsTest, public ::testing::WithParamInterface<DpiStep> {};

TEST_P(DpiSteps, ReadDpiValueChoosesThePropertyByStep)
{
    functions->readDpiValue("M1.0", GetParam().step);
    EXPECT_EQ(lastSimCall("vqReadProp").arg, GetParam().property);
    EXPECT_EQ(lastSimCall("vqReadProp").length, 8);
}

INSTANTIATE_TEST_SUITE_P(Steps, DpiSteps,
                         ::testing::Values(DpiStep{"First", "0", 50}, DpiStep{"Third", "2", 52},
                                           DpiStep{"Fifth", "4", 54}, DpiStep{"PastTheList", "9", 9},
                                           DpiStep{"Letters", "abc", 50}, DpiStep{"Negative", "-1", -1}),
                         test_support::RowName());

TEST_F(DeviceFunctionsTest, ReadDpiValueAnswersTheStepsValues)
{
    const uint8_t dpi[8] = {0, 16, 0, 20, 0, 0, 0, 0};
    vqsim().setProp(kMouseId, 53, dpi, 8);
    EXPECT_EQ(functions->readDpiValue("M1.0", "3"), QByteArray(R"({"DpiXVal":"800","DpiYVal":"1000"})"));
    EXPECT_EQ(functions->readDpiValue("nothing", "3"), QByteArray(R"({"DpiXVal":"0","DpiYVal":"0"})"));
}

TEST_F(DeviceFunctionsTest, ResetDeviceRestoresDefaultsOnlyForListedDevices)
{
    EXPECT_TRUE(functions->writeTask("M1.0", "40", "0x04", "1"));
    EXPECT_TRUE(functions->resetDevice("M1.0"));
    EXPECT_EQ(lastSimCall("vqReset").code, 2);
    EXPECT_EQ(functions->readProp("M1.0", "40", "1"), QStringLiteral("0x01"));
    vqsim().clearCalls();
    EXPECT_FALSE(functions->resetDevice("Z9.9"));
    EXPECT_FALSE(functions->writeTask("Z9.9", "40", "0x04", "1"));
    EXPECT_EQ(libraryCalls(), 0);
}

TEST_F(DeviceFunctionsTest, UnlistedVersionNeverReachesTheLibrary)
{
    EXPECT_EQ(functions->readProp("Z9.9", "40", "3"), QStringLiteral("0x00,0x00,0x00"));
    EXPECT_FALSE(functions->isSlotEmpty("Z9.9", "0xE00", "200"));
    EXPECT_FALSE(functions->writeSlot("Z9.9", "0xE00", "1", "0x01"));
    EXPECT_FALSE(functions->clearSlot("Z9.9", "0xE00", "1"));
    const unsigned char report[1024] = {1};
    EXPECT_FALSE(functions->notifyRgb("Z9.9", report));
    EXPECT_EQ(libraryCalls(), 0);
}

TEST_F(DeviceFunctionsTest, SlotsOverDeviceMemory)
{
    EXPECT_TRUE(functions->isSlotEmpty("M1.0", "0xE00", "200"));
    EXPECT_TRUE(functions->writeSlot("M1.0", "0xE00", "3", "0x84,0x04,0x00"));
    EXPECT_EQ(memory(0xE00, 4), QByteArray("\x84\x04\x00\x00", 4));
    EXPECT_FALSE(functions->isSlotEmpty("M1.0", "0xE00", "200"));
    EXPECT_FALSE(functions->isSlotEmpty("M1.0", "0xDFF", "2"));
    EXPECT_TRUE(functions->isSlotEmpty("M1.0", "0xE03", "200"));
    // The read's result is not examined: a read that answers non-zero leaves the block zero.
    vqsim().failNext("vqRead");
    EXPECT_TRUE(functions->isSlotEmpty("M1.0", "0xE00", "200"));
    // The address text stops at the first non-digit: "0xE00O" is 0xE00.
    EXPECT_TRUE(functions->clearSlot("M1.0", "0xE00O", "2"));
    EXPECT_EQ(memory(0xE00, 3), QByteArray("\x00\x00\x00", 3));
    // A failing write is reported.
    vqsim().failNext("vqWrite");
    EXPECT_FALSE(functions->writeSlot("M1.0", "0xE00", "1", "0x01"));
    EXPECT_EQ(memory(0xE00, 1), QByteArray("\x00", 1));
    // Token count must match.
    EXPECT_FALSE(functions->writeSlot("M1.0", "0xE00", "2", "0x01"));
}

TEST_F(DeviceFunctionsTest, LengthsOutsideTheBlockAndNegativeAddressesAreRefused)
{
    const QString tokens2049 = QStringList(QVector<QString>(2049, "0x01").toList()).join(',');
    const QString tokens2048 = QStringList(QVector<QString>(2048, "0x01").toList()).join(',');
    vqsim().clearCalls();
    EXPECT_EQ(functions->readProp("M1.0", "40", "2049"), QString());
    EXPECT_EQ(functions->readProp("M1.0", "40", "-1"), QString());
    EXPECT_FALSE(functions->writeTask("M1.0", "90", tokens2049, "2049"));
    EXPECT_FALSE(functions->writeSlot("M1.0", "0x0", "2049", tokens2049));
    EXPECT_FALSE(functions->clearSlot("M1.0", "0x0", "2049"));
    EXPECT_FALSE(functions->clearSlot("M1.0", "0x0", "-4"));
    EXPECT_FALSE(functions->isSlotEmpty("M1.0", "0x0", "4096"));
    EXPECT_FALSE(functions->writeSlot("M1.0", "-0x10", "1", "0x01"));
    EXPECT_FALSE(functions->clearSlot("M1.0", "-10", "1"));
    EXPECT_FALSE(functions->isSlotEmpty("M1.0", "-0x1", "1"));
    EXPECT_EQ(libraryCalls(), 0);
    // The full block is still accepted.
    EXPECT_TRUE(functions->writeTask("M1.0", "90", tokens2048, "2048"));
    EXPECT_EQ(prop(kMouseId, 90).size(), 2048);
}

TEST_F(DeviceFunctionsTest, NotifyRgbSendsVersionBytesAndTheReport)
{
    unsigned char report[1024];
    for (int i = 0; i < 1024; ++i)
        report[i] = static_cast<unsigned char>(i * 7);
    EXPECT_TRUE(functions->notifyRgb("K1.0", report));
    uint8_t version[14];
    uint8_t sent[1024];
    ASSERT_EQ(vqsim().lastRgb("K1.0", version, sent), 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(version), 14), QByteArray("K1.0\0\0\0\0\0\0\0\0\0\0", 14));
    EXPECT_EQ(std::memcmp(sent, report, 1024), 0);
    EXPECT_EQ(lastSimCall("vqNotifyRGBDevice").length, 14);

    // A report the library refuses is no report sent.
    vqsim().failNext("vqNotifyRGBDevice");
    EXPECT_FALSE(functions->notifyRgb("K1.0", report));
    EXPECT_EQ(lastSimCall("vqNotifyRGBDevice").result, -1);
}

TEST_F(DeviceFunctionsTest, ArgsOperationsAddressTheHardwareIdDirectly)
{
    QMap<QString, QVariant> args{{"HardwareID", kMouseId}, {"DevicePath", ""}, {"PARAMSIZE", 2}, {"PARAMADDRESS", "0x300"},
                                 {"PARAMDATA", "0x0a,0x0b"}};
    EXPECT_TRUE(functions->isMemoryEmptyByArgs(args));
    EXPECT_TRUE(functions->updateMemoryByArgs(args));
    EXPECT_FALSE(functions->updateMemoryByArgs(args)); // no longer empty
    // Only the bytes read count, not the read's result.
    EXPECT_FALSE(functions->isMemoryEmptyByArgs(args));
    vqsim().failNext("vqRead");
    EXPECT_TRUE(functions->isMemoryEmptyByArgs(args));
    EXPECT_EQ(functions->readMemoryByArgs(args), QStringLiteral("0x0a,0x0b"));
    EXPECT_TRUE(functions->clearMemoryByArgs(args));
    EXPECT_EQ(functions->readMemoryByArgs(args), QStringLiteral("0x00,0x00"));
    args["PARAMDATA"] = "0x01";
    EXPECT_FALSE(functions->writeMemoryByArgs(args));
    QMap<QString, QVariant> missing = args;
    missing.remove("DevicePath");
    EXPECT_FALSE(functions->writeMemoryByArgs(missing));
    EXPECT_EQ(functions->readMemoryByArgs(missing), QString());

    QMap<QString, QVariant> prop{{"HardwareID", kMouseId}, {"DevicePath", ""}, {"PARAMSIZE", "1"}, {"PARAMID", 40}};
    EXPECT_EQ(functions->readPropertyByArgs(prop), QStringLiteral("0x01"));
    prop.remove("PARAMID");
    EXPECT_EQ(functions->readPropertyByArgs(prop), QString());
}

TEST_F(DeviceFunctionsTest, GuidStringHasTheMixedCaseLayout)
{
    const QString guid = functions->createGuidString();
    ASSERT_EQ(guid.size(), 32);
    EXPECT_EQ(guid.left(12), guid.left(12).toUpper());
    EXPECT_EQ(guid.mid(12, 4), guid.mid(12, 4).toLower());
    EXPECT_EQ(guid.mid(16), guid.mid(16).toUpper());
}

} // namespace
