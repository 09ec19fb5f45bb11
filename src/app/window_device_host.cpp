#include "app/window_device_host.h"

#include "app/application.h"
#include "app/window.h"
#include "devices/device_host.h"

namespace {

// The main window at each call: none before it is registered and from its destruction on. The
// input devices are the application's, also while there is no main window.
class MainWindowLookup : public DeviceLookup {
public:
    constexpr MainWindowLookup() = default;
    QMap<QString, QJsonObject> devicesByVersion() const override
    {
        const Window* window = appMainWindow();
        return window ? window->deviceMap() : QMap<QString, QJsonObject>();
    }
    QMap<QString, QString> pageFiles() const override
    {
        const Window* window = appMainWindow();
        return window ? window->cachedFiles() : QMap<QString, QString>();
    }
    void refreshDevices() override
    {
        if (Window* window = appMainWindow())
            window->refreshDeviceList();
    }
    void stopMacroOutput() override
    {
        if (Window* window = appMainWindow())
            window->stopOutput();
    }
    void setInputDevices(const InputDeviceList& devices) override
    {
        if (Application* app = appInstance())
            app->setInputDevices(devices);
    }
};

// Constant-initialised and never destroyed: the vendor library may call in until the process ends.
MainWindowLookup g_mainWindowLookup;

} // namespace

void registerWindowDeviceHost()
{
    setDeviceLookup(&g_mainWindowLookup);
}
