// The main window: a frameless window filled by the main page view. It holds the device list and
// the device objects, the page-file cache, the popup views, the page downloads, the macro worker
// and the capture thread, and answers every page command.
#pragma once

#include "app/page_file_cache.h"
#include "app/pswindow.h"
#include "devices/command_exec.h"
#include "devices/device_functions.h"
#include "devices/devices_handler.h"
#include "devices/vmulti_client.h"

#include "include/wrapper/cef_message_router.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>
#include <QVariantMap>

#include <memory>

class DesktopServices;
class DeviceServices;
class DEVICE_FILTER;
class GlobalShortcut;
class PopWidget;
class QCefWebView;
class QThread;
class QTimer;
class SystemTray;
class device_data_handler;
class wrapFileDownload;

class Window : public PsMainWindow {
    Q_OBJECT
public:
    typedef CefRefPtr<CefMessageRouterBrowserSide::Callback> Callback;

    explicit Window(QWidget* parent = nullptr);
    ~Window() override;

    // A copy of the device list: Version -> device object. Safe from any thread; during a
    // refresh it is the last whole list, without waiting for the refresh.
    QMap<QString, QJsonObject> deviceMap() const;
    // Replaces the device list with the one the vendor library reports now. Runs on the GUI
    // thread and on the vendor library's thread; readers see the old or the new list whole.
    void refreshDeviceList();

    // Start-up, after the native window exists: the frameless set-up, the tray icon, the first show.
    void initWindow();
    void initSystemTray();
    void firstShow();

    // A mapped button's task for the macro worker, from the capture thread or any other: handed
    // over at once (the worker is made with the first one), to play after those handed over
    // before it.
    void runTask(const MacroTask& task, pvmulti_client vmulti, int keyState);
    // Ends the worker's output: every task handed over before the call; any thread.
    void stopOutput();
    void startDeviceFilter();
    // Ends the macro worker and the capture thread.
    void stopWorkers();
    void setActivePopup(PopWidget* popup);

    // The page-file cache.
    void cacheFile(const QString& path);
    QMap<QString, QString> cachedFiles() const;
    // Changes a page file's text in the cache, as "ModifyFileFromStr" does.
    PageFileCache::Result modifyCachedFile(const QString& path, const QString& text);
    // Writes the changed page files back; false when one of them could not be written.
    bool flushDirtyFiles();

    // The main browser loads the page at url below the program folder.
    void loadUrl(const QString& url);
    void setDeviceHotKey(const QString& deviceId, const QString& keySequence);
    void setAutoStart(bool enabled);

    // The page commands' way to the devices and to the desktop.
    void setDeviceServices(std::unique_ptr<DeviceServices> services);
    void setDesktopServices(std::unique_ptr<DesktopServices> services);
    // The clock of the macro workers made from now on (the system's when null).
    void setMacroClock(std::shared_ptr<MacroClock> clock);

    // Each answer releases the reference the query handler added for the forwarded query.
    static void replySuccess(Callback callback, const QString& text);
    static void replyFailure(Callback callback, int code, const QString& text);

