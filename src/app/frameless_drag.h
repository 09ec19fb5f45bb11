// Moving and resizing frameless windows: a hit-test code (HTCAPTION, or an edge or corner code from
// HTLEFT to HTBOTTOMRIGHT) at a press of the left mouse button becomes the window manager's move or
// resize of the top-level window. Where no window manager takes it (none is running, the platform
// has none, or the press was not on the window itself) the window follows the mouse itself until the
// button is released; a resize keeps within its minimum and maximum sizes and the work area of its
// monitor.
#pragma once

#include <QPoint>
#include <QRect>
#include <Qt>

class QMouseEvent;
class QWidget;

// The edges that a resize hit code moves; none for any other code.
Qt::Edges psHitTestEdges(int hitCode);
// The cursor over a zone that answers hitCode.
Qt::CursorShape psHitTestCursor(int hitCode);

// The work area of the monitor that holds most of frame (the primary one when none does); empty
// without monitors.
QRect psWorkAreaOf(const QRect& frame);

// The window's answer to WM_NCHITTEST at a screen point, as its window procedure gives it.
int psHitTestAt(QWidget* window, const QPoint& globalPos);

// Starts moving (HTCAPTION) or resizing (an edge or corner) the top-level window of widget, for a
// press of the left button at globalPos. False, and nothing happens, for any other code or when
// the window has no native window.
bool psStartSystemDrag(QWidget* widget, int hitCode, const QPoint& globalPos);

// For a frameless window whose native event handler answers WM_NCHITTEST: a left-button press on
// it moves or resizes it as its hit test at the press answers. Call from mousePressEvent; true
// when a move or resize started.
bool psDragByHitTest(QWidget* window, const QMouseEvent* event);
