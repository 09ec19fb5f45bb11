#include "devices/device_functions.h"
#include "devices/device_host.h"
#include "devices/device_info_record.h"
#include "devices/failure_reason.h"
#include "devices/hex_digit.h"

#include "include/base/cef_logging.h"

#include <windows.h>

#include <QJsonDocument>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

QString notAttached(const QString& version) { return QStringLiteral("no device %1 is attached").arg(version); }
QString refusedWrite() { return QStringLiteral("the device refused the write"); }

// Reads a base-16 number from [p, end) the way strtol does: leading white space, an optional
// sign and "0x" prefix; stops at the first non-digit; no digit gives 0; clamped to the 32-bit range.
int64_t readHex(const QChar* p, const QChar* end, bool* negative)
{
    while (p < end && (*p == QLatin1Char(' ') || (*p >= QLatin1Char('\t') && *p <= QLatin1Char('\r'))))
        ++p;
    bool minus = false;
    if (p < end && (*p == QLatin1Char('+') || *p == QLatin1Char('-'))) {
        minus = *p == QLatin1Char('-');
        ++p;
    }
    if (end - p > 2 && p[0] == QLatin1Char('0') && (p[1] == QLatin1Char('x') || p[1] == QLatin1Char('X')) &&
        hexDigit(p[2]) >= 0)
        p += 2;
    int64_t value = 0;
    bool any = false;
    for (int d; p < end && (d = hexDigit(*p)) >= 0; ++p) {
        any = true;
        if (value <= INT64_C(0x80000000))
            value = value * 16 + d;
    }
    if (negative)
        *negative = minus && any;
    if (minus)
        value = -value;
    return std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, value));
}

QString zeroTokens(int length)
{
    QStringList tokens;
    for (int i = 0; i < length; ++i)
        tokens << QStringLiteral("0x00");
    return tokens.join(QLatin1Char(','));
}

bool validLength(int length) { return length >= 0 && length <= VQ_BLOCK_SIZE; }

bool blockIsZero(const DeviceBlock& block)
{
    for (uint8_t b : block.bytes)
        if (b != 0)
            return false;
    return true;
}

// The read's result is not examined: the area is empty when the whole block returned is zero.
bool areaIsEmpty(devices_handler& handler, const char16_t* id, int length, int address)
{
    return blockIsZero(handler.read(id, length, address));
}

// The resolution property of step n: 50 to 54 for the five steps, otherwise the step text itself.
QString dpiPropertyIndex(const QString& step)
{
    int n = step.toInt();
    if (n >= 0 && n <= 4)
        return QString::number(50 + n);
    return step;
}

// Token i of a list read as decimal, 0 when the list is shorter.
int tokenValue(const QStringList& tokens, int i)
{
    return i < tokens.size() ? DeviceFunctions::hexTokenToDec(tokens[i]).toInt() : 0;
}

bool hasKeys(const QMap<QString, QVariant>& args, std::initializer_list<const char*> keys)
{
    for (const char* key : keys)
        if (!args.contains(QLatin1String(key)))
            return false;
    return true;
}

} // namespace

DeviceFunctions::DeviceFunctions(void* unused, QObject* parent)
    : devices_handler(unused, parent)
{
}

// ---- device list ----

QMap<QString, QJsonObject> DeviceFunctions::deviceList() { return convertDeviceList(getDevices()); }

namespace {

enum class Found { No, Yes, Unsure };

// Whether prefix followed by a word character occurs in id, for word characters in ASCII; Unsure
// when a prefix is followed by another character, which the pattern itself must judge.
Found findTagged(const QString& id, QLatin1String prefix)
{
    for (int at = id.indexOf(prefix); at >= 0; at = id.indexOf(prefix, at + 1)) {
        const int next = at + prefix.size();
        if (next >= id.size())
            continue;
        const ushort c = id.at(next).unicode();
        if (c >= 0x80)
            return Found::Unsure;
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_')
            return Found::Yes;
    }
    return Found::No;
}

// The scan, and the pattern where the scan cannot tell.
bool matches(const QString& id, QLatin1String prefix, const QRegularExpression& pattern)
{
    const Found found = findTagged(id, prefix);
    return found == Found::Unsure ? pattern.match(id).hasMatch() : found == Found::Yes;
}

} // namespace

