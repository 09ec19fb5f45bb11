#include "devices/device_filter.h"

#include "app/application.h"
#include "app/window.h"

#include <pugixml.hpp>

#include <QThread>

DEVICE_FILTER::DEVICE_FILTER(QThread* thread)
{
    moveToThread(thread);
    connect(thread, &QThread::started, this, &DEVICE_FILTER::start);
}

bool DEVICE_FILTER::loadConfig(const QString& path, const QString& deviceId)
{
    if (path.isEmpty())
        return true;
    removeDeviceConfig(deviceId);
    Window* window = appMainWindow();
    if (!window)
        return false;
    const QString fullPath = appDirPath() + path;
    window->cacheFile(fullPath);
    const QByteArray text = window->cachedFiles().value(fullPath).toUtf8();
    pugi::xml_document doc;
    if (!doc.load_buffer(text.constData(), size_t(text.size())))
        return false;
    const pugi::xml_node conf = doc.child("conf");
    if (!conf.first_child())
        return false;
    // A mapping is a child of conf with a child element of its own.
    for (pugi::xml_node mapping : conf.children()) {
        if (mapping.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; })) {
            QMutexLocker lock(&m_lock);
            m_configs.append({deviceId, path});
            break;
        }
    }
    return true;
}

bool DEVICE_FILTER::removeDeviceConfig(const QString& deviceId)
{
    if (deviceId.isEmpty())
        return false;
    QMutexLocker lock(&m_lock);
    for (int i = 0; i < m_configs.size(); ++i) {
        if (m_configs[i].deviceId == deviceId) {
            m_configs.removeAt(i);
            return true;
        }
    }
    return false;
}

QStringList DEVICE_FILTER::configuredDevices() const
{
    QMutexLocker lock(&m_lock);
    QStringList ids;
    for (const Config& c : m_configs)
        ids.append(c.deviceId);
    return ids;
}

void DEVICE_FILTER::setFlags(bool first, bool second)
{
    m_flags[0] = first;
    m_flags[1] = second;
}

void DEVICE_FILTER::requestStop()
{
    QMutexLocker lock(&m_lock);
    m_stop = true;
}

void DEVICE_FILTER::start()
{
    // Strokes come from the filter driver, which this system's platform layer does not offer: no
    // device is opened, nothing is received and the loop ends at once.
}
