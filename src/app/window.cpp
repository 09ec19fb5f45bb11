#include "app/window.h"

#include "app/application.h"
#include "app/conf.h"
#include "app/global_shortcut.h"
#include "app/macro_text.h"
#include "app/private_temp.h"
#include "app/system_tray.h"
#include "app/window_device_host.h"
#include "app/window_services.h"
#include "cefclient/client_handler.h"
#include "cefclient/popwidget.h"
#include "cefclient/qcefwebview.h"
#include "devices/device_data_handler.h"
#include "devices/device_filter.h"
#include "update/file_download.h"

#include "include/base/cef_logging.h"
#include "cef_extras/qt_string.h"
#include "qt_extras/gui_thread.h"

#include <pugixml.hpp>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QThread>
#include <QTimer>
#include <QUrl>

namespace {

// How long the shut-down waits for each worker thread to end.
const unsigned long kJoinMs = 3000;

const int kRegistered = [] {
    qRegisterMetaType<pvmulti_client>("pvmulti_client");
    // Before any device binding exists: the device code reaches the main window and the
    // application through these.
    registerWindowDeviceHost();
    return 0;
}();

// A start page of its own that says the pages could not be read, and why.
QString unreadablePagesPage(const QString& reason)
{
    const QString html = QStringLiteral(
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>TarquilMervane</title></head>"
        "<body style=\"background:#222529;color:#e0e0e0;font-family:sans-serif;margin:40px\">"
        "<h1>The pages could not be read</h1><p>TarquilMervane cannot show its pages: %1.</p>"
        "<p>Installing the program again restores its pages.</p></body></html>")
                             .arg(reason.toHtmlEscaped());
    return QStringLiteral("data:text/html;charset=utf-8,") + QString::fromLatin1(QUrl::toPercentEncoding(html));
}

// Ends a worker and its thread at shut-down: the worker's loop is already told to end, the thread
// is told to quit and waited for; both are deleted only once the thread has finished, never
// while it may still use them. False when it did not finish in time: it is left running.
bool joinWorker(QThread* thread, QObject* worker)
{
    if (!thread) {
        delete worker;
        return true;
    }
    thread->quit();
    if (!thread->wait(kJoinMs)) {
        LOG(INFO) << "a worker thread did not end in time; it is left running";
        return false;
    }
    delete worker;
    delete thread;
    return true;
}

} // namespace

Window::Window(QWidget* parent)
    : PsMainWindow(parent)
    , m_listFunctions(new DeviceFunctions())
    , m_devices(std::make_unique<WindowDeviceServices>(this))
    , m_desktop(std::make_unique<QtDesktopServices>())
{
    (void)kRegistered;
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    Application* app = appInstance();
    const ConfMap conf = app ? app->confValues() : ConfMap();
    setWindowTitle(conf.value(QStringLiteral("Name")));
    const QSize size = boundedWindowSize(clientSizeFor(conf));
    refreshDeviceList();
    initDeviceData();
    resize(size);
    setMouseTracking(true);

    const QString loadPath = conf.value(QStringLiteral("LoadPath"));
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString pageRoot = pageRootFor(conf, appDir, privateTempPath());
    // The pages come from the unpacked folder, unless Debug has them served from the program's.
    const bool unpackedPages = pageRoot == pageRootFor(ConfMap(), appDir, privateTempPath());
    // After a refused package the unpacked folder holds at best the pages of an earlier run: none
    // of them is served, and the start page says why instead.
    const bool refused = unpackedPages && !m_packageError.isEmpty();
    const QString startPage = refused ? unreadablePagesPage(m_packageError) : loadPath;
    // The page loader reads the roots from the first request of the page on: they are set before
    // the page is asked for.
    if (app) {
        app->setPageRoot(refused ? QString() : pageRoot);
        app->setImageRoot(imageSubPathFor(loadPath));
    }
    if (g_handler) {
        g_handler->SetViewKey(startPage);
        g_handler->SetStartupURL(startPage.toUtf8().toStdString());
    }
    m_webView = new QCefWebView(this, false);
    m_webView->resize(size);
    m_webView->load(QUrl(startPage, QUrl::TolerantMode));
    setMinimumSize(size);
    connect(m_webView, &QCefWebView::jsMessage, this, &Window::onJsMessage);
    // Every way out of the event loop writes the changed page files back, also those that skip
    // the window's own quit (the end of the session, the native window's destruction).
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { flushDirtyFiles(); });
}

