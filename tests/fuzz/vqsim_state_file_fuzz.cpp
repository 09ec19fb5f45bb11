// The simulated library's state file: the input is the state file it loads over two devices.
// Whatever the devices then hold is what the next run starts from: once the library has saved
// their state, loading it again gives the same memory and properties.
#include "vqsim_fuzz.h"

#include <cstdlib>

using namespace vqsim_fuzz;

namespace {

const char16_t kNoText[] = u"";
const char* const kIds[] = {"HID\\VID_1A2C&PID_0E24\\1", "HID\\VID_1A2C&PID_0E30\\2"};
const char16_t* const kIds16[] = {u"HID\\VID_1A2C&PID_0E24\\1", u"HID\\VID_1A2C&PID_0E30\\2"};
const char kDevices[] = "[device]\n"
                        "Version=M1.0\n"
                        "DeviceId=HID\\VID_1A2C&PID_0E24\\1\n"
                        "prop.40=0x01\n"
                        "prop.50=0x00,0x08,0x00,0x08\n"
                        "mem.0E00=0x84,0x04,0x00\n"
                        "[device]\n"
                        "Version=K1.0\n"
                        "DeviceId=HID\\VID_1A2C&PID_0E30\\2\n"
                        "UsagePage=0xFFAA\n"
                        "prop.40=0x02\n";
const int kMemorySize = 0x4000;

// Memory and the properties of the indices a state file is likeliest to name.
QByteArray snapshot()
{
    QByteArray out;
    static uint8_t bytes[kMemorySize];
    for (const char* id : kIds) {
        FUZZ_CHECK(sim().getMemory(id, 0, bytes, kMemorySize) == 0);
        out.append(reinterpret_cast<const char*>(bytes), kMemorySize);
        for (int index = -2; index <= 64; ++index) {
            const int n = sim().getProp(id, index, bytes, VQ_BLOCK_SIZE);
            out.append(QByteArray::number(index) + ':' + QByteArray::number(n) + ':');
            if (n > 0)
                out.append(reinterpret_cast<const char*>(bytes), n);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QByteArray statePath = [] {
        const QByteArray devices = filePath("devices.txt");
        writeFile(devices, reinterpret_cast<const uint8_t*>(kDevices), sizeof kDevices - 1);
        setenv("VQSIM_DEVICES", devices.constData(), 1);
        const QByteArray state = filePath("state.txt");
        setenv("VQSIM_STATE", state.constData(), 1);
        return state;
    }();
    writeFile(statePath, data, size);
    FUZZ_CHECK(sim().reset() == 2);
    const QByteArray loaded = snapshot();

    // A write saves the state of every device; this one changes nothing.
    static uint8_t byte;
    const Library& lib = Library::get();
    FUZZ_CHECK(lib.read(kIds16[0], kNoText, VQ_DEVICE_CONSTANT, &byte, 1, 0) == 0);
    FUZZ_CHECK(lib.write(kIds16[0], kNoText, VQ_DEVICE_CONSTANT, &byte, 1, 0) == 0);
    FUZZ_CHECK(sim().reset() == 2);
    FUZZ_CHECK(snapshot() == loaded);
    return 0;
}
