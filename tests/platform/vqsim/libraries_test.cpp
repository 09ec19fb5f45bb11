// The simulated "libvq.dll" and "Hexlane.dll", called directly through their exported entry points.
#include "row_name.h"
#include "test_files.h"
#include "vqsim_devices.h"

#include "vq/vq_api.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QTemporaryDir>

#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <memory>
#include <mutex>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using test_support::RowName;

const char16_t kMouse16[] = u"HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000";

QString programDir()
{
    char buf[4096] = {};
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? QFileInfo(QString::fromLocal8Bit(buf, int(n))).absolutePath() : QString();
}

QString loadedFrom(QFunctionPointer function)
{
    Dl_info info;
    void* symbol = reinterpret_cast<void*>(function);
    if (!symbol || !dladdr(symbol, &info) || !info.dli_fname)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).canonicalFilePath();
}

UsageFilter filterOf(std::initializer_list<uint16_t> pages)
{
    UsageFilter f;
    std::memset(&f, 0, sizeof f);
    int i = 0;
    for (uint16_t page : pages)
        f.pairs[i++] = {1, page};
    return f;
}

class VqLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.load()) << qPrintable(lib.errorString());
        ASSERT_TRUE(vqsim().loaded());
        sim = std::make_unique<SimDevices>();
    }
    void TearDown() override { sim.reset(); }
    template <typename T>
    T fn(const char* name)
    {
        return reinterpret_cast<T>(lib.resolve(name));
    }
    std::unique_ptr<SimDevices> sim;
    QLibrary lib{QStringLiteral("libvq.dll")};
};

TEST_F(VqLibraryTest, BothLibrariesLoadByFileNameFromTheProgramsDirectory)
{
    QLibrary rgb(QStringLiteral("Hexlane.dll"));
    ASSERT_TRUE(rgb.load()) << qPrintable(rgb.errorString());
    const QString dir = QFileInfo(programDir()).canonicalFilePath();
    EXPECT_EQ(loadedFrom(lib.resolve("vqDevices")), dir + "/libvq.dll");
    EXPECT_EQ(loadedFrom(rgb.resolve("vqNotifyRGBDevice")), dir + "/Hexlane.dll");
}

TEST_F(VqLibraryTest, ExportsEveryEntryPoint)
{
    for (const char* name : {"vqDeviceExist", "vqDevices", "vqOnDeviceEvent", "vqonDeviceData", "vqAsk", "vqReset",
                             "vqNotify", "vqRead", "vqWrite", "vqReadProp", "vqWriteProp", "vqScriptOut", "vqIDWrite",
                             "vqRebootRom", "vqFinishUpdateRom", "vqCheckRom", "vqBornRom", "vqEraseRom"})
        EXPECT_NE(lib.resolve(name), nullptr) << name;
    QLibrary rgb(QStringLiteral("Hexlane.dll"));
    EXPECT_NE(rgb.resolve("vqNotifyRGBDevice"), nullptr);
}

TEST_F(VqLibraryTest, DeviceListLayoutAndUsageFilter)
{
    auto devices = fn<vqDevices_t>("vqDevices");
    auto list = std::make_unique<DeviceInfoList>();
    std::memset(list->bytes, 0, sizeof list->bytes);
    ASSERT_EQ(devices(filterOf({0xFFA0, 0xFFAA}), list.get(), 42102), 0);
    EXPECT_EQ(list->bytes[0], 2);
    EXPECT_EQ(list->bytes[1], 0);
    // Record 0 at 2, record 1 at 2107: the Version fields at 42 and 2147.
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(list->bytes + 42)), QByteArray("M1.0"));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(list->bytes + 2147)), QByteArray("K1.0"));
    EXPECT_EQ(list->bytes[2 + 73], 0x2C); // vendor id 0x1A2C, little-endian
    EXPECT_EQ(list->bytes[2 + 74], 0x1A);
    EXPECT_EQ(list->bytes[2 + 1595], 'H'); // DeviceId as UTF-16LE
    EXPECT_EQ(list->bytes[2 + 1596], 0);

    ASSERT_EQ(devices(filterOf({0xFFAA}), list.get(), 42102), 0);
    EXPECT_EQ(list->bytes[0], 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(list->bytes + 42)), QByteArray("K1.0"));
    ASSERT_EQ(devices(filterOf({}), list.get(), 42102), 0);
    EXPECT_EQ(list->bytes[0], 0);

    std::memset(list->bytes, 0xAA, sizeof list->bytes);
    EXPECT_NE(devices(filterOf({0xFFA0}), list.get(), 42101), 0);
    EXPECT_EQ(list->bytes[0], 0xAA);
    EXPECT_NE(devices(filterOf({0xFFA0}), nullptr, 42102), 0);
}

