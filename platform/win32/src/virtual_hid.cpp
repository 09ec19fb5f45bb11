#include "virtual_hid.h"

#include "filter_driver.h"

#include "win32sim/virtual_hid.h"

#include <cstring>
#include <deque>
#include <mutex>

namespace {

const DWORD kControlReportSize = 65;
const BYTE kControlReportId = 0x40;
const BYTE kMessageReportId = 0x10;
const size_t kMessageSize = 32;
// Messages not read yet are kept up to this many, and the log keeps the latest reports; older ones
// are dropped.
const size_t kMessageQueueSize = 64;
const size_t kLogSize = 10000;

struct Driver {
    std::mutex lock;
    std::deque<win32sim::VirtualHidReport> log;
    win32sim::VirtualHidState state;
    std::deque<std::array<uint8_t, kMessageSize>> messages;
};

Driver& driver()
{
    static Driver d;
    return d;
}

uint16_t word(const BYTE* p) { return uint16_t(p[0] | (p[1] << 8)); }

// The embedded report's length for each id the driver knows.
int reportLength(BYTE id)
{
    switch (id) {
    case 1: return 22;
    case 3: return 7;
    case 4: return 5;
    case 5: return 6;
    case 6: return 9;
    case 7: return 9;
    case kMessageReportId: return 33;
    default: return -1;
    }
}

void decode(Driver& d, const BYTE* r)
{
    win32sim::VirtualHidState& s = d.state;
    const BYTE* f = r + 3; // the fields after the embedded report's id
    switch (r[2]) {
    case 1: {
        if (f[20] > 0) {
            s.touchCount = f[20];
            s.touches.clear();
        }
        for (int i = 0; i < 2 && int(s.touches.size()) < s.touchCount; ++i) {
            const BYTE* t = f + 10 * i;
            s.touches.push_back({t[0], t[1], word(t + 2), word(t + 4), word(t + 6), word(t + 8)});
        }
        break;
    }
    case 3:
        s.absoluteButtons = f[0];
        s.absoluteX = word(f + 1);
        s.absoluteY = word(f + 3);
        s.absoluteWheel = f[5];
        break;
    case 4:
        s.relativeButtons = f[0];
        s.relativeX += int8_t(f[1]);
        s.relativeY += int8_t(f[2]);
        s.wheel += int8_t(f[3]);
        break;
    case 5:
        s.digitizerStatus = f[0];
        s.digitizerX = word(f + 1);
        s.digitizerY = word(f + 3);
        break;
    case 6:
        std::memcpy(s.joystick.data(), f, s.joystick.size());
        break;
    case 7:
        s.modifiers = f[0];
        std::memcpy(s.keys.data(), f + 2, s.keys.size());
        break;
    case kMessageReportId: {
        std::array<uint8_t, kMessageSize> message;
        std::memcpy(message.data(), f, kMessageSize);
        d.messages.push_back(message);
        if (d.messages.size() > kMessageQueueSize)
            d.messages.pop_front();
        break;
    }
    }
}

// Logs the report and decodes it when the driver accepts it.
BOOL writeLocked(Driver& d, const BYTE* report, DWORD size, bool outputReport)
{
    const bool accepted = size == kControlReportSize && report[0] == kControlReportId
        && reportLength(report[2]) == int(report[1]);
    d.log.push_back({std::vector<uint8_t>(report, report + size), accepted, outputReport});
    if (d.log.size() > kLogSize)
        d.log.pop_front();
    if (!accepted) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    decode(d, report);
    return TRUE;
}

} // namespace

namespace win32_internal {

BOOL virtualHidWrite(const BYTE* report, DWORD size, bool outputReport)
{
    uint8_t buttonsBefore, buttons;
    {
        Driver& d = driver();
        std::lock_guard<std::mutex> g(d.lock);
        buttonsBefore = d.state.relativeButtons;
        if (!writeLocked(d, report, size, outputReport))
            return FALSE;
        buttons = d.state.relativeButtons;
    }
    // What the virtual mouse does comes back through the input stack, where the filter driver sees it.
    if (report[2] == 4)
        virtualMouseReport(buttonsBefore, buttons, int8_t(report[6]));
    return TRUE;
}

BOOL virtualHidRead(BYTE* buffer, DWORD size, DWORD* done)
{
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    if (d.messages.empty()) {
        SetLastError(ERROR_NO_DATA);
        return FALSE;
    }
    if (size < kMessageSize + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    buffer[0] = kMessageReportId;
    std::memcpy(buffer + 1, d.messages.front().data(), kMessageSize);
    d.messages.pop_front();
    if (done)
        *done = kMessageSize + 1;
    return TRUE;
}

} // namespace win32_internal

std::vector<win32sim::VirtualHidReport> win32sim::virtualHidReports()
{
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    return std::vector<VirtualHidReport>(d.log.begin(), d.log.end());
}

win32sim::VirtualHidState win32sim::virtualHidState()
{
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    return d.state;
}

void win32sim::clearVirtualHid()
{
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.lock);
    d.log.clear();
    d.state = VirtualHidState();
    d.messages.clear();
}
