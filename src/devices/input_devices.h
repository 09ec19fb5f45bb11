// The present keyboards and mice, as enumerated from the system's device tree.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct InputDeviceRecord {
    QString path;
    QString hardwareId;
    QString pid;
    QString vid;
    QString extra;
    QString type; // "mouse" or "keyboard"
};

struct InputDeviceList {
    QList<InputDeviceRecord> devices;
    QStringList keys; // one per device, same order
};
