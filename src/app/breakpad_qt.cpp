#include "app/breakpad_qt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What a start of the reporter needs, made before any crash: the crash-time code only reads it.
struct ReporterLaunch {
    QByteArray program; // the reporter's path in the file-name encoding; empty when it did not fit
    std::vector<QByteArray> environment;
    std::vector<char*> envp;
};

BreakpadQt* g_breakpad = nullptr;
std::atomic<ReporterLaunch*> g_launch{nullptr};
std::atomic<bool> g_exitFlag{false};
// The handler's dump folder in UTF-8, as the handler names its files; set once, with the handler.
char g_dumpFolder[PATH_MAX];
// The dump's path, made by the callback; the handler writes one dump at a time.
char g_dumpFile[PATH_MAX];

void writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        size -= size_t(n);
    }
}

// "CreateProcess failed (<code>).\n" on the standard error.
void reportLaunchFailure(int code)
{
    char digits[16];
    int n = 0;
    unsigned v = static_cast<unsigned>(code);
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v && n < int(sizeof digits));
    char line[64] = "CreateProcess failed (";
    size_t used = std::strlen(line);
    while (n)
        line[used++] = digits[--n];
    line[used++] = ')';
    line[used++] = '.';
    line[used++] = '\n';
    writeAll(STDERR_FILENO, line, used);
}

// In the reporter's process, before its program runs: signals as a fresh program has them, the
// standard files on /dev/null and no other file inherited. Reports a failed start on errorFd.
[[noreturn]] void execReporter(char* const argv[], char* const envp[], int errorFd)
{
    if (errorFd <= STDERR_FILENO) {
        const int moved = fcntl(errorFd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved >= 0)
            errorFd = moved;
    }
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction current;
        if (sigaction(sig, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)
            continue;
        struct sigaction fresh;
        std::memset(&fresh, 0, sizeof fresh);
        fresh.sa_handler = SIG_DFL;
        sigaction(sig, &fresh, nullptr);
    }
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO)
            close(null);
    }
    close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv, envp);
    const int error = errno;
    writeAll(errorFd, &error, sizeof error);
    _exit(127);
}

