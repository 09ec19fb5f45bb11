// Test controls of the simulated vendor libraries. Never included by the program.
//
// The simulated "libvq.dll" reads its devices from the file named by VQSIM_DEVICES (one mouse
// "M1.0" and one keyboard "K1.0" when unset) and, when VQSIM_STATE names a file, keeps device
// properties and memory there across runs. Callbacks arrive on the library's own thread.
// Lines of either file that cannot be read, and calls refused for a wrong fixed argument (the
// constant 0x1016, the empty second text, the 17 zero bytes of an id clear), are reported on
// standard error.
#pragma once

#include <cstdint>

#ifndef VQSIM_NO_LOADER
#include <QLibrary>
#endif

extern "C" {

struct VqSimCall {
    char name[32];    // entry point, e.g. "vqWriteProp"
    char id[768];     // device id as UTF-8 ("" when none or null)
    int32_t code;     // reset/notify code, id-write kind, event code; 0 otherwise
    int32_t length;   // length or count argument; 0 when the call has none
    int32_t arg;      // address, property index or second integer; 0 otherwise
    int32_t result;   // what the call returned
};

typedef int32_t (*vqsim_reset_t)(void);
typedef int32_t (*vqsim_add_device_t)(const char* entry);
typedef int32_t (*vqsim_remove_device_t)(const char* deviceId);
typedef int32_t (*vqsim_emit_event_t)(int32_t code);
typedef int32_t (*vqsim_emit_data_t)(const char* deviceId, const uint8_t* bytes, int32_t length);
typedef void (*vqsim_fail_next_t)(const char* entryPoint);
typedef int32_t (*vqsim_call_count_t)(void);
typedef int32_t (*vqsim_call_at_t)(int32_t i, VqSimCall* call);
typedef void (*vqsim_clear_calls_t)(void);
typedef int32_t (*vqsim_get_prop_t)(const char* deviceId, int32_t index, uint8_t* out, int32_t size);
typedef int32_t (*vqsim_set_prop_t)(const char* deviceId, int32_t index, const uint8_t* bytes, int32_t length);
typedef int32_t (*vqsim_get_memory_t)(const char* deviceId, int32_t address, uint8_t* out, int32_t length);
typedef int32_t (*vqsim_set_memory_t)(const char* deviceId, int32_t address, const uint8_t* bytes,
                                      int32_t length);
typedef int32_t (*vqsim_last_rgb_t)(const char* version, uint8_t* version14, uint8_t* report1024);
typedef int32_t (*vqsim_event_registrations_t)(void);
typedef int32_t (*vqsim_wait_idle_t)(int32_t timeoutMs);
typedef void (*vqsim_shutdown_t)(void);

} // extern "C"

#ifndef VQSIM_NO_LOADER
// The controls, resolved from the same "libvq.dll" the binding loads.
struct VqSim {
    // Reloads the device file and clears registrations, the call log and failures.
    vqsim_reset_t reset = nullptr;
    // entry: the "Key=Value" lines of one device-file entry; raises event 2. Returns the device count or -1.
    vqsim_add_device_t addDevice = nullptr;
    // Removes the device with that DeviceId; raises event 1. 0 on success.
    vqsim_remove_device_t removeDevice = nullptr;
    // Calls every event registration once with code.
    vqsim_emit_event_t emitEvent = nullptr;
    // Hands the bytes (at least 8, as every device report) to the data callback registered for the
    // device. 0 when one is registered.
    vqsim_emit_data_t emitData = nullptr;
    // The next call of that entry point (any entry point for null or "") fails and writes nothing.
    vqsim_fail_next_t failNext = nullptr;
    // The call log: the latest 1000 calls, oldest first.
    vqsim_call_count_t callCount = nullptr;
    vqsim_call_at_t callAt = nullptr;
    vqsim_clear_calls_t clearCalls = nullptr;
    // Stored property bytes: returns their count, or -1 for an unknown device or property.
    vqsim_get_prop_t getProp = nullptr;
    vqsim_set_prop_t setProp = nullptr;
    // Device memory: 0 on success, -1 for an unknown device or a range outside the memory.
    vqsim_get_memory_t getMemory = nullptr;
    vqsim_set_memory_t setMemory = nullptr;
    // The last colour report sent for the Version: 1 when there was one (either output may be null).
    vqsim_last_rgb_t lastRgb = nullptr;
    vqsim_event_registrations_t eventRegistrations = nullptr;
    // Waits until no callback is queued or running: 1 when idle, 0 on time-out.
    vqsim_wait_idle_t waitIdle = nullptr;
    // Stops the callback thread (it restarts on the next event).
    vqsim_shutdown_t shutdown = nullptr;

    bool loaded() const { return reset != nullptr; }

    // Null members when "libvq.dll" cannot be loaded.
    static const VqSim& instance()
    {
        static const VqSim sim = load();
        return sim;
    }

private:
    static VqSim load()
    {
        VqSim s;
        QLibrary lib(QStringLiteral("libvq.dll"));
        if (!lib.load())
            return s;
#define VQSIM_RESOLVE(member, name) s.member = reinterpret_cast<name##_t>(lib.resolve(#name))
        VQSIM_RESOLVE(reset, vqsim_reset);
        VQSIM_RESOLVE(addDevice, vqsim_add_device);
        VQSIM_RESOLVE(removeDevice, vqsim_remove_device);
        VQSIM_RESOLVE(emitEvent, vqsim_emit_event);
        VQSIM_RESOLVE(emitData, vqsim_emit_data);
        VQSIM_RESOLVE(failNext, vqsim_fail_next);
        VQSIM_RESOLVE(callCount, vqsim_call_count);
        VQSIM_RESOLVE(callAt, vqsim_call_at);
        VQSIM_RESOLVE(clearCalls, vqsim_clear_calls);
        VQSIM_RESOLVE(getProp, vqsim_get_prop);
        VQSIM_RESOLVE(setProp, vqsim_set_prop);
        VQSIM_RESOLVE(getMemory, vqsim_get_memory);
        VQSIM_RESOLVE(setMemory, vqsim_set_memory);
        VQSIM_RESOLVE(lastRgb, vqsim_last_rgb);
        VQSIM_RESOLVE(eventRegistrations, vqsim_event_registrations);
        VQSIM_RESOLVE(waitIdle, vqsim_wait_idle);
        VQSIM_RESOLVE(shutdown, vqsim_shutdown);
#undef VQSIM_RESOLVE
        return s;
    }
};
#endif // VQSIM_NO_LOADER
