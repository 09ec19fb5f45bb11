#include "devices/devices_handler.h"
#include "devices/device_info_record.h"

#include "devices/interface_detail.h"

#include "app/application.h"
#include "app/window.h"
#include "cefclient/client_handler.h"

#include "include/base/cef_logging.h"

#include <QRegularExpression>
#include <QSet>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Device events seen, modulo 5: the callback acts when it reads 0. Five instances register
// the callback at start-up and the library calls each registration once per event, so one of
// the five calls of an event acts.
std::atomic<int> g_deviceEventCounter{0};

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
        if (Window* window = appMainWindow())
            window->refreshDeviceList();
        if (g_handler)
            g_handler->SendDevicesChanged(code);
        InputDeviceList devices = devices_handler::enumerateInputDevices();
        if (Application* app = appInstance())
            app->setInputDevices(devices);
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
    if (g_handler)
        g_handler->SendDeviceInput(QString::fromLatin1(hex));
    return true;
}

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

QString devices_handler::vidPattern() { return QStringLiteral("VID_\\w+"); }
QString devices_handler::pidPattern() { return QStringLiteral("PID_\\w+"); }
QString devices_handler::miPattern() { return QStringLiteral("MI_\\w{1,2}"); }

namespace {

// A value whose size the call reports: asked again with a buffer of the reported size while it
// answers ERROR_INSUFFICIENT_BUFFER, a few times at most, since a device can change between two
// calls. read gets the buffer and its size in bytes, and gives the bytes it needs or has written.
template <class Read>
bool readReportedSize(std::vector<BYTE>* out, DWORD firstSize, Read read)
{
    const int kAttempts = 4;
    const DWORD kLargest = 1 << 20;
    out->assign(firstSize, 0);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD bytes = 0;
        if (read(out->data(), DWORD(out->size()), &bytes)) {
            out->resize(qMin<size_t>(bytes, out->size()));
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes <= out->size() || bytes > kLargest)
            return false;
        out->assign(bytes, 0);
    }
    return false;
}

// UTF-16 text from bytes, up to the first terminator or the end of the bytes.
QString firstString(const std::vector<BYTE>& bytes)
{
    const auto* units = reinterpret_cast<const ushort*>(bytes.data());
    const int count = int(bytes.size() / 2);
    int n = 0;
    while (n < count && units[n])
        ++n;
    return QString::fromUtf16(units, n);
}

bool instanceId(HDEVINFO set, PSP_DEVINFO_DATA info, QString* id)
{
    std::vector<BYTE> bytes;
    const bool ok = readReportedSize(&bytes, (MAX_DEVICE_ID_LEN + 1) * sizeof(WCHAR), [&](BYTE* b, DWORD size, DWORD* needed) {
        DWORD chars = 0;
        const BOOL read = SetupDiGetDeviceInstanceIdW(set, info, reinterpret_cast<PWSTR>(b), size / sizeof(WCHAR), &chars);
        *needed = chars * sizeof(WCHAR);
        return read;
    });
    if (ok)
        *id = firstString(bytes);
    return ok;
}

// The first of the device's hardware ids; empty when it has none or they cannot be read.
QString firstHardwareId(HDEVINFO set, PSP_DEVINFO_DATA info)
{
    std::vector<BYTE> bytes;
    const bool ok = readReportedSize(&bytes, 256, [&](BYTE* b, DWORD size, DWORD* needed) {
        DWORD type = 0;
        return SetupDiGetDeviceRegistryPropertyW(set, info, SPDRP_HARDWAREID, &type, b, size, needed);
    });
    return ok ? firstString(bytes) : QString();
}

} // namespace

InputDeviceList devices_handler::enumerateInputDevices()
{
    InputDeviceList list;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return list;
    // Compiled once per thread: this runs on the vendor library's thread and on the GUI thread.
    thread_local const QRegularExpression vid(vidPattern());
    thread_local const QRegularExpression pid(pidPattern());
    thread_local const QRegularExpression mi(miPattern());
    QSet<QString> seen;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA info;
        info.cbSize = sizeof info;
        if (!SetupDiEnumDeviceInfo(set, index, &info))
            break;
        const bool mouse = info.ClassGuid == GUID_DEVCLASS_MOUSE;
        if (!mouse && info.ClassGuid != GUID_DEVCLASS_KEYBOARD)
            continue;
        // A device whose instance id cannot be read is left out; the devices after it are still read.
        QString id;
        if (!instanceId(set, &info, &id))
            continue;
        id = id.toUpper();
        const QRegularExpressionMatch vidMatch = vid.match(id);
        const QRegularExpressionMatch pidMatch = pid.match(id);
        const QRegularExpressionMatch miMatch = mi.match(id);
        const QString hw = firstHardwareId(set, &info);
        const bool ps2 = hw.contains(QLatin1String("ACPI\\PNP"), Qt::CaseInsensitive);
        const bool usb = vidMatch.hasMatch() && pidMatch.hasMatch();
        if (!usb && !ps2)
            continue;
        InputDeviceRecord record;
        QString key;
        if (usb) {
            record.vid = vidMatch.captured().mid(4).toUpper();
            record.pid = pidMatch.captured().mid(4).toUpper();
            key = record.vid + record.pid;
        } else {
            record.vid = QStringLiteral("ACPI");
            record.pid = mouse ? QStringLiteral("0F0E") : QStringLiteral("0303");
            key = mouse ? QStringLiteral("*PNP0F0E") : QStringLiteral("*PNP0303");
        }
        // One record per key, from interface 0 (a device without an interface number counts as 0).
        const int interfaceNumber = miMatch.hasMatch() ? miMatch.captured().mid(3).toInt() : 0;
        if (seen.contains(key) || interfaceNumber != 0)
            continue;
        record.type = mouse ? QStringLiteral("mouse") : QStringLiteral("keyboard");
        const QString found = findDevicePath(key);
        if (!found.isEmpty() || ps2) {
            record.path = ps2 ? hw : found;
            record.hardwareId = hw.toUpper();
            list.devices.append(record);
            list.keys.append(key);
        }
        seen.insert(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return list;
}

QString devices_handler::findDevicePath(const QString& key)
{
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, 0, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        std::printf("SetupDiGetClassDevs failed: %x\n", unsigned(GetLastError()));
        return QString();
    }
    thread_local const QRegularExpression ids(QStringLiteral("vid\\_([a-zA-Z0-9]{0,4})&pid\\_([a-zA-Z0-9]{0,4})"));
    QString found;
    for (DWORD index = 0; found.isEmpty(); ++index) {
        SP_DEVICE_INTERFACE_DATA data;
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USB_DEVICE, index, &data))
            break;
        const QString path = interfacePath(set, &data);
        const QRegularExpressionMatch m = ids.match(path);
        if (m.hasMatch() && m.captured(1).toUpper() + m.captured(2).toUpper() == key)
            found = path;
    }
    if (found.isEmpty())
        std::printf("Failure: Could not find our HID device \n");
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

QString devices_handler::interfacePath(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData)
{
    std::u16string path;
    if (!interfaceDetailPath<SP_DEVICE_INTERFACE_DETAIL_DATA_W>(set, interfaceData, &SetupDiGetDeviceInterfaceDetailW,
                                                                 &path))
        return QString();
    return QString::fromUtf16(path.data(), int(path.size()));
}
