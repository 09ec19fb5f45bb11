// What the device code needs of the program: the look-up it reads the device list and the page
// files from, and the sink its events go to. The device code holds neither; it finds the ones
// registered here at each use.
//
// The program registers its own during static initialisation, so that they are in place before
// the first device binding exists: the look-up by the main window's code (src/app), the sink by
// the client handler's (src/cefclient). Those resolve the main window, the application and the
// handler at each call, which may be absent (before they are made, and from their destruction
// on): each operation says what it then answers. Tests may register doubles in their place.
#pragma once

#include "devices/input_devices.h"

#include <QJsonObject>
#include <QMap>
#include <QString>

class DeviceLookup {
public:
    // Version -> device object of the main window's device list; a copy, whole. Empty when the
    // list is empty and when there is no main window. Any thread.
    virtual QMap<QString, QJsonObject> devicesByVersion() const = 0;
    // Path -> text of the files in the main window's page-file cache. Empty when none is cached
    // and when there is no main window. Any thread.
    virtual QMap<QString, QString> pageFiles() const = 0;
    // Replaces the main window's device list with the one the vendor library reports now; nothing
    // without a main window. From the vendor library's thread and the GUI thread.
    virtual void refreshDevices() = 0;
    // Ends the macro output of the main window's worker; nothing without a main window. Any thread.
    virtual void stopMacroOutput() = 0;
    // Replaces the application's present keyboards and mice whole; nothing without the
    // application (also while there is no main window). From the vendor library's thread.
    virtual void setInputDevices(const InputDeviceList& devices) = 0;

protected:
    // Registering hands no ownership over.
    ~DeviceLookup() = default;
};

class DeviceEventSink {
public:
    // The vendor library's device event, with its code, for the main page; after the list is
    // refreshed. Nothing while there is no handler. From the vendor library's thread.
    virtual void devicesChanged(int code) = 0;
    // A data report of the first listed device: its first 8 bytes as 16 lower-case hex digits.
    // Nothing while there is no handler. From the vendor library's thread.
    virtual void deviceInput(const QString& hex) = 0;
    // One step recorded by the key-track hook (kind, value, scan code, extended flag). Nothing
    // while there is no handler. On the thread that runs the hook.
    virtual void macroItem(const QString& a, const QString& b, const QString& c, const QString& d) = 0;

protected:
    ~DeviceEventSink() = default;
};

// Registration: any thread; each answers the one it replaces (null when none was registered). A
// registered object lives until it is replaced and no call through it runs any more.
DeviceLookup* setDeviceLookup(DeviceLookup* lookup);
DeviceEventSink* setDeviceEventSink(DeviceEventSink* sink);
// The registered ones; null when none is. Any thread.
DeviceLookup* deviceLookup();
DeviceEventSink* deviceEventSink();
