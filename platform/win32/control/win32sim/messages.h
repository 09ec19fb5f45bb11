// Test controls of the simulated window messages and screens.
#pragma once

#include "windows.h"

#include <vector>

namespace win32sim {

// Every SendMessageW call, in order.
struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<SentMessage> sentMessages();
void clearSentMessages();

// Delivers a message as the message queue would: native event filters and the window's handler get
// no result slot, and nothing falls through to DefWindowProcW. Returns whether it was handled.
bool dispatchQueuedMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Monitors in place of the toolkit's screens (monitor rectangle and work area); empty restores them.
struct Monitor {
    RECT monitor;
    RECT work;
};
void setMonitors(const std::vector<Monitor>& monitors);

} // namespace win32sim
