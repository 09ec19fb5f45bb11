// What the page commands ask of the world outside the main window: the devices, the pointer
// settings and the mouse-track recorder, and the desktop's dialogs and URL handler. The window
// holds one of each; tests put recording doubles in their place.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;
class Window;

class DeviceServices {
public:
    virtual ~DeviceServices() = default;

    // The operations that can fail say why in why, when it is not null, in plain words for the user.
    virtual bool resetDevice(const QString& version, QString* why) = 0;
    virtual QByteArray readDpiValue(const QString& version, const QString& dpiIndex) = 0;
    virtual bool writeDeviceTask(const QString& version, const QString& driverVersion, const QString& index,
                                 const QString& task, const QString& taskType, const QString& taskCount,
                                 QString* why) = 0;
    virtual bool writeRgbDevice(const QString& version, const QString& driverVersion, const QStringList& items,
                                QString* why) = 0;
    virtual QString windowsMouseConfig(const QString& version) = 0;
    virtual QString windowsKeyboardConfig() = 0;

    virtual bool setMouseAcceleration(int n, QString* why) = 0;
    virtual bool setMouseSpeed(int n, QString* why) = 0;
    virtual bool setWheelScrollLines(int n, QString* why) = 0;
    virtual bool setWheelScrollChars(int n, QString* why) = 0;
    virtual bool setDoubleClickTime(int n, QString* why) = 0;

    virtual bool startMouseTracks(QString* why) = 0;
    virtual QString stopMouseTracks() = 0;
};

class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // Modal file dialogs; "" when cancelled.
    virtual QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) = 0;
    virtual QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) = 0;
    // Hands the URL to the desktop's handler for its scheme.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The window's own device objects and description handler, the system's pointer settings and
// the mouse-track recorder.
class WindowDeviceServices : public DeviceServices {
public:
    explicit WindowDeviceServices(Window* window);

    bool resetDevice(const QString& version, QString* why) override;
    QByteArray readDpiValue(const QString& version, const QString& dpiIndex) override;
    bool writeDeviceTask(const QString& version, const QString& driverVersion, const QString& index,
                         const QString& task, const QString& taskType, const QString& taskCount,
                         QString* why) override;
    bool writeRgbDevice(const QString& version, const QString& driverVersion, const QStringList& items,
                        QString* why) override;
    QString windowsMouseConfig(const QString& version) override;
    QString windowsKeyboardConfig() override;
    bool setMouseAcceleration(int n, QString* why) override;
    bool setMouseSpeed(int n, QString* why) override;
    bool setWheelScrollLines(int n, QString* why) override;
    bool setWheelScrollChars(int n, QString* why) override;
    bool setDoubleClickTime(int n, QString* why) override;
    bool startMouseTracks(QString* why) override;
    QString stopMouseTracks() override;

private:
    Window* m_window;
};

// Qt's file dialogs and desktop services.
class QtDesktopServices : public DesktopServices {
public:
    QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) override;
    QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) override;
    bool openUrl(const QUrl& url) override;
};