// Reads and writes of memory and properties with a bad argument.
struct BadInput {
    const char* name;
    const char16_t* id;
    const char16_t* text;
    int32_t length;
    int32_t address;
    bool nullBlock;
};

void PrintTo(const BadInput& row, std::ostream* os) { *os << row.name; }

class BadInputTest : public VqLibraryTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, FailsAndWritesNothing)
{
    auto readProp = fn<vqReadProp_t>("vqReadProp");
    auto read = fn<vqRead_t>("vqRead");
    auto writeProp = fn<vqWriteProp_t>("vqWriteProp");
    auto write = fn<vqWrite_t>("vqWrite");
    const BadInput& c = GetParam();
    std::vector<uint8_t> memoryBefore(0x4000);
    ASSERT_EQ(vqsim().getMemory(kMouseId, 0, memoryBefore.data(), 0x4000), 0);
    uint8_t block[VQ_BLOCK_SIZE];
    std::memset(block, 0xAA, sizeof block);
    uint8_t* b = c.nullBlock ? nullptr : block;
    EXPECT_NE(read(c.id, c.text, 0x1016, b, c.length, c.address), 0);
    EXPECT_EQ(block[0], 0xAA);
    if (c.address == 0) {
        EXPECT_NE(readProp(c.id, c.text, 0x1016, b, c.length, 40), 0);
        EXPECT_EQ(block[0], 0xAA);
        EXPECT_NE(writeProp(c.id, c.text, 0x1016, b, c.length, 40), 0);
    }
    EXPECT_NE(write(c.id, c.text, 0x1016, b, c.length, c.address), 0);
    uint8_t rate[4] = {};
    EXPECT_EQ(vqsim().getProp(kMouseId, 40, rate, 4), 1);
    EXPECT_EQ(rate[0], 0x01);
    std::vector<uint8_t> memoryAfter(0x4000);
    ASSERT_EQ(vqsim().getMemory(kMouseId, 0, memoryAfter.data(), 0x4000), 0);
    EXPECT_EQ(memoryBefore, memoryAfter);
}

INSTANTIATE_TEST_SUITE_P(VqLibraryTest, BadInputTest,
    ::testing::Values(BadInput{"UnknownId", u"HID\\VID_0000&PID_0000", u"", 4, 0, false},
        BadInput{"EmptyId", u"", u"", 4, 0, false},
        BadInput{"NullId", nullptr, u"", 4, 0, false},
        BadInput{"NullText", kMouse16, nullptr, 4, 0, false},
        BadInput{"LengthOver2048", kMouse16, u"", 2049, 0, false},
        BadInput{"NegativeLength", kMouse16, u"", -1, 0, false},
        BadInput{"NullBlock", kMouse16, u"", 4, 0, true},
        BadInput{"NegativeAddress", kMouse16, u"", 4, -16, false},
        BadInput{"PastTheMemory", kMouse16, u"", 16, 0x3FF8, false}),
    RowName());

TEST_F(VqLibraryTest, BadLightingInputFailsAndSendsNothing)
{
    auto rgb = reinterpret_cast<vqNotifyRGBDevice_t>(QLibrary("Hexlane.dll").resolve("vqNotifyRGBDevice"));
    uint8_t report[1024] = {};
    EXPECT_NE(rgb(nullptr, report, 14), 0);
    EXPECT_NE(rgb(reinterpret_cast<const uint8_t*>("M1.0\0\0\0\0\0\0\0\0\0\0"), nullptr, 14), 0);
    EXPECT_EQ(vqsim().lastRgb("M1.0", nullptr, nullptr), 0);
}

