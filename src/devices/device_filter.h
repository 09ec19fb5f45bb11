// The capture loop that remaps mouse buttons through the filter driver, and the key-mapping files
// the pages activate per device.
#pragma once

#include "devices/command_exec.h"
#include "devices/devices_handler.h"
#include "devices/input_devices.h"
#include "devices/interception.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThread;

// (scanCode, flag): a keyboard key is (scan code, 1 for an E0 key, else 0), a mouse button (its
// press bit, 10).
typedef QPair<ushort, ushort> DeviceKey;
typedef QMap<DeviceKey, MacroTask> DeviceKeyMap;

const ushort kMouseKeyFlag = 10;

// The actions of one mapping's task: its kind (upper-cased) and value. Key names are looked up in
// upper case by hidCodeOf; texts and paths are kept as written.
QList<MacroAction> mappingActions(const QString& task, const QString& value,
                                  const std::function<QString(const QString&)>& hidCodeOf);
// The mappings of a key-mapping file's text (root conf, one child per mapping whose first child
// element holds task and value). False when the text does not parse or conf has no child element.
bool parseKeyMapping(const QString& text, const std::function<QString(const QString&)>& hidCodeOf,
                     DeviceKeyMap* map);

// A mapped key held down, with the task its press started.
struct HeldKey {
    DeviceKey key;
    MacroTask task;
    bool ended = false; // its task was ended when its mapping was dropped
};

// What the loop does with one stroke of a device.
struct StrokeDecision {
    enum Kind { Other, Press, Release };
    enum Effect { Nothing, RunTask, StopOutput };
    bool deliver = true; // sent on unchanged; otherwise swallowed
    Kind kind = Other;
    Effect effect = Nothing;
    MacroTask task;   // for RunTask
    int keyState = 0; // for RunTask: 0 press, 1 release
    QList<HeldKey> held; // the device's held keys after the stroke
};
// Only presses and releases of a single mapped key are swallowed: for a mouse, one of the
// right, middle, fourth and fifth buttons' transition bits. A press starts its task (playType 0
// and 1) unless the key is held already; a release is swallowed only when its press was, and ends
// the task its press started (playType 0 and 2 play it with key state 1, playType 1 stops the
// output), or stops the output when its mapping has gone meanwhile; it does nothing more when
// that task was ended already.
StrokeDecision decideStroke(const DeviceKeyMap& map, bool keyboard, uint16_t code, uint16_t state,
                            const QList<HeldKey>& held);

// The first hardware id of a driver answer: count bytes of UTF-16 in a buffer of size bytes, read
// up to the first zero and never past the buffer.
QString firstHardwareId(const uint8_t* buffer, unsigned count, unsigned size);

class DEVICE_FILTER : public QObject {
    Q_OBJECT
public:
    // What the loop needs of the program: the page-file cache, the key-name table, the present
    // input devices and the macro worker. By default the main window's and the application's,
    // as the program makes them.
    class Host {
    public:
        virtual ~Host() = default;
        // The text of the file at path (relative to the program folder) through the page-file
        // cache; false when it cannot be read.
        virtual bool mappingText(const QString& path, QString* text) = 0;
        virtual QString hidCodeOfKey(const QString& key) = 0;
        virtual InputDeviceList inputDevices() = 0;
        // Any thread.
        virtual void runTask(const MacroTask& task, int keyState) = 0;
        virtual void stopOutput() = 0;
    };
    // Makes the host of a filter made without one. The program registers its own during static
    // initialisation (the main window's and the application's, as they are when the filter is
    // made); without one such a filter reads no file, knows no key name and no device, and hands
    // nothing over. Any thread; answers the maker it replaces (null when none was registered).
    typedef std::shared_ptr<Host> (*HostMaker)();
    static HostMaker setDefaultHostMaker(HostMaker make);

    // Moves to thread; the loop starts with the thread. Without a host, the default one.
    explicit DEVICE_FILTER(QThread* thread, std::shared_ptr<Host> host = nullptr);
    ~DEVICE_FILTER() override;

    // Activates the key-mapping file at path for the device with that hardware id. True for an
    // empty path (nothing done) or a file that was read, which replaces the device's mapping (a
    // file without mappings leaves it none); false, with the mapping kept, when the file cannot
    // be read, does not parse or its conf element has no child, and for an empty device id.
    bool loadConfig(const QString& path, const QString& deviceId);
    // Drops the first active mapping of the device; true when one was dropped. The tasks of its
    // keys held down end: the output stops, releasing a single key or button.
    bool removeDeviceConfig(const QString& deviceId);
    // The devices with an active mapping, in activation order.
    QStringList configuredDevices() const;
    // The mapping of the present device with that hardware id (read up to its first zero, letter
    // case ignored); empty for the program's own virtual device and when none applies.
    DeviceKeyMap mappingForDevice(const QString& hardwareId) const;

    void setFlags(bool first, bool second);
    // Ends the loop, also one waiting for a stroke. Any thread.
    void requestStop();

public slots:
    // The capture loop, on the capture thread: the mice's button strokes are read from the filter
    // driver, mapped ones swallowed and their tasks handed over, the others sent on.
    void start();

private:
    struct Config {
        QString deviceId;
        DeviceKeyMap map;
    };

    // The keys held down on one filter device, and the mapping (its device id) they belong to.
    struct Held {
        QString deviceId;
        QList<HeldKey> keys;
    };

    static std::shared_ptr<Host> defaultHost();
    // Marks the held keys' tasks ended; true when one had not ended yet.
    static bool endTasks(Held* held);
    bool stopRequested() const;
    // The hardware id of the present device that a stroke's id names; empty when none is present
    // and for the program's own virtual device.
    QString presentDeviceId(const QString& hardwareId) const;
    const Config* configOf(const QString& deviceId) const; // m_lock held
    void act(const StrokeDecision& decision);

    // A binding of its own, not otherwise used. Its device-event registration is the sixth: each
    // event then makes six calls on the counter of five, so one event in five acts twice.
    devices_handler m_handler;
    std::shared_ptr<Host> m_host;
    HANDLE m_stopEvent = nullptr;

    // A stroke's decision and its hand-over, and a mapping's drop with the end of its held tasks,
    // are made under it, so that neither overtakes the other.
    QMutex m_handOver;
    mutable QMutex m_lock; // m_stop, m_configs and m_pressed
    bool m_stop = false;
    QList<Config> m_configs;
    // The held mapped keys of each filter device.
    QMap<InterceptionDevice, Held> m_pressed;
    bool m_flags[2] = {false, false};
};
