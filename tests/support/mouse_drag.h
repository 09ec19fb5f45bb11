// A left-button drag as the window system delivers it: press, move and release go to the widget
// under the point (the window itself where no child is).
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace test_support {

// Presses at point `at` of window, moves by `by` and releases there.
inline void dragWithLeftButton(QWidget* window, const QPoint& at, const QPoint& by)
{
    QWidget* target = window->childAt(at) ? window->childAt(at) : window;
    const QPoint local = target->mapFrom(window, at);
    const QPoint global = window->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent move(QEvent::MouseMove, local + by, global + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + by, global + by, Qt::LeftButton, Qt::NoButton,
        Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

} // namespace test_support
