// Crashes arrive as signals. Everything the signal handler needs is made when the handler is
// installed; inside it only async-signal-safe calls are made.
#include "client/windows/handler/exception_handler.h"
#include "crashdump_control/handlers.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

namespace google_breakpad {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kSignalCount = int(sizeof kSignals / sizeof kSignals[0]);
constexpr int kMaxFrames = 64;
constexpr size_t kAltStackSize = 256 * 1024;
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" and its NUL.
constexpr int kIdSize = 37;

void crashSignalHandler(int sig, siginfo_t* info, void* context);

// The handler that crashes go to (the last one made that still exists).
std::atomic<ExceptionHandler::Impl*> g_current{nullptr};
// The thread that is writing a dump, 0 while none is: one dump at a time. After a crash was handled
// it stays taken until the process has ended.
std::atomic<pid_t> g_writer{0};

pid_t threadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void sleepBriefly()
{
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

// Takes the dump gate for this thread; false when this thread holds it already.
bool takeGate()
{
    const pid_t me = threadId();
    for (;;) {
        pid_t expected = 0;
        if (g_writer.compare_exchange_strong(expected, me))
            return true;
        if (expected == me)
            return false;
        sleepBriefly();
    }
}

void releaseGate() { g_writer.store(0); }

// A new random (version 4) id in lower-case hexadecimal.
void makeId(char out[kIdSize])
{
    unsigned char bytes[16] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0 && errno != EINTR)
            break;
        if (n > 0)
            got += size_t(n);
    }
    if (got < sizeof bytes) {
        // No random source: time and process make the id unique enough for file names.
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        const unsigned long long mix[2] = {static_cast<unsigned long long>(now.tv_sec) ^ static_cast<unsigned long long>(getpid()) << 32,
                                           static_cast<unsigned long long>(now.tv_nsec)};
        std::memcpy(bytes, mix, sizeof bytes);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    static const char hex[] = "0123456789abcdef";
    int o = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out[o++] = '-';
        out[o++] = hex[bytes[i] >> 4];
        out[o++] = hex[bytes[i] & 0xF];
    }
    out[o] = 0;
}

// The text in UTF-8; false when it holds a value that is no character.
bool toUtf8(const std::wstring& text, std::string* out)
{
    out->clear();
    for (wchar_t wc : text) {
        const unsigned long c = static_cast<unsigned long>(wc);
        if (c < 0x80) {
            out->push_back(char(c));
        } else if (c < 0x800) {
            out->push_back(char(0xC0 | (c >> 6)));
            out->push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            if (c >= 0xD800 && c < 0xE000)
                return false;
            out->push_back(char(0xE0 | (c >> 12)));
            out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x110000) {
            out->push_back(char(0xF0 | (c >> 18)));
            out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(char(0x80 | (c & 0x3F)));
        } else {
            return false;
        }
    }
    return true;
}

// Lines of the dump into a file, through a small buffer; async-signal-safe.
class DumpWriter {
public:
    explicit DumpWriter(int fd)
        : m_fd(fd)
    {
    }
    ~DumpWriter() { flush(); }

