#include "include/base/cef_logging.h"

#include "cef_extras/logging.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include <sys/stat.h>

namespace cef_logging {
namespace {

std::mutex& logMutex()
{
    static std::mutex m;
    return m;
}

std::string g_path;
LogSeverity g_minSeverity = LOG_INFO;

// The destination stays open between lines (opening it for every line cost more than the rest of
// a line); which file it is tells whether the path still names it.
struct OpenFile {
    FILE* file = nullptr;
    dev_t device = 0;
    ino_t inode = 0;
};
OpenFile g_open;

void closeFile()
{
    if (g_open.file)
        std::fclose(g_open.file);
    g_open = OpenFile();
}

// The file at g_path, opened for appending; reopened when the path names another file (removed or
// replaced meanwhile). Null when it cannot be opened. Under the log lock.
FILE* destination()
{
    struct stat st;
    if (g_open.file &&
        (::stat(g_path.c_str(), &st) != 0 || st.st_dev != g_open.device || st.st_ino != g_open.inode))
        closeFile();
    if (!g_open.file) {
        FILE* f = std::fopen(g_path.c_str(), "a");
        if (!f)
            return nullptr;
        if (::fstat(fileno(f), &st) != 0) {
            std::fclose(f);
            return nullptr;
        }
        g_open.file = f;
        g_open.device = st.st_dev;
        g_open.inode = st.st_ino;
    }
    return g_open.file;
}

// The size of the open destination, -1 when unknown.
long openSize()
{
    struct stat st;
    return g_open.file && ::fstat(fileno(g_open.file), &st) == 0 ? long(st.st_size) : -1;
}

LogSeverity fromSetting(cef_log_severity_t s)
{
    switch (s) {
    case LOGSEVERITY_VERBOSE: return LOG_VERBOSE;
    case LOGSEVERITY_WARNING: return LOG_WARNING;
    case LOGSEVERITY_ERROR: return LOG_ERROR;
    case LOGSEVERITY_DISABLE: return LOG_FATAL + 1;
    case LOGSEVERITY_DEFAULT:
    case LOGSEVERITY_INFO:
    default: return LOG_INFO;
    }
}

const char* severityName(LogSeverity s)
{
    switch (s) {
    case LOG_VERBOSE: return "VERBOSE";
    case LOG_INFO: return "INFO";
    case LOG_WARNING: return "WARNING";
    case LOG_ERROR: return "ERROR";
    default: return "FATAL";
    }
}

// Room kept at the bound for the marker of a cut line.
const std::size_t kMarkerRoom = 48;

// Rotates the log at its bound: the file becomes "<path>.1", or starts over when it cannot be
// moved. Under the log lock, the file closed.
void rotate()
{
    if (std::rename(g_path.c_str(), (g_path + ".1").c_str()) != 0)
        if (FILE* f = std::fopen(g_path.c_str(), "w"))
            std::fclose(f);
}

const char* baseName(const char* path)
{
    const char* last = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            last = p + 1;
    return last;
}

} // namespace

LogLineBuffer::LogLineBuffer(std::size_t limit)
    : m_limit(limit)
{
}

void LogLineBuffer::putPrefix(const std::string& text)
{
    m_text += text;
    m_safeSize = m_text.size();
}

LogLineBuffer::int_type LogLineBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    put(static_cast<unsigned char>(traits_type::to_char_type(c)));
    return c;
}

std::streamsize LogLineBuffer::xsputn(const char* s, std::streamsize n)
{
    if (m_full) {
        m_leftOut += std::size_t(n);
        return n;
    }
    for (std::streamsize i = 0; i < n; ++i) {
        if (m_full) {
            m_leftOut += std::size_t(n - i);
            break;
        }
        put(static_cast<unsigned char>(s[i]));
    }
    return n;
}

void LogLineBuffer::put(unsigned char c)
{
    if (m_full) {
        ++m_leftOut;
        return;
    }
    if ((c == '\n' || c == '\r') && m_breaks.size() < m_limit) {
        m_breaks += char(c);
        return;
    }
    for (const char b : m_breaks)
        unit(b == '\n' ? "\\n" : "\\r", 2);
    m_breaks.clear();
    if (c == '\t') {
        unit("\\t", 2);
    } else if (c == '\n' || c == '\r') {
        unit(c == '\n' ? "\\n" : "\\r", 2);
    } else if (c < 0x20 || c == 0x7F) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        unit(escaped, 4);
    } else {
        const char plain = char(c);
        unit(&plain, 1);
    }
}

void LogLineBuffer::unit(const char* bytes, std::size_t size)
{
    if (m_full) {
        ++m_leftOut;
        return;
    }
    // The line's end follows the text.
    const std::size_t room = m_limit - 1;
    if (m_text.size() + size > room) {
        m_full = true;
        ++m_leftOut;
        return;
    }
    m_text.append(bytes, size);
    if (m_text.size() + kMarkerRoom <= room) {
        m_safeSize = m_text.size();
        m_sinceSafe = 0;
    } else {
        ++m_sinceSafe;
    }
}

std::string LogLineBuffer::line()
{
    if (m_full) {
        m_leftOut += m_sinceSafe;
        m_text.resize(m_safeSize);
        // A character whose bytes were cut goes whole.
        std::size_t lead = m_text.size();
        for (int back = 0; back < 3 && lead > 0 && (static_cast<unsigned char>(m_text[lead - 1]) & 0xC0) == 0x80; ++back)
            --lead;
        if (lead > 0) {
            const unsigned char b = static_cast<unsigned char>(m_text[lead - 1]);
            const std::size_t need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            if (m_text.size() - (lead - 1) < need) {
                m_leftOut += m_text.size() - (lead - 1);
                m_text.resize(lead - 1);
            }
        }
        m_text += " [... " + std::to_string(m_leftOut) + " bytes left out]";
    }
    m_text += '\n';
    return m_text;
}

void SetLogDestination(const std::string& path, cef_log_severity_t minSeverity)
{
    std::lock_guard<std::mutex> lock(logMutex());
    closeFile();
    g_path = path;
    g_minSeverity = fromSetting(minSeverity);
}

bool ShouldCreateLogMessage(LogSeverity severity)
{
    std::lock_guard<std::mutex> lock(logMutex());
    return !g_path.empty() && severity >= g_minSeverity;
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity)
    , buffer_(kMaxLogLineBytes)
    , stream_(&buffer_)
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tmv;
    localtime_r(&t, &tmv);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d%02d/%02d%02d%02d.%03d", tmv.tm_mon + 1, tmv.tm_mday,
                  tmv.tm_hour, tmv.tm_min, tmv.tm_sec, ms);
    buffer_.putPrefix('[' + std::string(stamp) + ':' + severityName(severity) + ':' + baseName(file) + '('
                      + std::to_string(line) + ")] ");
}

LogMessage::~LogMessage()
{
    const std::string text = buffer_.line();
    std::lock_guard<std::mutex> lock(logMutex());
    if (g_path.empty() || severity_ < g_minSeverity)
        return;
    FILE* f = destination();
    if (!f)
        return;
    // At the bound the file becomes the one previous file, and this line starts a new one.
    const long size = openSize();
    if (size > 0 && size_t(size) + text.size() > kMaxLogFileBytes) {
        closeFile();
        rotate();
        f = destination();
        if (!f)
            return;
    }
    std::fwrite(text.data(), 1, text.size(), f);
    // Each line reaches the file at once, as if it had been closed.
    std::fflush(f);
}

} // namespace cef_logging
