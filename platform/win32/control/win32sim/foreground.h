// Test controls of the foreground and focus windows.
#pragma once

#include "windows.h"

#include <vector>

namespace win32sim {

// Every SetForegroundWindow and SetFocus call, in order, with the handle it was given.
struct ActivationCall {
    enum Kind { Foreground, Focus } kind;
    HWND hwnd;
};
std::vector<ActivationCall> activationCalls();
void clearActivationCalls();

} // namespace win32sim
