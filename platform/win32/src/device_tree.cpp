#include "device_tree.h"

#include "win32sim/device_tree.h"
#include "win32sim/faults.h"
#include "win32sim/filter_driver.h"
#include "win32sim/virtual_hid.h"

#include <QFile>
#include <QUuid>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace win32_internal {

namespace {

const char kDefaultTree[] = R"(# The mouse 1A2C:0E24 on USB: the USB device, its two interfaces and their HID collections.
[device]
Class=USB
InstanceId=USB\VID_1A2C&PID_0E24\M100000001
HardwareId=USB\VID_1A2C&PID_0E24&REV_0100
HardwareId=USB\VID_1A2C&PID_0E24
Interface=USB,\\?\usb#vid_1a2c&pid_0e24#m100000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}
[device]
Class=HIDClass
InstanceId=USB\VID_1A2C&PID_0E24&MI_00\6&1F2E3D4C&0&0000
HardwareId=USB\VID_1A2C&PID_0E24&REV_0100&MI_00
HardwareId=USB\VID_1A2C&PID_0E24&MI_00
[device]
Class=Mouse
InstanceId=HID\VID_1A2C&PID_0E24&MI_00\7&3B2A1C4D&0&0000
HardwareId=HID\VID_1A2C&PID_0E24&REV_0100&MI_00
HardwareId=HID\VID_1A2C&PID_0E24&MI_00
HardwareId=HID_DEVICE_SYSTEM_MOUSE
HardwareId=HID_DEVICE_UP:0001_U:0002
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#vid_1a2c&pid_0e24&mi_00#7&3b2a1c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
Interface=Mouse,\\?\hid#vid_1a2c&pid_0e24&mi_00#7&3b2a1c4d&0&0000#{378de44c-56ef-11d1-bc8c-00a0c91405dd}
HidAttributes=0x1A2C,0x0E24,0x0100
HidCaps=0x0001,0x0002,5,0,0
[device]
Class=HIDClass
InstanceId=USB\VID_1A2C&PID_0E24&MI_01\6&1F2E3D4C&0&0001
HardwareId=USB\VID_1A2C&PID_0E24&REV_0100&MI_01
HardwareId=USB\VID_1A2C&PID_0E24&MI_01
[device]
Class=HIDClass
InstanceId=HID\VID_1A2C&PID_0E24&MI_01\7&1A2B3C4D&0&0000
HardwareId=HID\VID_1A2C&PID_0E24&REV_0100&MI_01
HardwareId=HID\VID_1A2C&PID_0E24&MI_01
HardwareId=HID_DEVICE_UP:FFA0_U:0001
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#vid_1a2c&pid_0e24&mi_01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
HidAttributes=0x1A2C,0x0E24,0x0100
HidCaps=0xFFA0,0x0001,65,65,0

# The keyboard 1A2C:0E30 on USB, laid out the same way.
[device]
Class=USB
InstanceId=USB\VID_1A2C&PID_0E30\K100000001
HardwareId=USB\VID_1A2C&PID_0E30&REV_0100
HardwareId=USB\VID_1A2C&PID_0E30
Interface=USB,\\?\usb#vid_1a2c&pid_0e30#k100000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}
[device]
Class=HIDClass
InstanceId=USB\VID_1A2C&PID_0E30&MI_00\6&2A3B4C5D&0&0000
HardwareId=USB\VID_1A2C&PID_0E30&REV_0100&MI_00
HardwareId=USB\VID_1A2C&PID_0E30&MI_00
[device]
Class=Keyboard
InstanceId=HID\VID_1A2C&PID_0E30&MI_00\7&4C5D6E7F&0&0000
HardwareId=HID\VID_1A2C&PID_0E30&REV_0100&MI_00
HardwareId=HID\VID_1A2C&PID_0E30&MI_00
HardwareId=HID_DEVICE_SYSTEM_KEYBOARD
HardwareId=HID_DEVICE_UP:0001_U:0006
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#vid_1a2c&pid_0e30&mi_00#7&4c5d6e7f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
Interface=Keyboard,\\?\hid#vid_1a2c&pid_0e30&mi_00#7&4c5d6e7f&0&0000#{884b96c3-56ef-11d1-bc8c-00a0c91405dd}
HidAttributes=0x1A2C,0x0E30,0x0100
HidCaps=0x0001,0x0006,9,2,0
[device]
Class=HIDClass
InstanceId=USB\VID_1A2C&PID_0E30&MI_01\6&2A3B4C5D&0&0001
HardwareId=USB\VID_1A2C&PID_0E30&REV_0100&MI_01
HardwareId=USB\VID_1A2C&PID_0E30&MI_01
[device]
Class=HIDClass
InstanceId=HID\VID_1A2C&PID_0E30&MI_01\7&2C3D4E5F&0&0000
HardwareId=HID\VID_1A2C&PID_0E30&REV_0100&MI_01
HardwareId=HID\VID_1A2C&PID_0E30&MI_01
HardwareId=HID_DEVICE_UP:FFAA_U:0001
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#vid_1a2c&pid_0e30&mi_01#7&2c3d4e5f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
HidAttributes=0x1A2C,0x0E30,0x0100
HidCaps=0xFFAA,0x0001,65,65,0

# A game controller of another maker: a HID device that is neither a mouse nor a keyboard.
[device]
Class=HIDClass
InstanceId=HID\VID_2F0E&PID_0101\7&5E6F7A8B&0&0000
HardwareId=HID\VID_2F0E&PID_0101&REV_0200
HardwareId=HID\VID_2F0E&PID_0101
HardwareId=HID_DEVICE_SYSTEM_GAME
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#vid_2f0e&pid_0101#7&5e6f7a8b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
HidAttributes=0x2F0E,0x0101,0x0200
HidCaps=0x0001,0x0005,8,0,0

# The virtual HID device: a root-enumerated device and its four HID collections, a keyboard, a
# mouse, the control collection and the message collection.
[device]
Class=HIDClass
InstanceId=ROOT\ZORVA\0000
HardwareId=ZORVA\VHID
Driver=VirtualHid
[device]
Class=Keyboard
InstanceId=HID\ZORVA&COL01\2&1C0FE9A5&0&0000
HardwareId=HID\ZORVA&COL01
HardwareId=HID_DEVICE_SYSTEM_KEYBOARD
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#zorva&col01#2&1c0fe9a5&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
HidAttributes=0x001F,0xBA1C,0x0101
HidCaps=0x0001,0x0006,9,2,0
Driver=VirtualHid
[device]
Class=Mouse
InstanceId=HID\ZORVA&COL02\2&1C0FE9A5&0&0001
HardwareId=HID\ZORVA&COL02
HardwareId=HID_DEVICE_SYSTEM_MOUSE
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#zorva&col02#2&1c0fe9a5&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}
HidAttributes=0x001F,0xBA1C,0x0101
HidCaps=0x0001,0x0002,5,0,0
Driver=VirtualHid
[device]
Class=HIDClass
InstanceId=HID\ZORVA&COL03\2&1C0FE9A5&0&0002
HardwareId=HID\ZORVA&COL03
HardwareId=HID_DEVICE_UP:FF00_U:0001
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#zorva&col03#2&1c0fe9a5&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030}
HidAttributes=0x001F,0xBA1C,0x0101
HidCaps=0xFF00,0x0001,0,65,0
Driver=VirtualHid
[device]
Class=HIDClass
InstanceId=HID\ZORVA&COL04\2&1C0FE9A5&0&0003
HardwareId=HID\ZORVA&COL04
HardwareId=HID_DEVICE_UP:FF00_U:0002
HardwareId=HID_DEVICE
Interface=HID,\\?\hid#zorva&col04#2&1c0fe9a5&0&0003#{4d1e55b2-f16f-11cf-88cb-001111000030}
HidAttributes=0x001F,0xBA1C,0x0101
HidCaps=0xFF00,0x0002,33,0,0
Driver=VirtualHid
)";

