// The mouse-track recorder: positions and times of the left-button releases anywhere on the screen.
#pragma once

#include <QObject>
#include <QString>

class hook_handler : public QObject {
    Q_OBJECT
public:
    // Starts recording; false when the recorder cannot watch the mouse.
    static bool startMouseTracks();
    // Stops recording and returns everything recorded since the program started.
    static QString stopMouseTracks();
};
