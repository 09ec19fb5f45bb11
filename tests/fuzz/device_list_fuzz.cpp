// The vendor library's device list as the program reads it: the input is the list's bytes (a
// 16-bit count, then the records), zero-filled or cut to the list's size. Checked: at most the
// listed count, and never more than twenty, devices; each under its Version, with the seven
// members, texts within their fields' widths and no NUL in them, ids with a vendor and a product
// id; and only the named fields of the listed records up to their terminators count: changing
// any other byte of the list, or a count above twenty to another, changes nothing.
#include "fuzz_check.h"
#include "fuzz_input.h"

#include "devices/device_functions.h"
#include "devices/device_info_record.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <cstring>
#include <vector>

namespace {

struct Field {
    int offset;
    int units; // 8-bit texts: bytes; 16-bit texts: code units
    bool wide;
};
// The fields the device list reads; the rest of a record is not its business.
const Field kFields[] = {{VQ_REC_VERSION, VQ_REC_VERSION_SIZE, false},
                         {VQ_REC_SN, VQ_REC_SN_SIZE, false},
                         {VQ_REC_MASK, VQ_REC_MASK_SIZE, false},
                         {VQ_REC_PATH, VQ_REC_PATH_UNITS, true},
                         {VQ_REC_ID, VQ_REC_ID_UNITS, true}};

// Marks the bytes of the list the device list may read: the count, and each named field of a
// listed record up to and with its terminator.
std::vector<bool> readBytes(const DeviceInfoList& list)
{
    std::vector<bool> read(sizeof list.bytes, false);
    read[0] = read[1] = true;
    for (int i = 0; i < deviceRecordCount(list); ++i) {
        const int base = 2 + i * VQ_RECORD_SIZE;
        for (const Field& f : kFields) {
            const int width = f.wide ? 2 : 1;
            for (int u = 0; u < f.units; ++u) {
                const int at = base + f.offset + u * width;
                bool zero = true;
                for (int b = 0; b < width; ++b) {
                    read[size_t(at + b)] = true;
                    zero = zero && list.bytes[at + b] == 0;
                }
                if (zero)
                    break;
            }
        }
    }
    return read;
}

void checkDevice(const QString& key, const QJsonObject& device)
{
    static const QStringList kMembers = {"DeviceId", "DevicePath", "Mask", "Sid", "Sn", "Version", "type"};
    FUZZ_CHECK(device.keys() == kMembers);
    for (const QString& member : kMembers)
        FUZZ_CHECK(device.value(member).isString());
    FUZZ_CHECK(device.value("Sid").toString().isEmpty() && device.value("type").toString().isEmpty());
    FUZZ_CHECK(device.value("Version").toString() == key);
    static const QRegularExpression vid(DeviceFunctions::vidPattern()), pid(DeviceFunctions::pidPattern());
    const QString id = device.value("DeviceId").toString();
    FUZZ_CHECK(vid.match(id).hasMatch() && pid.match(id).hasMatch());
    // A byte of an 8-bit field gives at most one code unit, and two code units come from at least
    // four bytes.
    const struct {
        const char* member;
        int width;
    } widths[] = {{"Version", VQ_REC_VERSION_SIZE}, {"Sn", VQ_REC_SN_SIZE}, {"Mask", VQ_REC_MASK_SIZE},
                  {"DevicePath", VQ_REC_PATH_UNITS}, {"DeviceId", VQ_REC_ID_UNITS}};
    for (const auto& w : widths) {
        const QString text = device.value(w.member).toString();
        FUZZ_CHECK(text.size() <= w.width);
        FUZZ_CHECK(!text.contains(QChar(0)));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DeviceInfoList list;
    std::memset(list.bytes, 0, sizeof list.bytes);
    std::memcpy(list.bytes, data, std::min(size, sizeof list.bytes));
    const QMap<QString, QJsonObject> devices = DeviceFunctions::convertDeviceList(list);

    const int count = list.bytes[0] | (list.bytes[1] << 8);
    FUZZ_CHECK(devices.size() <= std::min(count, int(VQ_MAX_DEVICES)));
    for (auto it = devices.constBegin(); it != devices.constEnd(); ++it)
        checkDevice(it.key(), it.value());

    // Every byte the list does not read, changed; a count above twenty, another one above twenty.
    DeviceInfoList other = list;
    const std::vector<bool> read = readBytes(list);
    for (size_t i = 0; i < sizeof other.bytes; ++i)
        if (!read[i])
            other.bytes[i] = uint8_t(~other.bytes[i] ^ (i * 31));
    if (count > VQ_MAX_DEVICES) {
        other.bytes[0] = 0xFF;
        other.bytes[1] = 0xFF;
    }
    FUZZ_CHECK(DeviceFunctions::convertDeviceList(other) == devices);
    return 0;
}
