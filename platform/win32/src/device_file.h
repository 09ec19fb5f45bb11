// A handle CreateFileA opened on a device interface of the tree; the HID calls act on those of
// HID collections.
#pragma once

#include "device_tree.h"
#include "handle_table.h"

namespace win32_internal {

class DeviceFile : public KernelObject {
public:
    DeviceFile(const TreeNode& node, DWORD access)
        : serial(node.serial)
        , access(access)
    {
    }
    bool closedByCloseHandle() const override { return true; }
    BOOL read(void* buffer, DWORD size, DWORD* done) override;
    BOOL write(const void* buffer, DWORD size, DWORD* done) override;
    // The device while it is still present; FALSE with ERROR_DEVICE_NOT_CONNECTED once it has gone.
    BOOL device(TreeNode* node) const;
    // A report written to a HID collection, by WriteFile or by HidD_SetOutputReport.
    BOOL writeReport(const void* buffer, DWORD size, bool outputReport);

    const uint64_t serial;
    const DWORD access;

private:
    BOOL reportTransfer(const void* buffer, DWORD size, DWORD direction, TreeNode* node) const;
};

// Opens the device interface with that path; null with the error code set.
std::shared_ptr<KernelObject> openTreeDevice(const QString& path, DWORD access);

} // namespace win32_internal
