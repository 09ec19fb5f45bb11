#include "devices/interception.h"

#include <cstring>

namespace {

const DWORD kSetPrecedence = CTL_CODE(0x22, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
const DWORD kGetPrecedence = CTL_CODE(0x22, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS);
const DWORD kSetFilter = CTL_CODE(0x22, 0x804, METHOD_BUFFERED, FILE_ANY_ACCESS);
const DWORD kGetFilter = CTL_CODE(0x22, 0x808, METHOD_BUFFERED, FILE_ANY_ACCESS);
const DWORD kSetEvent = CTL_CODE(0x22, 0x810, METHOD_BUFFERED, FILE_ANY_ACCESS);
const DWORD kWrite = CTL_CODE(0x22, 0x820, METHOD_BUFFERED, FILE_ANY_ACCESS);
const DWORD kRead = CTL_CODE(0x22, 0x840, METHOD_BUFFERED, FILE_ANY_ACCESS);
const DWORD kGetHardwareId = CTL_CODE(0x22, 0x880, METHOD_BUFFERED, FILE_ANY_ACCESS);

// The driver's records, little-endian, without padding.
const unsigned kKeyRecordSize = 12;
const unsigned kMouseRecordSize = 24;

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// Keyboard: unit id, make code, flags, reserved, extra information.
void keyToRecord(const KeyStroke& s, uint8_t* r)
{
    put16(r, 0);
    put16(r + 2, s.code);
    put16(r + 4, s.state);
    put16(r + 6, 0);
    put32(r + 8, s.information);
}

KeyStroke keyFromRecord(const uint8_t* r)
{
    KeyStroke s;
    s.code = u16(r + 2);
    s.state = u16(r + 4);
    s.information = u32(r + 8);
    return s;
}

// Mouse: unit id, flags, button flags, button data, raw buttons, last x, last y, extra information.
void mouseToRecord(const MouseStroke& s, uint8_t* r)
{
    put16(r, 0);
    put16(r + 2, s.flags);
    put16(r + 4, s.state);
    put16(r + 6, uint16_t(s.rolling));
    put32(r + 8, 0);
    put32(r + 12, uint32_t(s.x));
    put32(r + 16, uint32_t(s.y));
    put32(r + 20, s.information);
}

MouseStroke mouseFromRecord(const uint8_t* r)
{
    MouseStroke s;
    s.flags = u16(r + 2);
    s.state = u16(r + 4);
    s.rolling = int16_t(u16(r + 6));
    s.x = int32_t(u32(r + 12));
    s.y = int32_t(u32(r + 16));
    s.information = u32(r + 20);
    return s;
}

unsigned recordSize(InterceptionDevice device)
{
    return interception_is_keyboard(device) ? kKeyRecordSize : kMouseRecordSize;
}

HANDLE deviceHandle(InterceptionContext context, InterceptionDevice device)
{
    if (!context || interception_is_invalid(device))
        return nullptr;
    return context[device - 1].device;
}

// One control request to the device: the bytes answered, 0 when it failed or the device is invalid.
DWORD request(InterceptionContext context, InterceptionDevice device, DWORD code, const void* in, DWORD inSize,
              void* out, DWORD outSize)
{
    HANDLE h = deviceHandle(context, device);
    DWORD returned = 0;
    if (!h || !DeviceIoControl(h, code, const_cast<void*>(in), inSize, out, outSize, &returned, nullptr))
        return 0;
    return returned;
}

// A heap block for count records of the device; null when there is nothing to exchange.
uint8_t* recordBlock(InterceptionContext context, InterceptionDevice device, const Stroke* strokes, unsigned count)
{
    if (!deviceHandle(context, device) || count == 0 || !strokes)
        return nullptr;
    return static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, size_t(recordSize(device)) * count));
}

InterceptionDevice waitFor(InterceptionContext context, HANDLE stop)
{
    if (!context)
        return 0;
    HANDLE handles[INTERCEPTION_MAX_DEVICE + 1];
    for (int i = 0; i < INTERCEPTION_MAX_DEVICE; ++i)
        handles[i] = context[i].event;
    DWORD count = INTERCEPTION_MAX_DEVICE;
    if (stop)
        handles[count++] = stop;
    const DWORD result = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    if (result >= WAIT_OBJECT_0 + INTERCEPTION_MAX_DEVICE)
        return 0;
    return InterceptionDevice(result - WAIT_OBJECT_0 + 1);
}

} // namespace

