// Hooks that would stop a running macro from watched keys, with a virtual-device client of their
// own, and a device thread object. No part of the program uses them.
#pragma once

#include "devices/vmulti_client.h"

#include <QObject>

class Device_Record : public QObject {
    Q_OBJECT
public:
    // Installs the keyboard and the mouse hook (removing both first when they are installed); true
    // when both are. When the mouse hook fails the keyboard hook is removed again.
    static bool installHooks();
    static void removeHooks();
    // Swallows presses of watched keys while the client exists; mode 1 stops the macro output on
    // every second press, mode 2 on the release of a pressed key.
    static LRESULT CALLBACK keyboardHookProc(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK mouseHookProc(int code, WPARAM wParam, LPARAM lParam);
    // Empties the watched keys and their modes (nothing fills them).
    static void clearWatchedKeys();
    // Allocates and connects a client; none is kept when connecting fails.
    static void createVMulti();
    static void freeVMulti();
    // Sets a flag nothing reads.
    static void setRecording(bool recording);
};

class device_thread : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void signal_device();

public slots:
    void slot_device();
};