    void text(const char* s)
    {
        while (*s)
            put(*s++);
    }
    void decimal(const char* key, long long value)
    {
        text(key);
        put(' ');
        char digits[24];
        int n = 0;
        unsigned long long v = value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        if (value < 0)
            put('-');
        while (n)
            put(digits[--n]);
        put('\n');
    }
    void address(const char* key, uintptr_t value)
    {
        if (key) {
            text(key);
            put(' ');
        }
        static const char hex[] = "0123456789abcdef";
        text("0x");
        for (int shift = int(sizeof value * 8) - 4; shift >= 0; shift -= 4)
            put(hex[(value >> shift) & 0xF]);
        put('\n');
    }
    bool ok()
    {
        flush();
        return m_ok;
    }

private:
    void put(char c)
    {
        if (m_used == sizeof m_buffer)
            flush();
        m_buffer[m_used++] = c;
    }
    void flush()
    {
        size_t done = 0;
        while (m_ok && done < m_used) {
            const ssize_t n = write(m_fd, m_buffer + done, m_used - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                m_ok = false;
            else
                done += size_t(n);
        }
        m_used = 0;
    }

    int m_fd;
    char m_buffer[512];
    size_t m_used = 0;
    bool m_ok = true;
};

uintptr_t programCounter(void* context)
{
    if (!context)
        return 0;
    const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

DWORD exceptionCode(int sig)
{
    switch (sig) {
    case SIGSEGV: return EXCEPTION_ACCESS_VIOLATION;
    case SIGBUS: return EXCEPTION_IN_PAGE_ERROR;
    case SIGILL: return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE: return EXCEPTION_INT_DIVIDE_BY_ZERO;
    default: return STATUS_FATAL_APP_EXIT;
    }
}

void setDefaultAction(int sig)
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

// Makes the signal come again once the handler returns. A fault caused by an instruction comes
// again by itself when the instruction runs again; a sent signal (kill, raise, abort) is sent anew.
void retrigger(int sig, const siginfo_t* info)
{
    if (!info || info->si_code <= 0 || sig == SIGABRT)
        syscall(SYS_tgkill, getpid(), threadId(), sig);
}

} // namespace

struct ExceptionHandler::Impl {
    std::wstring dumpPath;
    FilterCallback filter = nullptr;
    MinidumpCallback callback = nullptr;
    void* context = nullptr;
    bool installed = false;
    // The dump that comes next: its id and its file's path (empty: the folder's path cannot be
    // written as a file name).
    char id[kIdSize] = {};
    wchar_t wideId[kIdSize] = {};
    std::string folder;
    std::string file;
    struct sigaction previous[kSignalCount];
    Impl* previousHandler = nullptr;
    void* altStack = nullptr;
    stack_t previousAltStack;
    pid_t installer = 0;

    void prepareNextDump()
    {
        makeId(id);
        for (int i = 0; i < kIdSize; ++i)
            wideId[i] = static_cast<wchar_t>(static_cast<unsigned char>(id[i]));
        file.clear();
        if (!folder.empty() && folder.size() + kIdSize + 5 < PATH_MAX)
            file = folder + "/" + id + ".dmp";
    }

    void install()
    {
        // Unwinding loads its library on first use, which is not safe inside a signal handler.
        void* frames[1];
        backtrace(frames, 1);

        void* stack = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (stack != MAP_FAILED) {
            stack_t ours;
            ours.ss_sp = stack;
            ours.ss_size = kAltStackSize;
            ours.ss_flags = 0;
            if (sigaltstack(&ours, &previousAltStack) == 0) {
                altStack = stack;
                installer = threadId();
            } else {
                munmap(stack, kAltStackSize);
            }
        }

        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_sigaction = crashSignalHandler;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        for (int sig : kSignals)
            sigaddset(&action.sa_mask, sig);
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &action, &previous[i]);
        previousHandler = g_current.exchange(this);
        installed = true;
    }

    // Async-signal-safe.
    void restorePrevious()
    {
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &previous[i], nullptr);
        g_current.store(previousHandler);
    }

    // Writes the dump: sig 0 for one on request. Async-signal-safe.
    bool writeDump(int sig, int code, uintptr_t faultAddress, uintptr_t pc)
    {
        if (file.empty())
            return false;
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        bool ok;
        {
            DumpWriter out(fd);
            out.text("crash-dump 1\n");
            out.decimal("signal", sig);
            out.decimal("code", code);
            out.address("address", faultAddress);
            out.decimal("process", getpid());
            out.decimal("thread", threadId());
            out.address("pc", pc);
            void* frames[kMaxFrames];
            const int count = backtrace(frames, kMaxFrames);
            out.decimal("frames", count);
            for (int i = 0; i < count; ++i)
                out.address(nullptr, reinterpret_cast<uintptr_t>(frames[i]));
            out.text("end\n");
            ok = out.ok();
        }
        if (close(fd) != 0 && errno != EINTR)
            ok = false;
        return ok;
    }

    // True when the crash has been handled. Async-signal-safe.
    bool handleSignal(int sig, siginfo_t* info, void* ucontext)
    {
        const uintptr_t pc = programCounter(ucontext);
        EXCEPTION_RECORD record;
        std::memset(&record, 0, sizeof record);
        record.ExceptionCode = exceptionCode(sig);
        record.ExceptionAddress = reinterpret_cast<PVOID>(pc);
        const bool hasAddress = sig == SIGSEGV || sig == SIGBUS;
        if (hasAddress) {
            record.NumberParameters = 2;
            record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
        }
        EXCEPTION_POINTERS pointers = {&record, nullptr};
        if (filter && !filter(context, &pointers, nullptr))
            return false;
        const bool faultHasAddress = hasAddress || sig == SIGILL || sig == SIGFPE;
        const uintptr_t address = faultHasAddress && info->si_code > 0 ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
        const bool written = writeDump(sig, info->si_code, address, pc);
        if (callback)
            return callback(dumpPath.c_str(), wideId, context, &pointers, nullptr, written);
        return written;
    }
};

