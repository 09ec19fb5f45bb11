#include "filter_driver.h"

#include "device_tree.h"
#include "event_object.h"
#include "win32sim/filter_driver.h"

#include <QRegularExpression>

#include <array>
#include <cstring>
#include <deque>
#include <mutex>

using namespace win32_internal;
using win32sim::FilterKeyRecord;
using win32sim::FilterMouseRecord;

static_assert(sizeof(FilterKeyRecord) == 12, "the keyboard record has no padding");
static_assert(sizeof(FilterMouseRecord) == 24, "the mouse record has no padding");

namespace {

const int kDevices = 20;
const int kKeyboards = 10;

const DWORD kSetPrecedence = 0x222004;
const DWORD kGetPrecedence = 0x222008;
const DWORD kSetFilter = 0x222010;
const DWORD kGetFilter = 0x222020;
const DWORD kSetEvent = 0x222040;
const DWORD kWrite = 0x222080;
const DWORD kRead = 0x222100;
const DWORD kGetHardwareId = 0x222200;

const uint16_t kMouseMoveFilter = 0x1000;
// The delivered list keeps the latest strokes.
const size_t kDeliveredKept = 10000;

bool isKeyboard(int device) { return device >= 1 && device <= kKeyboards; }
DWORD recordSize(int device) { return isKeyboard(device) ? sizeof(FilterKeyRecord) : sizeof(FilterMouseRecord); }

struct Slot {
    uint16_t filter = 0;
    int32_t precedence = 0;
    std::shared_ptr<EventObject> event;
    const void* eventOwner = nullptr; // the handle object that set the event
    std::deque<std::vector<uint8_t>> queue;
};

struct Driver {
    std::mutex lock;
    bool installed = true;
    std::array<Slot, kDevices> perDevice;
    std::vector<win32sim::DeliveredStroke> delivered;
};

Driver& driver()
{
    static Driver d;
    return d;
}

// The tree's node behind each device number, in the tree's order per class.
std::array<TreeNode, kDevices + 1> deviceNodes(std::array<bool, kDevices + 1>* present)
{
    std::array<TreeNode, kDevices + 1> nodes;
    present->fill(false);
    const std::shared_ptr<const PresentTree> tree = presentNodes();
    const struct {
        const GUID& setupClass;
        int first, count;
    } kinds[] = {{GUID_DEVCLASS_KEYBOARD, 1, kKeyboards}, {GUID_DEVCLASS_MOUSE, kKeyboards + 1, kDevices - kKeyboards}};
    for (const auto& kind : kinds) {
        const std::vector<uint32_t>& ofClass = PresentTree::positions(tree->bySetupClass, kind.setupClass);
        for (int i = 0; i < kind.count && size_t(i) < ofClass.size(); ++i) {
            nodes[size_t(kind.first + i)] = tree->nodes[ofClass[size_t(i)]];
            (*present)[size_t(kind.first + i)] = true;
        }
    }
    return nodes;
}

bool devicePresent(int device)
{
    std::array<bool, kDevices + 1> present;
    deviceNodes(&present);
    return device >= 1 && device <= kDevices && present[device];
}

// Sends a record up the input stack; the driver's lock is held.
void deliver(Driver& d, int device, const std::vector<uint8_t>& record, bool written)
{
    win32sim::DeliveredStroke s{device, written, {}, {}};
    if (isKeyboard(device))
        std::memcpy(&s.key, record.data(), sizeof s.key);
    else
        std::memcpy(&s.mouse, record.data(), sizeof s.mouse);
    d.delivered.push_back(s);
    if (d.delivered.size() > kDeliveredKept)
        d.delivered.erase(d.delivered.begin());
}

bool accepts(int device, uint16_t filter, const std::vector<uint8_t>& record)
{
    if (isKeyboard(device)) {
        FilterKeyRecord k;
        std::memcpy(&k, record.data(), sizeof k);
        return (filter & ((k.flags & 0x1) ? 0x2 : 0x1)) != 0;
    }
    FilterMouseRecord m;
    std::memcpy(&m, record.data(), sizeof m);
    if (m.buttonFlags == 0)
        return (filter & kMouseMoveFilter) != 0;
    return (m.buttonFlags & filter & 0x0FFF) != 0;
}

win32sim::StrokeRoute inject(int device, std::vector<uint8_t> record)
{
    if (!devicePresent(device))
        return win32sim::StrokeRoute::NoDevice;
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    Slot& slot = d.perDevice[size_t(device - 1)];
    if (!accepts(device, slot.filter, record)) {
        deliver(d, device, record, false);
        return win32sim::StrokeRoute::Delivered;
    }
    slot.queue.push_back(std::move(record));
    if (slot.event)
        slot.event->set();
    return win32sim::StrokeRoute::Queued;
}

void release(Slot& slot, int device, Driver& d)
{
    for (const std::vector<uint8_t>& r : slot.queue)
        deliver(d, device, r, false);
    slot = Slot();
}

// A handle of one device object.
class FilterDeviceHandle : public KernelObject {
public:
    explicit FilterDeviceHandle(int device)
        : m_device(device)
    {
    }
    bool closedByCloseHandle() const override { return true; }
    BOOL control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override;
    void closed() override
    {
        Driver& d = driver();
        std::lock_guard<std::mutex> g(d.lock);
        Slot& slot = d.perDevice[size_t(m_device - 1)];
        if (slot.eventOwner == this)
            release(slot, m_device, d);
    }

private:
    BOOL fail(DWORD error)
    {
        SetLastError(error);
        return FALSE;
    }
    // A request that sets or reads one value of the device.
    template <class T>
    BOOL store(T Slot::*field, const void* in, DWORD inSize)
    {
        T value;
        if (!input(in, inSize, &value))
            return fail(ERROR_INVALID_PARAMETER);
        Driver& d = driver();
        std::lock_guard<std::mutex> g(d.lock);
        d.perDevice[size_t(m_device - 1)].*field = value;
        return TRUE;
    }
    template <class T>
    BOOL load(T Slot::*field, void* out, DWORD outSize, DWORD* returned)
    {
        if (!out || outSize < sizeof(T))
            return fail(ERROR_INSUFFICIENT_BUFFER);
        Driver& d = driver();
        std::lock_guard<std::mutex> g(d.lock);
        std::memcpy(out, &(d.perDevice[size_t(m_device - 1)].*field), sizeof(T));
        *returned = sizeof(T);
        return TRUE;
    }
    template <class T>
    bool input(const void* in, DWORD inSize, T* value)
    {
        if (!in || inSize != sizeof(T))
            return false;
        std::memcpy(value, in, sizeof(T));
        return true;
    }