struct Tree {
    std::mutex lock;
    bool loaded = false;
    std::vector<TreeNode> nodes;
    // The present nodes of nodes, made on the first look-up after a change.
    std::shared_ptr<const PresentTree> present;
    uint64_t nextSerial = 1;
    bool virtualHidInstalled = true;
    DWORD misreportedDetailSize = 0;
};

Tree& tree()
{
    static Tree t;
    return t;
}

bool parseGuid(const QString& text, GUID* guid)
{
    const QUuid uuid(text);
    if (uuid.isNull() || !text.startsWith(QLatin1Char('{')))
        return false;
    guid->Data1 = uuid.data1;
    guid->Data2 = uuid.data2;
    guid->Data3 = uuid.data3;
    for (int i = 0; i < 8; ++i)
        guid->Data4[i] = uuid.data4[i];
    return true;
}

bool parseSetupClass(const QString& text, GUID* guid)
{
    static const struct {
        const char* name;
        const GUID* guid;
    } classes[] = {{"Mouse", &GUID_DEVCLASS_MOUSE},
                   {"Keyboard", &GUID_DEVCLASS_KEYBOARD},
                   {"HIDClass", &GUID_DEVCLASS_HIDCLASS},
                   {"USB", &GUID_DEVCLASS_USB},
                   {"System", &GUID_DEVCLASS_SYSTEM}};
    for (const auto& c : classes)
        if (text == QLatin1String(c.name)) {
            *guid = *c.guid;
            return true;
        }
    return parseGuid(text, guid);
}

