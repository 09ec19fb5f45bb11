// devices_handler::enumerateInputDevices over a simulated device tree of 200,000 devices against the
// same over 25,000: eight times the devices may cost at most twelve times as long (the cost grows
// linearly with the tree), and the large tree is enumerated within seconds.
#include "devices/devices_handler.h"

#include "win32sim/device_tree.h"

#include "stable_runs.h"

#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const int kMice = 100;

QString tree(int devices) { return win32sim::generatedDeviceTree(devices - kMice, kMice); }

struct Side {
    int devices;
    QString text;
    std::vector<double> ms;
};

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    Side small{25000, tree(25000), {}}, large{200000, tree(200000), {}};
    for (int round = 0; round < rounds; ++round)
        for (Side* side : {&small, &large}) {
            win32sim::loadDeviceTree(side->text);
            QElapsedTimer clock;
            clock.start();
            const InputDeviceList list = devices_handler::enumerateInputDevices();
            side->ms.push_back(clock.nsecsElapsed() / 1e6);
            if (list.devices.size() != kMice) {
                std::fprintf(stderr, "%d devices: %d mice listed, not %d\n", side->devices, int(list.devices.size()),
                             kMice);
                return 2;
            }
        }
    for (const Side* side : {&small, &large}) {
        const bench::Stats t = bench::statsOf(side->ms);
        std::printf("%7d devices: median %8.1f ms (min %8.1f, max %8.1f)\n", side->devices, t.median, t.min, t.max);
    }
    const double largeMs = bench::statsOf(large.ms).median;
    const double ratio = largeMs / bench::statsOf(small.ms).median;
    std::printf("ratio %.2fx for 8x the devices (target <= 12x; 200,000 devices within 5 s)\n", ratio);
    return ratio <= 12.0 && largeMs <= 5000.0 ? 0 : 1;
}