Window::~Window()
{
    // The capture loop hands tasks to the worker: it ends first.
    if (m_deviceFilter)
        m_deviceFilter->requestStop();
    joinWorker(m_filterThread, m_deviceFilter);
    m_filterThread = nullptr;
    m_deviceFilter = nullptr;

    commandExec* exec;
    QThread* thread;
    {
        QMutexLocker lock(&m_taskLock);
        m_closing = true;
        exec = m_taskExec;
        thread = m_taskThread;
        m_taskExec = nullptr;
        m_taskThread = nullptr;
    }
    if (exec)
        exec->quit();
    if (!joinWorker(thread, exec)) {
        // The worker still writes through the client: both go once its thread has ended.
        const auto client = std::make_shared<pvmulti_client>(m_vmulti);
        const bool connected = m_vmultiConnected;
        m_vmulti = nullptr;
        const auto release = [exec, client, connected] {
            if (!*client)
                return;
            delete exec;
            if (connected)
                vmulti_disconnect(*client);
            vmulti_free(*client);
            *client = nullptr;
        };
        connect(thread, &QThread::finished, QCoreApplication::instance(), release, Qt::QueuedConnection);
        if (thread->isFinished())
            release();
    }
    delete m_tray;
    m_tray = nullptr;

    // Each view takes itself out as the runtime's listener when it goes.
    delete m_webView;
    m_webView = nullptr;
    closePopups();
    qDeleteAll(m_downloads);
    m_downloads.clear();
    disconnectVMulti();
}

QMap<QString, QJsonObject> Window::deviceMap() const
{
    QMutexLocker lock(&m_deviceMapLock);
    return m_deviceMap;
}

void Window::refreshDeviceList()
{
    QMutexLocker refresh(&m_refreshLock);
    QMap<QString, QJsonObject> fresh = m_listFunctions->deviceList();
    QMutexLocker lock(&m_deviceMapLock);
    m_deviceMap.swap(fresh);
}

void Window::initDeviceData()
{
    const QString temp = privateTempPath();
    const QString package = appDirPath() + QStringLiteral("skn.dat");
    QString error;
    if (temp.isEmpty() || !QFileInfo(temp).isDir())
        reportFailure(QStringLiteral("The pages cannot be unpacked: there is no private temporary folder"));
    else if (!QFileInfo::exists(package))
        reportFailure(QStringLiteral("The page package %1 is missing; no pages were unpacked").arg(package));
    else if (!Application::unpackPackage(QStringLiteral("skn.dat"), QDir::toNativeSeparators(temp), &error)) {
        m_packageError = QStringLiteral("the page package %1 was refused: %2").arg(package, error);
        reportFailure(QStringLiteral("The pages cannot be read: ") + m_packageError);
    }
    m_dataHandler = new device_data_handler;
    m_dataHandler->loadDriverXml(QStringLiteral(":/drive/M1.0"));
    m_dataHandler->loadDriverXml(QStringLiteral(":/drive/K1.0"));
}

void Window::initWindow()
{
    psInitFrameless();
    psInitSize();
}

void Window::initSystemTray()
{
    m_tray = new SystemTray(this);
    m_tray->show();
    connect(m_tray, &QSystemTrayIcon::activated, this, &Window::onSystemtrayActive, Qt::UniqueConnection);
    connect(m_tray, &SystemTray::showWidget, this, &Window::onshowWidget);
    connect(m_tray, &SystemTray::closeApp, this, &Window::oncloseApp);
}

void Window::firstShow() { psFirstShow(); }

void Window::runTask(const MacroTask& task, pvmulti_client /*vmulti*/, int keyState)
{
    handTask(task.actions, task.playType, task.playCount, keyState);
}