    const int m_device;
};

BOOL FilterDeviceHandle::control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)
{
    Driver& d = driver();
    const size_t index = size_t(m_device - 1);
    switch (code) {
    case kSetPrecedence:
        return store(&Slot::precedence, in, inSize);
    case kGetPrecedence:
        return load(&Slot::precedence, out, outSize, returned);
    case kSetFilter:
        return store(&Slot::filter, in, inSize);
    case kGetFilter:
        return load(&Slot::filter, out, outSize, returned);
    case kSetEvent: {
        uint32_t words[2];
        if (!input(in, inSize, &words) || words[1] != 0)
            return fail(ERROR_INVALID_PARAMETER);
        std::shared_ptr<EventObject> event;
        if (words[0]) {
            event = findHandleOf<EventObject>(reinterpret_cast<HANDLE>(uintptr_t(words[0])));
            if (!event)
                return FALSE;
        }
        std::lock_guard<std::mutex> g(d.lock);
        Slot& slot = d.perDevice[index];
        slot.event = event;
        slot.eventOwner = event ? this : nullptr;
        if (event && !slot.queue.empty())
            event->set();
        return TRUE;
    }
    case kWrite: {
        if (!devicePresent(m_device))
            return fail(ERROR_DEVICE_NOT_CONNECTED);
        const DWORD size = recordSize(m_device);
        if (!in && inSize)
            return fail(ERROR_INVALID_PARAMETER);
        const auto* bytes = static_cast<const uint8_t*>(in);
        std::lock_guard<std::mutex> g(d.lock);
        for (DWORD at = 0; at + size <= inSize; at += size)
            deliver(d, m_device, std::vector<uint8_t>(bytes + at, bytes + at + size), true);
        *returned = inSize / size * size;
        return TRUE;
    }
    case kRead: {
        const DWORD size = recordSize(m_device);
        if (!out && outSize)
            return fail(ERROR_INVALID_PARAMETER);
        auto* bytes = static_cast<uint8_t*>(out);
        std::lock_guard<std::mutex> g(d.lock);
        Slot& slot = d.perDevice[index];
        DWORD at = 0;
        while (!slot.queue.empty() && at + size <= outSize) {
            std::memcpy(bytes + at, slot.queue.front().data(), size);
            slot.queue.pop_front();
            at += size;
        }
        if (slot.queue.empty() && slot.event)
            slot.event->reset();
        *returned = at;
        return TRUE;
    }
    case kGetHardwareId: {
        std::array<bool, kDevices + 1> present;
        const std::array<TreeNode, kDevices + 1> nodes = deviceNodes(&present);
        if (!present[size_t(m_device)])
            return fail(ERROR_DEVICE_NOT_CONNECTED);
        std::u16string text;
        for (const QString& id : nodes[size_t(m_device)].hardwareIds) {
            text += id.toStdU16String();
            text += u'\0';
        }
        text += u'\0';
        const DWORD bytes = std::min<DWORD>(outSize, DWORD(text.size() * 2));
        if (bytes && !out)
            return fail(ERROR_INVALID_PARAMETER);
        if (bytes)
            std::memcpy(out, text.data(), bytes);
        *returned = bytes;
        return TRUE;
    }
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

std::vector<uint8_t> bytesOf(const void* record, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(record);
    return std::vector<uint8_t>(p, p + size);
}

} // namespace

namespace win32_internal {

bool isFilterDeviceName(const QString& path)
{
    return path.startsWith(QLatin1String("\\\\.\\interception"), Qt::CaseInsensitive);
}

std::shared_ptr<KernelObject> openFilterDevice(const QString& path)
{
    static const QRegularExpression name(QStringLiteral("^\\\\\\\\\\.\\\\interception(\\d\\d)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = name.match(path);
    const int device = m.hasMatch() ? m.captured(1).toInt() + 1 : 0;
    {
        Driver& d = driver();
        std::lock_guard<std::mutex> g(d.lock);
        if (!d.installed || device < 1 || device > kDevices) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
    }
    return std::make_shared<FilterDeviceHandle>(device);
}

void virtualMouseReport(uint8_t buttonsBefore, uint8_t buttons, int8_t wheel)
{
    FilterMouseRecord r;
    for (int i = 0; i < 5; ++i) {
        const uint8_t bit = uint8_t(1 << i);
        if ((buttons & bit) && !(buttonsBefore & bit))
            r.buttonFlags |= uint16_t(1 << (2 * i));
        else if (!(buttons & bit) && (buttonsBefore & bit))
            r.buttonFlags |= uint16_t(1 << (2 * i + 1));
    }
    if (wheel) {
        r.buttonFlags |= 0x400;
        r.buttonData = uint16_t(int16_t(wheel * 120));
    }
    if (!r.buttonFlags)
        return;
    std::array<bool, kDevices + 1> present;
    const std::array<TreeNode, kDevices + 1> nodes = deviceNodes(&present);
    for (int device = kKeyboards + 1; device <= kDevices; ++device)
        if (present[size_t(device)] && nodes[size_t(device)].virtualHid) {
            inject(device, bytesOf(&r, sizeof r));
            return;
        }
}

} // namespace win32_internal

bool win32sim::operator==(const FilterKeyRecord& a, const FilterKeyRecord& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool win32sim::operator==(const FilterMouseRecord& a, const FilterMouseRecord& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void win32sim::setFilterDriverInstalled(bool installed)
{
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    d.installed = installed;
}

std::vector<win32sim::FilterDevice> win32sim::filterDevices()
{
    std::array<bool, kDevices + 1> present;
    const std::array<TreeNode, kDevices + 1> nodes = deviceNodes(&present);
    std::vector<FilterDevice> out;
    for (int device = 1; device <= kDevices; ++device)
        if (present[size_t(device)])
            out.push_back({device, nodes[size_t(device)].instanceId, nodes[size_t(device)].hardwareIds});
    return out;
}

int win32sim::filterDeviceOf(const QString& instanceId)
{
    for (const FilterDevice& d : filterDevices())
        if (d.instanceId.compare(instanceId, Qt::CaseInsensitive) == 0)
            return d.device;
    return 0;
}

win32sim::StrokeRoute win32sim::injectKeyStroke(int device, const FilterKeyRecord& record)
{
    if (!isKeyboard(device))
        return StrokeRoute::NoDevice;
    return inject(device, bytesOf(&record, sizeof record));
}

win32sim::StrokeRoute win32sim::injectMouseStroke(int device, const FilterMouseRecord& record)
{
    if (device <= kKeyboards || device > kDevices)
        return StrokeRoute::NoDevice;
    return inject(device, bytesOf(&record, sizeof record));
}

std::vector<win32sim::DeliveredStroke> win32sim::deliveredStrokes()
{
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    return d.delivered;
}

namespace {

template <class T>
T slotValue(int device, T Slot::*field)
{
    if (device < 1 || device > kDevices)
        return T();
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    return d.perDevice[size_t(device - 1)].*field;
}

} // namespace

uint16_t win32sim::filterOf(int device) { return slotValue(device, &Slot::filter); }

int win32sim::precedenceOf(int device) { return slotValue(device, &Slot::precedence); }

int win32sim::queuedStrokes(int device) { return int(slotValue(device, &Slot::queue).size()); }

bool win32sim::hasEvent(int device) { return slotValue(device, &Slot::event) != nullptr; }

void win32sim::clearFilterDriver()
{
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    d.installed = true;
    for (Slot& s : d.perDevice)
        s = Slot();
    d.delivered.clear();
}