TEST_F(VqLibraryTest, FailNextFailsOnlyTheNextCall)
{
    auto readProp = fn<vqReadProp_t>("vqReadProp");
    uint8_t block[VQ_BLOCK_SIZE] = {};
    vqsim().failNext("vqReadProp");
    EXPECT_NE(readProp(kMouse16, u"", 0x1016, block, 1, 40), 0);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(readProp(kMouse16, u"", 0x1016, block, 1, 40), 0);
    EXPECT_EQ(block[0], 1);
    vqsim().failNext(nullptr);
    EXPECT_NE(fn<vqDeviceExist_t>("vqDeviceExist")(kMouse16), 0);
    EXPECT_EQ(fn<vqDeviceExist_t>("vqDeviceExist")(kMouse16), 0);
    VqSimCall call;
    ASSERT_EQ(vqsim().callAt(vqsim().callCount() - 1, &call), 0);
    EXPECT_STREQ(call.name, "vqDeviceExist");
    EXPECT_STREQ(call.id, kMouseId);
    EXPECT_EQ(call.result, 0);
}

std::mutex g_seenLock;
std::vector<std::pair<int, std::thread::id>> g_seen;
std::vector<QByteArray> g_reports;

bool recordA(uint16_t code)
{
    std::lock_guard<std::mutex> g(g_seenLock);
    g_seen.push_back({code, std::this_thread::get_id()});
    return true;
}
bool recordB(uint16_t code) { return recordA(uint16_t(code + 1000)); }
bool recordData(const uint8_t** report, int32_t length)
{
    std::lock_guard<std::mutex> g(g_seenLock);
    g_reports.push_back(QByteArray(reinterpret_cast<const char*>(*report), length));
    return true;
}

TEST_F(VqLibraryTest, EveryRegistrationIsCalledOncePerEventOnTheLibrarysThread)
{
    g_seen.clear();
    auto onEvent = fn<vqOnDeviceEvent_t>("vqOnDeviceEvent");
    for (VqDeviceEventCallback cb : {&recordA, &recordB, &recordA}) {
        VqDeviceEventCallback local = cb; // the library copies it during the call
        ASSERT_EQ(onEvent(&local), 0);
    }
    EXPECT_NE(onEvent(nullptr), 0);
    EXPECT_EQ(vqsim().eventRegistrations(), 3);

    vqsim().emitEvent(5);
    ASSERT_GE(vqsim().addDevice("Version=Q1.0\nDeviceId=HID\\VID_9&PID_9\n"), 3);
    ASSERT_EQ(vqsim().removeDevice("HID\\VID_9&PID_9"), 0);
    ASSERT_TRUE(vqsim().waitIdle(5000));
    std::lock_guard<std::mutex> g(g_seenLock);
    std::vector<int> codes;
    for (const auto& s : g_seen) {
        codes.push_back(s.first);
        EXPECT_NE(s.second, std::this_thread::get_id());
    }
    EXPECT_EQ(codes, (std::vector<int>{5, 1005, 5, 2, 1002, 2, 1, 1001, 1}));
}

TEST_F(VqLibraryTest, DataRegistrationReplacesTheDevicesEarlierOne)
{
    g_reports.clear();
    auto onData = fn<vqonDeviceData_t>("vqonDeviceData");
    VqDeviceDataCallback cb = &recordData;
    ASSERT_EQ(onData(kMouse16, u"path", 0x1016, &cb), 0);
    ASSERT_EQ(onData(kMouse16, u"path", 0x1016, &cb), 0);
    EXPECT_NE(onData(u"unknown", u"path", 0x1016, &cb), 0);
    const uint8_t bytes[9] = {1, 5, 0, 0, 0, 0, 0, 0, 9};
    ASSERT_EQ(vqsim().emitData(kMouseId, bytes, 9), 0);
    EXPECT_NE(vqsim().emitData(kKeyboardId, bytes, 9), 0);
    EXPECT_NE(vqsim().emitData(kMouseId, bytes, 7), 0); // shorter than any device report
    ASSERT_TRUE(vqsim().waitIdle(5000));
    std::lock_guard<std::mutex> g(g_seenLock);
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports[0], QByteArray(reinterpret_cast<const char*>(bytes), 9));
}

TEST_F(VqLibraryTest, DeviceFileGivesPropertiesAndMemory)
{
    SimDevices file(QStringLiteral("# a comment\n[device]\nVersion=T1.0\nDeviceId=ID-1\nprop.7 = 0x01, 0x02\n"
                                   "mem.0E00=0xaa,bb\n[device]\nVersion=T2.0\nDeviceId=ID-2\n"));
    uint8_t bytes[4] = {};
    EXPECT_EQ(vqsim().getProp("ID-1", 7, bytes, 4), 2);
    EXPECT_EQ(bytes[1], 2);
    ASSERT_EQ(vqsim().getMemory("ID-1", 0xE00, bytes, 2), 0);
    EXPECT_EQ(bytes[0], 0xAA);
    EXPECT_EQ(bytes[1], 0xBB);
    EXPECT_EQ(vqsim().getProp("ID-2", 7, bytes, 4), -1);
}

