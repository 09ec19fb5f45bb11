// The main window. Holds the device list that every device operation looks devices up in.
#pragma once

#include "app/pswindow.h"

#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QString>

class DeviceFunctions;

class Window : public PsMainWindow {
    Q_OBJECT
public:
    explicit Window(QWidget* parent = nullptr);
    ~Window() override;

    // A copy of the device list: Version -> device object. Safe from any thread.
    QMap<QString, QJsonObject> deviceMap() const;
    // Replaces the device list with the one the vendor library reports now. Runs on the GUI
    // thread and on the vendor library's thread; readers see the old or the new list whole.
    void refreshDeviceList();

    // Writes the changed page files back (GUI thread). Called by the page query handler for the
    // minimise request; the page-file cache is not built yet, so there is nothing to write.
    void flushDirtyFiles();

    // Reads the device list only; created by the constructor and never deleted.
    DeviceFunctions* listFunctions = nullptr;

private:
    QMutex m_refreshLock; // one refresh at a time, so an older list never replaces a newer one
    mutable QMutex m_deviceMapLock;
    QMap<QString, QJsonObject> m_deviceMap;
};