QMap<QString, QJsonObject> DeviceFunctions::convertDeviceList(const DeviceInfoList& list)
{
    // Compiled once per thread, on first use: the list is read on the GUI thread and on the
    // library's thread.
    thread_local const QRegularExpression vid(vidPattern());
    thread_local const QRegularExpression pid(pidPattern());
    QMap<QString, QJsonObject> map;
    const int count = deviceRecordCount(list);
    for (int i = 0; i < count; ++i) {
        const DeviceInfoRecord rec(list, i);
        const QString deviceId = rec.deviceId();
        if (!matches(deviceId, QLatin1String("VID_"), vid) || !matches(deviceId, QLatin1String("PID_"), pid))
            continue;
        // A copy of an object that holds every member, filled in place: quicker than inserting them.
        static const QJsonObject members{{QStringLiteral("Sid"), QString()},     {QStringLiteral("DeviceId"), QString()},
                                         {QStringLiteral("type"), QString()},    {QStringLiteral("DevicePath"), QString()},
                                         {QStringLiteral("Sn"), QString()},      {QStringLiteral("Version"), QString()},
                                         {QStringLiteral("Mask"), QString()}};
        QJsonObject device = members;
        device[QStringLiteral("DeviceId")] = deviceId;
        device[QStringLiteral("DevicePath")] = rec.devicePath();
        device[QStringLiteral("Sn")] = rec.sn();
        const QString version = rec.version();
        device[QStringLiteral("Version")] = version;
        device[QStringLiteral("Mask")] = rec.mask();
        map.insert(version, device);
    }
    return map;
}

QJsonObject DeviceFunctions::findDevice(const QString& version)
{
    const DeviceLookup* lookup = deviceLookup();
    if (!lookup)
        return QJsonObject();
    return lookup->devicesByVersion().value(version);
}

std::u16string DeviceFunctions::deviceIdOf(const QJsonObject& device)
{
    const QString id = device.value(QStringLiteral("DeviceId")).toString();
    return std::u16string(reinterpret_cast<const char16_t*>(id.utf16()), size_t(id.size()));
}

// ---- texts ----

bool DeviceFunctions::parseAddress(const QString& text, int* address)
{
    bool negative = false;
    int64_t value = readHex(text.constData(), text.constData() + text.size(), &negative);
    if (negative || value < 0)
        return false;
    if (address)
        *address = int(value);
    return true;
}

bool DeviceFunctions::tokensToBlock(const QString& data, int length, DeviceBlock* block)
{
    // One pass: every "," ends a token, empty ones included; the bytes past length stay zero.
    if (!validLength(length))
        return false;
    DeviceBlock scratch;
    uint8_t* bytes = block ? block->bytes : scratch.bytes;
    const QChar* p = data.constData();
    const QChar* const end = p + data.size();
    int count = 0;
    for (;;) {
        const QChar* comma = std::find(p, end, QLatin1Char(','));
        if (count == length)
            return false;
        bytes[count++] = uint8_t(readHex(p, comma, nullptr) & 0xFF);
        if (comma == end)
            break;
        p = comma + 1;
    }
    if (count != length)
        return false;
    std::memset(bytes + length, 0, size_t(VQ_BLOCK_SIZE - length));
    return true;
}

QString DeviceFunctions::blockToTokens(const DeviceBlock& block, int length)
{
    static const char digits[] = "0123456789abcdef";
    const int n = std::max(0, std::min(length, int(VQ_BLOCK_SIZE)));
    if (n == 0)
        return QString();
    QString text(5 * n - 1, QLatin1Char(','));
    QChar* out = text.data();
    for (int i = 0; i < n; ++i, out += 5) {
        out[0] = QLatin1Char('0');
        out[1] = QLatin1Char('x');
        out[2] = QLatin1Char(digits[block.bytes[i] >> 4]);
        out[3] = QLatin1Char(digits[block.bytes[i] & 15]);
    }
    return text;
}

