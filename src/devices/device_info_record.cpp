#include "devices/device_info_record.h"

namespace {

QString text8(const uint8_t* p, int width)
{
    int n = 0;
    while (n < width && p[n])
        ++n;
    return QString::fromUtf8(reinterpret_cast<const char*>(p), n);
}

QString text16(const uint8_t* p, int units)
{
    int n = 0;
    while (n < units && (p[2 * n] | p[2 * n + 1]))
        ++n;
    QString out(n, Qt::Uninitialized);
    QChar* chars = out.data();
    for (int i = 0; i < n; ++i)
        chars[i] = QChar(ushort(p[2 * i] | (p[2 * i + 1] << 8)));
    return out;
}

uint32_t u32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

int deviceRecordCount(const DeviceInfoList& list)
{
    const int count = list.bytes[0] | (list.bytes[1] << 8);
    return count > VQ_MAX_DEVICES ? int(VQ_MAX_DEVICES) : count;
}

DeviceInfoRecord::DeviceInfoRecord(const DeviceInfoList& list, int index)
    : m_bytes(list.bytes + 2 + index * VQ_RECORD_SIZE)
{
}

QString DeviceInfoRecord::tag() const { return text8(m_bytes + VQ_REC_TAG, VQ_REC_TAG_SIZE); }
QString DeviceInfoRecord::version() const { return text8(m_bytes + VQ_REC_VERSION, VQ_REC_VERSION_SIZE); }
QString DeviceInfoRecord::sn() const { return text8(m_bytes + VQ_REC_SN, VQ_REC_SN_SIZE); }
QString DeviceInfoRecord::mask() const { return text8(m_bytes + VQ_REC_MASK, VQ_REC_MASK_SIZE); }
uint32_t DeviceInfoRecord::vid() const { return u32(m_bytes + VQ_REC_VID); }
uint32_t DeviceInfoRecord::pid() const { return u32(m_bytes + VQ_REC_PID); }
QString DeviceInfoRecord::devicePath() const { return text16(m_bytes + VQ_REC_PATH, VQ_REC_PATH_UNITS); }
QString DeviceInfoRecord::deviceId() const { return text16(m_bytes + VQ_REC_ID, VQ_REC_ID_UNITS); }
