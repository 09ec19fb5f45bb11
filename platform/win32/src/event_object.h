// Event objects (CreateEventA). Their states share one lock and one condition, so a wait can watch
// several at once; drivers signal the events that callers handed them.
#pragma once

#include "handle_table.h"

namespace win32_internal {

class EventObject : public KernelObject {
public:
    explicit EventObject(bool manualReset, bool signalled)
        : manualReset(manualReset)
        , signalled(signalled)
    {
    }
    bool closedByCloseHandle() const override { return true; }

    void set();
    void reset();

    const bool manualReset;
    bool signalled; // guarded by the events' lock
};

} // namespace win32_internal
