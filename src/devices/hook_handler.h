// The mouse-track recorder: positions and times of the left-button releases anywhere on the
// screen, seen through a low-level mouse hook installed on the GUI thread; and a keyboard-track
// procedure that nothing installs.
#pragma once

#include "windows.h"

#include <QObject>
#include <QString>

class hook_handler : public QObject {
    Q_OBJECT
public:
    // Starts a recording, empty; false when the hook cannot be installed. A recording still running
    // is stopped first and its text dropped.
    static bool startMouseTracks();
    // Ends the recording (the hook is removed) and returns its text, one
    // "x:X,y:YTime:T;" per release, T in milliseconds since midnight; the same text until the next
    // start.
    static QString stopMouseTracks();

    static LRESULT CALLBACK mouseTracksProc(int code, WPARAM wParam, LPARAM lParam);
    // Would send a delay and a press or release item ("macroItem") per key event; nothing installs it.
    static LRESULT CALLBACK keyTracksProc(int code, WPARAM wParam, LPARAM lParam);
};