TEST_F(VqLibraryTest, StateFileKeepsPropertiesAndMemoryAcrossRuns)
{
    QTemporaryDir dir;
    const QByteArray state = QFile::encodeName(dir.filePath("state.txt"));
    setenv("VQSIM_STATE", state.constData(), 1);
    vqsim().reset();
    const uint8_t data[3] = {9, 8, 7};
    ASSERT_EQ(fn<vqWriteProp_t>("vqWriteProp")(kMouse16, u"", 0x1016, data, 3, 61), 0);
    ASSERT_EQ(fn<vqWrite_t>("vqWrite")(kMouse16, u"", 0x1016, data, 3, 0x2000), 0);

    vqsim().reset(); // a new run reads the device file and the state again
    uint8_t back[3] = {};
    EXPECT_EQ(vqsim().getProp(kMouseId, 61, back, 3), 3);
    EXPECT_EQ(back[2], 7);
    ASSERT_EQ(vqsim().getMemory(kMouseId, 0x2000, back, 3), 0);
    EXPECT_EQ(back[0], 9);

    unsetenv("VQSIM_STATE");
    vqsim().reset();
    EXPECT_EQ(vqsim().getProp(kMouseId, 61, back, 3), -1);
}

// Runs f and returns what it wrote to standard error.
std::string stderrOf(const std::function<void()>& f)
{
    ::testing::internal::CaptureStderr();
    f();
    return ::testing::internal::GetCapturedStderr();
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The entry points' arguments that the program always passes the same way, with a wrong one: the
// call that the library refuses and reports, and how it is made.
class WrongFixedArguments;
struct WrongCall {
    const char* name;
    const char* call;
    int32_t (*make)(WrongFixedArguments& t);
};

void PrintTo(const WrongCall& row, std::ostream* os) { *os << row.name; }

class WrongFixedArguments : public VqLibraryTest, public ::testing::WithParamInterface<WrongCall> {
public:
    void SetUp() override
    {
        VqLibraryTest::SetUp();
        std::memset(block, 0x5A, sizeof block);
        marked17[16] = 1;
    }
    using VqLibraryTest::fn;

    uint8_t block[VQ_BLOCK_SIZE];
    uint8_t scratch = 0;
    const uint8_t zeros17[17] = {};
    uint8_t marked17[17] = {};
    VqDeviceDataCallback cb = &recordData;
};

TEST_P(WrongFixedArguments, AreRefusedReportedAndChangeNothing)
{
    const WrongCall& c = GetParam();
    setSimProp(kMouseId, 40, QByteArray("\x07"));
    int32_t result = 0;
    const std::string err = stderrOf([&] { result = c.make(*this); });
    EXPECT_NE(result, 0);
    EXPECT_TRUE(contains(err, std::string("libvq: ") + c.call + " refused")) << err;
    const VqSimCall last = lastSimCall(c.call);
    EXPECT_EQ(last.result, result);
    EXPECT_EQ(block[0], 0x5A);
    EXPECT_EQ(simProp(kMouseId, 40), QByteArray("\x07"));
    EXPECT_EQ(simMemory(kMouseId, 0, 4), QByteArray(4, '\0'));
    const uint8_t data[9] = {1, 5, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_NE(vqsim().emitData(kMouseId, data, 9), 0); // no data callback was registered
    uint8_t answer[73] = {};
    ASSERT_EQ(fn<vqAsk_t>("vqAsk")(kMouse16, u"any text", 0x1016, answer, 73), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(answer), "M1.0;M100000001"); // the serial was not cleared
}

INSTANTIATE_TEST_SUITE_P(VqLibraryTest, WrongFixedArguments,
    ::testing::Values(
        WrongCall{"ReadWrongCode", "vqRead",
                  [](WrongFixedArguments& t) { return t.fn<vqRead_t>("vqRead")(kMouse16, u"", 0x1017, t.block, 4, 0); }},
        WrongCall{"ReadWithAText", "vqRead",
                  [](WrongFixedArguments& t) { return t.fn<vqRead_t>("vqRead")(kMouse16, u"x", 0x1016, t.block, 4, 0); }},
        WrongCall{"WriteZeroCode", "vqWrite",
                  [](WrongFixedArguments& t) { return t.fn<vqWrite_t>("vqWrite")(kMouse16, u"", 0, t.block, 4, 0); }},
        WrongCall{"WriteWithAText", "vqWrite",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqWrite_t>("vqWrite")(kMouse16, u"M1.0", 0x1016, t.block, 4, 0);
                  }},
        WrongCall{"ReadPropWrongCode", "vqReadProp",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqReadProp_t>("vqReadProp")(kMouse16, u"", 0x16, t.block, 1, 40);
                  }},
        WrongCall{"WritePropWrongCode", "vqWriteProp",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqWriteProp_t>("vqWriteProp")(kMouse16, u"", 0x1610, t.block, 1, 40);
                  }},
        WrongCall{"WritePropWithABlank", "vqWriteProp",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqWriteProp_t>("vqWriteProp")(kMouse16, u" ", 0x1016, t.block, 1, 40);
                  }},
        WrongCall{"ResetWrongCode", "vqReset",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqReset_t>("vqReset")(kMouse16, u"", 0x1017, 2, &t.scratch, 0);
                  }},
        WrongCall{"ResetWithAText", "vqReset",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqReset_t>("vqReset")(kMouse16, u"x", 0x1016, 2, &t.scratch, 0);
                  }},
        WrongCall{"NotifyWrongCode", "vqNotify",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqNotify_t>("vqNotify")(kMouse16, u"", 0x1017, 1, t.block, 0);
                  }},
        WrongCall{"AskZeroCode", "vqAsk",
                  [](WrongFixedArguments& t) { return t.fn<vqAsk_t>("vqAsk")(kMouse16, u"", 0, t.block, 73); }},
        WrongCall{"DataRegistrationWrongCode", "vqonDeviceData",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqonDeviceData_t>("vqonDeviceData")(kMouse16, u"path", 0x1017, &t.cb);
                  }},
        WrongCall{"IdWriteWrongCodeAndLength", "vqIDWrite",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqIDWrite_t>("vqIDWrite")(kMouse16, u"", 0x1017, 3, t.block, 14);
                  }},
        WrongCall{"IdWriteMarkedSeventeenthByte", "vqIDWrite",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqIDWrite_t>("vqIDWrite")(kMouse16, u"", 0x1016, 2, t.marked17, 17);
                  }},
        WrongCall{"IdWriteSixteenBytes", "vqIDWrite",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqIDWrite_t>("vqIDWrite")(kMouse16, u"", 0x1016, 2, t.zeros17, 16);
                  }},
        WrongCall{"FinishUpdateRomWithAText", "vqFinishUpdateRom",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqFinishUpdateRom_t>("vqFinishUpdateRom")(kMouse16, u"x", 0x1016);
                  }},
        WrongCall{"CheckRomZeroCode", "vqCheckRom",
                  [](WrongFixedArguments& t) { return t.fn<vqCheckRom_t>("vqCheckRom")(kMouse16, u"", 0, 1, 2); }},
        WrongCall{"BornRomWithAText", "vqBornRom",
                  [](WrongFixedArguments& t) {
                      return t.fn<vqBornRom_t>("vqBornRom")(kMouse16, u"x", 0x1016, t.block, 1, 2);
                  }},
        WrongCall{"EraseRomWrongCode", "vqEraseRom",
                  [](WrongFixedArguments& t) { return t.fn<vqEraseRom_t>("vqEraseRom")(kMouse16, u"", 0x1017); }},
        WrongCall{"RebootRomWrongCode", "vqRebootRom",
                  [](WrongFixedArguments& t) { return t.fn<vqRebootRom_t>("vqRebootRom")(kMouse16, u"", 0x1017); }}),
    RowName());