// Starts argv[0] as the grandchild of this process, in a session of its own, and waits only for
// the child between them. Answers 0, or the error that kept the program from starting.
// Async-signal-safe: no fork handlers run, nothing is allocated.
int startDetached(char* const argv[], char* const envp[])
{
    if (!argv[0] || !argv[0][0])
        return ENOENT;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = _Fork();
    if (child < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        return error;
    }
    if (child == 0) {
        setsid();
        const pid_t reporter = _Fork();
        if (reporter == 0)
            execReporter(argv, envp, fds[1]);
        if (reporter < 0) {
            const int error = errno;
            writeAll(fds[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(fds[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do
        got = read(fds[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    close(fds[0]);
    return got == ssize_t(sizeof error) ? error : 0;
}

// Appends text to out (of PATH_MAX bytes) at *used; false when it does not fit.
bool append(char* out, size_t* used, const char* text)
{
    const size_t n = std::strlen(text);
    if (*used + n >= PATH_MAX)
        return false;
    std::memcpy(out + *used, text, n + 1);
    *used += n;
    return true;
}

} // namespace

class BreakpadQtPrivate {
public:
    BreakpadQtPrivate()
        : pHandler(nullptr)
    {
    }
    ~BreakpadQtPrivate()
    {
        // The handlers it replaced come back before anything the callback reads goes.
        delete pHandler;
        g_launch.store(nullptr);
    }

    google_breakpad::ExceptionHandler* pHandler;
    QString dumpFolder;
    // Every launch made; the last one is the current one. A crash may be reading an earlier one.
    std::vector<std::unique_ptr<ReporterLaunch>> launches;
};

BreakpadQt::BreakpadQt()
    : d(new BreakpadQtPrivate)
{
}

BreakpadQt::~BreakpadQt() { delete d; }

BreakpadQt* BreakpadQt::instance()
{
    if (!g_breakpad) {
        g_breakpad = new BreakpadQt;
        std::atexit(&BreakpadQt::destroyInstance);
    }
    return g_breakpad;
}

void BreakpadQt::destroyInstance()
{
    BreakpadQt* breakpad = g_breakpad;
    g_breakpad = nullptr;
    delete breakpad;
}

void BreakpadQt::setDumpPath(const QString& path)
{
    if (!d->pHandler) {
        const QByteArray folder = path.toUtf8();
        if (folder.size() < PATH_MAX)
            std::memcpy(g_dumpFolder, folder.constData(), size_t(folder.size()) + 1);
        d->dumpFolder = path;
        d->pHandler = new google_breakpad::ExceptionHandler(path.toStdWString(), nullptr, &BreakpadQt::dumpCallback,
                                                            nullptr,
                                                            google_breakpad::ExceptionHandler::HANDLER_EXCEPTION);
    }
    setReporter(QStringLiteral("CrashReporter"));
}

QString BreakpadQt::dumpPath() const { return d->dumpFolder; }

void BreakpadQt::setReporter(const QString& reporter)
{
    // A name is never looked up in the working folder: whatever lies there is not what runs.
    QString path = reporter;
    if (!QDir::isAbsolutePath(reporter)) {
        path = QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') + reporter
                               + QStringLiteral(".exe"));
        qDebug("BreakpadQt: setReporter: %s -> %s", qPrintable(reporter), qPrintable(path));
    }
    auto launch = std::make_unique<ReporterLaunch>();
    launch->program = QFile::encodeName(path);
    if (launch->program.size() >= PATH_MAX) {
        qWarning("BreakpadQt: setReporter: the path is too long: %s", launch->program.constData());
        launch->program.clear();
    }
    for (char** entry = environ; entry && *entry; ++entry)
        launch->environment.emplace_back(*entry);
    for (QByteArray& entry : launch->environment)
        launch->envp.push_back(entry.data());
    launch->envp.push_back(nullptr);
    g_launch.store(launch.get());
    d->launches.push_back(std::move(launch));
}

bool BreakpadQt::writeMinidump()
{
    const bool written = d->pHandler && d->pHandler->WriteMinidump();
    if (written)
        qDebug("BreakpadQt: writeMinidump() successed.");
    else
        qWarning("BreakpadQt: writeMinidump() failed.");
    return written;
}

void BreakpadQt::setReporterExitFlag(bool exitFlag) { g_exitFlag.store(exitFlag); }

bool BreakpadQt::dumpCallback(const wchar_t* /*dump_path: the folder kept in g_dumpFolder*/, const wchar_t* minidump_id,
                              void*, EXCEPTION_POINTERS*, MDRawAssertionInfo*, bool succeeded)
{
    // The dump's path: the folder, "/", the id (plain ASCII) and ".dmp".
    size_t used = 0;
    bool fits = append(g_dumpFile, &used, g_dumpFolder) && append(g_dumpFile, &used, "/");
    for (const wchar_t* c = minidump_id; fits && c && *c; ++c) {
        const char ascii[2] = {char(*c), 0};
        fits = *c > 0 && *c < 0x80 && append(g_dumpFile, &used, ascii);
    }
    fits = fits && append(g_dumpFile, &used, ".dmp");
    if (!fits)
        g_dumpFile[0] = 0;

    ReporterLaunch* launch = g_launch.load();
    char none[] = "";
    char* argv[] = {launch ? const_cast<char*>(launch->program.constData()) : none, g_dumpFile, nullptr};
    launchReporter(argv);
    return g_exitFlag.load() ? succeeded : true;
}

bool BreakpadQt::launchReporter(char* const argv[])
{
    ReporterLaunch* launch = g_launch.load();
    char* noEnvironment[] = {nullptr};
    const int error = startDetached(argv, launch ? launch->envp.data() : noEnvironment);
    if (error)
        reportLaunchFailure(error);
    return false;
}
