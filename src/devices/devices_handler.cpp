#include "devices/devices_handler.h"
#include "devices/device_info_record.h"

#include <cstring>

namespace {

const char16_t kEmptyText[] = u"";

UsageFilter deviceUsageFilter()
{
    UsageFilter filter;
    std::memset(&filter, 0, sizeof filter);
    filter.pairs[0] = {1, 0xFFA0};
    filter.pairs[1] = {1, 0xFFAA};
    return filter;
}

} // namespace

devices_handler::devices_handler(void* /*unused*/, QObject* parent)
    : QObject(parent)
    , m_deviceLibrary(QStringLiteral("libvq.dll"))
    , m_rgbLibrary(QStringLiteral("Hexlane.dll"))
{
    if (!m_deviceLibrary.load())
        return;

#define TM_RESOLVE(name) m_##name = reinterpret_cast<name##_t>(m_deviceLibrary.resolve(#name))
    TM_RESOLVE(vqDeviceExist);
    TM_RESOLVE(vqDevices);
    TM_RESOLVE(vqOnDeviceEvent);
    TM_RESOLVE(vqonDeviceData);
    TM_RESOLVE(vqAsk);
    TM_RESOLVE(vqReset);
    TM_RESOLVE(vqNotify);
    TM_RESOLVE(vqRead);
    TM_RESOLVE(vqWrite);
    TM_RESOLVE(vqReadProp);
    TM_RESOLVE(vqWriteProp);
    TM_RESOLVE(vqScriptOut);
    TM_RESOLVE(vqIDWrite);
    TM_RESOLVE(vqRebootRom);
    TM_RESOLVE(vqFinishUpdateRom);
    TM_RESOLVE(vqCheckRom);
    TM_RESOLVE(vqBornRom);
    TM_RESOLVE(vqEraseRom);
#undef TM_RESOLVE

    if (m_vqOnDeviceEvent) {
        VqDeviceEventCallback callback = &deviceEventCallback;
        m_vqOnDeviceEvent(&callback);
    }

    m_vqNotifyRGBDevice = reinterpret_cast<vqNotifyRGBDevice_t>(m_rgbLibrary.resolve("vqNotifyRGBDevice"));
}

// The libraries stay loaded and the callbacks registered until the process ends.
devices_handler::~devices_handler() = default;

DeviceInfoList devices_handler::getDevices()
{
    DeviceInfoList list;
    std::memset(list.bytes, 0, sizeof list.bytes);
    if (!m_vqDevices)
        return list;
    m_vqDevices(deviceUsageFilter(), &list, VQ_LIST_SIZE);
    if (deviceRecordCount(list) > 0 && m_vqonDeviceData) {
        const DeviceInfoRecord first(list, 0);
        const QString id = first.deviceId();
        const QString path = first.devicePath();
        VqDeviceDataCallback callback = &deviceDataCallback;
        m_vqonDeviceData(reinterpret_cast<const char16_t*>(id.utf16()), reinterpret_cast<const char16_t*>(path.utf16()),
                         VQ_DEVICE_CONSTANT, &callback);
    }
    return list;
}

DeviceBlock devices_handler::read(const char16_t* id, int length, int address)
{
    DeviceBlock block;
    if (m_vqRead)
        m_vqRead(id, kEmptyText, VQ_DEVICE_CONSTANT, block.bytes, length, address);
    return block;
}

bool devices_handler::write(const char16_t* id, const DeviceBlock& block, int length, int address)
{
    if (!m_vqWrite)
        return false;
    return m_vqWrite(id, kEmptyText, VQ_DEVICE_CONSTANT, block.bytes, length, address) == 0;
}

DeviceBlock devices_handler::readProp(const char16_t* id, int length, int index, bool* ok)
{
    DeviceBlock block;
    const bool done = m_vqReadProp && m_vqReadProp(id, kEmptyText, VQ_DEVICE_CONSTANT, block.bytes, length, index) == 0;
    if (ok)
        *ok = done;
    return block;
}

bool devices_handler::writeProp(const char16_t* id, const DeviceBlock& block, int length, int index)
{
    if (!m_vqWriteProp)
        return false;
    return m_vqWriteProp(id, kEmptyText, VQ_DEVICE_CONSTANT, block.bytes, length, index) == 0;
}

bool devices_handler::reset(const char16_t* id, uint8_t low, uint8_t high)
{
    if (!m_vqReset)
        return false;
    uint8_t scratch = 0;
    return m_vqReset(id, kEmptyText, VQ_DEVICE_CONSTANT, low + 256 * high, &scratch, 0) == 0;
}

bool devices_handler::deviceExist(const char16_t* id)
{
    return m_vqDeviceExist && m_vqDeviceExist(id) == 0;
}

bool devices_handler::idWrite(const char16_t* id, const char16_t* text, const uint8_t* data14)
{
    if (!m_vqIDWrite || !data14)
        return false;
    uint8_t buffer[255] = {};
    std::memcpy(buffer, data14, 14);
    return m_vqIDWrite(id, text, VQ_DEVICE_CONSTANT, 3, buffer, 14) == 0;
}

bool devices_handler::clearId(const char16_t* id, const char16_t* text)
{
    if (!m_vqIDWrite)
        return false;
    // An empty text, zero-filled to the 17 bytes the library reads.
    uint8_t empty[17] = {};
    return m_vqIDWrite(id, text, VQ_DEVICE_CONSTANT, 2, empty, 17) == 0;
}

DeviceAnswer devices_handler::ask(const char16_t* id, const char16_t* text)
{
    DeviceAnswer answer;
    if (m_vqAsk)
        m_vqAsk(id, text, VQ_DEVICE_CONSTANT, answer.bytes, VQ_ASK_SIZE);
    return answer;
}

bool devices_handler::notify(const char16_t* id, const char16_t* text, uint16_t code)
{
    if (!m_vqNotify)
        return false;
    uint8_t byte = 0;
    return m_vqNotify(id, text, VQ_DEVICE_CONSTANT, code, &byte, 0) == 0;
}

bool devices_handler::notify(const char16_t* id, const char16_t* text, const uint8_t* bytes, int count)
{
    if (!m_vqNotify)
        return false;
    return m_vqNotify(id, text, VQ_DEVICE_CONSTANT, 7, bytes, count) == 0;
}

void devices_handler::reboot(const char16_t* id)
{
    if (m_vqRebootRom)
        reset(id, 1, 0);
}

void devices_handler::finishUpdateRom(const char16_t* id)
{
    if (m_vqFinishUpdateRom)
        m_vqFinishUpdateRom(id, kEmptyText, VQ_DEVICE_CONSTANT);
}

int devices_handler::checkRom(const char16_t* id, int a, int b)
{
    if (!m_vqCheckRom)
        return -1;
    return m_vqCheckRom(id, kEmptyText, VQ_DEVICE_CONSTANT, a, b);
}

int devices_handler::bornRom(const char16_t* id, DeviceBlock block, int a, int b)
{
    if (!m_vqBornRom)
        return -1;
    return m_vqBornRom(id, kEmptyText, VQ_DEVICE_CONSTANT, block.bytes, a, b);
}

bool devices_handler::eraseRom(const char16_t* id)
{
    return m_vqEraseRom && m_vqEraseRom(id, kEmptyText, VQ_DEVICE_CONSTANT) == 0;
}

void devices_handler::setDeviceKeys(const QStringList& keys) { m_deviceKeys = keys; }
