// The frameless main window of the shell's window tests, and what they share.
#pragma once

#include "test_app.h"
#include "wait.h"

#include "app/pswindow.h"
#include "app/shadow_windows.h"
#include "windows.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace frameless_test {

// Records the messages that reach the window's own native handler.
class RecordingWindow : public PsMainWindow {
public:
    std::vector<MSG> received;

    bool hasReceived(UINT msg, WPARAM wParam, LPARAM lParam) const
    {
        for (const MSG& m : received)
            if (m.message == msg && m.wParam == wParam && m.lParam == lParam)
                return true;
        return false;
    }

protected:
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override
    {
        if (eventType == "windows_generic_MSG")
            received.push_back(*static_cast<MSG*>(message));
        return PsMainWindow::nativeEvent(eventType, message, result);
    }
};

// Lets posted events and deferred deletions run.
inline void settle()
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

// The place of a strip around a main-window rectangle on the screen.
inline QRect stripAround(int index, const QRect& window)
{
    const int m = g_shadows.edge();
    switch (index) {
    case PsWindowShadows::Top:
        return QRect(window.x(), window.y() - m, window.width(), m);
    case PsWindowShadows::Right:
        return QRect(window.x() + window.width(), window.y() - m, m, window.height() + 2 * m);
    case PsWindowShadows::Bottom:
        return QRect(window.x(), window.y() + window.height(), window.width(), m);
    default:
        return QRect(window.x() - m, window.y() - m, m, window.height() + 2 * m);
    }
}

// A frameless main window shown for the first time, with its shadows.
class ShadowedWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get()->psInstallEventFilter();
        main = new RecordingWindow;
        main->resize(initialSize());
        main->winId();
        main->psInitFrameless();
        main->psInitSize();
        main->psFirstShow();
        ASSERT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000));
    }
    void TearDown() override
    {
        PsApplication::psSetMainWindow(nullptr);
        delete main;
        settle();
    }
    virtual QSize initialSize() const { return QSize(600, 400); }

    static QWidget* strip(int index) { return g_shadows.window(index); }
    static HWND stripHwnd(int index) { return static_cast<HWND>(strip(index)->winId()); }

    // Every strip shown where the main window's frame puts it.
    bool stripsFollow() const
    {
        for (int i = 0; i < 4; ++i) {
            QWidget* s = strip(i);
            if (!s || !s->isVisible() || s->geometry() != stripAround(i, main->frameGeometry()))
                return false;
        }
        return true;
    }
    bool stripsHidden() const
    {
        for (int i = 0; i < 4; ++i)
            if (!strip(i) || strip(i)->isVisible())
                return false;
        return true;
    }

    // A press of the left button at a strip's point, a move by delta with the button held, and the
    // release, as the window system delivers them to the pressed window.
    static void drag(QWidget* target, const QPoint& at, const QPoint& delta)
    {
        QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, at);
        const QPoint global = target->mapToGlobal(at);
        for (int step = 1; step <= 2; ++step) {
            const QPoint d = delta * step / 2;
            QMouseEvent move(QEvent::MouseMove, at + d, global + d, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &move);
        }
        QMouseEvent release(QEvent::MouseButtonRelease, at + delta, global + delta, Qt::LeftButton, Qt::NoButton,
            Qt::NoModifier);
        QApplication::sendEvent(target, &release);
    }

    RecordingWindow* main = nullptr;
};

} // namespace frameless_test
