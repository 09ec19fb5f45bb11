// Task texts, macro texts and colour items against the built-in driver descriptions, written to
// the simulated mouse "M1.0" and keyboard "K1.0" listed in a main window. The input is lines of
// tab-separated fields, each line one call:
//   task <Version> <DriverVersion> <Index> <Task> <TaskType> <TaskCount>   writeDeviceTask
//   build <TaskType> <Task> <TaskCount>                                    buildTaskData
//   macro <text> <TaskCount>                                               parseMacro, macroBytes
//   rgb <Version> <DriverVersion> <item>...                                writeRgbDevice
//   dpi <mode> <x> <y> | gkey <code> <p1> <p2> | hotkey <codes>
// A write that fails leaves the devices as they were.
#include "fuzz_app.h"
#include "fuzz_check.h"

#include "app/window.h"
#include "devices/device_data_handler.h"
#include "vqsim/vqsim.h"

#include <QByteArray>
#include <QStringList>

#include <memory>

namespace {

const char* const kDeviceIds[] = {"HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000",
                                  "HID\\VID_1A2C&PID_0E30&MI_01\\7&2C3D4E5F&0&0000"};
const int kMemorySize = 0x4000;

void setUp()
{
    static const bool done = [] {
        TestApplication* app = fuzzApplication();
        VqSim::instance().reset();
        auto* window = new Window();
        app->setMainWindow(window);
        FUZZ_CHECK(window->deviceMap().size() == 2);
        return true;
    }();
    (void)done;
}

// Both devices' memory and one property of each.
QByteArray devicesState(int index)
{
    QByteArray out;
    static uint8_t bytes[kMemorySize];
    for (const char* id : kDeviceIds) {
        FUZZ_CHECK(VqSim::instance().getMemory(id, 0, bytes, kMemorySize) == 0);
        out.append(reinterpret_cast<const char*>(bytes), kMemorySize);
        const int n = VqSim::instance().getProp(id, index, bytes, VQ_BLOCK_SIZE);
        out.append(QByteArray::number(n));
        if (n > 0)
            out.append(reinterpret_cast<const char*>(bytes), n);
    }
    return out;
}

void run(device_data_handler& handler, const QStringList& f)
{
    const QString op = f.value(0);
    if (op == QLatin1String("task")) {
        const QByteArray before = devicesState(f.value(3).toInt());
        if (!handler.writeDeviceTask(f.value(1), f.value(2), f.value(3), f.value(4), f.value(5), f.value(6)))
            FUZZ_CHECK(devicesState(f.value(3).toInt()) == before);
    } else if (op == QLatin1String("build")) {
        handler.buildTaskData(f.value(1), f.value(2), f.value(3));
    } else if (op == QLatin1String("macro")) {
        handler.macroBytes(handler.parseMacro(f.value(1)), f.value(2));
    } else if (op == QLatin1String("rgb")) {
        handler.writeRgbDevice(f.value(1), f.value(2), f.mid(3));
    } else if (op == QLatin1String("dpi")) {
        device_data_handler::dpiData(f.value(1), f.value(2), f.value(3));
    } else if (op == QLatin1String("gkey")) {
        device_data_handler::gkeyData(f.value(1), f.value(2), f.value(3));
    } else if (op == QLatin1String("hotkey")) {
        device_data_handler::hotkeyData(f.value(1));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    setUp();
    // Every input starts from the built-in devices and a new handler.
    VqSim::instance().reset();
    device_data_handler handler;
    handler.loadDriverXml(QStringLiteral(":/drive/M1.0"));
    handler.loadDriverXml(QStringLiteral(":/drive/K1.0"));
    handler.loadDriverXml(QStringLiteral(":/drive/M2.0"));

    const QStringList lines = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)).split('\n');
    for (int i = 0; i < lines.size() && i < 64; ++i)
        run(handler, lines.at(i).split('\t'));
    return 0;
}