InterceptionContext interception_create_context()
{
    auto* context = static_cast<InterceptionContext>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, INTERCEPTION_MAX_DEVICE * sizeof(InterceptionDeviceSlot)));
    if (!context)
        return nullptr;
    for (int i = 0; i < INTERCEPTION_MAX_DEVICE; ++i) {
        // "\\.\interception" and two decimal digits, the slot.
        char name[] = "\\\\.\\interception00";
        name[sizeof name - 3] = char('0' + i / 10);
        name[sizeof name - 2] = char('0' + i % 10);
        HANDLE device = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            interception_destroy_context(context);
            return nullptr;
        }
        context[i].device = device;
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!event) {
            interception_destroy_context(context);
            return nullptr;
        }
        context[i].event = event;
        // The handle's low 32 bits, then zero.
        uint32_t words[2] = {uint32_t(reinterpret_cast<uintptr_t>(event)), 0};
        DWORD returned = 0;
        if (!DeviceIoControl(device, kSetEvent, words, sizeof words, nullptr, 0, &returned, nullptr)) {
            interception_destroy_context(context);
            return nullptr;
        }
    }
    return context;
}

void interception_destroy_context(InterceptionContext context)
{
    if (!context)
        return;
    for (int i = 0; i < INTERCEPTION_MAX_DEVICE && context[i].device; ++i) {
        CloseHandle(context[i].device);
        if (context[i].event)
            CloseHandle(context[i].event);
    }
    HeapFree(GetProcessHeap(), 0, context);
}

InterceptionPrecedence interception_get_precedence(InterceptionContext context, InterceptionDevice device)
{
    int32_t precedence = 0;
    request(context, device, kGetPrecedence, nullptr, 0, &precedence, sizeof precedence);
    return precedence;
}

void interception_set_precedence(InterceptionContext context, InterceptionDevice device,
                                 InterceptionPrecedence precedence)
{
    int32_t value = precedence;
    request(context, device, kSetPrecedence, &value, sizeof value, nullptr, 0);
}

InterceptionFilter interception_get_filter(InterceptionContext context, InterceptionDevice device)
{
    InterceptionFilter filter = 0;
    request(context, device, kGetFilter, nullptr, 0, &filter, sizeof filter);
    return filter;
}

void interception_set_filter(InterceptionContext context, InterceptionPredicate predicate, InterceptionFilter filter)
{
    if (!context || !predicate)
        return;
    for (InterceptionDevice device = 1; device <= INTERCEPTION_MAX_DEVICE; ++device)
        if (predicate(device))
            request(context, device, kSetFilter, &filter, sizeof filter, nullptr, 0);
}

InterceptionDevice interception_wait(InterceptionContext context) { return waitFor(context, nullptr); }

InterceptionDevice interception_wait_fastcall(InterceptionContext context) { return waitFor(context, nullptr); }

InterceptionDevice interception_wait_until(InterceptionContext context, HANDLE stop) { return waitFor(context, stop); }

int interception_receive(InterceptionContext context, InterceptionDevice device, Stroke* strokes, unsigned count)
{
    const unsigned size = recordSize(device);
    uint8_t* records = recordBlock(context, device, strokes, count);
    if (!records)
        return 0;
    const DWORD returned = request(context, device, kRead, nullptr, 0, records, size * count);
    const unsigned received = returned / size;
    for (unsigned i = 0; i < received; ++i) {
        if (interception_is_keyboard(device))
            strokes[i].key = keyFromRecord(records + size_t(i) * size);
        else
            strokes[i].mouse = mouseFromRecord(records + size_t(i) * size);
    }
    HeapFree(GetProcessHeap(), 0, records);
    return int(received);
}

int interception_send(InterceptionContext context, InterceptionDevice device, const Stroke* strokes, unsigned count)
{
    const unsigned size = recordSize(device);
    uint8_t* records = recordBlock(context, device, strokes, count);
    if (!records)
        return 0;
    for (unsigned i = 0; i < count; ++i) {
        if (interception_is_keyboard(device))
            keyToRecord(strokes[i].key, records + size_t(i) * size);
        else
            mouseToRecord(strokes[i].mouse, records + size_t(i) * size);
    }
    const DWORD returned = request(context, device, kWrite, records, size * count, nullptr, 0);
    HeapFree(GetProcessHeap(), 0, records);
    return int(returned / size);
}

unsigned interception_get_hardware_id(InterceptionContext context, InterceptionDevice device, void* buffer,
                                      unsigned size)
{
    if (!buffer || size == 0)
        return 0;
    return request(context, device, kGetHardwareId, nullptr, 0, buffer, size);
}

int interception_is_invalid(InterceptionDevice device) { return !interception_is_keyboard(device) && !interception_is_mouse(device); }

int interception_is_keyboard(InterceptionDevice device) { return device >= 1 && device <= INTERCEPTION_MAX_KEYBOARD; }

int interception_is_mouse(InterceptionDevice device)
{
    return device > INTERCEPTION_MAX_KEYBOARD && device <= INTERCEPTION_MAX_DEVICE;
}