void Window::handTask(const QList<MacroAction>& actions, int playType, int playCount, int keyState)
{
    QMutexLocker lock(&m_taskLock);
    if (m_closing)
        return;
    if (m_taskThread) {
        m_taskExec->setTask(m_vmulti, actions, playType, playCount, keyState);
        return;
    }
    QPointer<Window> window(this);
    m_taskThread = new QThread;
    m_taskExec = new commandExec(m_taskThread, actions, m_vmulti, playType, playCount, keyState, m_macroClock,
                               [window](const QUrl& url) {
                                   qt_extras::PostToGuiThread([window, url] {
                                       if (window)
                                           window->m_desktop->openUrl(url);
                                   });
                               });
    connect(m_taskExec, &commandExec::taskFinished, this, &Window::onTaskFinished, Qt::QueuedConnection);
    connect(m_taskThread, &QThread::finished, m_taskThread, &QObject::deleteLater);
    connect(this, &Window::StopVCMDOutput, m_taskExec, &commandExec::onStopOutput, Qt::QueuedConnection);
    // Made on the capture thread, the thread object still belongs to the GUI thread, which
    // deletes it when it has finished.
    if (!qt_extras::OnGuiThread())
        m_taskThread->moveToThread(QCoreApplication::instance()->thread());
    m_taskThread->start(QThread::InheritPriority);
}

commandExec* Window::macroWorker() const
{
    QMutexLocker lock(&m_taskLock);
    return m_taskExec;
}

QThread* Window::macroThread() const
{
    QMutexLocker lock(&m_taskLock);
    return m_taskThread;
}

void Window::stopOutput()
{
    emit StopVCMDOutput(true);
    QMutexLocker lock(&m_taskLock);
    if (m_taskThread)
        m_taskExec->stopOutput();
}

void Window::startDeviceFilter()
{
    stopWorkers();
    m_filterThread = new QThread;
    m_deviceFilter = new DEVICE_FILTER(m_filterThread, windowHost(this));
    m_deviceFilter->setFlags(true, true);
    connect(m_filterThread, &QThread::finished, m_filterThread, &QObject::deleteLater);
    m_filterThread->start(QThread::InheritPriority);
}

// The worker is deleted once its thread has finished; the capture loop, which ends at once, is
// waited for, so that no two loops ever read the driver.
void Window::stopWorkers()
{
    if (m_deviceFilter)
        m_deviceFilter->requestStop();
    if (!joinWorker(m_filterThread, m_deviceFilter))
        m_deviceFilter->deleteLater();
    m_filterThread = nullptr;
    m_deviceFilter = nullptr;
    {
        QMutexLocker lock(&m_taskLock);
        if (m_taskExec) {
            m_taskExec->quit();
            m_taskExec->deleteLater();
        }
        if (m_taskThread)
            m_taskThread->quit();
        m_taskExec = nullptr;
        m_taskThread = nullptr;
    }
}

void Window::setActivePopup(PopWidget* popup) { m_activePopup = popup; }

PopWidget* Window::activePopup() const { return m_activePopup; }

void Window::closePopups()
{
    for (const QPointer<PopWidget>& popup : m_popups)
        delete popup.data();
    m_popups.clear();
}

void Window::cacheFile(const QString& path) { m_fileCache.cacheFile(path); }

QMap<QString, QString> Window::cachedFiles() const { return m_fileCache.cachedFiles(); }

PageFileCache::Result Window::modifyCachedFile(const QString& path, const QString& text)
{
    return m_fileCache.modify(path, text);
}

bool Window::flushDirtyFiles() { return m_fileCache.flush() != PageFileCache::Flush::Failed; }

