#include "windows.h"
#include "win32sim/device_notify.h"
#include "win32sim/messages.h"

#include "qt_extras/gui_thread.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QWidget>

#include <libudev.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Registration {
    HWND window;
    GUID interfaceClass;
};

std::mutex g_lock;
std::vector<std::unique_ptr<Registration>> g_registrations;

using Properties = std::map<std::string, std::string>;

std::string property(const Properties& p, const char* key)
{
    auto it = p.find(key);
    return it == p.end() ? std::string() : it->second;
}

// A 16-bit id from hexadecimal text; false for anything else.
bool parseId(const std::string& text, unsigned* id)
{
    bool ok = false;
    const unsigned value = QString::fromStdString(text).toUInt(&ok, 16);
    if (!ok || value > 0xFFFF)
        return false;
    *id = value;
    return true;
}

// The interface name the target platform gives a USB device:
// \\?\USB#VID_xxxx&PID_xxxx#<instance>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}; empty when the
// properties describe no USB device or no vendor and product id.
QString usbInterfaceName(const Properties& p)
{
    if (property(p, "SUBSYSTEM") != "usb" || property(p, "DEVTYPE") != "usb_device")
        return QString();
    unsigned vid = 0, pid = 0;
    const std::string vendor = property(p, "ID_VENDOR_ID"), model = property(p, "ID_MODEL_ID");
    if (!vendor.empty() || !model.empty()) {
        if (!parseId(vendor, &vid) || !parseId(model, &pid))
            return QString();
    } else {
        // The kernel's own form: "46d/c52b/1201".
        const QStringList parts = QString::fromStdString(property(p, "PRODUCT")).split(QLatin1Char('/'));
        if (parts.size() != 3 || !parseId(parts[0].toStdString(), &vid) || !parseId(parts[1].toStdString(), &pid))
            return QString();
    }
    // The instance part: the serial number, else the device's place on the bus.
    QString instance = QString::fromStdString(property(p, "ID_SERIAL_SHORT"));
    if (instance.isEmpty()) {
        const QString path = QString::fromStdString(property(p, "DEVPATH"));
        instance = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    }
    instance.replace(QLatin1Char('#'), QLatin1Char('&'));
    if (instance.isEmpty())
        instance = QStringLiteral("0");
    auto hex4 = [](unsigned id) { return QString::number(id, 16).toUpper().rightJustified(4, QLatin1Char('0')); };
    return QStringLiteral("\\\\?\\USB#VID_") + hex4(vid) + QStringLiteral("&PID_") + hex4(pid) + QLatin1Char('#')
        + instance + QStringLiteral("#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
}

// Sends WM_DEVICECHANGE to every window registered for USB device interfaces.
void deliver(const Properties& p)
{
    const std::string action = property(p, "ACTION");
    WPARAM event;
    if (action == "add")
        event = DBT_DEVICEARRIVAL;
    else if (action == "remove")
        event = DBT_DEVICEREMOVECOMPLETE;
    else
        return;
    const QString name = usbInterfaceName(p);
    if (name.isEmpty())
        return;

    // The broadcast with the whole name and its terminator.
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (size_t(name.size()) + 1) * sizeof(WCHAR);
    std::unique_ptr<char[]> storage(new char[size]());
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.get());
    broadcast->dbcc_size = DWORD(size);
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    std::memcpy(broadcast->dbcc_name, name.utf16(), size_t(name.size()) * sizeof(WCHAR));

    std::vector<HWND> windows;
    {
        std::lock_guard<std::mutex> l(g_lock);
        for (const auto& r : g_registrations)
            if (r->interfaceClass == GUID_DEVINTERFACE_USB_DEVICE)
                windows.push_back(r->window);
    }
    for (HWND window : windows) {
        // A window that is gone gets nothing.
        if (QWidget::find(static_cast<WId>(window)))
            win32sim::dispatchQueuedMessage(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast));
    }
}

// Watches the device manager's USB devices on the application's thread.
class DeviceMonitor : public QObject {
public:
    explicit DeviceMonitor(QObject* parent)
        : QObject(parent)
    {
        m_udev = udev_new();
        if (!m_udev)
            return;
        // With the device manager's daemon running its events carry the device database's
        // properties; without it, the kernel's own events are all there is.
        const char* source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
        m_monitor = udev_monitor_new_from_netlink(m_udev, source);
        if (!m_monitor || udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "usb", "usb_device") < 0
            || udev_monitor_enable_receiving(m_monitor) < 0) {
            release();
            return;
        }
        m_notifier = new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { receive(); });
    }
    ~DeviceMonitor() override { release(); }

    bool running() const { return m_notifier != nullptr; }

private:
    void receive()
    {
        udev_device* device = udev_monitor_receive_device(m_monitor);
        if (!device)
            return;
        Properties p;
        for (udev_list_entry* e = udev_device_get_properties_list_entry(device); e; e = udev_list_entry_get_next(e)) {
            const char* value = udev_list_entry_get_value(e);
            p[udev_list_entry_get_name(e)] = value ? value : "";
        }
        if (const char* action = udev_device_get_action(device))
            p["ACTION"] = action;
        udev_device_unref(device);
        deliver(p);
    }

    void release()
    {
        delete m_notifier;
        m_notifier = nullptr;
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        m_monitor = nullptr;
        if (m_udev)
            udev_unref(m_udev);
        m_udev = nullptr;
    }

    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
};

QPointer<DeviceMonitor> g_monitor;

// The monitor lives on the application's thread, as long as the application.
void startMonitor()
{
    if (g_monitor || !qt_extras::OnGuiThread())
        return;
    g_monitor = new DeviceMonitor(QCoreApplication::instance());
}

} // namespace

HDEVNOTIFY RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID notificationFilter, DWORD flags)
{
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(notificationFilter);
    const HWND window = reinterpret_cast<HWND>(hRecipient);
    if (!header || (flags & DEVICE_NOTIFY_SERVICE_HANDLE) || !QWidget::find(static_cast<WId>(window))
        || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE
        || header->dbch_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto* filter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(notificationFilter);
    auto registration = std::make_unique<Registration>(Registration{window, filter->dbcc_classguid});
    HDEVNOTIFY handle = registration.get();
    {
        std::lock_guard<std::mutex> l(g_lock);
        g_registrations.push_back(std::move(registration));
    }
    if (filter->dbcc_classguid == GUID_DEVINTERFACE_USB_DEVICE)
        startMonitor();
    return handle;
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY handle)
{
    std::lock_guard<std::mutex> l(g_lock);
    for (auto it = g_registrations.begin(); it != g_registrations.end(); ++it) {
        if (it->get() == handle) {
            g_registrations.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

namespace win32sim {

void injectDeviceEvent(const std::map<std::string, std::string>& properties) { deliver(properties); }

int deviceNotificationCount()
{
    std::lock_guard<std::mutex> l(g_lock);
    return int(g_registrations.size());
}

bool deviceMonitorRunning() { return g_monitor && g_monitor->running(); }

} // namespace win32sim
