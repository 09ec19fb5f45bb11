// A 200-byte macro slot write against the bare vqWrite call.
#include "bench_side_by_side.h"
#include "device_bench.h"

#include "devices/device_functions.h"

#include <QStringList>

int main()
{
    DeviceBench bench;
    DeviceFunctions functions;
    QStringList tokens;
    for (int i = 0; i < 200; ++i)
        tokens << QStringLiteral("0x%1").arg(i * 7 % 256, 2, 16, QLatin1Char('0'));
    const QString data = tokens.join(QLatin1Char(','));
    auto write = [&] {
        return functions.writeSlot(QStringLiteral("M1.0"), QStringLiteral("0xA00"), QStringLiteral("200"), data);
    };
    if (!write()) {
        std::fprintf(stderr, "the slot write failed\n");
        return 2;
    }

    const auto vqWrite = bench.libvq<vqWrite_t>("vqWrite");
    const std::u16string id = bench.deviceId(QStringLiteral("M1.0"));
    uint8_t block[VQ_BLOCK_SIZE] = {};
    for (int i = 0; i < 200; ++i)
        block[i] = uint8_t(i * 7);
    return bench::compare("Macro slot write, 200 bytes",
                          {"vqWrite", [&] { vqWrite(id.c_str(), u"", VQ_DEVICE_CONSTANT, block, 200, 0xA00); }},
                          {"DeviceFunctions::writeSlot", [&] { write(); }}, 10);
}
