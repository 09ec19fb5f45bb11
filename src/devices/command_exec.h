// The macro worker: plays macro tasks on the virtual HID device, one at a time, on a thread of
// its own.
#pragma once

#include "devices/vmulti_client.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

// One step of a macro: (type, value), e.g. ("down", "04"), ("delayTime", "50").
typedef QPair<QString, QString> MacroAction;

struct MacroTask {
    int playType = 0;
    int playCount = 0;
    QList<MacroAction> actions;
};

// Time and chance as the macro worker sees them: the system's steady clock and local time, and
// Qt's random generator. Tests put in a clock they drive.
class MacroClock {
public:
    virtual ~MacroClock() = default;

    // Sleeps ms milliseconds on cond, whose mutex lock holds, unless interrupted() holds first;
    // interrupted() is asked again whenever cond is notified. True when the whole time passed.
    virtual bool sleep(std::condition_variable& cond, std::unique_lock<std::mutex>& lock, int ms,
                       const std::function<bool()>& interrupted);
    // The local time of day, in milliseconds since midnight.
    virtual int msecsSinceMidnight();
    // The first number, 0 or more, of the random generator seeded with seed.
    virtual int randomAfterSeed(uint seed);
};

class commandExec : public QObject {
    Q_OBJECT
public:
    // Has a URL opened by the desktop's handler. Called on the worker thread, it must not wait:
    // the desktop is asked on the GUI thread.
    typedef std::function<void(const QUrl&)> UrlOpener;

    // Takes the first task and moves to thread; the worker starts with the thread. Without a
    // clock the system's is used; without an opener the desktop's handler is asked directly.
    commandExec(QThread* thread, const QList<MacroAction>& actions, pvmulti_client vmulti, int playType,
                int playCount, int keyState, std::shared_ptr<MacroClock> clock = nullptr, UrlOpener opener = nullptr);
    ~commandExec() override;

    // Hands over the next task, from any thread. Tasks play in the order they were handed over;
    // a new task ends the task playing (once that has played its first action, so that a press
    // handed over just before its release is played) with the release reports, and waits for the
    // tasks before it. The release of anything but a single key or button (playType 0, keyState
    // 1) is ignored.
    void setTask(pvmulti_client vmulti, const QList<MacroAction>& actions, int playType, int playCount,
                 int keyState);
    // Ends the task playing and skips those waiting: every task handed over before the call, and
    // releases a single key or button left pressed for its release task. The worker acknowledges
    // with the release reports before it plays a task handed over later. Any thread.
    void stopOutput();
    // Ends the worker loop: the task playing, or a single key or button left pressed, ends with
    // the release reports, those waiting are skipped, and start() returns. Any thread; waits for
    // nothing.
    void quit();

    // Releases every key of the virtual keyboard on vmulti, unless a task plays or waits, a stop
    // waits for its release reports, or the last task holds its key until its release task (a
    // single key pressed with playType 0). True when it did. Any thread.
    bool releaseKeysWhenIdle(pvmulti_client vmulti);
    // No task plays or waits, no release reports are due, and the last task's taskFinished has
    // been emitted (so a queued receiver has it in its queue).
    bool isIdle() const;

signals:
    void taskFinished(pvmulti_client m_vmultia);

public slots:
    // The worker loop: plays each task handed over, reports it finished, and waits for the next
    // one until quit().
    void start();
    // Plays the current task's actions once (worker thread).
    void executeCommand();
    void onStopOutput(bool stop);

private:
    struct Task {
        quint64 generation;
        pvmulti_client vmulti;
        QList<MacroAction> actions;
        int playType;
        int playCount;
        int keyState;
    };

    // Worker thread.
    void runTask();
    void runAction(const QString& type, const QString& value);
    // Ends the task at once with an empty keyboard and an empty mouse report.
    void stopOutputNow();
    // The task must end: ends it (stopOutputNow) the first time, and answers true.
    bool ended();
    // Sleeps ms unless the task must end first; false then.
    bool pause(int ms);
    int jittered(int ms);
    // A single key or button: pressed by the press task, released by the release task (playType
    // 0), or clicked on each pass (playType 1 and 2).
    void single(bool key, BYTE code);
    void keyboard(BYTE modifiers, BYTE key);
    void mouse(BYTE buttons, BYTE wheel);
    void typeText(const QString& text);

    bool mustStop() const; // m_mutex held

    // The task playing, on the worker thread.
    QList<MacroAction> m_actions;
    pvmulti_client m_vmulti = nullptr;
    int m_playType = 0;
    int m_playCount = 0;
    int m_keyState = 0;
    bool m_begun = false; // its first action has started
    bool m_ended = false; // stopOutputNow has ended it
    QMap<ushort, uchar> m_modifierBits;
    std::shared_ptr<MacroClock> m_clock;
    UrlOpener m_opener;

    // Shared with the threads that hand tasks over.
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<Task> m_queue;        // handed over, not begun, oldest first
    pvmulti_client m_client = nullptr; // of the last task handed over
    quint64 m_handedOver = 0;        // generation of the last task handed over
    quint64 m_stopUpTo = 0;          // a stop ends or skips every task up to this generation
    quint64 m_playing = 0;           // generation of the task playing; 0 while none plays
    bool m_preempted = false;        // a newer task was handed over while it played
    bool m_releaseDue = false;       // a stop or a newer task waits for the release reports
    // The last task left a single key or button pressed for its release task.
    enum class Holding { Nothing, Key, Button };
    Holding m_holding = Holding::Nothing;
    bool m_busy = false;             // the worker plays or writes release reports
    bool m_announcing = false;       // a task ended and its taskFinished is being emitted
    bool m_quit = false;
};
