// The device path of an enumerated device interface, read through either detail call
// (SetupDiGetDeviceInterfaceDetailW or ...A), with the diagnostics both device clients print.
#pragma once

#include "windows.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>

template <class Detail>
using InterfaceDetailChar = std::remove_reference_t<decltype(std::declval<Detail&>().DevicePath[0])>;

// Asks get for the size of the detail, then for the detail in a buffer of that size. A size that
// cannot even hold the structure's fixed part is refused, so nothing is written past the buffer;
// the path is read no further than the buffer holds.
template <class Detail, class GetDetail>
bool interfaceDetailPath(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, GetDetail get,
                         std::basic_string<InterfaceDetailChar<Detail>>* path)
{
    typedef InterfaceDetailChar<Detail> Char;
    DWORD required = 0;
    get(set, data, nullptr, 0, &required, nullptr);
    if (required < sizeof(Detail)) {
        std::printf("Error: SetupDiGetInterfaceDeviceDetail failed\n");
        return false;
    }
    auto* detail = static_cast<Detail*>(std::malloc(required));
    if (!detail) {
        std::printf("Error: OpenDeviceInterface: malloc failed\n");
        return false;
    }
    detail->cbSize = sizeof(Detail);
    const bool ok = get(set, data, detail, required, nullptr, nullptr);
    if (ok) {
        const Char* chars = detail->DevicePath;
        const size_t units = (required - offsetof(Detail, DevicePath)) / sizeof(Char);
        size_t n = 0;
        while (n < units && chars[n])
            ++n;
        path->assign(chars, n);
    } else {
        std::printf("Error: SetupDiGetInterfaceDeviceDetail failed\n");
    }
    std::free(detail);
    return ok;
}
