// Client of the keyboard and mouse filter driver: a context of its twenty device objects, their
// filters and events, and the exchange of strokes with them.
#pragma once

#include "windows.h"

#include <cstdint>

// Devices 1 to 10 are keyboards, 11 to 20 mice.
typedef int InterceptionDevice;
typedef int InterceptionPrecedence;
typedef uint16_t InterceptionFilter;
typedef int (*InterceptionPredicate)(InterceptionDevice device);

// One slot per device.
struct InterceptionDeviceSlot {
    HANDLE device;
    HANDLE event;
};
typedef InterceptionDeviceSlot* InterceptionContext;

enum {
    INTERCEPTION_MAX_KEYBOARD = 10,
    INTERCEPTION_MAX_MOUSE = 10,
    INTERCEPTION_MAX_DEVICE = INTERCEPTION_MAX_KEYBOARD + INTERCEPTION_MAX_MOUSE,
};

// Key state bits.
enum : uint16_t {
    INTERCEPTION_KEY_UP = 0x01,
    INTERCEPTION_KEY_E0 = 0x02,
};

// Mouse button transitions.
enum : uint16_t {
    INTERCEPTION_MOUSE_LEFT_DOWN = 0x001,
    INTERCEPTION_MOUSE_LEFT_UP = 0x002,
    INTERCEPTION_MOUSE_RIGHT_DOWN = 0x004,
    INTERCEPTION_MOUSE_RIGHT_UP = 0x008,
    INTERCEPTION_MOUSE_MIDDLE_DOWN = 0x010,
    INTERCEPTION_MOUSE_MIDDLE_UP = 0x020,
    INTERCEPTION_MOUSE_BUTTON_4_DOWN = 0x040,
    INTERCEPTION_MOUSE_BUTTON_4_UP = 0x080,
    INTERCEPTION_MOUSE_BUTTON_5_DOWN = 0x100,
    INTERCEPTION_MOUSE_BUTTON_5_UP = 0x200,
    // Every press and release of the five buttons.
    INTERCEPTION_FILTER_MOUSE_BUTTONS = 0x3FF,
};

struct KeyStroke {
    uint16_t code;
    uint16_t state;
    uint32_t information;
};

struct MouseStroke {
    uint16_t state;
    uint16_t flags;
    int16_t rolling;
    int32_t x;
    int32_t y;
    uint32_t information;
};

// A stroke of either kind; which one a device exchanges follows from its number.
union Stroke {
    KeyStroke key;
    MouseStroke mouse;
};

// Opens every device object with an event of its own; null when one cannot be opened (the driver
// is not installed) or refuses its event.
InterceptionContext interception_create_context();
// Closes the handles slot by slot up to the first empty one and frees the context. Null is accepted.
void interception_destroy_context(InterceptionContext context);

InterceptionPrecedence interception_get_precedence(InterceptionContext context, InterceptionDevice device);
void interception_set_precedence(InterceptionContext context, InterceptionDevice device,
                                 InterceptionPrecedence precedence);
InterceptionFilter interception_get_filter(InterceptionContext context, InterceptionDevice device);
// Sets filter on every device the predicate accepts.
void interception_set_filter(InterceptionContext context, InterceptionPredicate predicate, InterceptionFilter filter);

// The first device with strokes waiting, waiting for one without a time limit; 0 for a null context
// or when the wait fails.
InterceptionDevice interception_wait(InterceptionContext context);
// The same wait, kept as a second entry point.
InterceptionDevice interception_wait_fastcall(InterceptionContext context);
// The same wait, which also ends, with 0, once stop (an event) is signalled.
InterceptionDevice interception_wait_until(InterceptionContext context, HANDLE stop);

// Up to count strokes of the device: the number received (0 for a null context, count 0, an invalid
// device or a failed request).
int interception_receive(InterceptionContext context, InterceptionDevice device, Stroke* strokes, unsigned count);
// Sends count strokes on as the device's own: the number the driver took (0 as for receive).
int interception_send(InterceptionContext context, InterceptionDevice device, const Stroke* strokes, unsigned count);
// The device's hardware ids (UTF-16 strings, each ended by a zero) into buffer: the number of bytes
// the driver wrote, which need not end in a zero; 0 for a null context or an invalid device.
unsigned interception_get_hardware_id(InterceptionContext context, InterceptionDevice device, void* buffer,
                                      unsigned size);

int interception_is_invalid(InterceptionDevice device);
int interception_is_keyboard(InterceptionDevice device);
int interception_is_mouse(InterceptionDevice device);
