// A key sequence that acts system-wide, whichever window has the focus.
#pragma once

#include <QKeySequence>
#include <QObject>

class GlobalShortcut : public QObject {
    Q_OBJECT
public:
    explicit GlobalShortcut(QObject* parent = nullptr);

    // Takes the key sequence for this shortcut; false when the system does not grant it. No
    // system-wide key grab is made here, so it is never granted.
    bool setShortcut(const QKeySequence& shortcut);

signals:
    void activated();
};
