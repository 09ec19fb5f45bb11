// The simulated device tree that every layer listing devices reads (SetupAPI, the HID bus, the
// device objects CreateFileA opens), so that all of them see the same devices and ids. Safe on
// any thread; the file format and the controls are in win32sim/device_tree.h.
#pragma once

#include "windows.h"

#include <QString>
#include <QStringList>

#include <QByteArray>
#include <QHash>

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace win32_internal {

struct TreeInterface {
    GUID classGuid;
    QString path;
};

// What a HID collection reports about itself (HidD_GetAttributes, HidP_GetCaps).
struct HidCollection {
    bool present = false;
    USHORT vendorId = 0;
    USHORT productId = 0;
    USHORT version = 0;
    USHORT usagePage = 0;
    USHORT usage = 0;
    USHORT inputLength = 0;
    USHORT outputLength = 0;
    USHORT featureLength = 0;
};

struct TreeNode {
    uint64_t serial = 0; // never reused
    GUID classGuid{};
    QString instanceId;
    QStringList hardwareIds;
    std::vector<TreeInterface> interfaces;
    HidCollection hid;
    bool virtualHid = false; // part of the virtual HID device
    bool instanceIdUnreadable = false;
    bool hardwareIdUnterminated = false;
    bool hardwareIdGrowing = false;
};

// The nodes present at one moment, in the tree's order, with the indexes the look-ups use. Never
// changed once made: a change of the tree makes a new one, so holders read it without a lock.
struct PresentTree {
    std::vector<TreeNode> nodes;
    // Positions in nodes of the devices of each setup class, and of the devices with an interface
    // of each interface class (keyed by the GUID's bytes), in the tree's order.
    std::map<QByteArray, std::vector<uint32_t>> bySetupClass;
    std::map<QByteArray, std::vector<uint32_t>> byInterfaceClass;
    // Node and interface positions of each interface path, case-folded.
    QHash<QString, std::pair<uint32_t, uint32_t>> byInterfacePath;

    // The positions listed under guid in one of the maps; empty when there are none.
    static const std::vector<uint32_t>& positions(const std::map<QByteArray, std::vector<uint32_t>>& map,
                                                  const GUID& guid);
};

// The present nodes now: shared, not copied, until the tree changes.
std::shared_ptr<const PresentTree> presentNodes();
// The present node with that serial, or with an interface of that path (letter case ignored).
bool findPresentNode(uint64_t serial, TreeNode* node);
bool findNodeByInterfacePath(const QString& path, TreeNode* node, GUID* interfaceClass);

// A size the next detail-size query reports instead of the true one (0: none).
DWORD takeMisreportedDetailSize();

} // namespace win32_internal
