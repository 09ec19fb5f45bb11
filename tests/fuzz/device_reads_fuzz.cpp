// The device's own bytes as the program reads them back: properties and memory of the simulated
// mouse "M1.0" and keyboard "K1.0" set from the input, then read through the program's property
// and memory operations and decoders. The input is a sequence of choices (fuzz_input.h), each
// one step:
//   0 property bytes   1 readProp          2 readDpiValue        3 the mouse configuration report
//   4 memory bytes     5 isSlotEmpty       6 the decoders on a text of the input's own
// Checked against what the simulated library holds, read through its controls: token texts are
// the device's bytes (zeros past what it holds), refused lengths give nothing, resolutions are
// the bytes times 50, the report's device part is the bytes' values in the report's format, an
// area is empty exactly when its bytes are zero, and the decoders give numbers only.
#include "fuzz_app.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

#include "app/window.h"
#include "devices/device_functions.h"
#include "vqsim/vqsim.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>

#include <climits>
#include <cstdlib>
#include <vector>

namespace {

struct Device {
    const char* version;
    const char* id;
};
const Device kDevices[] = {{"M1.0", "HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000"},
                           {"K1.0", "HID\\VID_1A2C&PID_0E30&MI_01\\7&2C3D4E5F&0&0000"}};
const char* const kVersions[] = {"M1.0", "K1.0", "X1.0", ""};
// The properties the mouse configuration report reads, and a few others.
const int kIndexes[] = {40, 42, 43, 44, 48, 50, 51, 52, 53, 54, 0, 1, 61, 255};
const int kMemorySize = 0x4000;

DeviceFunctions* functions()
{
    static DeviceFunctions* f = [] {
        TestApplication* app = fuzzApplication();
        auto* window = new Window();
        app->setMainWindow(window);
        FUZZ_CHECK(window->deviceMap().size() == 2);
        return window->deviceFunctions();
    }();
    return f;
}

const char* idOf(const QString& version)
{
    for (const Device& d : kDevices)
        if (version == QLatin1String(d.version))
            return d.id;
    return nullptr;
}

// What the device holds under the property: its bytes, none when it has no such property.
QByteArray heldProperty(const char* id, int index)
{
    static uint8_t bytes[VQ_BLOCK_SIZE];
    const int n = VqSim::instance().getProp(id, index, bytes, VQ_BLOCK_SIZE);
    return n > 0 ? QByteArray(reinterpret_cast<const char*>(bytes), n) : QByteArray();
}

// Byte i of what an unlisted device, or a property, reads as: zero past what is held.
int byteOf(const QByteArray& held, int i) { return i < held.size() ? uint8_t(held[i]) : 0; }

QString tokens(const QByteArray& held, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << QString::asprintf("0x%02x", byteOf(held, i));
    return out.join(QLatin1Char(','));
}

// The address text as strtol reads it in base 16; false for a negative number.
bool addressOf(const QString& text, int* address)
{
    const QByteArray latin1 = text.toLatin1();
    const char* s = latin1.constData();
    char* end = nullptr;
    const long long value = std::strtoll(s, &end, 16);
    const char* p = s;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '-' && end != s)
        return false;
    *address = int(std::min<long long>(value, INT_MAX));
    return true;
}

void checkReadProp(FuzzInput& in)
{
    const QString version = QLatin1String(kVersions[in.pick(4)]);
    const int index = kIndexes[in.pick(14)];
    const int choice = in.pick(4);
    const QString length = choice == 0 ? QString::number(in.pick(64))
                           : choice == 1 ? QString::number(int(in.u32() % 5000) - 500)
                                         : QString::fromStdString(in.text());
    const int n = length.toInt();
    const QString text = functions()->readProp(version, QString::number(index), length);
    if (n < 0 || n > VQ_BLOCK_SIZE) {
        FUZZ_CHECK(text.isEmpty());
        return;
    }
    const char* id = idOf(version);
    FUZZ_CHECK(text == tokens(id ? heldProperty(id, index) : QByteArray(), n));
}

void checkDpi(FuzzInput& in)
{
    const QString version = QLatin1String(kVersions[in.pick(4)]);
    const QString step = in.pick(2) ? QString::number(in.pick(8)) : QString::fromStdString(in.text());
    const int n = step.toInt();
    const int index = n >= 0 && n <= 4 ? 50 + n : n;
    const char* id = idOf(version);
    const QByteArray held = id ? heldProperty(id, index) : QByteArray();
    const QString expected = QString::asprintf("{\"DpiXVal\":\"%d\",\"DpiYVal\":\"%d\"}", byteOf(held, 1) * 50,
                                               byteOf(held, 3) * 50);
    FUZZ_CHECK(functions()->readDpiValue(version, step) == expected.toUtf8());
}

