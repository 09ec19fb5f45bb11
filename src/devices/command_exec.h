// The macro worker: plays macro tasks on the virtual HID device, one at a time, on a thread of
// its own.
#pragma once

#include "devices/vmulti_client.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>
#include <QWaitCondition>

class QThread;

// One step of a macro: (type, value), e.g. ("down", "04"), ("delayTime", "50").
typedef QPair<QString, QString> MacroAction;

struct MacroTask {
    int playType = 0;
    int playCount = 0;
    QList<MacroAction> actions;
};

class commandExec : public QObject {
    Q_OBJECT
public:
    // Takes the first task and moves to thread; the worker starts with the thread.
    commandExec(QThread* thread, const QList<MacroAction>& actions, pvmulti_client vmulti, int playType,
                int playCount, int keyState);
    ~commandExec() override;

    // Hands over the next task and wakes the worker.
    void setTask(pvmulti_client vmulti, const QList<MacroAction>& actions, int playType, int playCount,
                 int keyState);
    // The worker stops playing at its next check.
    void stopOutput();
    // Ends the worker loop; the thread's event loop then runs on.
    void quit();

    // The task the worker holds, and its key state.
    MacroTask task() const;
    int keyState() const;

signals:
    void taskFinished(pvmulti_client m_vmultia);

public slots:
    // The worker loop: each task handed over is reported finished, then the worker waits for
    // the next one.
    void start();
    void onStopOutput(bool stop);

private:
    mutable QMutex m_mutex;
    QWaitCondition m_cond;
    QList<MacroAction> m_actions;
    pvmulti_client m_vmulti;
    int m_playType;
    int m_playCount;
    int m_keyState;
    bool m_stopped = false;
    bool m_pending = true; // a task waits to be played
    bool m_quit = false;
};
