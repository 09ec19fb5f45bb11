// The callbacks the vendor library calls on its thread, and their event counter.
#include "devices/devices_handler.h"

#include "devices/device_host.h"

#include "include/base/cef_logging.h"

#include <atomic>

namespace {

// Device events seen, modulo 5: the callback acts when it reads 0. Five instances register
// the callback at start-up and the library calls each registration once per event, so one of
// the five calls of an event acts.
std::atomic<int> g_deviceEventCounter{0};

} // namespace

bool deviceEventCallback(uint16_t code)
{
    int current = g_deviceEventCounter.load();
    int next;
    do {
        next = (current + 1) % 5;
    } while (!g_deviceEventCounter.compare_exchange_weak(current, next));

    if (current == 0) {
        // An event can arrive before the main window, the handler or the application exist. The
        // list is whole before the page hears of the event, so what the page then asks for is
        // the new list.
        if (DeviceLookup* lookup = deviceLookup())
            lookup->refreshDevices();
        if (DeviceEventSink* sink = deviceEventSink())
            sink->devicesChanged(code);
        InputDeviceList devices = devices_handler::enumerateInputDevices();
        if (DeviceLookup* lookup = deviceLookup())
            lookup->setInputDevices(devices);
    }
    LOG(INFO) << "==================device event:" << next;
    return true;
}

bool deviceDataCallback(const uint8_t** report, int32_t)
{
    // Reports carry at least 8 bytes; the length the library passes is not read.
    if (!report || !*report)
        return true;
    static const char digits[] = "0123456789abcdef";
    char hex[17];
    for (int i = 0; i < 8; ++i) {
        hex[2 * i] = digits[(*report)[i] >> 4];
        hex[2 * i + 1] = digits[(*report)[i] & 15];
    }
    hex[16] = 0;
    if (DeviceEventSink* sink = deviceEventSink())
        sink->deviceInput(QString::fromLatin1(hex));
    return true;
}
