// The simulated library's device file: the input is the file the library loads, and then an
// entry that the control interface adds. Each device it lists is read and written through the
// library's entry points; what they read must agree with the controls' view of the device, and
// what they write must read back.
#include "vqsim_fuzz.h"

#include <cstdlib>

using namespace vqsim_fuzz;

namespace {

const char16_t kNoText[] = u"";

void exercise(const std::u16string& id)
{
    const Library& lib = Library::get();
    static uint8_t block[VQ_BLOCK_SIZE];
    static uint8_t control[VQ_BLOCK_SIZE];
    // A listed id the library does not find again: cut to the record's field, or empty. The
    // controls take ids in UTF-8, which a lone surrogate has none of.
    if (lib.read(id.c_str(), kNoText, VQ_DEVICE_CONSTANT, block, 1, 0) != 0 ||
        !QString::fromStdU16String(id).isValidUtf16())
        return;
    const std::string key = utf8(id);
    for (int index : {-1, 0, 1, 40, 42, 48, 50, 255, 0x7FFFFFFF}) {
        std::memset(block, 0, sizeof block);
        if (lib.readProp(id.c_str(), kNoText, VQ_DEVICE_CONSTANT, block, VQ_BLOCK_SIZE, index) != 0)
            continue;
        const int n = sim().getProp(key.c_str(), index, control, sizeof control);
        if (n >= 0)
            FUZZ_CHECK(n <= VQ_BLOCK_SIZE && std::memcmp(block, control, size_t(n)) == 0);
    }
    for (int address : {0, 0x0E00, 0x4000 - VQ_BLOCK_SIZE}) {
        if (lib.read(id.c_str(), kNoText, VQ_DEVICE_CONSTANT, block, VQ_BLOCK_SIZE, address) != 0)
            continue;
        if (sim().getMemory(key.c_str(), address, control, VQ_BLOCK_SIZE) == 0)
            FUZZ_CHECK(std::memcmp(block, control, VQ_BLOCK_SIZE) == 0);
    }
    // Ranges at the end of the memory and past it.
    const uint8_t pattern[4] = {0xA5, 0x5A, 0x00, 0xFF};
    FUZZ_CHECK(lib.write(id.c_str(), kNoText, VQ_DEVICE_CONSTANT, pattern, 4, 0x4000 - 4) == 0);
    FUZZ_CHECK(lib.read(id.c_str(), kNoText, VQ_DEVICE_CONSTANT, block, 4, 0x4000 - 4) == 0);
    FUZZ_CHECK(std::memcmp(block, pattern, 4) == 0);
    FUZZ_CHECK(lib.write(id.c_str(), kNoText, VQ_DEVICE_CONSTANT, pattern, 4, 0x4000 - 3) != 0);
    FUZZ_CHECK(lib.writeProp(id.c_str(), kNoText, VQ_DEVICE_CONSTANT, pattern, 4, 7) == 0);
    FUZZ_CHECK(lib.readProp(id.c_str(), kNoText, VQ_DEVICE_CONSTANT, block, 4, 7) == 0);
    FUZZ_CHECK(std::memcmp(block, pattern, 4) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QByteArray path = [] {
        const QByteArray p = filePath("devices.txt");
        setenv("VQSIM_DEVICES", p.constData(), 1);
        unsetenv("VQSIM_STATE");
        return p;
    }();
    writeFile(path, data, size);
    const int count = sim().reset();
    FUZZ_CHECK(count >= 0);
    for (const std::u16string& id : listedIds())
        exercise(id);

    const std::string entry(reinterpret_cast<const char*>(data), size);
    if (entry.find('\0') == std::string::npos) {
        const int after = sim().addDevice(entry.c_str());
        FUZZ_CHECK(after > count);
        for (const std::u16string& id : listedIds())
            exercise(id);
        sim().shutdown();
    }
    return 0;
}
