#include "devices/device_data_handler.h"

#include "devices/device_host.h"
#include "devices/failure_reason.h"
#include "devices/hex_digit.h"
#include "devices/macro_steps.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <exception>

struct device_data_handler::Description {
    struct Row {
        QString code;
        QString length;
    };
    QHash<QString, Row> byTask;            // the first row of each Task, in document order
    QHash<QString, QString> lengthByIndex; // Length of the first row of each Index
    QStringList ledNames;                  // the key rows' names, which ledIndex refers to
    QHash<QStringView, int> ledIndex;      // key row Name -> LED ordinal
    struct Property {
        QString index;
        QString length;
    };
    QList<Property> buttons;               // the properties of buttons and keys

    int ledOrdinal(QStringView name) const
    {
        const auto it = ledIndex.constFind(name);
        return it == ledIndex.constEnd() ? -1 : it.value();
    }
};

// The built-in descriptions live in a static library; register them before the first load.
static void initDriveResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(drive);
        return true;
    }();
    (void)done;
}

namespace {

QString noDescription(const QString& driverVersion)
{
    return QStringLiteral("there is no description of driver \"%1\"").arg(driverVersion);
}

const int kSlotSize = 200;

const QString kPress = QStringLiteral("按下");
const QString kRelease = QStringLiteral("弹起");
const QString kDelay = QStringLiteral("延迟");
const QString kLeftButton = QStringLiteral("左键");
const QString kRightButton = QStringLiteral("右键");

QString hexText(int value)
{
    return QString::number(value, 16);
}

bool isDecimalDigits(const QString& text)
{
    for (const QChar ch : text)
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return false;
    return true;
}

// The first node a fixed query selects; an empty node on any failure of the XML library.
pugi::xml_node selectNode(const pugi::xml_node& context, const char* query)
{
    try {
        return context.select_node(query).node();
    } catch (const std::exception&) {
        return pugi::xml_node();
    }
}

bool parseDocument(pugi::xml_document& doc, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    try {
        if (doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size())))
            return true;
    } catch (const std::exception&) {
    }
    // A failed parse may leave part of the text behind: never look rows up in it.
    doc.reset();
    return false;
}

QString attributeText(const pugi::xml_node& node, const char* name)
{
    return QString::fromUtf8(node.attribute(name).value());
}

} // namespace

KeyRgbReport::KeyRgbReport()
{
    std::memset(bytes, 0, sizeof(bytes));
    static const uint8_t header[kHeaderSize] = {0x05, 0x02, 0xBB, 0xAA, 0x07, 0x00, 0xF8, 0x03};
    std::memcpy(bytes, header, sizeof(header));
}

bool KeyRgbReport::setColor(int ordinal, uint8_t red, uint8_t green, uint8_t blue)
{
    if (ordinal < 0 || ordinal > kMaxOrdinal)
        return false;
    uint8_t* p = bytes + kHeaderSize + 3 * ordinal;
    p[0] = red;
    p[1] = green;
    p[2] = blue;
    return true;
}

device_data_handler::device_data_handler()
    : QObject(nullptr)
{
    initDriveResources();
}

device_data_handler::~device_data_handler() = default;

void device_data_handler::loadDriverXml(const QString& path)
{
    initDriveResources();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    pugi::xml_document doc;
    if (!parseDocument(doc, QString::fromUtf8(file.readAll())))
        return;
    const pugi::xml_node root = selectNode(doc, "/Driver");
    if (!root)
        return;

    // Lookups match Task and Index exactly and the first row in document order wins; an absent
    // attribute reads as the empty text. The properties of buttons and keys are the rows
    // "pButton0", "Button0" and so on.
    static const QRegularExpression buttonTask(QStringLiteral("^p?Button[0-9]+$"));
    auto description = std::make_shared<Description>();
    for (const pugi::xml_node& row : root.children("Key")) {
        const Description::Row values{attributeText(row, "Code"), attributeText(row, "Length")};
        if (row.attribute("Task")) {
            const QString task = attributeText(row, "Task");
            if (!description->byTask.contains(task))
                description->byTask.insert(task, values);
        }
        if (row.attribute("Index")) {
            const QString index = attributeText(row, "Index");
            if (!description->lengthByIndex.contains(index))
                description->lengthByIndex.insert(index, values.length);
            if (buttonTask.match(attributeText(row, "Task")).hasMatch())
                description->buttons.append({index, values.length});
        }
    }
    // The LED order: the row with vkCode 65 and every element after it; a later name wins.
    for (pugi::xml_node row = selectNode(doc, "/Driver/Key[@vkCode=65]"); row; row = row.next_sibling()) {
        if (row.type() == pugi::node_element)
            description->ledNames.append(attributeText(row, "Name"));
    }
    for (int i = 0; i < description->ledNames.size(); ++i)
        description->ledIndex.insert(QStringView(description->ledNames.at(i)), i);
    m_driverXml.insert(attributeText(root, "Version"), description);
}

