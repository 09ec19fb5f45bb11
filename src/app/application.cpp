#include "app/application.h"

#include "app/breakpad_qt.h"
#include "app/quit_signals.h"
#include "app/window.h"
#include "cefclient/client_handler.h"
#include "devices/device_functions.h"
#include "devices/device_info_record.h"
#include "devices/devices_handler.h"
#include "update/update_check.h"

#include "include/base/cef_logging.h"

#include <QFile>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {
Application* g_instance = nullptr;
bool g_quitRequested = false;

// "Resources/" of the application directory, with its trailing "/".
QString resourcesDir()
{
    const QString dir = appDirPath().isEmpty() ? QCoreApplication::applicationDirPath() + "/" : appDirPath();
    return dir + QStringLiteral("Resources/");
}
} // namespace

Application::Application(int& argc, char** argv)
    : PsApplication(argc, argv)
    , m_timer(new QTimer(this))
    , m_serverName(QStringLiteral("Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3}"))
{
    if (hasAutostartArgument(argc, argv)) {
        m_autostart = true;
        startMinimized() = true;
    }
}

Application::~Application()
{
    // Closing is no news to the single-instance check any more.
    disconnect(&m_socket, nullptr, this, nullptr);
    m_socket.close();
    delete m_updateCheck;
    m_updateCheck = nullptr;
    for (QObject*& object : m_ownedObjects) {
        delete object;
        object = nullptr;
    }
    // Nobody reaches the window any more once its destruction begins: the record is cleared first.
    PsMainWindow* window = m_mainWindow;
    m_mainWindow = nullptr;
    delete window;
    delete m_devicesHandler;
    m_devicesHandler = nullptr;
    if (g_instance == this)
        g_instance = nullptr;
}

void Application::registerInstance() { g_instance = this; }

Application* Application::instance() { return g_instance; }

Window* Application::mainWindow()
{
    return g_instance ? qobject_cast<Window*>(g_instance->m_mainWindow.data()) : nullptr;
}

devices_handler* Application::currentDevicesHandler() { return g_instance ? g_instance->m_devicesHandler : nullptr; }

void Application::init()
{
    const QString dir = applicationDirPath();
    exeDirPath() = dir + QLatin1Char('/');
    setQuitOnLastWindowClosed(false);
    setAppDirPath(dir + QLatin1Char('/'));
    QFile style(QStringLiteral(":/qss/qssmain"));
    setStyleSheet(style.open(QIODevice::ReadOnly) ? QString::fromUtf8(style.readAll()) : QString());
    BreakpadQt::instance()->setDumpPath(dir);
    if (g_instance) {
        LOG(INFO) << "Application Error:another Application was creadted,terminating..";
        exit(0);
    }
    registerInstance();
    installQuitSignals(this);
    psInstallEventFilter();
    connectInstanceSignals();
    LOG(INFO) << "Application Info: connecting local socket to " << m_serverName.toStdString() << "..";
    // A local socket tells its connection, or that there is no server, before connectToServer
    // returns: the connecting starts with the event loop, where the answer is handled.
    QTimer::singleShot(0, this, &Application::connectToRunningInstance);
}

void Application::startApp()
{
    if (m_mainWindow)
        return;
    loadConf();
    auto* window = new Window;
    m_mainWindow = window;
    window->winId();
    registerUsbNotification();
    if (g_handler)
        g_handler->SetMainWindowHandle(static_cast<HWND>(window->winId()));
    window->initWindow();
    window->initSystemTray();
    window->firstShow();
    checkUpdate(0);
    loadDefine();
    // The present keyboards and mice from the start, not only after the first device event.
    setInputDevices(devices_handler::enumerateInputDevices());
    if (window->GetVirtualDeviceStatus())
        window->startDeviceFilter();
    LOG(INFO) << "mainwindow show!";
}

void Application::checkUpdate(int)
{
    const QString fwversion = m_deviceRecords.isEmpty() ? QString() : m_deviceRecords.first().version;
    delete m_updateCheck;
    m_updateCheck = new UpdateCheck(this);
    QString version, host;
    {
        QMutexLocker lock(&m_confLock);
        version = m_conf[QStringLiteral("Version")];
        host = m_conf.value(QStringLiteral("UpgradeUrl"));
    }
    m_updateCheck->serviceUrl = upgradeServiceUrl(host);
    m_updateCheck->doCheck(version, fwversion);
}

