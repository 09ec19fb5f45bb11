// The capture loop that remaps mouse buttons through the filter driver, and the key-mapping files
// the pages activate per device.
#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

class QThread;

class DEVICE_FILTER : public QObject {
    Q_OBJECT
public:
    // Moves to thread; the loop starts with the thread.
    explicit DEVICE_FILTER(QThread* thread);

    // Activates the key-mapping file at path (relative to the program folder) for the device with
    // that hardware id, read through the main window's page-file cache. True for an empty path
    // (nothing done) or a file that was read; false when it does not parse or its conf element has
    // no child. The device's earlier mapping is dropped in any case.
    bool loadConfig(const QString& path, const QString& deviceId);
    // Drops the first active mapping of the device; true when one was dropped.
    bool removeDeviceConfig(const QString& deviceId);
    // The devices with an active mapping, in activation order.
    QStringList configuredDevices() const;

    void setFlags(bool first, bool second);
    // The loop ends after the next stroke.
    void requestStop();

public slots:
    void start();

private:
    struct Config {
        QString deviceId;
        QString path;
    };

    mutable QMutex m_lock;
    QList<Config> m_configs;
    bool m_stop = false;
    bool m_flags[2] = {false, false};
};