// The right arguments are taken.
TEST_F(VqLibraryTest, TheRightFixedArgumentsAreTaken)
{
    const uint8_t zeros17[17] = {};
    uint8_t block[VQ_BLOCK_SIZE] = {};
    EXPECT_EQ(fn<vqIDWrite_t>("vqIDWrite")(kMouse16, u"any text", 0x1016, 2, zeros17, 17), 0);
    EXPECT_EQ(fn<vqRead_t>("vqRead")(kMouse16, u"", 0x1016, block, 4, 0), 0);
}

TEST_F(VqLibraryTest, CallLogKeepsTheLatestThousandCalls)
{
    auto exist = fn<vqDeviceExist_t>("vqDeviceExist");
    vqsim().clearCalls();
    for (int i = 0; i < 1050; ++i) {
        const std::u16string id = u"id-" + QString::number(i).toStdU16String();
        exist(id.c_str());
    }
    ASSERT_EQ(vqsim().callCount(), 1000);
    VqSimCall call;
    ASSERT_EQ(vqsim().callAt(0, &call), 0);
    EXPECT_STREQ(call.id, "id-50");
    ASSERT_EQ(vqsim().callAt(999, &call), 0);
    EXPECT_STREQ(call.id, "id-1049");
    EXPECT_NE(vqsim().callAt(1000, &call), 0);
}

TEST_F(VqLibraryTest, DeviceFileLinesThatCannotBeReadAreReportedAndSkipped)
{
    const char* lines[] = {
        "Version=X1.0",                   // 1: before any device
        "[device]",                       // 2
        "Version=T1.0",                   // 3
        "DeviceId=ID-1",                  // 4
        "mem.7FFFFFFFFFFFFFFF=0x01",      // 5: far past the memory
        "mem.FFFFFFFFFFFFFFFFFFFFFF=0x01", // 6: beyond 64 bits
        "mem.3FFF=0x01,0x02",             // 7: runs past the end
        "mem.4000=0x01",                  // 8
        "mem.-10=0x01",                   // 9
        "mem.=0x01",                      // 10
        "mem.1G=0x01",                    // 11
        "prop.x=0x01",                    // 12
        "prop.99999999999=0x01",          // 13
        "Bogus=1",                        // 14
        "no equals sign",                 // 15
        "mem.3FFE=0x0a,0x0b",             // 16: the last two bytes
        "mem.0x10=0x0c",                  // 17
        "prop.-7=0x01",                   // 18
    };
    QString text;
    for (const char* line : lines)
        text += QString::fromUtf8(line) + '\n';
    std::unique_ptr<SimDevices> file;
    const std::string err = stderrOf([&] { file = std::make_unique<SimDevices>(text); });
    for (int n = 1; n <= 15; ++n) {
        if (n >= 2 && n <= 4)
            continue;
        EXPECT_TRUE(contains(err, "device file line " + std::to_string(n) + " ")) << n << err;
    }
    for (int n : {16, 17, 18})
        EXPECT_FALSE(contains(err, "device file line " + std::to_string(n) + " ")) << n;

    QByteArray expected(0x4000, '\0');
    expected[0x10] = 0x0c;
    expected[0x3FFE] = 0x0a;
    expected[0x3FFF] = 0x0b;
    EXPECT_EQ(simMemory("ID-1", 0, 0x4000), expected);
    EXPECT_EQ(simProp("ID-1", -7), QByteArray("\x01"));
    EXPECT_EQ(simProp("ID-1", 0), QByteArray());
}

TEST_F(VqLibraryTest, StateFileLinesThatCannotBeReadAreReportedAndSkipped)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("state.txt");
    const QByteArray id = QByteArray(kMouseId).toHex();
    const QByteArray lines[] = {
        "mem " + id + " 9223372036854775807 01", // 1
        "mem " + id + " 16383 0102",             // 2: runs past the end
        "mem " + id + " -1 01",                  // 3
        "mem " + id + " 0 0g",                   // 4
        "mem " + id + " 0 010",                  // 5
        "prop " + id + " x 01",                  // 6
        "prop zz 40 01",                         // 7
        "nonsense",                              // 8
        "mem " + id + " 256 aabb",               // 9
        "prop " + id + " -5 0102",               // 10
        "mem 4e4f4e45 0 01",                     // 11: a device not present in this run
    };
    QByteArray state;
    for (const QByteArray& line : lines)
        state += line + '\n';
    ASSERT_TRUE(test_support::writeFile(path, state));
    setenv("VQSIM_STATE", QFile::encodeName(path).constData(), 1);
    const std::string err = stderrOf([] { vqsim().reset(); });
    unsetenv("VQSIM_STATE");
    for (int n = 1; n <= 11; ++n)
        EXPECT_EQ(contains(err, "state file line " + std::to_string(n) + " "), n <= 8) << n << err;
    QByteArray expected(0x4000, '\0');
    expected[256] = char(0xAA);
    expected[257] = char(0xBB);
    EXPECT_EQ(simMemory(kMouseId, 0, 0x4000), expected);
    EXPECT_EQ(simProp(kMouseId, -5), QByteArray("\x01\x02"));
    EXPECT_EQ(simProp(kMouseId, 40), QByteArray("\x01"));
}

