#include "devices/command_exec.h"

#include "include/base/cef_logging.h"

#include <QMutexLocker>
#include <QThread>

commandExec::commandExec(QThread* thread, const QList<MacroAction>& actions, pvmulti_client vmulti, int playType,
                         int playCount, int keyState)
    : m_actions(actions)
    , m_vmulti(vmulti)
    , m_playType(playType)
    , m_playCount(playCount)
    , m_keyState(keyState)
{
    moveToThread(thread);
    connect(thread, &QThread::started, this, &commandExec::start);
}

commandExec::~commandExec() { quit(); }

void commandExec::setTask(pvmulti_client vmulti, const QList<MacroAction>& actions, int playType, int playCount,
                          int keyState)
{
    QMutexLocker lock(&m_mutex);
    m_vmulti = vmulti;
    m_actions = actions;
    m_playType = playType;
    m_playCount = playCount;
    m_keyState = keyState;
    m_stopped = false;
    m_pending = true;
    m_cond.wakeAll();
}

void commandExec::stopOutput()
{
    QMutexLocker lock(&m_mutex);
    m_stopped = true;
}

void commandExec::onStopOutput(bool stop)
{
    if (stop)
        stopOutput();
}

void commandExec::quit()
{
    QMutexLocker lock(&m_mutex);
    m_quit = true;
    m_cond.wakeAll();
}

MacroTask commandExec::task() const
{
    QMutexLocker lock(&m_mutex);
    MacroTask t;
    t.playType = m_playType;
    t.playCount = m_playCount;
    t.actions = m_actions;
    return t;
}

int commandExec::keyState() const
{
    QMutexLocker lock(&m_mutex);
    return m_keyState;
}

void commandExec::start()
{
    LOG(INFO) << "start PASS.....";
    QMutexLocker lock(&m_mutex);
    while (!m_quit) {
        if (m_pending) {
            m_pending = false;
            m_stopped = true;
            pvmulti_client vmulti = m_vmulti;
            lock.unlock();
            emit taskFinished(vmulti);
            lock.relock();
            continue;
        }
        m_cond.wait(&m_mutex);
        LOG(INFO) << "WAIT PASS.....";
    }
}
