#include "app/application.h"

#include "app/file_package.h"
#include "app/window.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace {
Application* g_instance = nullptr;
QString g_appDir;
bool g_quitRequested = false;

// "Resources/" of the application directory, with its trailing "/".
QString resourcesDir()
{
    const QString dir = appDirPath().isEmpty() ? QCoreApplication::applicationDirPath() + "/" : appDirPath();
    return dir + QStringLiteral("Resources/");
}

bool isInside(const QString& folder, const QString& base)
{
    const QString f = QDir(folder).canonicalPath();
    const QString b = QDir(base).canonicalPath();
    if (f.isEmpty() || b.isEmpty())
        return false;
    return f == b || f.startsWith(b.endsWith('/') ? b : b + '/');
}

// The path itself when it exists, else its nearest existing parent (as the name gives it).
QString existingAncestor(const QString& path)
{
    QString p = QDir::cleanPath(path);
    while (!QFileInfo::exists(p)) {
        const int slash = p.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return slash == 0 ? QStringLiteral("/") : QStringLiteral(".");
        p.truncate(slash);
    }
    return p;
}

// The data goes to a new file beside the entry, which then replaces the entry (or a link in its
// place, which is never followed): an entry is never left half-written. Nothing is synced to disk:
// the pages are written anew at every start.
bool writeEntry(const QString& path, const QByteArray& data)
{
    QTemporaryFile out(path + QStringLiteral(".XXXXXX"));
    if (!out.open() || out.write(data) != data.size() || !out.flush())
        return false;
    if (std::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    out.setAutoRemove(false);
    return true;
}
} // namespace

Application::Application(int& argc, char** argv)
    : PsApplication(argc, argv)
{
    for (int i = 0; i < argc; ++i) {
        if (argv[i] && std::strcmp(argv[i], "-autostart") == 0) {
            m_autostart = true;
            startMinimized() = true;
        }
    }
}

Application::~Application()
{
    if (g_instance == this)
        g_instance = nullptr;
}

void Application::registerInstance() { g_instance = this; }

Application* Application::instance() { return g_instance; }

Window* Application::mainWindow()
{
    return g_instance ? qobject_cast<Window*>(g_instance->m_mainWindow.data()) : nullptr;
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
    if (!parseConfFile(path, &conf))
        return;
    conf.insert(QStringLiteral("MacAddress"), firstMacAddress());
    conf.insert(QStringLiteral("IpAddress"), firstIpv4Address());
    m_conf = conf;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&file);
        in.setCodec("UTF-8");
        m_confText = in.readAll();
    }
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

bool Application::unpackPackage(const QString& fileName, const QString& targetFolder)
{
    QFile file(appDirPath() + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    file.close();

    QByteArray payload;
    int decoded = 0;
    if (FilePackage::unpack(bytes, &payload, nullptr, &decoded) != FilePackage::Ok)
        return false;
    // Entries come only from what the stream gave, never from the zeros after an early end mark.
    FilePackage::Reader reader(payload.left(decoded));
    quint32 count = 0;
    if (!reader.readHeader() || !reader.readCount(&count))
        return false;

    QString base = targetFolder;
    if (base.isEmpty()) {
        base = appDirPath();
        if (base.endsWith(QLatin1Char('/')))
            base.chop(1);
    }
    QSet<QString> checkedFolders;
    for (quint32 i = 0; i < count; ++i) {
        FilePackage::Entry entry;
        if (!reader.readEntry(&entry))
            return false;
        if (!FilePackage::isSafeEntryName(entry.name))
            return false;
        const QString path = base + QLatin1Char('/') + entry.name;
        const QString folder = QDir(path.left(path.lastIndexOf(QLatin1Char('/')) + 1)).absolutePath();
        if (!checkedFolders.contains(folder)) {
            if (!QFileInfo(folder).isDir()) {
                // Levels are only created below an existing folder that lies inside the target: a
                // link on the way must not make folders elsewhere.
                if (!QFileInfo(base).isDir())
                    makePath(base);
                if (!isInside(existingAncestor(folder), base))
                    return false;
                makePath(folder);
            }
            // A folder reached through a link may lie elsewhere.
            if (!isInside(folder, base))
                return false;
            // Entries create files only, so a checked folder stays as it is.
            checkedFolders.insert(folder);
        }
        if (!writeEntry(path, entry.data))
            return false;
    }
    return true;
}

bool Application::makePath(const QString& path)
{
    QString p = path;
    if (!p.endsWith(QLatin1Char('/')))
        p += QLatin1Char('/');
    bool result = false;
    for (int i = p.indexOf(QLatin1Char('/')); i >= 0; i = p.indexOf(QLatin1Char('/'), i + 1)) {
        const QString prefix = p.left(i);
        if (prefix.isEmpty())
            continue; // the root of an absolute path
        if (!QFileInfo(prefix).isDir())
            result = QDir().mkdir(prefix);
    }
    return result;
}

Application* appInstance() { return Application::instance(); }
Window* appMainWindow() { return Application::mainWindow(); }

void setAppDirPath(const QString& path) { g_appDir = path; }
const QString& appDirPath() { return g_appDir; }

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
