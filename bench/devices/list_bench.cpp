// The device list refresh against the bare vqDevices call, at 1, 10 and 20 devices: the median
// per call of each side, the cost per device of each, and the ratio at each size. The exit status
// follows the ratio at every size.
#include "bench_side_by_side.h"
#include "device_bench.h"

#include "devices/device_functions.h"
#include "vqsim/vqsim.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

int main()
{
    DeviceBench bench;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("devices.txt"));
    const auto devices = bench.libvq<vqDevices_t>("vqDevices");
    UsageFilter filter;
    std::memset(&filter, 0, sizeof filter);
    filter.pairs[0] = {1, 0xFFA0};
    filter.pairs[1] = {1, 0xFFAA};
    auto list = std::make_unique<DeviceInfoList>();
    DeviceFunctions functions;

    int status = 0;
    for (int count : {1, 10, 20}) {
        QByteArray text;
        for (int i = 0; i < count; ++i)
            text += QStringLiteral("[device]\nVersion=M%1.0\nDeviceId=HID\\VID_1A2C&PID_%2&MI_01\\7&3A4B5C6D&0&%1\n"
                                   "DevicePath=\\\\?\\hid#vid_1a2c&pid_%2&mi_01#7&3a4b5c6d&0&%1#{4d1e55b2}\nSn=SN%1\n")
                        .arg(i)
                        .arg(0x0E40 + i, 4, 16, QLatin1Char('0'))
                        .toUtf8();
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
            return 2;
        out.close();
        qputenv("VQSIM_DEVICES", file.toLocal8Bit());
        VqSim::instance().reset();
        if (functions.deviceList().size() != count) {
            std::fprintf(stderr, "the device list is not the %d simulated devices\n", count);
            return 2;
        }
        const QByteArray title = "Device list refresh (" + QByteArray::number(count) + " devices)";
        const bench::Result r = bench::measure(title.constData(),
                                               {"vqDevices", [&] { devices(filter, list.get(), VQ_LIST_SIZE); }},
                                               {"DeviceFunctions::deviceList", [&] { functions.deviceList(); }}, 9);
        std::printf("per device: %.3f us, the bare call %.3f us\n", r.subject / count, r.floor / count);
        status = std::max(status, r.status);
    }
    return status;
}