bool device_data_handler::useDriver(const QString& driverVersion)
{
    m_doc = m_driverXml.value(driverVersion);
    return m_doc != nullptr;
}

QString device_data_handler::codeOfTask(const QString& task)
{
    if (!m_doc)
        return QString();
    QString name = task;
    if (name == QLatin1String("Alt") || name == QLatin1String("Ctrl") || name == QLatin1String("Shift"))
        name = QStringLiteral("Left ") + name;
    else if (name == QLatin1String("Win"))
        name = QStringLiteral("Left Windows");
    const auto it = m_doc->byTask.constFind(name);
    return it == m_doc->byTask.constEnd() ? QString() : it->code;
}

QString device_data_handler::lengthOfKey(const QString& text)
{
    if (!m_doc)
        return QString();
    const bool digit =
        std::any_of(text.begin(), text.end(), [](QChar ch) { return ch >= QLatin1Char('0') && ch <= QLatin1Char('9'); });
    if (digit)
        return m_doc->lengthByIndex.value(text);
    const auto it = m_doc->byTask.constFind(text);
    return it == m_doc->byTask.constEnd() ? QString() : it->length;
}

QStringList device_data_handler::toByteList(int value)
{
    if (value < 0 || value > 0xFFFF)
        return {};
    if (value <= 0xFF)
        return {hexText(value), QStringLiteral("0x00")};
    return {QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')), hexText(value >> 8)};
}

QStringList device_data_handler::padTokens(QStringList tokens, int count)
{
    while (tokens.size() < count)
        tokens.append(QStringLiteral("0x00"));
    return tokens;
}

QString device_data_handler::hotkeyData(const QString& codes)
{
    QStringList tokens = codes.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (tokens.size() == 1)
        tokens.prepend(QStringLiteral("0x00"));
    tokens = padTokens(tokens, 3);
    return QStringLiteral("0x02,%1,%2,%3").arg(tokens[0], tokens[1], tokens[2]);
}

QString device_data_handler::gkeyData(const QString& code, const QString& p1, const QString& p2)
{
    bool ok1 = false, ok2 = false;
    const int v1 = p1.toInt(&ok1);
    const int v2 = p2.toInt(&ok2);
    if (code.isEmpty() || !ok1 || !ok2 || v1 < 0 || v1 > 0xFF || v2 < 0 || v2 > 0xFF)
        return QString();
    return QStringLiteral("0x05,%1,%2,%3").arg(code, hexText(v1), hexText(v2));
}

QString device_data_handler::dpiData(const QString& mode, const QString& x, const QString& y)
{
    // The mode goes out as written and the writer reads it as hexadecimal: digits only, one byte.
    if (mode.isEmpty() || mode.size() > 2 || !isDecimalDigits(mode))
        return QString();
    bool okX = false, okY = false;
    const int xv = x.toInt(&okX);
    const int yv = y.toInt(&okY);
    if (!okX || !okY)
        return QString();
    const QStringList xs = toByteList(xv / 50);
    QStringList ys = toByteList(yv / 50);
    if (mode.toInt() == 1)
        ys = xs;
    if (xs.size() != 2 || ys.size() != 2)
        return QString();
    return QStringLiteral("%1,%2,%3,%4,%5,0x00,0x00,0x00").arg(mode, xs[0], xs[1], ys[0], ys[1]);
}

QString device_data_handler::findConfigFile(const QString& value, const QMap<QString, QString>& files)
{
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        pugi::xml_document doc;
        if (!parseDocument(doc, it.value()))
            continue;
        const pugi::xml_node key = selectNode(doc, "/Configuration/Conf/Key[@Index=2]");
        if (key && attributeText(key, "Value") == value)
            return it.value();
    }
    return QString();
}

