// The drop shadows around the frameless main window: the interface the frame code drives.
#pragma once

#include "windows.h"

#include <QColor>

class PsWindowShadows {
public:
    // Flags of update; Activate is given alone.
    enum ShadowChange {
        Moved = 1,
        Resized = 2,
        Shown = 4,
        Hidden = 8,
        Activate = 16,
    };

    // Creates the shadow windows; false when they could not be made (every later call then does nothing).
    bool init(QColor color);
    void update(int changes, WINDOWPOS* pos = nullptr);
    void setColor(QColor color);
    void destroy();

private:
    bool m_ready = false;
};

extern PsWindowShadows g_shadows;
// Set while there is no shown main window to follow.
extern bool g_shadowsDisabled;
extern QColor g_activeShadowColor;
extern QColor g_inactiveShadowColor;
