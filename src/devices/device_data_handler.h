// Driver descriptions and the device byte strings built from them: button and key assignments,
// macros stored in device memory, and the per-key colour report.
#pragma once

#include "devices/device_functions.h"

#include <pugixml.hpp>

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <vector>

// The per-key colour report: an 8-byte header, then red, green and blue per LED ordinal.
struct KeyRgbReport {
    static constexpr int kSize = 1024;
    static constexpr int kHeaderSize = 8;
    // Highest ordinal whose three bytes fit in the report.
    static constexpr int kMaxOrdinal = (kSize - kHeaderSize) / 3 - 1;

    KeyRgbReport();

    // False (nothing changed) for an ordinal outside the report.
    bool setColor(int ordinal, uint8_t red, uint8_t green, uint8_t blue);

    uint8_t bytes[kSize];
};

// One step of a device macro: kind "keyDown", "keyUp", "mDown", "mUp" or "delay", and its value.
struct MacroEvent {
    QString kind;
    QString value;
};

class device_data_handler : public QObject {
    Q_OBJECT
public:
    device_data_handler();
    ~device_data_handler() override;

    // Stores the description at path (a file or a resource) under its root's Version.
    void loadDriverXml(const QString& path);

    // Writes one property of the device listed under Version; true when the write succeeded, else
    // why, when given, says what kept it from succeeding.
    bool writeDeviceTask(const QString& Version, const QString& DriverVersion, const QString& Index,
                         const QString& Task, const QString& TaskType, const QString& TaskCount,
                         QString* why = nullptr);

    // Byte-token text for the task, against the description in use; empty for an unknown type
    // or a task that cannot be encoded.
    QString buildTaskData(const QString& TaskType, const QString& Task, const QString& TaskCount);

    QString codeOfTask(const QString& task);
    QString lengthOfKey(const QString& text);

    // Low and high byte of a 16-bit value; empty outside 0..0xFFFF.
    static QStringList toByteList(int value);
    static QStringList padTokens(QStringList tokens, int count);
    static QString hotkeyData(const QString& codes);
    // Empty when the button has no code or a parameter is not a decimal number from 0 to 255.
    static QString gkeyData(const QString& code, const QString& p1, const QString& p2);
    // Empty when the mode is not a decimal number whose token fits one byte, or a resolution is
    // not a decimal number that fits 16 bits after the division by 50.
    static QString dpiData(const QString& mode, const QString& x, const QString& y);

    // The first of the given XML texts whose /Configuration/Conf/Key[@Index=2] has that Value.
    static QString findConfigFile(const QString& value, const QMap<QString, QString>& files);
    // The same over the page files of the registered look-up (the main window's cache); empty
    // without a look-up or a main window.
    static QString findConfigFile(const QString& value);

    // Macro text ("按下(A)弹起(A)延迟(100)") to its steps; steps that cannot be encoded are dropped.
    QList<MacroEvent> parseMacro(const QString& text);
    // Stores the macro in the first empty slot and returns the key record naming it; empty when
    // no step was kept or the macro could not be stored.
    QString macroBytes(const QList<MacroEvent>& events, const QString& TaskCount);
    // The slot number written (decimal), or empty when no slot took the data. When no slot is
    // empty, the slots that no button's key record names are cleared and the search runs again.
    QString storeMacroData(const QString& slotData);

    // Updates the colour report from "Name#RRGGBB" items and sends it; true when it was sent, else
    // why, when given, says what kept it from being sent.
    bool writeRgbDevice(const QString& Version, const QString& DriverVersion, const QStringList& items,
                        QString* why = nullptr);
    static int hexDigitValue(const QString& text);

    // A driver description as the lookups use it, parsed once when loaded.
    struct Description;

private:
    enum class TaskResult { Data, Unknown, Invalid };
    // A key named by a colour report, and its LED ordinal in that report's description (-1: none).
    struct LitKey {
        QStringView name;
        int ordinal;
    };

    // Makes the description loaded under driverVersion the one in use; false when there is none.
    bool useDriver(const QString& driverVersion);
    // slotAddress, when given, receives the address of the macro slot the task stored, if any.
    TaskResult taskData(const QString& taskType, const QString& task, const QString& taskCount, QString* data,
                        QString* slotAddress = nullptr);
    bool encodeMacro(const QList<MacroEvent>& events, const QString& taskCount, QString* keyRecord,
                     QString* slotAddress = nullptr);
    // anyEmpty tells whether an empty slot was found, whether or not it took the data.
    QString storeInEmptySlot(const QString& slotData, bool* anyEmpty);
    // Clears the occupied slots that no button property names; the number cleared. Nothing is
    // cleared when a button cannot be read.
    int reclaimUnnamedSlots();

    // Every loaded description, keyed by its root's Version.
    QMap<QString, std::shared_ptr<const Description>> m_driverXml;
    KeyRgbReport m_rgbReport;
    // Keys of the previous and of the current colour report; their names refer to the items of
    // those reports, which m_lastItems and m_curItems keep, and their ordinals to m_keysDriver.
    std::vector<LitKey> m_lastKeys;
    std::vector<LitKey> m_curKeys;
    QStringList m_lastItems;
    QStringList m_curItems;
    std::shared_ptr<const Description> m_keysDriver;
    DeviceFunctions m_devFunc;
    // The description in use: every lookup runs against it, and it holds the LED order.
    std::shared_ptr<const Description> m_doc;
    QString m_version;
    DeviceFunctions m_macroFunc;
};
