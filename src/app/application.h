// The one QApplication of the browser process and the process-wide accessors.
#pragma once

#include "app/conf.h"
#include "app/pswindow.h"
#include "devices/input_devices.h"

#include <QMutex>
#include <QString>
#include <QStringList>

class Window;

class Application : public PsApplication {
    Q_OBJECT
public:
    // An argument equal to "-autostart" (any position) marks a start minimised to the tray.
    Application(int& argc, char** argv);
    ~Application() override;

    static Application* instance();
    // The registered main window (PsApplication::psMainWindow) when it is the program's Window.
    static Window* mainWindow();

    // Replaced whole by the vendor library's device-event callback; read by the capture loop.
    // Ids (vendor and product, 8 hexadecimal digits) of the devices the application knows.
    QStringList knownDeviceIds() const { return m_knownDeviceIds; }

    InputDeviceList inputDevices() const; // no caller yet
    void setInputDevices(const InputDeviceList& list);

    // conf.xml below "Resources/" of the application directory. A missing or malformed file keeps the
    // previous values. No caller yet: startApp and the page commands load and read it.
    void loadConf();
    ConfMap confValues() const { return m_conf; }
    QString confText() const { return m_confText; }

    // define.xml below "Resources/" of the application directory: false when it is missing or cannot be
    // opened. Entries are added to the table, never removed. No caller yet: startApp loads it.
    bool loadDefine();
    // The HID usage code of an upper-case key name, "" when there is none. No caller yet: the macro
    // text parser looks keys up here.
    QString hidCodeOfKey(const QString& key) const;

    // Set once by the main window before its first page loads; read by the page loader on other threads.
    // No caller yet: the main window sets it and the page loader reads it.
    void setPageRoot(const QString& root);
    QString pageRoot() const;
    // The image root: the page root, "/" and the sub-path.
    void setImageRoot(const QString& subPath);
    QString imageRoot() const;

    // Unpacks the package fileName (relative to the application directory) into targetFolder (the
    // application directory when empty). True when every entry has been written. No caller yet: the
    // main window unpacks skn.dat with it.
    static bool unpackPackage(const QString& fileName, const QString& targetFolder);
    // Creates every missing level of the folder path; true only when the last creation attempted
    // succeeded.
    static bool makePath(const QString& path);

protected:
    // Registers this object as the instance; init does it at start-up. For now only tests call it.
    void registerInstance();

private:
    mutable QMutex m_inputDevicesLock;
    InputDeviceList m_inputDevices;

    mutable QMutex m_rootsLock;
    QString m_pageRoot;
    QString m_imageRoot;
    ConfMap m_conf;
    QString m_confText;
    bool m_autostart = false; // nothing reads it yet
    KeyCodeMap m_keyCodes;
    QStringList m_knownDeviceIds;
};

Application* appInstance();
Window* appMainWindow();

void setAppDirPath(const QString& path);
const QString& appDirPath();
// appDirPath() + relative when that path lies below the application directory (after "." and ".."
// are resolved), else "": pages name files with such relative paths.
QString pathInAppDir(const QString& relative);

// Quits the event loop once: the first call sets the quit flag and, when an application instance is
// registered, ends the loop; later calls do nothing.
void quitApplication();
bool isQuitRequested(); // no caller yet: main checks it before init
void setQuitRequested(); // no caller yet
