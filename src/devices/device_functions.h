// Device operations addressed by Version text: the device list, properties and memory as
// byte-token texts, the colour report, and the mouse configuration report.
#pragma once

#include "devices/devices_handler.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <string>

typedef QMap<QString, QJsonObject> DeviceMap;

class DeviceFunctions : public devices_handler {
public:
    explicit DeviceFunctions(void* unused = nullptr, QObject* parent = nullptr);

    // Version -> device object ("Sid", "DeviceId", "type", "DevicePath", "Sn", "Version", "Mask").
    QMap<QString, QJsonObject> deviceList();
    // The conversion of a library list alone (at most 20 records, listed only with VID_ and PID_).
    static QMap<QString, QJsonObject> convertDeviceList(const DeviceInfoList& list);

    // why, when given, says what kept a call below from succeeding.
    bool resetDevice(const QString& version, QString* why = nullptr);
    // ok, when given, tells whether the device answered the read (false for an unlisted device).
    QString readProp(const QString& version, const QString& index, const QString& length, bool* ok = nullptr);
    bool writeTask(const QString& version, const QString& index, const QString& data, const QString& length,
                   QString* why = nullptr);
    bool isSlotEmpty(const QString& version, const QString& address, const QString& length);
    bool writeSlot(const QString& version, const QString& address, const QString& length, const QString& data);
    bool clearSlot(const QString& version, const QString& address, const QString& length);
    QByteArray readDpiValue(const QString& version, const QString& step);
    // Sends the 1024-byte colour report; true when the library took it.
    bool notifyRgb(const QString& version, const unsigned char* report, QString* why = nullptr);
    static QString hexTokenToDec(const QString& token);
    static QStringList decodeDpi(const QString& text);

    QString createGuidString();
    QString readPropertyByArgs(const QMap<QString, QVariant>& args);
    QString readMemoryByArgs(const QMap<QString, QVariant>& args);
    bool writeMemoryByArgs(const QMap<QString, QVariant>& args);
    bool updateMemoryByArgs(const QMap<QString, QVariant>& args);
    bool isMemoryEmptyByArgs(const QMap<QString, QVariant>& args);
    bool clearMemoryByArgs(const QMap<QString, QVariant>& args);

    // Mouse properties combined with the current Windows pointer settings.
    QString windowsMouseConfig(const QString& version);
    QString windowsKeyboardConfig();
    static QString decodeLights(const QString& tokens);
    static QString decodeJitters(const QString& tokens);
    static QString decodeVoices(const QString& tokens);

    // Text rules shared by the operations.
    // Base-16 address as strtol reads it; false for a negative text.
    static bool parseAddress(const QString& text, int* address);
    // One byte per token (base 16, low 8 bits), the rest of the block zero; false unless there
    // are exactly length tokens and 0 <= length <= 2048 (the block's content is then undefined).
    static bool tokensToBlock(const QString& data, int length, DeviceBlock* block);
    // "0x%02x" per byte, joined by ",".
    static QString blockToTokens(const DeviceBlock& block, int length);

protected:
    // The device object listed under version in the main window's device list (through the
    // registered look-up), or an empty one.
    static QJsonObject findDevice(const QString& version);
    static std::u16string deviceIdOf(const QJsonObject& device);
};
