// The drop shadow's windows: each strip of the model (window_shadows.h) shown in a translucent
// tool window of its own, below the main window, whose window procedure is PsWindowShadows::wndProc.
#pragma once

#include "app/window_shadows.h"

#include "windows.h"

#include <QColor>

#include <array>

class QPoint;
class QSize;
class QWidget;

class PsWindowShadows : public PsShadowModel {
public:
    // Flags of update; Activate is given alone.
    enum ShadowChange {
        Moved = 1,
        Resized = 2,
        Shown = 4,
        Hidden = 8,
        Activate = 16,
    };

    PsWindowShadows() = default;
    ~PsWindowShadows();
    PsWindowShadows(const PsWindowShadows&) = delete;
    PsWindowShadows& operator=(const PsWindowShadows&) = delete;

    // Builds the tables from ":/image/sprite", creates the bitmaps and the (hidden) windows and
    // paints the strips' start ends. False when the sprite gives no profile or a bitmap cannot be
    // made; every later call then does nothing. A second call starts again from nothing.
    bool init(QColor color);
    // Places, repaints, shows or hides the windows for the main window's change.
    void update(int changes, WINDOWPOS* pos = nullptr);
    // The shadow colour (its alpha is ignored); repaints and places everything again.
    void setColor(QColor color);
    // Releases the windows and the bitmaps.
    void destroy();

    bool isHidden() const { return hidden; }
    // Shows the part of its bitmap that the window's size covers (origin at the bitmap's); without
    // a size the window keeps the one last placed.
    void updateWindow(int index, const QPoint& position, const QSize* size);
    // The window system has put a strip's window somewhere: when that is not the strip's place, the
    // place is asked for again. The toolkit takes each answer of the window system as the window's
    // geometry and leaves out a request that matches it, so while the answer to an earlier request
    // is still on its way a request for the strip's place can be lost.
    void windowPlaced(int index);
    // The window procedure of the four windows.
    static LRESULT CALLBACK wndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // The strip window of an index (null before init and after destroy).
    QWidget* window(int index) const { return windows[index]; }

private:
    int indexOf(HWND hwnd) const;
    void placeBelowMain() const;

    bool hidden = true;
    std::array<QWidget*, 4> windows{};
    std::array<HWND, 4> hwnds{};
    // Per strip: the other place the window system gave after the last request, which was
    // answered by asking for the strip's place again.
    std::array<QRect, 4> refused{};
};

extern PsWindowShadows g_shadows;
// Set while there is no shown main window to follow: the window procedure then does the default.
extern bool g_shadowsDisabled;
// M, for the window procedure.
extern int g_shadowEdge;
extern QColor g_activeShadowColor;
extern QColor g_inactiveShadowColor;