QString device_data_handler::findConfigFile(const QString& value)
{
    const DeviceLookup* lookup = deviceLookup();
    return lookup ? findConfigFile(value, lookup->pageFiles()) : QString();
}

device_data_handler::TaskResult device_data_handler::taskData(const QString& taskType, const QString& task,
                                                              const QString& taskCount, QString* data,
                                                              QString* slotAddress)
{
    data->clear();
    // A known type that yields no bytes is refused: writing zeros would clear the assignment.
    if (taskType == QLatin1String("MouseFunction")) {
        *data = codeOfTask(task);
        return data->isEmpty() ? TaskResult::Invalid : TaskResult::Data;
    }
    if (taskType == QLatin1String("HotKey") || taskType == QLatin1String("Keyborad")) {
        QStringList codes;
        for (const QString& part : task.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
            const QString code = codeOfTask(part);
            qDebug() << part << code;
            codes.append(code);
        }
        *data = hotkeyData(codes.join(QLatin1Char(',')));
        return TaskResult::Data;
    }
    if (taskType == QLatin1String("Macro")) {
        const QList<MacroEvent> events = parseMacro(task);
        if (events.isEmpty())
            return TaskResult::Invalid;
        return encodeMacro(events, taskCount, data, slotAddress) ? TaskResult::Data : TaskResult::Invalid;
    }
    if (taskType == QLatin1String("GKey")) {
        const QStringList parts = task.split(QLatin1Char('|'), Qt::SkipEmptyParts);
        if (parts.size() < 3)
            return TaskResult::Invalid;
        *data = gkeyData(codeOfTask(parts[0]), parts[1], parts[2]);
        return data->isEmpty() ? TaskResult::Invalid : TaskResult::Data;
    }
    if (taskType == QLatin1String("MultiMedia")) {
        *data = task;
        return data->isEmpty() ? TaskResult::Invalid : TaskResult::Data;
    }
    if (taskType == QLatin1String("DPI")) {
        const QStringList parts = task.split(QLatin1Char('|'), Qt::SkipEmptyParts);
        if (parts.size() < 3)
            return TaskResult::Invalid;
        *data = dpiData(parts[0], parts[1], parts[2]);
        return data->isEmpty() ? TaskResult::Invalid : TaskResult::Data;
    }
    return TaskResult::Unknown;
}

QString device_data_handler::buildTaskData(const QString& TaskType, const QString& Task, const QString& TaskCount)
{
    QString data;
    if (taskData(TaskType, Task, TaskCount, &data) != TaskResult::Data)
        return QString();
    return data;
}

bool device_data_handler::writeDeviceTask(const QString& Version, const QString& DriverVersion, const QString& Index,
                                          const QString& Task, const QString& TaskType, const QString& TaskCount,
                                          QString* why)
{
    m_version = Version;
    if (!useDriver(DriverVersion))
        return failBecause(why, noDescription(DriverVersion));
    const QString length = lengthOfKey(Index);
    // A macro's key record is four bytes: a property of another length could never name the slot.
    if (TaskType == QLatin1String("Macro") && length.toInt() != 4) {
        qDebug() << "writeDeviceTask: no button property" << Index << "for a macro";
        return failBecause(why, QStringLiteral("property %1 cannot hold a macro").arg(Index));
    }
    QString data;
    QString macroSlot;
    if (taskData(TaskType, Task, TaskCount, &data, &macroSlot) == TaskResult::Invalid) {
        qDebug() << "writeDeviceTask: cannot encode" << TaskType << Task;
        return failBecause(why, QStringLiteral("the task %1 cannot be written as %2").arg(Task, TaskType));
    }
    qDebug() << data;
    if (data.isEmpty())
        data = padTokens(QStringList(), length.toInt()).join(QLatin1Char(','));
    if (m_devFunc.writeTask(Version, Index, data, length, why))
        return true;
    // No button names the macro just stored: give its slot back rather than lose it for good.
    if (!macroSlot.isEmpty())
        m_macroFunc.clearSlot(m_version, macroSlot, QString::number(kSlotSize));
    return false;
}

