// The present keyboards and mice from the system's device tree, and the paths of USB device
// interfaces.
#include "devices/devices_handler.h"

#include "devices/interface_detail.h"

#include <QRegularExpression>
#include <QSet>

#include <cstdio>
#include <vector>

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
