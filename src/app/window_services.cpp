#include "app/window_services.h"

#include "app/window.h"
#include "devices/device_data_handler.h"
#include "devices/hook_handler.h"

#include <QDesktopServices>
#include <QFileDialog>

WindowDeviceServices::WindowDeviceServices(Window* window)
    : m_window(window)
{
}

bool WindowDeviceServices::resetDevice(const QString& version) { return m_window->deviceFunctions()->resetDevice(version); }

QByteArray WindowDeviceServices::readDpiValue(const QString& version, const QString& dpiIndex)
{
    return m_window->deviceFunctions()->readDpiValue(version, dpiIndex);
}

bool WindowDeviceServices::writeDeviceTask(const QString& version, const QString& driverVersion, const QString& index,
                                           const QString& task, const QString& taskType, const QString& taskCount)
{
    return m_window->dataHandler()->writeDeviceTask(version, driverVersion, index, task, taskType, taskCount);
}

bool WindowDeviceServices::writeRgbDevice(const QString& version, const QString& driverVersion,
                                          const QStringList& items)
{
    return m_window->dataHandler()->writeRgbDevice(version, driverVersion, items);
}

QString WindowDeviceServices::windowsMouseConfig(const QString& version)
{
    return m_window->deviceFunctions()->windowsMouseConfig(version);
}

QString WindowDeviceServices::windowsKeyboardConfig() { return m_window->deviceFunctions()->windowsKeyboardConfig(); }

bool WindowDeviceServices::setMouseAcceleration(int n) { return devices_handler::setMouseAcceleration(n); }
bool WindowDeviceServices::setMouseSpeed(int n) { return devices_handler::setMouseSpeed(n); }
bool WindowDeviceServices::setWheelScrollLines(int n) { return devices_handler::setWheelScrollLines(n); }
bool WindowDeviceServices::setWheelScrollChars(int n) { return devices_handler::setWheelScrollChars(n); }
bool WindowDeviceServices::setDoubleClickTime(int n) { return devices_handler::setDoubleClickTime(n); }

bool WindowDeviceServices::startMouseTracks() { return hook_handler::startMouseTracks(); }
QString WindowDeviceServices::stopMouseTracks() { return hook_handler::stopMouseTracks(); }

QString QtDesktopServices::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                           const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString QtDesktopServices::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                           const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

bool QtDesktopServices::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }
