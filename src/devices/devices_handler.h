// Binding of the vendor device libraries: loads "libvq.dll" and "Hexlane.dll", registers the
// device-event callback and wraps every library operation.
#pragma once

#include "devices/input_devices.h"

#include "vq/vq_api.h"

#include "windows.h"

#include <QLibrary>
#include <QObject>
#include <QStringList>

#include <cstdint>

// One 2048-byte block exchanged with the device library.
struct DeviceBlock {
    uint8_t bytes[VQ_BLOCK_SIZE] = {};
};

// The 73 bytes answered by vqAsk.
struct DeviceAnswer {
    uint8_t bytes[VQ_ASK_SIZE] = {};
};

// Callbacks handed to the device library; they run on the library's thread.
bool deviceEventCallback(uint16_t code);
bool deviceDataCallback(const uint8_t** report, int32_t length);

class devices_handler : public QObject {
    Q_OBJECT
public:
    explicit devices_handler(void* unused = nullptr, QObject* parent = nullptr);
    ~devices_handler() override;

    // Device list and the data callback of its first device.
    DeviceInfoList getDevices();

    // Reads hand the library a zeroed block and return it whatever the library answers; ok, when
    // given, tells whether the library answered success.
    DeviceBlock read(const char16_t* id, int length, int address);
    bool write(const char16_t* id, const DeviceBlock& block, int length, int address);
    DeviceBlock readProp(const char16_t* id, int length, int index, bool* ok = nullptr);
    bool writeProp(const char16_t* id, const DeviceBlock& block, int length, int index);
    bool reset(const char16_t* id, uint8_t low, uint8_t high);

    bool deviceExist(const char16_t* id);
    bool idWrite(const char16_t* id, const char16_t* text, const uint8_t* data14);
    bool clearId(const char16_t* id, const char16_t* text);
    DeviceAnswer ask(const char16_t* id, const char16_t* text);
    bool notify(const char16_t* id, const char16_t* text, uint16_t code);
    bool notify(const char16_t* id, const char16_t* text, const uint8_t* bytes, int count);
    void reboot(const char16_t* id);
    void finishUpdateRom(const char16_t* id);
    int checkRom(const char16_t* id, int a, int b);
    int bornRom(const char16_t* id, DeviceBlock block, int a, int b);
    bool eraseRom(const char16_t* id);
    void setDeviceKeys(const QStringList& keys);

    // The keyboards and mice present in the system's device tree: one record per vendor and
    // product id (the first device met gives its type), from its interface 0 only.
    static InputDeviceList enumerateInputDevices();
    // The path of the present USB device interface whose vendor and product ids, upper-cased and
    // joined, equal key; empty when there is none.
    static QString findDevicePath(const QString& key);
    // The device path of one enumerated device interface; empty on failure.
    static QString interfacePath(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData);
    // "VID_\w+", "PID_\w+" and "MI_\w{1,2}", matched anywhere in an upper-cased instance id.
    static QString vidPattern();
    static QString pidPattern();
    static QString miPattern();

    // Windows pointer settings; they use no state of an instance. why, when given, says what kept
    // the setting from being taken.
    static bool setMouseSpeed(int n, QString* why = nullptr);
    static bool setMouseAcceleration(int n, QString* why = nullptr);
    static bool setWheelScrollLines(int n, QString* why = nullptr);
    static bool setWheelScrollChars(int n, QString* why = nullptr);
    static bool setDoubleClickTime(int n, QString* why = nullptr);
    static bool swapMouseButtons(bool flag);
    static bool setMouseTrails(int n);

    // Whether vqNotifyRGBDevice was resolved from "Hexlane.dll".
    bool hasRgbDevice() const { return m_vqNotifyRGBDevice != nullptr; }

signals:
    void deviceChanged();

protected:
    vqNotifyRGBDevice_t m_vqNotifyRGBDevice = nullptr;
    vqDeviceExist_t m_vqDeviceExist = nullptr;
    vqDevices_t m_vqDevices = nullptr;
    vqOnDeviceEvent_t m_vqOnDeviceEvent = nullptr;
    vqonDeviceData_t m_vqonDeviceData = nullptr;
    vqAsk_t m_vqAsk = nullptr;
    vqReset_t m_vqReset = nullptr;
    vqNotify_t m_vqNotify = nullptr;
    vqRead_t m_vqRead = nullptr;
    vqWrite_t m_vqWrite = nullptr;
    vqReadProp_t m_vqReadProp = nullptr;
    vqWriteProp_t m_vqWriteProp = nullptr;
    vqScriptOut_t m_vqScriptOut = nullptr;
    vqIDWrite_t m_vqIDWrite = nullptr;
    vqRebootRom_t m_vqRebootRom = nullptr;
    vqFinishUpdateRom_t m_vqFinishUpdateRom = nullptr;
    vqCheckRom_t m_vqCheckRom = nullptr;
    vqBornRom_t m_vqBornRom = nullptr;
    vqEraseRom_t m_vqEraseRom = nullptr;

    QStringList m_deviceKeys;
    QLibrary m_deviceLibrary;
    QLibrary m_rgbLibrary;
};
