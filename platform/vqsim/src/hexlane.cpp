// Simulated "Hexlane.dll": accepts per-key colour reports and hands them to the device
// simulation of "libvq.dll", which keeps the last one per Version.
#include "vq/vq_api.h"

extern "C" int32_t vqsim_record_rgb(const uint8_t* version, const uint8_t* report, int32_t versionSize);

extern "C" __attribute__((visibility("default"))) int32_t vqNotifyRGBDevice(const uint8_t* version,
                                                                            const uint8_t* report,
                                                                            int32_t versionSize)
{
    return vqsim_record_rgb(version, report, versionSize);
}
