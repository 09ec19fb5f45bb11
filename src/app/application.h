// The one QApplication of the browser process and the process-wide accessors.
#pragma once

#include "app/conf.h"
#include "app/program_folder.h"
#include "app/pswindow.h"
#include "app/single_instance.h"
#include "devices/input_devices.h"

#include <pugixml.hpp>

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimer>

class UpdateCheck;
class Window;
class devices_handler;

class Application : public PsApplication {
    Q_OBJECT
public:
    // Texts of one vendor device record.
    struct DeviceRecord {
        QString name; // the record's first 40 bytes
        QString serial;
        QString version;
        QString deviceId;
        QString devicePath;
        QString mask;
    };

    // An argument equal to "-autostart" (any position) marks a start minimised to the tray.
    Application(int& argc, char** argv);
    ~Application() override;

    static Application* instance();
    // The application's main window, null before startApp and from the destruction on.
    static Window* mainWindow();
    // The application's own vendor binding: none.
    static devices_handler* currentDevicesHandler();

    // Prepares the process (directories, style, crash dumps, native filter) and starts the
    // single-instance check; the answer arrives in the event loop.
    void init();
    // Builds the user interface; once, in the first instance only.
    void startApp();
    // Starts the check for a newer version at the service that UpgradeUrl names (the argument is
    // not read).
    void checkUpdate(int);
    // Registers the main window for USB device-interface arrivals and removals.
    void registerUsbNotification();

    devices_handler* devicesHandler() const { return m_devicesHandler; }
    QStringList knownDeviceIds() const { return m_knownDeviceIds; }
    UpdateCheck* updateCheck() const { return m_updateCheck; }

    // Replaced whole by the vendor library's device-event callback; read by the capture loop.
    InputDeviceList inputDevices() const;
    void setInputDevices(const InputDeviceList& list);

    // conf.xml below "Resources/" of the application directory. A missing or malformed file keeps the
    // previous values.
    void loadConf();
    // Safe on any thread (the browser's threads read it while the GUI thread may load it again).
    ConfMap confValues() const;
    QString confText() const;

    // define.xml below "Resources/" of the application directory: false when it is missing or cannot be
    // opened. Entries are added to the table, never removed.
    bool loadDefine();
    // The HID usage code of an upper-case key name, "" when there is none.
    QString hidCodeOfKey(const QString& key) const;

    // Set by the main window before its first page loads; read by the page loader on other threads.
    void setPageRoot(const QString& root);
    QString pageRoot() const;
    // The image root: the page root, "/" and the sub-path.
    void setImageRoot(const QString& subPath);
    QString imageRoot() const;

    // Unpacks the package fileName (relative to the application directory) into targetFolder (the
    // application directory when empty). True when every entry has been written; otherwise error,
    // when given, says what failed.
    static bool unpackPackage(const QString& fileName, const QString& targetFolder, QString* error = nullptr);
    // Creates every missing level of the folder path; true only when the last creation attempted
    // succeeded.
    static bool makePath(const QString& path);

    // Nothing in the program calls these.
    void initDevices();
    void refreshDevices();
    void diffDevices(QList<DeviceRecord>& changed);
    bool hasDuplicateDevice(const QString& key) const;
    void setConfText(const QString& text);
    void saveConf();
    bool setConfValue(const QString& key, const QString& value);
    QString confValue(const QString& key) const;

public slots:
    void play();
    void on_closeApp();

    // The single-instance check, client side: every instance at start.
    void socketConnected();
    void socketDisconnected();
    void socketError(QLocalSocket::LocalSocketError error);
    void socketWritten(qint64 bytes);
    void socketReading();
    // Server side: the running instance.
    void newInstanceConnected();
    void readClients();
    void removeClients();

public:
    // Runs a command that another instance sent: "show" brings the main window forward.
    void handleCommand(const QString& command);

protected:
    // Registers this object as the instance; init does it at start-up.
    void registerInstance();
    // Connects the single-instance socket, server and time-out to their slots; init does it.
    void connectInstanceSignals();

private:
    // The local server's address (instanceAddress), "" without a safe folder.
    QString serverAddress() const;
    // Starts connecting the client socket to the running instance.
    void connectToRunningInstance();
    // The running instance did not answer in time.
    void replyTimedOut();
    // No running instance answered: listen and start the user interface.
    void becomeRunningInstance(QLocalSocket::LocalSocketError error);
    // Handles the complete segments a client has sent and answers them; a "show" only sets *show.
    // The reason when the client broke a bound and must be dropped, else null.
    const char* serveClient(QPair<QLocalSocket*, QByteArray>& entry, bool* show);
    // Hangs up on the client of that entry and forgets it.
    void dropClient(int index, const char* reason);

    QTimer* m_timer = nullptr;
    QMap<QString, DeviceRecord> m_deviceRecords;
    mutable QMutex m_inputDevicesLock;
    InputDeviceList m_inputDevices;
    mutable QMutex m_rootsLock;
    QString m_pageRoot;
    QString m_imageRoot;
    // Read on the browser runtime's threads too (the context menu); written on the GUI thread.
    mutable QMutex m_confLock;
    ConfMap m_conf;
    QMap<QString, int> m_deviceIdCounts;
    QMap<QString, QObject*> m_ownedObjects;
    QString m_confText;
    UpdateCheck* m_updateCheck = nullptr;
    QString m_serverName;
    QLocalSocket m_socket;
    QString m_replyBuffer;
    QLocalServer m_server;
    QList<QPair<QLocalSocket*, QByteArray>> m_clients;
    bool m_commandSent = false;
    // The running instance's answer has come (client side).
    bool m_replyReceived = false;
    // Ends the wait for that answer.
    QTimer m_replyTimer;
    bool m_autostart = false;
    QStringList m_knownDeviceIds;
    devices_handler* m_devicesHandler = nullptr;
    pugi::xml_document m_xmlDoc;
    KeyCodeMap m_keyCodes;
};

// An argument, the program path included, equal to "-autostart".
bool hasAutostartArgument(int argc, char** argv);

Application* appInstance();
Window* appMainWindow();

// Says what failed at start-up, or in a later load, in the runtime's log and on standard error.
void reportFailure(const QString& text);

// Quits the event loop once: the first call sets the quit flag and, when an application instance is
// registered, ends the loop; later calls do nothing.
void quitApplication();
bool isQuitRequested();
void setQuitRequested();