    SystemTray* tray() const { return m_tray; }
    QCefWebView* webView() const { return m_webView; }
    // The popup views by their address; an entry's view may be gone.
    const QMap<QString, QPointer<PopWidget>>& popups() const { return m_popups; }
    PopWidget* activePopup() const;
    // Closes every popup view at once.
    void closePopups();
    const QList<wrapFileDownload*>& downloads() const { return m_downloads; }
    // The macro worker and its thread, read under their lock: the capture thread may make them
    // meanwhile.
    commandExec* macroWorker() const;
    QThread* macroThread() const;
    QThread* filterThread() const { return m_filterThread; }
    DEVICE_FILTER* deviceFilter() const { return m_deviceFilter; }
    // Registered device hot keys and, per device, its key sequence and whether it was granted.
    const QMap<QString, GlobalShortcut*>& hotKeys() const { return m_hotKeys; }
    const QMap<QString, QPair<QString, QString>>& hotKeyTexts() const { return m_hotKeyTexts; }
    // Gives the device an entry with no key yet, which setDeviceHotKey then fills.
    void addHotKeyEntry(const QString& deviceId);
    // Unregisters every device hot key and forgets the entries.
    void clearHotKeys();
    DeviceFunctions* deviceFunctions() { return &m_deviceFunctions; }
    DeviceFunctions* listFunctions() const { return m_listFunctions; }
    device_data_handler* dataHandler() const { return m_dataHandler; }
    // The timer that shows the window after a login; null before the first.
    QTimer* loginTimer() const { return m_loginTimer; }

signals:
    void funstared();
    void StopVCMDOutput(bool stop);

public slots:
    // The page command dispatcher.
    void dofunc(const QString& funcname, const QVariantMap& args, Callback callbackPtr);
    void LoginWindow();
    // Hides the window to the tray and writes the changed page files back.
    void quitApp();
    void finishLoading(bool ok);
    void reload_currentPage();
    void onJsMessage(const QString& name, const Callback callbackPtr);
    void onSystemtrayActive(QSystemTrayIcon::ActivationReason reason);
    void onCurrentPropChanged(int propIndex, int proMode);
    void onshowWidget();
    // Writes the changed page files back and quits the program once.
    void oncloseApp();
    void showMouseConf();
    void showDebug();
    void onTaskFinished(pvmulti_client m_vmultia);
    void deviceHotKeyActive();
    bool GetVirtualDeviceStatus();
    void playActions(const QString& strActions);
    void connectVMulti();
    void disconnectVMulti();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;

private:
    friend struct PageCommands;

    void initDeviceData();
    // Creates the macro worker on first use, otherwise hands it the task (any thread).
    void handTask(const QList<MacroAction>& actions, int playType, int playCount, int keyState);
    // Opens a popup view of url unless one is open for it.
    void openPopup(const QString& url, const QSize& size);
    // The window that "maxsizeWindow" and "restoreWindow" act on.
    void maximizeTarget();
    void restoreTarget();

    SystemTray* m_tray = nullptr;
    PageFileCache m_fileCache;
    QCefWebView* m_webView = nullptr;
    QMap<QString, QPointer<PopWidget>> m_popups;
    QList<wrapFileDownload*> m_downloads;
    // Guarded by m_taskLock.
    QThread* m_taskThread = nullptr;
    commandExec* m_taskExec = nullptr;
    QThread* m_filterThread = nullptr;
    DEVICE_FILTER* m_deviceFilter = nullptr;
    // Geometry before "maxsizeWindow", per window.
    QHash<QWidget*, QRect> m_savedGeometry;
    QMap<QString, GlobalShortcut*> m_hotKeys;
    QMap<QString, QPair<QString, QString>> m_hotKeyTexts;
    QPointer<PopWidget> m_activePopup;
    DeviceFunctions m_deviceFunctions;
    bool m_vmultiConnected = false;
    pvmulti_client m_vmulti = nullptr;
    devices_handler m_devicesHandler;
    // Reads the device list only; never deleted.
    DeviceFunctions* m_listFunctions = nullptr;
    // Never deleted.
    device_data_handler* m_dataHandler = nullptr;
    QTimer* m_loginTimer = nullptr;

    // Why the page package was refused; empty when it was unpacked (or is missing).
    QString m_packageError;
    std::unique_ptr<DeviceServices> m_devices;
    std::unique_ptr<DesktopServices> m_desktop;

    // One refresh at a time, so an older list never replaces a newer one. Held across the
    // library's call, so readers never take it: they take m_deviceMapLock, held only for the swap.
    QMutex m_refreshLock;
    mutable QMutex m_deviceMapLock;
    QMap<QString, QJsonObject> m_deviceMap;
    // Guards m_taskThread, m_taskExec and m_closing for the threads that hand tasks over or stop
    // the output.
    mutable QMutex m_taskLock;
    bool m_closing = false; // the window goes: no worker is made any more
    std::shared_ptr<MacroClock> m_macroClock;
};