QList<MacroEvent> device_data_handler::parseMacro(const QString& text)
{
    QList<MacroEvent> events;
    for (const MacroStep& step : macroSteps(text)) {
        const QString& verb = step.verb;
        const QString& argument = step.argument;
        MacroEvent event;
        event.value = codeOfTask(argument);
        const bool mouseButton = argument == kLeftButton || argument == kRightButton;
        if (verb == kPress) {
            event.kind = mouseButton ? QStringLiteral("mDown") : QStringLiteral("keyDown");
        } else if (verb == kRelease) {
            event.kind = mouseButton ? QStringLiteral("mUp") : QStringLiteral("keyUp");
        } else if (verb == kDelay) {
            event.kind = QStringLiteral("delay");
            event.value = argument;
        }
        if (!event.kind.isEmpty() && !event.value.isEmpty())
            events.append(event);
    }
    return events;
}

bool device_data_handler::encodeMacro(const QList<MacroEvent>& events, const QString& taskCount, QString* keyRecord,
                                      QString* slotAddress)
{
    keyRecord->clear();
    if (slotAddress)
        slotAddress->clear();
    QString text;
    for (const MacroEvent& event : events) {
        if (event.kind == QLatin1String("keyDown")) {
            text += QStringLiteral("0x84,%1,0x00").arg(event.value);
        } else if (event.kind == QLatin1String("keyUp")) {
            text += QStringLiteral("0x04,%1,0x00").arg(event.value);
        } else if (event.kind == QLatin1String("mDown")) {
            text += QStringLiteral("0x81,%1,0x00").arg(event.value);
        } else if (event.kind == QLatin1String("mUp")) {
            text += QStringLiteral("0x01,%1,0x00").arg(event.value);
        } else if (event.kind == QLatin1String("delay")) {
            bool numeric = false;
            const qlonglong ms = event.value.toLongLong(&numeric);
            if (!numeric || ms < 0 || ms > 0xFFFF) {
                qDebug() << "macro delay not a number from 0 to 65535:" << event.value;
                return false;
            }
            const QStringList bytes = toByteList(static_cast<int>(ms));
            text += QStringLiteral("0x06,%1,%2").arg(bytes[0], bytes[1]);
        }
        text += QLatin1Char(',');
    }
    if (text.isEmpty())
        return true;
    text += QStringLiteral("0x07,%1,0x00").arg(taskCount);
    QStringList tokens = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    const int count = tokens.size();
    if (count > kSlotSize) {
        qDebug() << "macro too long for a slot:" << count << "bytes";
        return false;
    }
    const QString slotData = padTokens(tokens, kSlotSize).join(QLatin1Char(','));
    qDebug() << slotData;
    const QString slot = storeMacroData(slotData);
    if (slot.isEmpty()) {
        qDebug() << "no empty macro slot took the macro";
        return false;
    }
    *keyRecord = QStringLiteral("0x04,%1,%2,%3").arg(QStringLiteral("0"), hexText(slot.toInt()), hexText(count));
    if (slotAddress)
        *slotAddress = codeOfTask(QStringLiteral("Macro") + slot);
    return true;
}

QString device_data_handler::macroBytes(const QList<MacroEvent>& events, const QString& TaskCount)
{
    QString record;
    if (!encodeMacro(events, TaskCount, &record))
        return QString();
    return record;
}

QString device_data_handler::storeMacroData(const QString& slotData)
{
    bool anyEmpty = false;
    QString slot = storeInEmptySlot(slotData, &anyEmpty);
    // Every slot taken: give back those that no button names any more, then try again.
    if (!anyEmpty && reclaimUnnamedSlots() > 0)
        slot = storeInEmptySlot(slotData, &anyEmpty);
    return slot;
}

