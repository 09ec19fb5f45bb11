// Binary interface of the vendor device libraries "libvq.dll" and "Hexlane.dll":
// argument layouts and entry-point signatures, shared by the libraries and their callers.
#pragma once

#include <cstdint>

extern "C" {

// Twenty (first, second) pairs of 16-bit usage numbers, passed by value.
struct VqUsagePair {
    uint16_t first;
    uint16_t second;
};
struct UsageFilter {
    VqUsagePair pairs[20];
};
static_assert(sizeof(UsageFilter) == 80, "UsageFilter is 80 bytes");

enum : int32_t {
    VQ_BLOCK_SIZE = 2048,
    VQ_MAX_DEVICES = 20,
    VQ_RECORD_SIZE = 2105,
    VQ_LIST_SIZE = 2 + VQ_MAX_DEVICES * VQ_RECORD_SIZE, // 42102
    VQ_ASK_SIZE = 73,
    VQ_RGB_VERSION_SIZE = 14,
    VQ_RGB_REPORT_SIZE = 1024,
    VQ_DEVICE_CONSTANT = 0x1016,
};

// Record field offsets from the start of a record (records are packed, little-endian).
enum : int32_t {
    VQ_REC_TAG = 0, VQ_REC_TAG_SIZE = 40,
    VQ_REC_VERSION = 40, VQ_REC_VERSION_SIZE = 14,
    VQ_REC_SN = 57, VQ_REC_SN_SIZE = 14,
    VQ_REC_MASK = 71, VQ_REC_MASK_SIZE = 2,
    VQ_REC_VID = 73,
    VQ_REC_PID = 77,
    VQ_REC_PATH = 1085, VQ_REC_PATH_UNITS = 255,
    VQ_REC_ID = 1595, VQ_REC_ID_UNITS = 255,
};

// The device list: a 16-bit count at offset 0, then twenty 2105-byte records.
// Fields sit at odd offsets: read them byte-wise, never through casts.
struct DeviceInfoList {
    uint8_t bytes[VQ_LIST_SIZE];
};
static_assert(sizeof(DeviceInfoList) == 42102, "DeviceInfoList is 42102 bytes");

typedef bool (*VqDeviceEventCallback)(uint16_t code);
typedef bool (*VqDeviceDataCallback)(const uint8_t** report, int32_t length);

typedef int32_t (*vqDeviceExist_t)(const char16_t* id);
typedef int32_t (*vqDevices_t)(UsageFilter filter, DeviceInfoList* list, int32_t size);
typedef int32_t (*vqOnDeviceEvent_t)(VqDeviceEventCallback* callback);
typedef int32_t (*vqonDeviceData_t)(const char16_t* id, const char16_t* path, int32_t constant,
                                    VqDeviceDataCallback* callback);
typedef int32_t (*vqAsk_t)(const char16_t* id, const char16_t* text, int32_t constant, uint8_t* buffer,
                           int32_t size);
typedef int32_t (*vqReset_t)(const char16_t* id, const char16_t* text, int32_t constant, int32_t code,
                             uint8_t* out, int32_t outSize);
typedef int32_t (*vqNotify_t)(const char16_t* id, const char16_t* text, int32_t constant, int32_t code,
                              const uint8_t* bytes, int32_t count);
typedef int32_t (*vqRead_t)(const char16_t* id, const char16_t* text, int32_t constant, uint8_t* block,
                            int32_t length, int32_t address);
typedef int32_t (*vqWrite_t)(const char16_t* id, const char16_t* text, int32_t constant, const uint8_t* block,
                             int32_t length, int32_t address);
typedef int32_t (*vqReadProp_t)(const char16_t* id, const char16_t* text, int32_t constant, uint8_t* block,
                                int32_t length, int32_t index);
typedef int32_t (*vqWriteProp_t)(const char16_t* id, const char16_t* text, int32_t constant,
                                 const uint8_t* block, int32_t length, int32_t index);
typedef int32_t (*vqScriptOut_t)(const char16_t* id, const char16_t* text, int32_t constant,
                                 const uint8_t* script, int32_t length);
typedef int32_t (*vqIDWrite_t)(const char16_t* id, const char16_t* text, int32_t constant, int32_t kind,
                               const uint8_t* data, int32_t length);
typedef int32_t (*vqRebootRom_t)(const char16_t* id, const char16_t* text, int32_t constant);
typedef int32_t (*vqFinishUpdateRom_t)(const char16_t* id, const char16_t* text, int32_t constant);
typedef int32_t (*vqCheckRom_t)(const char16_t* id, const char16_t* text, int32_t constant, int32_t a,
                                int32_t b);
typedef int32_t (*vqBornRom_t)(const char16_t* id, const char16_t* text, int32_t constant, uint8_t* block,
                               int32_t a, int32_t b);
typedef int32_t (*vqEraseRom_t)(const char16_t* id, const char16_t* text, int32_t constant);
// Hexlane.dll
typedef int32_t (*vqNotifyRGBDevice_t)(const uint8_t* version, const uint8_t* report, int32_t versionSize);

} // extern "C"
