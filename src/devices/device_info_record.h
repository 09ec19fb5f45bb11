// The records of the vendor library's device list, read field by field at the offsets of
// vq/vq_api.h. Each field is bounded by its own width: a field that fills it has no terminator.
#pragma once

#include "vq/vq_api.h"

#include <QString>

#include <cstdint>

// The number of records a list holds: its count, at most VQ_MAX_DEVICES.
int deviceRecordCount(const DeviceInfoList& list);

// One record of a list, read where it lies; the list must outlive it.
class DeviceInfoRecord {
public:
    DeviceInfoRecord(const DeviceInfoList& list, int index);

    // 8-bit texts, decoded as UTF-8 up to the first zero byte.
    QString tag() const; // the record's first 40 bytes, which the device list does not name
    QString version() const;
    QString sn() const;
    QString mask() const;
    uint32_t vid() const;
    uint32_t pid() const;
    // UTF-16 texts of at most 255 code units.
    QString devicePath() const;
    QString deviceId() const;

private:
    const uint8_t* m_bytes;
};
