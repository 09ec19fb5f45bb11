#include "app/window_services.h"

#include "app/window.h"
#include "devices/device_data_handler.h"
#include "devices/failure_reason.h"
#include "devices/hook_handler.h"

#include <QDesktopServices>
#include <QFileDialog>

WindowDeviceServices::WindowDeviceServices(Window* window)
    : m_window(window)
{
}

bool WindowDeviceServices::resetDevice(const QString& version, QString* why)
{
    return m_window->deviceFunctions()->resetDevice(version, why);
}

QByteArray WindowDeviceServices::readDpiValue(const QString& version, const QString& dpiIndex)
{
    return m_window->deviceFunctions()->readDpiValue(version, dpiIndex);
}

bool WindowDeviceServices::writeDeviceTask(const QString& version, const QString& driverVersion, const QString& index,
                                           const QString& task, const QString& taskType, const QString& taskCount,
                                           QString* why)
{
    return m_window->dataHandler()->writeDeviceTask(version, driverVersion, index, task, taskType, taskCount, why);
}

bool WindowDeviceServices::writeRgbDevice(const QString& version, const QString& driverVersion,
                                          const QStringList& items, QString* why)
{
    return m_window->dataHandler()->writeRgbDevice(version, driverVersion, items, why);
}

QString WindowDeviceServices::windowsMouseConfig(const QString& version)
{
    return m_window->deviceFunctions()->windowsMouseConfig(version);
}

QString WindowDeviceServices::windowsKeyboardConfig() { return m_window->deviceFunctions()->windowsKeyboardConfig(); }

bool WindowDeviceServices::setMouseAcceleration(int n, QString* why)
{
    return devices_handler::setMouseAcceleration(n, why);
}

bool WindowDeviceServices::setMouseSpeed(int n, QString* why)
{
    return devices_handler::setMouseSpeed(n, why);
}

bool WindowDeviceServices::setWheelScrollLines(int n, QString* why)
{
    return devices_handler::setWheelScrollLines(n, why);
}

bool WindowDeviceServices::setWheelScrollChars(int n, QString* why)
{
    return devices_handler::setWheelScrollChars(n, why);
}

bool WindowDeviceServices::setDoubleClickTime(int n, QString* why)
{
    return devices_handler::setDoubleClickTime(n, why);
}

bool WindowDeviceServices::startMouseTracks(QString* why)
{
    return hook_handler::startMouseTracks() || failBecause(why, QStringLiteral("the mouse hook could not be installed"));
}

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