void checkReport(FuzzInput& in)
{
    const QString version = QLatin1String(kVersions[in.pick(4)]);
    const char* id = idOf(version);
    auto held = [id](int index) { return id ? heldProperty(id, index) : QByteArray(); };
    const QByteArray step = held(48), rate = held(40), lights = held(42), jitter = held(43), sound = held(44);
    const int s = byteOf(step, 0);
    const QByteArray dpi = held(s <= 4 ? 50 + s : s);
    const QString device = QString::asprintf(
        "reporVal:%d,curDpi:%d,DpiXVal:%d,DpiYVal:%d,lightVal:%d,%d,%d,%02x%02x%02x,%d,%d,%d,jittersVal:%d,%d,soundVal:%d,%d,",
        byteOf(rate, 0), s, byteOf(dpi, 1) * 50, byteOf(dpi, 3) * 50, byteOf(lights, 0), byteOf(lights, 1),
        byteOf(lights, 2), byteOf(lights, 3), byteOf(lights, 4), byteOf(lights, 5), byteOf(lights, 6),
        byteOf(lights, 7), byteOf(lights, 8), byteOf(jitter, 0), byteOf(jitter, 1), byteOf(sound, 0),
        byteOf(sound, 1));
    const QString report = functions()->windowsMouseConfig(version);
    FUZZ_CHECK(report.startsWith(device));
    static const QRegularExpression windows(
        QStringLiteral("^defaultMouseAccel:\\d,defaultScrollLinesX:\\d+,defaultMouseSpeed:\\d+,"
                       "defaultMouseDoubleClick:\\d+,defaultScrollLinesY:\\d+$"));
    FUZZ_CHECK(windows.match(report.mid(device.size())).hasMatch());
}

void checkSlot(FuzzInput& in)
{
    const QString version = QLatin1String(kVersions[in.pick(4)]);
    const int choice = in.pick(3);
    const QString address = choice == 0 ? QString::asprintf("0x%x", int(in.u32() % (kMemorySize + 64)))
                            : choice == 1 ? QString::number(int(in.u32() % kMemorySize), 16)
                                          : QString::fromStdString(in.text());
    const QString length = in.pick(2) ? QString::number(in.pick(255)) : QString::fromStdString(in.text());
    const int n = length.toInt();
    int at = 0;
    const char* id = idOf(version);
    const bool empty = functions()->isSlotEmpty(version, address, length);
    if (!id || n < 0 || n > VQ_BLOCK_SIZE || !addressOf(address, &at)) {
        FUZZ_CHECK(!empty);
        return;
    }
    // The read's answer is not examined: an area the device refuses to read reads as zeros.
    static uint8_t bytes[VQ_BLOCK_SIZE];
    bool zero = true;
    if (VqSim::instance().getMemory(id, at, bytes, n) == 0)
        for (int i = 0; i < n; ++i)
            zero = zero && bytes[i] == 0;
    FUZZ_CHECK(empty == zero);
}

void checkDecoders(FuzzInput& in)
{
    const QString text = QString::fromStdString(in.text());
    static const QRegularExpression number(QStringLiteral("^-?\\d+$"));
    for (const QString& v : DeviceFunctions::decodeDpi(text))
        FUZZ_CHECK(number.match(v).hasMatch() && v.toLongLong() % 50 == 0);
    FUZZ_CHECK(DeviceFunctions::decodeDpi(text).size() == 2);
    static const QRegularExpression lights(QStringLiteral("^(-?\\d+,){3}(-?[0-9a-f]+)+(,-?\\d+){3}$"));
    FUZZ_CHECK(lights.match(DeviceFunctions::decodeLights(text)).hasMatch());
    static const QRegularExpression pair(QStringLiteral("^-?\\d+,-?\\d+$"));
    FUZZ_CHECK(pair.match(DeviceFunctions::decodeJitters(text)).hasMatch());
    FUZZ_CHECK(pair.match(DeviceFunctions::decodeVoices(text)).hasMatch());
    for (const QString& token : text.split(QLatin1Char(',')))
        FUZZ_CHECK(number.match(DeviceFunctions::hexTokenToDec(token)).hasMatch());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    functions();
    // Every input starts from the built-in devices.
    VqSim::instance().reset();
    FuzzInput in(data, size);
    for (int step = 0; step < 48 && !in.atEnd(); ++step) {
        switch (in.pick(7)) {
        case 0: {
            const Device& d = kDevices[in.pick(2)];
            const int index = in.pick(2) ? kIndexes[in.pick(14)] : int(in.byte());
            const std::string bytes = in.text();
            VqSim::instance().setProp(d.id, index, reinterpret_cast<const uint8_t*>(bytes.data()), int(bytes.size()));
            break;
        }
        case 1:
            checkReadProp(in);
            break;
        case 2:
            checkDpi(in);
            break;
        case 3:
            checkReport(in);
            break;
        case 4: {
            const Device& d = kDevices[in.pick(2)];
            const int address = int(in.u32() % kMemorySize);
            const std::string bytes = in.text();
            VqSim::instance().setMemory(d.id, address, reinterpret_cast<const uint8_t*>(bytes.data()),
                                        int(bytes.size()));
            break;
        }
        case 5:
            checkSlot(in);
            break;
        default:
            checkDecoders(in);
            break;
        }
    }
    return 0;
}
