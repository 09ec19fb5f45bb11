#include "devices/device_host.h"

#include <atomic>

namespace {

// Constant-initialised: set during other translation units' static initialisation.
std::atomic<DeviceLookup*> g_lookup{nullptr};
std::atomic<DeviceEventSink*> g_sink{nullptr};

} // namespace

DeviceLookup* setDeviceLookup(DeviceLookup* lookup) { return g_lookup.exchange(lookup, std::memory_order_acq_rel); }

DeviceEventSink* setDeviceEventSink(DeviceEventSink* sink) { return g_sink.exchange(sink, std::memory_order_acq_rel); }

DeviceLookup* deviceLookup() { return g_lookup.load(std::memory_order_acquire); }

DeviceEventSink* deviceEventSink() { return g_sink.load(std::memory_order_acquire); }