namespace {

void crashSignalHandler(int sig, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    if (!takeGate()) {
        // A crash while this thread writes a dump: nothing more is attempted.
        setDefaultAction(sig);
        retrigger(sig, info);
        errno = savedErrno;
        return;
    }
    ExceptionHandler::Impl* handler = g_current.load();
    if (!handler || handler->handleSignal(sig, info, context)) {
        // The gate stays taken: no other thread writes a dump before the process has ended.
        setDefaultAction(sig);
    } else {
        handler->restorePrevious();
        releaseGate();
    }
    retrigger(sig, info);
    errno = savedErrno;
}

} // namespace

ExceptionHandler::ExceptionHandler(const std::wstring& dump_path, FilterCallback filter, MinidumpCallback callback,
                                   void* callback_context, int handler_types)
    : impl_(new Impl)
{
    impl_->dumpPath = dump_path;
    impl_->filter = filter;
    impl_->callback = callback;
    impl_->context = callback_context;
    if (!toUtf8(dump_path, &impl_->folder))
        impl_->folder.clear();
    impl_->prepareNextDump();
    if (handler_types & HANDLER_EXCEPTION)
        impl_->install();
}

ExceptionHandler::~ExceptionHandler()
{
    if (impl_->installed) {
        // A dump being written finishes first, with everything it uses still there.
        const bool took = takeGate();
        if (g_current.load() == impl_)
            impl_->restorePrevious();
        else
            for (int i = 0; i < kSignalCount; ++i)
                sigaction(kSignals[i], &impl_->previous[i], nullptr);
        if (took)
            releaseGate();
        // The alternate stack belongs to the installing thread; only there can it be taken back.
        if (impl_->altStack && impl_->installer == threadId()) {
            stack_t current;
            if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == impl_->altStack
                && !(current.ss_flags & SS_ONSTACK)) {
                if (impl_->previousAltStack.ss_flags & SS_DISABLE) {
                    stack_t off;
                    std::memset(&off, 0, sizeof off);
                    off.ss_flags = SS_DISABLE;
                    sigaltstack(&off, nullptr);
                } else {
                    sigaltstack(&impl_->previousAltStack, nullptr);
                }
                munmap(impl_->altStack, kAltStackSize);
            }
        }
    }
    delete impl_;
}

bool ExceptionHandler::WriteMinidump()
{
    if (!takeGate())
        return false;
    void* caller = __builtin_return_address(0);
    const bool written = impl_->writeDump(0, 0, 0, reinterpret_cast<uintptr_t>(caller));
    bool result = written;
    if (impl_->callback)
        result = impl_->callback(impl_->dumpPath.c_str(), impl_->wideId, impl_->context, nullptr, nullptr, written);
    impl_->prepareNextDump();
    releaseGate();
    return result;
}

std::wstring ExceptionHandler::dump_path() const { return impl_->dumpPath; }

} // namespace google_breakpad

namespace crashdump_control {

bool handlersInPlace()
{
    for (int sig : google_breakpad::kSignals) {
        struct sigaction current;
        if (sigaction(sig, nullptr, &current) != 0 || !(current.sa_flags & SA_SIGINFO)
            || current.sa_sigaction != google_breakpad::crashSignalHandler)
            return false;
    }
    return true;
}

} // namespace crashdump_control
