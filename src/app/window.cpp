#include "app/window.h"

#include "devices/device_functions.h"

Window::Window(QWidget* parent)
    : PsMainWindow(parent)
    , listFunctions(new DeviceFunctions())
{
    refreshDeviceList();
}

Window::~Window() = default;

void Window::flushDirtyFiles() {}

QMap<QString, QJsonObject> Window::deviceMap() const
{
    QMutexLocker lock(&m_deviceMapLock);
    return m_deviceMap;
}

void Window::refreshDeviceList()
{
    QMutexLocker refresh(&m_refreshLock);
    QMap<QString, QJsonObject> fresh = listFunctions->deviceList();
    QMutexLocker lock(&m_deviceMapLock);
    m_deviceMap.swap(fresh);
}