QString device_data_handler::storeInEmptySlot(const QString& slotData, bool* anyEmpty)
{
    const int slotCount = lengthOfKey(QStringLiteral("MacroData")).toInt();
    const QString length = QString::number(kSlotSize);
    for (int i = 0; i < slotCount; ++i) {
        const QString address = codeOfTask(QStringLiteral("Macro") + QString::number(i));
        if (address.isEmpty())
            continue;
        if (!m_macroFunc.isSlotEmpty(m_version, address, length))
            continue;
        *anyEmpty = true;
        if (m_macroFunc.writeSlot(m_version, address, length, slotData))
            return QString::number(i);
    }
    return QString();
}

int device_data_handler::reclaimUnnamedSlots()
{
    if (!m_doc)
        return 0;
    // A macro key record is 0x04, 0, the slot number, the number of record bytes.
    QSet<int> named;
    for (const Description::Property& button : m_doc->buttons) {
        bool read = false;
        const QStringList record = m_macroFunc.readProp(m_version, button.index, button.length, &read)
                                       .split(QLatin1Char(','), Qt::SkipEmptyParts);
        // A button that cannot be read may name any slot: then none is given back.
        if (!read)
            return 0;
        if (record.size() >= 3 && DeviceFunctions::hexTokenToDec(record[0]).toInt() == 0x04)
            named.insert(DeviceFunctions::hexTokenToDec(record[2]).toInt());
    }
    const int slotCount = lengthOfKey(QStringLiteral("MacroData")).toInt();
    const QString length = QString::number(kSlotSize);
    int reclaimed = 0;
    for (int i = 0; i < slotCount; ++i) {
        const QString address = codeOfTask(QStringLiteral("Macro") + QString::number(i));
        if (address.isEmpty() || named.contains(i) || m_macroFunc.isSlotEmpty(m_version, address, length))
            continue;
        if (m_macroFunc.clearSlot(m_version, address, length))
            ++reclaimed;
    }
    qDebug() << "macro slots given back:" << reclaimed;
    return reclaimed;
}

int device_data_handler::hexDigitValue(const QString& text)
{
    const int value = text.size() == 1 ? hexDigit(text.at(0)) : -1;
    return value < 0 ? 0 : value;
}

bool device_data_handler::writeRgbDevice(const QString& Version, const QString& DriverVersion,
                                         const QStringList& items, QString* why)
{
    m_version = Version;
    if (!useDriver(DriverVersion))
        return failBecause(why, noDescription(DriverVersion));
    const Description& description = *m_doc;

    // Keys lit by the previous report go dark unless this one names them again.
    m_lastKeys.swap(m_curKeys);
    m_lastItems.swap(m_curItems);
    const bool sameDescription = m_keysDriver == m_doc;
    for (const LitKey& key : m_lastKeys) {
        const int ordinal = sameDescription ? key.ordinal : description.ledOrdinal(key.name);
        if (ordinal >= 0)
            m_rgbReport.setColor(ordinal, 0, 0, 0);
    }

    // "Name#RRGGBB": the name joins the current keys whenever the item has two parts; a missing or
    // bad digit counts 0.
    m_curKeys.clear();
    m_curItems = items;
    m_keysDriver = m_doc;
    for (const QString& item : qAsConst(m_curItems)) {
        const int hash = item.indexOf(QLatin1Char('#'));
        if (hash < 0 || item.indexOf(QLatin1Char('#'), hash + 1) >= 0)
            continue;
        const QStringView name = QStringView(item).left(hash);
        const int ordinal = description.ledOrdinal(name);
        m_curKeys.push_back({name, ordinal});
        const QStringView colour = QStringView(item).mid(hash + 1);
        if (colour.size() < 3 || ordinal < 0)
            continue;
        auto digit = [&colour](int i) { return i < colour.size() ? std::max(0, hexDigit(colour[i])) : 0; };
        m_rgbReport.setColor(ordinal, uint8_t(digit(0) * 16 + digit(1)), uint8_t(digit(2) * 16 + digit(3)),
                             uint8_t(digit(4) * 16 + digit(5)));
    }

    return m_devFunc.notifyRgb(Version, m_rgbReport.bytes, why);
}