bool parseInterfaceClass(const QString& text, GUID* guid)
{
    static const struct {
        const char* name;
        const GUID* guid;
    } classes[] = {{"USB", &GUID_DEVINTERFACE_USB_DEVICE},
                   {"HID", &GUID_DEVINTERFACE_HID},
                   {"Mouse", &GUID_DEVINTERFACE_MOUSE},
                   {"Keyboard", &GUID_DEVINTERFACE_KEYBOARD}};
    for (const auto& c : classes)
        if (text == QLatin1String(c.name)) {
            *guid = *c.guid;
            return true;
        }
    return parseGuid(text, guid);
}

// Decimal or 0x-hexadecimal, at most 0xFFFF.
bool parseWords(const QString& text, int count, USHORT* out)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        QString t = parts[i].trimmed();
        int base = 10;
        if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
            t = t.mid(2);
            base = 16;
        }
        bool ok = false;
        const uint value = t.toUInt(&ok, base);
        if (!ok || t.isEmpty() || t.startsWith(QLatin1Char('+')) || value > 0xFFFF)
            return false;
        out[i] = USHORT(value);
    }
    return true;
}

bool applyField(TreeNode& node, const QString& key, const QString& value)
{
    if (key == QLatin1String("Class"))
        return parseSetupClass(value, &node.classGuid);
    if (key == QLatin1String("InstanceId")) {
        node.instanceId = value;
        return !value.isEmpty();
    }
    if (key == QLatin1String("HardwareId")) {
        node.hardwareIds.append(value);
        return !value.isEmpty();
    }
    if (key == QLatin1String("Interface")) {
        const int comma = value.indexOf(QLatin1Char(','));
        TreeInterface i;
        if (comma < 0 || !parseInterfaceClass(value.left(comma).trimmed(), &i.classGuid))
            return false;
        i.path = value.mid(comma + 1).trimmed();
        node.interfaces.push_back(i);
        return !i.path.isEmpty();
    }
    if (key == QLatin1String("HidAttributes")) {
        USHORT w[3];
        if (!parseWords(value, 3, w))
            return false;
        node.hid.present = true;
        node.hid.vendorId = w[0];
        node.hid.productId = w[1];
        node.hid.version = w[2];
        return true;
    }
    if (key == QLatin1String("HidCaps")) {
        USHORT w[5];
        if (!parseWords(value, 5, w))
            return false;
        node.hid.usagePage = w[0];
        node.hid.usage = w[1];
        node.hid.inputLength = w[2];
        node.hid.outputLength = w[3];
        node.hid.featureLength = w[4];
        return true;
    }
    if (key == QLatin1String("Driver") && value == QLatin1String("VirtualHid")) {
        node.virtualHid = true;
        return true;
    }
    if (key == QLatin1String("Quirk")) {
        if (value == QLatin1String("UnreadableInstanceId"))
            node.instanceIdUnreadable = true;
        else if (value == QLatin1String("UnterminatedHardwareId"))
            node.hardwareIdUnterminated = true;
        else if (value == QLatin1String("GrowingHardwareId"))
            node.hardwareIdGrowing = true;
        else
            return false;
        return true;
    }
    return false;
}

