#include "app/quit_signals.h"

#include <QtGlobal>

#ifdef Q_OS_WIN

void installQuitSignals(QObject*) {}

#else

#include "app/application.h"
#include "app/window.h"

#include "include/base/cef_logging.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The handler's only work: one byte into the pipe, read on the GUI thread.
int g_pipe[2] = {-1, -1};

void onQuitSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = char(signal);
    if (::write(g_pipe[1], &byte, 1) < 0) {
        // The pipe is full: a quit is on its way already.
    }
    errno = savedErrno;
}

void setDisposition(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // After the first signal the default comes back: a second one ends a program that hangs.
    action.sa_flags = SA_RESTART | (handler == SIG_DFL ? 0 : SA_RESETHAND);
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
}

} // namespace

void installQuitSignals(QObject* owner)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        reportFailure(QStringLiteral("SIGTERM, SIGHUP and SIGINT will end the program without writing its files back: no pipe"));
        return;
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char bytes[16];
        int number = 0;
        for (ssize_t n; (n = ::read(g_pipe[0], bytes, sizeof bytes)) > 0;)
            number = bytes[n - 1];
        LOG(INFO) << "signal " << number << ": quitting";
        if (Window* window = appMainWindow())
            window->oncloseApp();
        else
            quitApplication();
    });
    QObject::connect(owner, &QObject::destroyed, [] { setDisposition(SIG_DFL); });
    setDisposition(onQuitSignal);
}

#endif