QString DeviceFunctions::hexTokenToDec(const QString& token)
{
    bool ok = false;
    int value = token.toInt(&ok, 16);
    return QString::number(ok ? value : 0);
}

QStringList DeviceFunctions::decodeDpi(const QString& text)
{
    const QStringList tokens = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    // A token is a byte from the device; any other whole number still gives its product.
    return QStringList{QString::number(qint64(tokenValue(tokens, 1)) * 50),
                       QString::number(qint64(tokenValue(tokens, 3)) * 50)};
}

// ---- device operations ----

bool DeviceFunctions::resetDevice(const QString& version, QString* why)
{
    const QJsonObject device = findDevice(version);
    if (device.isEmpty())
        return failBecause(why, notAttached(version));
    return reset(deviceIdOf(device).c_str(), 2, 0) || failBecause(why, QStringLiteral("the device refused the reset"));
}

QString DeviceFunctions::readProp(const QString& version, const QString& index, const QString& length, bool* ok)
{
    if (ok)
        *ok = false;
    const int n = length.toInt();
    if (!validLength(n))
        return QString();
    const QJsonObject device = findDevice(version);
    // An unlisted device reads as zeros without asking the library.
    if (device.isEmpty())
        return zeroTokens(n);
    return blockToTokens(devices_handler::readProp(deviceIdOf(device).c_str(), n, index.toInt(), ok), n);
}

bool DeviceFunctions::writeTask(const QString& version, const QString& index, const QString& data,
                                const QString& length, QString* why)
{
    const QJsonObject device = findDevice(version);
    if (device.isEmpty())
        return failBecause(why, notAttached(version));
    const int n = length.toInt();
    DeviceBlock block;
    if (!tokensToBlock(data, n, &block))
        return failBecause(why, QStringLiteral("the value does not fit property %1").arg(index));
    return writeProp(deviceIdOf(device).c_str(), block, n, index.toInt()) || failBecause(why, refusedWrite());
}

bool DeviceFunctions::isSlotEmpty(const QString& version, const QString& address, const QString& length)
{
    const QJsonObject device = findDevice(version);
    const int n = length.toInt();
    int addr = 0;
    if (device.isEmpty() || !validLength(n) || !parseAddress(address, &addr))
        return false;
    return areaIsEmpty(*this, deviceIdOf(device).c_str(), n, addr);
}

bool DeviceFunctions::writeSlot(const QString& version, const QString& address, const QString& length,
                                const QString& data)
{
    const QJsonObject device = findDevice(version);
    const int n = length.toInt();
    int addr = 0;
    DeviceBlock block;
    if (device.isEmpty() || !parseAddress(address, &addr) || !tokensToBlock(data, n, &block))
        return false;
    return write(deviceIdOf(device).c_str(), block, n, addr);
}

bool DeviceFunctions::clearSlot(const QString& version, const QString& address, const QString& length)
{
    const QJsonObject device = findDevice(version);
    const int n = length.toInt();
    int addr = 0;
    if (device.isEmpty() || !validLength(n) || !parseAddress(address, &addr))
        return false;
    return write(deviceIdOf(device).c_str(), DeviceBlock(), n, addr);
}

QByteArray DeviceFunctions::readDpiValue(const QString& version, const QString& step)
{
    const QStringList xy = decodeDpi(readProp(version, dpiPropertyIndex(step), QStringLiteral("8")));
    QJsonObject object;
    object.insert(QStringLiteral("DpiXVal"), xy.value(0));
    object.insert(QStringLiteral("DpiYVal"), xy.value(1));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool DeviceFunctions::notifyRgb(const QString& version, const unsigned char* report, QString* why)
{
    if (!report)
        return failBecause(why, QStringLiteral("there is no colour report"));
    if (findDevice(version).isEmpty())
        return failBecause(why, notAttached(version));
    if (!m_vqNotifyRGBDevice)
        return failBecause(why, QStringLiteral("the device library cannot set colours"));
    uint8_t version14[VQ_RGB_VERSION_SIZE] = {};
    const QByteArray latin1 = version.toLatin1().left(VQ_RGB_VERSION_SIZE);
    std::memcpy(version14, latin1.constData(), size_t(latin1.size()));
    return m_vqNotifyRGBDevice(version14, report, VQ_RGB_VERSION_SIZE) == 0 || failBecause(why, refusedWrite());
}

// ---- operations addressed by hardware id ----

QString DeviceFunctions::createGuidString()
{
    const QUuid guid = QUuid::createUuid();
    if (guid.isNull()) {
        std::fputs("create guid error\n", stderr);
        return QString();
    }
    char text[33];
    std::snprintf(text, sizeof text, "%08X%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X", guid.data1, guid.data2,
                  guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4],
                  guid.data4[5], guid.data4[6], guid.data4[7]);
    return QString::fromLatin1(text);
}