std::vector<TreeNode> parseTree(const QString& text, const char* source)
{
    std::vector<TreeNode> nodes;
    int lineNumber = 0;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        ++lineNumber;
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line == QLatin1String("[device]")) {
            nodes.emplace_back();
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || nodes.empty()
            || !applyField(nodes.back(), line.left(eq).trimmed(), line.mid(eq + 1).trimmed()))
            std::fprintf(stderr, "win32sim: %s line %d cannot be read; skipped: %s\n", source, lineNumber,
                         line.toUtf8().constData());
    }
    return nodes;
}

void numberNodes(Tree& t, std::vector<TreeNode>& nodes)
{
    for (TreeNode& n : nodes)
        n.serial = t.nextSerial++;
}

// The tree of WIN32SIM_DEVICES, or the built-in one.
void loadInitialLocked(Tree& t)
{
    t.loaded = true;
    std::vector<TreeNode> nodes;
    const QByteArray file = qgetenv("WIN32SIM_DEVICES");
    if (!file.isEmpty()) {
        QFile f(QString::fromLocal8Bit(file));
        if (f.open(QIODevice::ReadOnly))
            nodes = parseTree(QString::fromUtf8(f.readAll()), "device-tree file");
        else
            std::fprintf(stderr, "win32sim: cannot read the device-tree file %s; no devices\n", file.constData());
    } else {
        nodes = parseTree(QString::fromUtf8(kDefaultTree), "built-in device tree");
    }
    numberNodes(t, nodes);
    t.nodes = std::move(nodes);
}

Tree& loadedTree(std::unique_lock<std::mutex>& guard)
{
    Tree& t = tree();
    guard = std::unique_lock<std::mutex>(t.lock);
    if (!t.loaded)
        loadInitialLocked(t);
    return t;
}

bool isPresent(const Tree& t, const TreeNode& n) { return t.virtualHidInstalled || !n.virtualHid; }

QByteArray guidKey(const GUID& guid) { return QByteArray(reinterpret_cast<const char*>(&guid), sizeof guid); }

std::shared_ptr<const PresentTree> presentLocked(Tree& t)
{
    if (t.present)
        return t.present;
    auto p = std::make_shared<PresentTree>();
    for (const TreeNode& n : t.nodes)
        if (isPresent(t, n))
            p->nodes.push_back(n);
    for (uint32_t i = 0; i < p->nodes.size(); ++i) {
        const TreeNode& n = p->nodes[i];
        p->bySetupClass[guidKey(n.classGuid)].push_back(i);
        for (uint32_t k = 0; k < n.interfaces.size(); ++k) {
            std::vector<uint32_t>& ofClass = p->byInterfaceClass[guidKey(n.interfaces[k].classGuid)];
            if (ofClass.empty() || ofClass.back() != i)
                ofClass.push_back(i);
            // The first of equal paths is the one found.
            const QString path = n.interfaces[k].path.toCaseFolded();
            if (!p->byInterfacePath.contains(path))
                p->byInterfacePath.insert(path, {i, k});
        }
    }
    t.present = p;
    return p;
}

// Every change of the tree goes through here: the next look-up makes the present nodes anew.
Tree& changedTree(std::unique_lock<std::mutex>& guard)
{
    Tree& t = loadedTree(guard);
    t.present.reset();
    return t;
}

} // namespace

const std::vector<uint32_t>& PresentTree::positions(const std::map<QByteArray, std::vector<uint32_t>>& map,
                                                    const GUID& guid)
{
    static const std::vector<uint32_t> none;
    const auto it = map.find(guidKey(guid));
    return it == map.end() ? none : it->second;
}

std::shared_ptr<const PresentTree> presentNodes()
{
    std::unique_lock<std::mutex> g;
    return presentLocked(loadedTree(g));
}