TEST_F(VqLibraryTest, StateFileKeepsMemoryTheProgramCleared)
{
    SimDevices file(QStringLiteral("[device]\nVersion=T1.0\nDeviceId=ID-1\nmem.0E00=0xaa,0xbb\nmem.2000=0x01\n"));
    QTemporaryDir dir;
    setenv("VQSIM_STATE", QFile::encodeName(dir.filePath("state.txt")).constData(), 1);
    vqsim().reset();
    const uint8_t zeros[2] = {};
    ASSERT_EQ(fn<vqWrite_t>("vqWrite")(u"ID-1", u"", 0x1016, zeros, 2, 0xE00), 0);
    vqsim().reset(); // the next run
    unsetenv("VQSIM_STATE");
    EXPECT_EQ(simMemory("ID-1", 0xE00, 2), QByteArray(2, '\0'));
    EXPECT_EQ(simMemory("ID-1", 0x2000, 1), QByteArray("\x01"));
}

// A save that cannot be completed (the disk full soon, part way or at its last byte, or
// no file to write at all) keeps the earlier state file whole, leaves no temporary file behind and
// says so.
TEST_F(VqLibraryTest, AFailedStateSaveKeepsTheEarlierStateFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("state.txt");
    setenv("VQSIM_STATE", QFile::encodeName(path).constData(), 1);
    vqsim().reset();
    auto writeProp = fn<vqWriteProp_t>("vqWriteProp");
    const uint8_t before[3] = {1, 2, 3}, after[3] = {4, 5, 6};
    ASSERT_EQ(writeProp(kMouse16, u"", 0x1016, before, 3, 61), 0);
    const QByteArray saved = test_support::readFile(path);
    ASSERT_GT(saved.size(), 1000);
    const auto onlyTheStateFile = [&] {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot) == QStringList{"state.txt"};
    };

    // Files may grow only so far; the new state is as long as the old one. (The captured standard
    // error is a file as well: the message must fit the first limit.)
    for (const qint64 limit : {qint64(300), qint64(saved.size() / 2), qint64(saved.size() - 1)}) {
        struct rlimit old;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        struct rlimit limited = old;
        limited.rlim_cur = rlim_t(limit);
        void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const std::string err = stderrOf([&] { EXPECT_EQ(writeProp(kMouse16, u"", 0x1016, after, 3, 61), 0); });
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, oldHandler);
        EXPECT_TRUE(test_support::readFile(path) == saved) << "the state file was replaced at limit " << limit;
        EXPECT_TRUE(onlyTheStateFile()) << limit;
        EXPECT_TRUE(contains(err, "state file")) << limit << ": " << err;
    }

    // No file can be made where the temporary goes.
    ASSERT_TRUE(QDir(dir.path()).mkdir("state.txt.tmp"));
    EXPECT_EQ(writeProp(kMouse16, u"", 0x1016, after, 3, 61), 0);
    EXPECT_TRUE(test_support::readFile(path) == saved) << "the state file was replaced";
    ASSERT_TRUE(QDir(dir.path()).rmdir("state.txt.tmp"));

    // The next save that can be written replaces the file.
    ASSERT_EQ(writeProp(kMouse16, u"", 0x1016, after, 3, 61), 0);
    EXPECT_TRUE(onlyTheStateFile());
    vqsim().reset();
    unsetenv("VQSIM_STATE");
    EXPECT_EQ(simProp(kMouseId, 61), QByteArray("\x04\x05\x06"));
}

TEST_F(VqLibraryTest, AnEmptyPropertyReadsAsNoBytes)
{
    SimDevices file(QStringLiteral("[device]\nVersion=T1.0\nDeviceId=ID-1\nprop.7=\n"));
    uint8_t block[4];
    std::memset(block, 0x5A, sizeof block);
    EXPECT_EQ(fn<vqReadProp_t>("vqReadProp")(u"ID-1", u"", 0x1016, block, 4, 7), 0);
    EXPECT_EQ(block[0], 0x5A);
    EXPECT_EQ(vqsim().getProp("ID-1", 7, block, 4), 0);
    EXPECT_EQ(block[0], 0x5A);
}

} // namespace