QString DeviceFunctions::readPropertyByArgs(const QMap<QString, QVariant>& args)
{
    if (!hasKeys(args, {"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID"}))
        return QString();
    const int n = args.value(QStringLiteral("PARAMSIZE")).toInt();
    if (!validLength(n))
        return QString();
    const QString id = args.value(QStringLiteral("HardwareID")).toString();
    return blockToTokens(devices_handler::readProp(reinterpret_cast<const char16_t*>(id.utf16()), n,
                                                   args.value(QStringLiteral("PARAMID")).toInt()),
                         n);
}

namespace {

// The arguments of the memory routines addressed by hardware id: the id is used directly.
struct MemoryArgs {
    QString id;
    int length = 0;
    int address = 0;
    DeviceBlock data;
    const char16_t* id16() const { return reinterpret_cast<const char16_t*>(id.utf16()); }
};

// False when a key is missing, the length is outside the block, the address is negative, or
// (with data) the token count differs from the length.
bool parseMemoryArgs(const QMap<QString, QVariant>& args, bool withData, MemoryArgs* out)
{
    if (!hasKeys(args, {"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS"}) ||
        (withData && !args.contains(QStringLiteral("PARAMDATA"))))
        return false;
    out->length = args.value(QStringLiteral("PARAMSIZE")).toInt();
    if (!validLength(out->length) ||
        !DeviceFunctions::parseAddress(args.value(QStringLiteral("PARAMADDRESS")).toString(), &out->address))
        return false;
    if (withData &&
        !DeviceFunctions::tokensToBlock(args.value(QStringLiteral("PARAMDATA")).toString(), out->length, &out->data))
        return false;
    out->id = args.value(QStringLiteral("HardwareID")).toString();
    return true;
}

} // namespace

QString DeviceFunctions::readMemoryByArgs(const QMap<QString, QVariant>& args)
{
    MemoryArgs m;
    if (!parseMemoryArgs(args, false, &m))
        return QString();
    return blockToTokens(read(m.id16(), m.length, m.address), m.length);
}

bool DeviceFunctions::writeMemoryByArgs(const QMap<QString, QVariant>& args)
{
    MemoryArgs m;
    return parseMemoryArgs(args, true, &m) && write(m.id16(), m.data, m.length, m.address);
}

bool DeviceFunctions::updateMemoryByArgs(const QMap<QString, QVariant>& args)
{
    MemoryArgs m;
    if (!parseMemoryArgs(args, true, &m))
        return false;
    return areaIsEmpty(*this, m.id16(), m.length, m.address) && write(m.id16(), m.data, m.length, m.address);
}

bool DeviceFunctions::isMemoryEmptyByArgs(const QMap<QString, QVariant>& args)
{
    MemoryArgs m;
    return parseMemoryArgs(args, false, &m) && areaIsEmpty(*this, m.id16(), m.length, m.address);
}

bool DeviceFunctions::clearMemoryByArgs(const QMap<QString, QVariant>& args)
{
    MemoryArgs m;
    return parseMemoryArgs(args, false, &m) && write(m.id16(), DeviceBlock(), m.length, m.address);
}

// ---- mouse configuration report ----

