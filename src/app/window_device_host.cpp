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

// The main window's page-file cache and macro worker, the application's key names and devices.
class WindowHost : public DEVICE_FILTER::Host {
public:
    WindowHost(Window* window, Application* app)
        : m_window(window)
        , m_app(app)
    {
    }
    bool mappingText(const QString& path, QString* text) override
    {
        if (!m_window)
            return false;
        // Keyed as the page commands key it.
        const QString fullPath = appDirPath() + path;
        m_window->cacheFile(fullPath);
        const QMap<QString, QString> files = m_window->cachedFiles();
        const auto it = files.constFind(fullPath);
        if (it == files.constEnd())
            return false;
        *text = it.value();
        return true;
    }
    QString hidCodeOfKey(const QString& key) override { return m_app ? m_app->hidCodeOfKey(key) : QString(); }
    InputDeviceList inputDevices() override { return m_app ? m_app->inputDevices() : InputDeviceList(); }
    void runTask(const MacroTask& task, int keyState) override
    {
        if (m_window)
            m_window->runTask(task, nullptr, keyState);
    }
    void stopOutput() override
    {
        if (m_window)
            m_window->stopOutput();
    }

private:
    Window* const m_window;
    Application* const m_app;
};

std::shared_ptr<DEVICE_FILTER::Host> defaultWindowHost() { return windowHost(); }

} // namespace

std::shared_ptr<DEVICE_FILTER::Host> windowHost(Window* window)
{
    return std::make_shared<WindowHost>(window ? window : appMainWindow(), appInstance());
}

void registerWindowDeviceHost()
{
    setDeviceLookup(&g_mainWindowLookup);
    DEVICE_FILTER::setDefaultHostMaker(&defaultWindowHost);
}