void Window::loadUrl(const QString& url)
{
    CefRefPtr<CefBrowser> browser = g_handler ? g_handler->GetBrowser() : nullptr;
    if (!browser)
        return;
    QString dir = appDirPath();
    if (dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    // "file:///C:/..." on the target platform; an absolute path brings its own "/".
    const QString prefix = dir.startsWith(QLatin1Char('/')) ? QStringLiteral("file://") : QStringLiteral("file:///");
    browser->GetMainFrame()->LoadURL(cef_extras::ToCefString(prefix + dir + url));
}

void Window::setDeviceHotKey(const QString& deviceId, const QString& keySequence)
{
    if (!m_hotKeyTexts.contains(deviceId))
        return;
    if (m_hotKeyTexts.value(deviceId).first.isEmpty() || !m_hotKeys.value(deviceId))
        m_hotKeys[deviceId] = new GlobalShortcut(this);
    GlobalShortcut* shortcut = m_hotKeys.value(deviceId);
    const bool set = shortcut->setShortcut(QKeySequence::fromString(keySequence, QKeySequence::NativeText));
    connect(shortcut, &GlobalShortcut::activated, this, &Window::deviceHotKeyActive, Qt::UniqueConnection);
    m_hotKeyTexts[deviceId] = qMakePair(keySequence, set ? QStringLiteral("1") : QStringLiteral("0"));
}

void Window::addHotKeyEntry(const QString& deviceId)
{
    if (!m_hotKeyTexts.contains(deviceId))
        m_hotKeyTexts.insert(deviceId, {});
}

void Window::clearHotKeys()
{
    qDeleteAll(m_hotKeys);
    m_hotKeys.clear();
    m_hotKeyTexts.clear();
}

void Window::setAutoStart(bool enabled)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_SET_VALUE, &key)
        != ERROR_SUCCESS)
        return;
    if (enabled) {
        const QString command = QLatin1Char('"') + QDir::toNativeSeparators(exeDirPath() + QStringLiteral("Brontivex.exe"))
            + QStringLiteral("\" -autostart");
        RegSetValueExW(key, u"velmora", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.utf16()),
                       DWORD((command.size() + 1) * sizeof(WCHAR)));
    } else {
        RegDeleteValueW(key, u"velmora");
    }
    RegCloseKey(key);
}

void Window::setDeviceServices(std::unique_ptr<DeviceServices> services) { m_devices = std::move(services); }

void Window::setDesktopServices(std::unique_ptr<DesktopServices> services) { m_desktop = std::move(services); }

void Window::setMacroClock(std::shared_ptr<MacroClock> clock)
{
    QMutexLocker lock(&m_taskLock);
    m_macroClock = std::move(clock);
}

void Window::replySuccess(Callback callback, const QString& text)
{
    callback->Success(cef_extras::ToCefString(text));
    callback->Release();
}

void Window::replyFailure(Callback callback, int code, const QString& text)
{
    callback->Failure(code, cef_extras::ToCefString(text));
    callback->Release();
}

void Window::LoginWindow() { show(); }

void Window::quitApp()
{
    hide();
    flushDirtyFiles();
}

void Window::finishLoading(bool) { qDebug() << "加载完成"; }

void Window::reload_currentPage()
{
    // The view's reload acts on the main browser.
    if (CefRefPtr<CefBrowser> browser = g_handler ? g_handler->GetBrowser() : nullptr)
        browser->Reload();
}

void Window::onSystemtrayActive(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        setWindowState(Qt::WindowActive);
        show();
        break;
    default:
        break;
    }
}

void Window::onCurrentPropChanged(int propIndex, int proMode)
{
    if (g_handler)
        g_handler->SendCurrentPropChanged(propIndex, proMode);
}

void Window::onshowWidget() { show(); }

void Window::oncloseApp()
{
    flushDirtyFiles();
    quitApplication();
}

void Window::showMouseConf()
{
    if (g_handler)
        g_handler->SendSwitchVirtualDevice();
}

