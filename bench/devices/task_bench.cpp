// A page's device write (a button assignment) against the bare vqWriteProp call.
#include "bench_side_by_side.h"
#include "device_bench.h"

#include "devices/device_data_handler.h"

int main()
{
    DeviceBench bench;
    device_data_handler handler;
    handler.loadDriverXml(QStringLiteral(":/drive/M1.0"));
    handler.loadDriverXml(QStringLiteral(":/drive/K1.0"));
    auto write = [&] {
        return handler.writeDeviceTask(QStringLiteral("M1.0"), QStringLiteral("M1.0"), QStringLiteral("61"),
                                       QStringLiteral("DpiUp"), QStringLiteral("MouseFunction"), QStringLiteral("1"));
    };
    if (!write()) {
        std::fprintf(stderr, "the device write failed\n");
        return 2;
    }

    const auto writeProp = bench.libvq<vqWriteProp_t>("vqWriteProp");
    const std::u16string id = bench.deviceId(QStringLiteral("M1.0"));
    const uint8_t bytes[4] = {0x01, 0x21, 0x00, 0x00};
    return bench::compare("Button assignment (writeDeviceTask, MouseFunction DpiUp on M1.0)",
                          {"vqWriteProp", [&] { writeProp(id.c_str(), u"", VQ_DEVICE_CONSTANT, bytes, 4, 61); }},
                          {"device_data_handler::writeDeviceTask", [&] { write(); }}, 10);
}
