// The simulated device tree that every layer listing devices reads (SetupAPI, the HID bus, the
// device objects CreateFileA opens), so that all of them see the same devices and ids. Safe on
// any thread; the file format and the controls are in win32sim/device_tree.h.
#pragma once

#include "windows.h"

#include <QString>
#include <QStringList>

#include <cstdint>
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

// The nodes present now, in the tree's order.
std::vector<TreeNode> presentNodes();
// The present node with that serial, or with an interface of that path (letter case ignored).
bool findPresentNode(uint64_t serial, TreeNode* node);
bool findNodeByInterfacePath(const QString& path, TreeNode* node, GUID* interfaceClass);

// A size the next detail-size query reports instead of the true one (0: none).
DWORD takeMisreportedDetailSize();

} // namespace win32_internal