void Window::showDebug()
{
    Application* app = appInstance();
    const ConfMap conf = app ? app->confValues() : ConfMap();
    if (conf.isEmpty())
        return;
    QString dir = appDirPath();
    if (dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    const QStringList size = conf.value(QStringLiteral("testToolSize")).split(QLatin1Char(','));
    openPopup(QStringLiteral("file:///") + dir + conf.value(QStringLiteral("testToolRurl")),
              QSize(size.value(0).toInt(), size.value(1).toInt()));
}

// Only while nothing newer plays, so that the report can never release a later task's keys.
void Window::onTaskFinished(pvmulti_client)
{
    QMutexLocker lock(&m_taskLock);
    if (m_taskExec && m_taskExec->releaseKeysWhenIdle(m_vmulti))
        LOG(INFO) << "onTaskFinished reset all key===========================";
}

void Window::deviceHotKeyActive()
{
    QString deviceId;
    for (auto it = m_hotKeys.constBegin(); it != m_hotKeys.constEnd(); ++it) {
        if (it.value() == sender()) {
            deviceId = it.key();
            break;
        }
    }
    Application* app = appInstance();
    // An attribute holds no NUL: an id with one names no device.
    if (deviceId.isEmpty() || deviceId.contains(QChar(0)) || !app)
        return;
    const QByteArray text = app->confText().toUtf8();
    pugi::xml_document doc;
    if (!doc.load_buffer(text.constData(), size_t(text.size())))
        return;
    // The id is compared as a value, never written into the expression.
    pugi::xpath_variable_set variables;
    variables.set("id", deviceId.toUtf8().constData());
    pugi::xpath_node node;
    try {
        const pugi::xpath_query query("/root/conf[@deviceId = $id]/productInfo", &variables);
        node = query.evaluate_node(doc);
    } catch (const pugi::xpath_exception&) {
        return;
    }
    if (!node)
        return;
    const QString page = QStringLiteral("/view/device/") + QString::fromUtf8(node.node().attribute("device").value()) +
                         QStringLiteral("/seting.html");
    // The settings page lies below the program folder, as the popup's browser reads its address.
    if (!pageInAppDir(page))
        return;
    QString dir = appDirPath();
    if (dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    openPopup(QStringLiteral("file:///") + dir + page, QSize(1000, 600));
}

bool Window::GetVirtualDeviceStatus() { return m_vmultiConnected; }

void Window::playActions(const QString& strActions)
{
    Application* app = appInstance();
    const QList<MacroAction> actions
        = parseMacroText(strActions, [app](const QString& key) { return app ? app->hidCodeOfKey(key) : QString(); });
    if (!m_vmultiConnected)
        return;
    if (macroThread())
        stopOutput();
    handTask(actions, 0, 1, 0);
}

void Window::connectVMulti()
{
    if (m_vmulti)
        return;
    m_vmulti = vmulti_alloc();
    m_vmultiConnected = m_vmulti && vmulti_connect(m_vmulti);
}

void Window::disconnectVMulti()
{
    if (!m_vmulti)
        return;
    if (m_vmultiConnected)
        vmulti_disconnect(m_vmulti);
    vmulti_free(m_vmulti);
    m_vmulti = nullptr;
}

void Window::openPopup(const QString& url, const QSize& size)
{
    if (m_popups.value(url))
        return;
    auto* popup = new PopWidget(url, size, this);
    m_popups[url] = popup;
    if (g_handler)
        g_handler->SetListener(popup->webView());
    connect(popup->webView(), &QCefWebView::jsMessage, this, &Window::onJsMessage);
    if (g_handler)
        g_handler->SetMainWindowHandle(static_cast<HWND>(popup->winId()));
    popup->show();
}

bool Window::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && isMinimized())
        showNormal();
    return QWidget::event(event);
}

bool Window::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::WindowActivate) {
        if (g_handler) {
            g_handler->SetListener(m_webView);
            g_handler->SetMainWindowHandle(static_cast<HWND>(winId()));
        }
        return true;
    }
    return false;
}

void Window::resizeEvent(QResizeEvent* event)
{
    if (m_webView)
        m_webView->resize(event->size());
    QWidget::resizeEvent(event);
}

void Window::closeEvent(QCloseEvent* event)
{
    hide();
    event->ignore();
}

bool Window::nativeEvent(const QByteArray& eventType, void* message, long*)
{
    const MSG* msg = psWindowsMessage(eventType, message);
    if (!msg || msg->message != WM_DEVICECHANGE)
        return false;
    int code = 0;
    switch (msg->wParam) {
    case DBT_DEVICEARRIVAL:
        qDebug() << "DBT_DEVICEARRIVAL case";
        code = 2;
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        qDebug() << "DBT_DEVICEREMOVECOMPLETE case";
        code = 1;
        break;
    case DBT_DEVICEREMOVEPENDING:
        qDebug() << "DBT_DEVICEREMOVEPENDING case";
        return false;
    default:
        qDebug() << "Went to Default case";
        return false;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return false;
    const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    static const QRegularExpression ids(QStringLiteral("VID\\_([a-zA-Z0-9]{0,4})&PID\\_([a-zA-Z0-9]{0,4})"));
    const QRegularExpressionMatch m = ids.match(QString::fromUtf16(iface->dbcc_name));
    if (!m.hasMatch())
        return false;
    const QString id = m.captured(1) + m.captured(2);
    Application* app = appInstance();
    if ((!app || !app->knownDeviceIds().contains(id)) && g_handler)
        g_handler->SendDevicesChanged(code);
    return false;
}