bool findPresentNode(uint64_t serial, TreeNode* node)
{
    const std::shared_ptr<const PresentTree> p = presentNodes();
    // Serials grow in the tree's order.
    const auto it = std::lower_bound(p->nodes.begin(), p->nodes.end(), serial,
                                     [](const TreeNode& n, uint64_t s) { return n.serial < s; });
    if (it == p->nodes.end() || it->serial != serial)
        return false;
    *node = *it;
    return true;
}

bool findNodeByInterfacePath(const QString& path, TreeNode* node, GUID* interfaceClass)
{
    const std::shared_ptr<const PresentTree> p = presentNodes();
    const auto it = p->byInterfacePath.constFind(path.toCaseFolded());
    if (it == p->byInterfacePath.constEnd())
        return false;
    const TreeNode& n = p->nodes[it->first];
    *node = n;
    *interfaceClass = n.interfaces[it->second].classGuid;
    return true;
}

DWORD takeMisreportedDetailSize()
{
    std::unique_lock<std::mutex> g;
    Tree& t = loadedTree(g);
    const DWORD size = t.misreportedDetailSize;
    t.misreportedDetailSize = 0;
    return size;
}

} // namespace win32_internal

using namespace win32_internal;

QString win32sim::defaultDeviceTree() { return QString::fromUtf8(kDefaultTree); }

QString win32sim::generatedDeviceTree(int hidCollections, int usbMice)
{
    QString text;
    for (int i = 0; i < hidCollections; ++i)
        text += QStringLiteral("[device]\nClass=HIDClass\nInstanceId=HID\\VID_1111&PID_2222&MI_01\\%1\n"
                               "HardwareId=HID\\VID_1111&PID_2222&MI_01\n"
                               "Interface=HID,\\\\?\\hid#vid_1111&pid_2222&mi_01#%1#{4d1e55b2-f16f-11cf-88cb-001111000030}\n")
                    .arg(i);
    for (int i = 0; i < usbMice; ++i)
        text += QStringLiteral("[device]\nClass=Mouse\nInstanceId=USB\\VID_3333&PID_%1\\M\nHardwareId=USB\\VID_3333&PID_%1\n"
                               "Interface=USB,\\\\?\\usb#vid_3333&pid_%1#m#{a5dcbf10-6530-11d2-901f-00c04fb951ed}\n")
                    .arg(i, 4, 16, QChar('0'));
    return text;
}

int win32sim::loadDeviceTree(const QString& text)
{
    std::vector<TreeNode> nodes = parseTree(text, "device-tree text");
    std::unique_lock<std::mutex> g;
    Tree& t = changedTree(g);
    numberNodes(t, nodes);
    t.nodes = std::move(nodes);
    return int(t.nodes.size());
}

int win32sim::addDevices(const QString& text)
{
    std::vector<TreeNode> nodes = parseTree(text, "device-tree text");
    std::unique_lock<std::mutex> g;
    Tree& t = changedTree(g);
    numberNodes(t, nodes);
    t.nodes.insert(t.nodes.end(), nodes.begin(), nodes.end());
    return int(t.nodes.size());
}

int win32sim::removeDevice(const QString& instanceId)
{
    std::unique_lock<std::mutex> g;
    Tree& t = changedTree(g);
    const size_t before = t.nodes.size();
    t.nodes.erase(std::remove_if(t.nodes.begin(), t.nodes.end(),
                                 [&](const TreeNode& n) {
                                     return n.instanceId.compare(instanceId, Qt::CaseInsensitive) == 0;
                                 }),
                  t.nodes.end());
    return int(before - t.nodes.size());
}

void win32sim::resetDeviceTree()
{
    {
        std::unique_lock<std::mutex> g;
        Tree& t = changedTree(g);
        loadInitialLocked(t);
        t.virtualHidInstalled = true;
        t.misreportedDetailSize = 0;
    }
    clearVirtualHid();
    clearFilterDriver();
    clearFaults();
}

void win32sim::setVirtualHidInstalled(bool installed)
{
    std::unique_lock<std::mutex> g;
    changedTree(g).virtualHidInstalled = installed;
}

void win32sim::misreportNextDetailSize(DWORD size)
{
    std::unique_lock<std::mutex> g;
    loadedTree(g).misreportedDetailSize = size;
}