QString DeviceFunctions::decodeLights(const QString& tokens)
{
    const QStringList t = tokens.split(QLatin1Char(','), Qt::SkipEmptyParts);
    auto d = [&t](int i) { return QString::number(tokenValue(t, i)); };
    // Two digits per colour byte, so that the colour reads back whole.
    auto h = [&t](int i) { return QStringLiteral("%1").arg(tokenValue(t, i), 2, 16, QLatin1Char('0')); };
    return d(0) + ',' + d(1) + ',' + d(2) + ',' + h(3) + h(4) + h(5) + ',' + d(6) + ',' + d(7) + ',' + d(8);
}

QString DeviceFunctions::decodeJitters(const QString& tokens)
{
    const QStringList t = tokens.split(QLatin1Char(','), Qt::SkipEmptyParts);
    return QString::number(tokenValue(t, 0)) + ',' + QString::number(tokenValue(t, 1));
}

QString DeviceFunctions::decodeVoices(const QString& tokens) { return decodeJitters(tokens); }

QString DeviceFunctions::windowsMouseConfig(const QString& version)
{
    static const int reportedAccelerations[10] = {0, 1, 4, 6, 3, 5, 8, 9, 2, 7};
    static const UINT reportedDoubleClicks[10] = {970, 890, 780, 650, 550, 480, 410, 340, 270, 200};

    const QString stepText = hexTokenToDec(readProp(version, QStringLiteral("48"), QStringLiteral("1")));
    const int step = stepText.toInt();
    const int rate = hexTokenToDec(readProp(version, QStringLiteral("40"), QStringLiteral("1"))).toInt();
    const QStringList xy = decodeDpi(readProp(version, dpiPropertyIndex(stepText), QStringLiteral("8")));
    const QString lights = decodeLights(readProp(version, QStringLiteral("42"), QStringLiteral("10")));
    const QString jitter = decodeJitters(readProp(version, QStringLiteral("43"), QStringLiteral("10")));
    const QString sound = decodeVoices(readProp(version, QStringLiteral("44"), QStringLiteral("10")));

    int mouse[3] = {0, 0, 0};
    int acceleration = 0;
    if (SystemParametersInfoW(SPI_GETMOUSE, 0, mouse, SPIF_UPDATEINIFILE)) {
        for (int i = 0; i < 10; ++i) {
            if (reportedAccelerations[i] == mouse[2]) {
                acceleration = i;
                break;
            }
        }
    }
    int wheelChars = 0;
    SystemParametersInfoW(SPI_GETWHEELSCROLLCHARS, 0, &wheelChars, SPIF_UPDATEINIFILE);
    int speed = 10;
    SystemParametersInfoW(SPI_GETMOUSESPEED, 0, &speed, SPIF_UPDATEINIFILE);
    const UINT time = GetDoubleClickTime();
    QString doubleClick = QString::number(time);
    for (int i = 0; i < 10; ++i) {
        if (reportedDoubleClicks[i] == time) {
            doubleClick = QString::number(i);
            break;
        }
    }
    UINT wheelLines = 3;
    SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &wheelLines, SPIF_UPDATEINIFILE);

    const QString text = QStringLiteral("reporVal:") + QString::number(rate) + QStringLiteral(",curDpi:") +
                         QString::number(step) + QStringLiteral(",DpiXVal:") + xy.value(0) +
                         QStringLiteral(",DpiYVal:") + xy.value(1) + QStringLiteral(",lightVal:") + lights +
                         QStringLiteral(",jittersVal:") + jitter + QStringLiteral(",soundVal:") + sound +
                         QStringLiteral(",defaultMouseAccel:") + QString::number(acceleration) +
                         QStringLiteral(",defaultScrollLinesX:") + QString::number(wheelChars) +
                         QStringLiteral(",defaultMouseSpeed:") + QString::number(speed / 2) +
                         QStringLiteral(",defaultMouseDoubleClick:") + doubleClick +
                         QStringLiteral(",defaultScrollLinesY:") + QString::number(wheelLines);
    LOG(INFO) << text.toStdString();
    return text;
}

QString DeviceFunctions::windowsKeyboardConfig() { return QString(); }
