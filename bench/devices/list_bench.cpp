// The device list refresh against the bare vqDevices call.
#include "bench_side_by_side.h"
#include "device_bench.h"

#include "devices/device_functions.h"

#include <cstring>
#include <memory>

int main()
{
    DeviceBench bench;
    DeviceFunctions functions;
    if (functions.deviceList().size() != 2) {
        std::fprintf(stderr, "the device list is not the two simulated devices\n");
        return 2;
    }

    const auto devices = bench.libvq<vqDevices_t>("vqDevices");
    UsageFilter filter;
    std::memset(&filter, 0, sizeof filter);
    filter.pairs[0] = {1, 0xFFA0};
    filter.pairs[1] = {1, 0xFFAA};
    auto list = std::make_unique<DeviceInfoList>();
    return bench::compare("Device list refresh (two devices)",
                          {"vqDevices", [&] { devices(filter, list.get(), VQ_LIST_SIZE); }},
                          {"DeviceFunctions::deviceList", [&] { functions.deviceList(); }}, 6);
}
