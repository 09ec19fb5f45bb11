// Test controls of the simulated keyboard layouts.
#pragma once

#include "windows.h"

#include <QString>

#include <vector>

namespace win32sim {

struct LayoutLoad {
    QString id;
    UINT flags;
};
// Every LoadKeyboardLayoutW call, in order.
std::vector<LayoutLoad> keyboardLayoutLoads();
void clearKeyboardLayoutLoads();

} // namespace win32sim
