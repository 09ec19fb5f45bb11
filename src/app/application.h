// The one QApplication of the browser process and the process-wide accessors.
#pragma once

#include "devices/input_devices.h"

#include <QApplication>
#include <QMutex>
#include <QString>

class Window;

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    ~Application() override;

    static Application* instance();
    static Window* mainWindow();

    // Replaced whole by the vendor library's device-event callback; read by the capture loop.
    InputDeviceList inputDevices() const;
    void setInputDevices(const InputDeviceList& list);

protected:
    // Registers this object as the instance (done by init in the full start-up).
    void registerInstance();

    Window* m_mainWindow = nullptr;

private:
    mutable QMutex m_inputDevicesLock;
    InputDeviceList m_inputDevices;
};

Application* appInstance();
Window* appMainWindow();

void setAppDirPath(const QString& path);
const QString& appDirPath();