void Application::registerUsbNotification()
{
    Window* window = mainWindow();
    if (!window)
        return;
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(window->winId()), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void Application::play() {}

void Application::on_closeApp()
{
    if (Window* window = mainWindow())
        window->oncloseApp();
}

InputDeviceList Application::inputDevices() const
{
    QMutexLocker lock(&m_inputDevicesLock);
    return m_inputDevices;
}

void Application::setInputDevices(const InputDeviceList& list)
{
    QMutexLocker lock(&m_inputDevicesLock);
    m_inputDevices = list;
}

void Application::loadConf()
{
    const QString path = resourcesDir() + QStringLiteral("conf.xml");
    ConfMap conf;
    QString error;
    const bool parsed = parseConfFile(path, &conf, &error);
    if (!error.isEmpty())
        reportFailure(QStringLiteral("The configuration %1 %2: %3")
                          .arg(path, parsed ? QStringLiteral("gives no settings") : QStringLiteral("cannot be read"), error));
    if (!parsed)
        return;
    conf.insert(QStringLiteral("MacAddress"), firstMacAddress());
    conf.insert(QStringLiteral("IpAddress"), firstIpv4Address());
    QString text;
    bool haveText = false;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&file);
        in.setCodec("UTF-8");
        text = in.readAll();
        haveText = true;
    }
    QMutexLocker lock(&m_confLock);
    m_conf = conf;
    if (haveText)
        m_confText = text;
}

ConfMap Application::confValues() const
{
    QMutexLocker lock(&m_confLock);
    return m_conf;
}

QString Application::confText() const
{
    QMutexLocker lock(&m_confLock);
    return m_confText;
}

bool Application::loadDefine()
{
    QFile file(resourcesDir() + QStringLiteral("define.xml"));
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    parseDefineText(in.readAll(), &m_keyCodes);
    return true;
}

QString Application::hidCodeOfKey(const QString& key) const { return m_keyCodes.value(key); }

void Application::setPageRoot(const QString& root)
{
    QMutexLocker lock(&m_rootsLock);
    m_pageRoot = root;
}

QString Application::pageRoot() const
{
    QMutexLocker lock(&m_rootsLock);
    return m_pageRoot;
}

void Application::setImageRoot(const QString& subPath)
{
    QMutexLocker lock(&m_rootsLock);
    m_imageRoot = m_pageRoot + QLatin1Char('/') + subPath;
}

QString Application::imageRoot() const
{
    QMutexLocker lock(&m_rootsLock);
    return m_imageRoot;
}

void Application::initDevices()
{
    if (!m_devicesHandler)
        m_devicesHandler = new devices_handler;
    refreshDevices();
    setInputDevices(devices_handler::enumerateInputDevices());
}

void Application::refreshDevices()
{
    m_deviceRecords.clear();
    m_knownDeviceIds.clear();
    m_deviceIdCounts.clear();
    if (!m_devicesHandler)
        return;
    const DeviceInfoList list = m_devicesHandler->getDevices();
    const int count = deviceRecordCount(list);
    for (int i = 0; i < count; ++i) {
        const DeviceInfoRecord r(list, i);
        const DeviceRecord record{r.tag(), r.sn(), r.version(), r.deviceId(), r.devicePath(), r.mask()};
        m_deviceRecords.insert(record.name, record);
        ++m_deviceIdCounts[record.name];
        auto hex4 = [](uint32_t id) { return QString::number(id, 16).toUpper().rightJustified(4, QLatin1Char('0')); };
        const QString id = hex4(r.vid()) + hex4(r.pid());
        if (!m_knownDeviceIds.contains(id))
            m_knownDeviceIds.append(id);
    }
    m_devicesHandler->setDeviceKeys(m_knownDeviceIds);
}

void Application::diffDevices(QList<DeviceRecord>& changed)
{
    const QMap<QString, DeviceRecord> before = m_deviceRecords;
    refreshDevices();
    const bool grew = m_deviceRecords.size() > before.size();
    const QMap<QString, DeviceRecord>& from = grew ? m_deviceRecords : before;
    const QMap<QString, DeviceRecord>& other = grew ? before : m_deviceRecords;
    for (auto it = from.constBegin(); it != from.constEnd(); ++it)
        if (!other.contains(it.key()))
            changed.append(it.value());
}

bool Application::hasDuplicateDevice(const QString& key) const { return m_deviceIdCounts.value(key) > 1; }

void Application::saveConf()
{
    QFile file(resourcesDir() + QStringLiteral("conf.xml"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << confText();
}

bool Application::setConfValue(const QString& key, const QString& value)
{
    QMutexLocker lock(&m_confLock);
    if (!m_conf.contains(key))
        return false;
    m_conf[key] = value;
    return true;
}

void Application::setConfText(const QString& text)
{
    QMutexLocker lock(&m_confLock);
    m_confText = text;
}

QString Application::confValue(const QString& key) const
{
    QMutexLocker lock(&m_confLock);
    return m_conf.value(key);
}

bool hasAutostartArgument(int argc, char** argv)
{
    for (int i = 0; i < argc; ++i)
        if (argv[i] && std::strcmp(argv[i], "-autostart") == 0)
            return true;
    return false;
}

Application* appInstance() { return Application::instance(); }
Window* appMainWindow() { return Application::mainWindow(); }

void reportFailure(const QString& text)
{
    LOG(ERROR) << text.toStdString();
    std::fprintf(stderr, "TarquilMervane: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void quitApplication()
{
    if (g_quitRequested)
        return;
    g_quitRequested = true;
    if (Application::instance())
        QCoreApplication::quit();
}

bool isQuitRequested() { return g_quitRequested; }
void setQuitRequested() { g_quitRequested = true; }
