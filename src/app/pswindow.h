// The frameless window base of the main window, the application base with the process-wide native
// event filter, and the process-wide start values read through accessors.
#pragma once

#include "windows.h"

#include <QApplication>
#include <QMargins>
#include <QMetaType>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

// The frame margins travel to the platform window as a variant ("WindowsCustomMargins").
Q_DECLARE_METATYPE(QMargins)

// Hit zones of the main window's hit test.
enum PsHitZone {
    PsHitOutside = 0,
    PsHitInside = 1,
    PsHitTop = 5,
    PsHitTopRight = 6,
    PsHitRight = 7,
    PsHitBottomRight = 8,
    PsHitBottom = 9,
    PsHitBottomLeft = 10,
    PsHitLeft = 11,
    PsHitTopLeft = 12,
};

// The WM_NCHITTEST answer for a hit zone (HTTRANSPARENT for anything unknown).
LRESULT psHitTestAnswer(int zone);

// The Windows message that a native event handler or filter was given; nullptr for any other
// platform's native events, which reach the same handlers.
const MSG* psWindowsMessage(const QByteArray& eventType, const void* message);

// Sides of a window without a screen to measure against.
constexpr int kMaxWindowSide = 4096;
// A window size that a page or the configuration asks for, each side bounded to the primary
// screen's available area (to kMaxWindowSide without a screen) and at least 1.
QSize boundedWindowSize(const QSize& size);

// Where a window of the frame size first shows in area: centred, each side cut to the area's (not
// below least); a window that is still larger starts at the area's top-left corner.
QRect psPlaceInside(const QRect& area, const QSize& frame, const QSize& least);

class PsMainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int MinWidth = 500;
    static constexpr int MinHeight = 300;

    explicit PsMainWindow(QWidget* parent = nullptr);
    ~PsMainWindow() override;

    // Takes the native handle and, when there is one, makes the window frameless. Registers this
    // window as the frameless main window when none is registered yet.
    void psInitFrameless();
    void psInitSize();
    HWND psHwnd() const { return m_hwnd; }
    bool psShown() const { return m_shown; }
    void psFirstShow();
    void psUpdateMargins();
    // The frame that the first show gives the window: inside the work area of the monitor that
    // holds it (the primary one when none does).
    QRect psFirstShowPlace(const QSize& frame) const;

    // The hit zone of a point relative to the client area.
    virtual int hitTest(const QPoint& p) const;
    virtual int borderWidth() const { return 0; }

private:
    bool m_shown = false;
    HWND m_hwnd = 0;
};

class PsApplication : public QApplication {
    Q_OBJECT
public:
    PsApplication(int& argc, char** argv);
    ~PsApplication() override;

    // Replaces the process-wide native event filter; Application::init installs it.
    void psInstallEventFilter();

    // The application's main window, whose messages the filter handles (null: none yet, or no
    // application). Cleared when the window is destroyed.
    static void psSetMainWindow(PsMainWindow* window);
    static PsMainWindow* psMainWindow();

protected:
    // The one record of the main window; Application::mainWindow reads it too.
    QPointer<PsMainWindow> m_mainWindow;
};

// Offsets of the hit-test point while the main window is maximised (0 otherwise).
extern int g_hitTestOffsetX;
extern int g_hitTestOffsetY;

// The executable's directory with a trailing "/", set by Application::init.
QString& exeDirPath();
// "-autostart" was given: the first show minimises and hides the window.
bool& startMinimized();
// Start the updater elevated; nothing sets it, and no caller reads it yet.
bool& elevateUpdater();
