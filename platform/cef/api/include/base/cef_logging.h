// Logging of the browser runtime: LOG(INFO) << ...; lines go to the runtime's log file
// as "[MMDD/HHMMSS.mmm:INFO:file.cpp(123)] text" when the minimum severity admits them.
#pragma once

#include "include/internal/cef_types.h"

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>

namespace cef_logging {

typedef int LogSeverity;
const LogSeverity LOG_VERBOSE = -1;
const LogSeverity LOG_INFO = 0;
const LogSeverity LOG_WARNING = 1;
const LogSeverity LOG_ERROR = 2;
const LogSeverity LOG_FATAL = 3;

bool ShouldCreateLogMessage(LogSeverity severity);

// One log line as it is streamed: control bytes of the text escaped (as \n, \r, \t or \xHH), line
// breaks at its end dropped, and the text cut at a character boundary once the line would
// exceed its bound, with " [... N bytes left out]" after it. Bytes beyond the bound are counted,
// not kept.
class LogLineBuffer : public std::streambuf {
public:
    // limit: the whole line's bytes, its end included.
    explicit LogLineBuffer(std::size_t limit);
    // Text that goes in as it is, before the streamed text (the line's prefix).
    void putPrefix(const std::string& text);
    // The line with its end.
    std::string line();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    void put(unsigned char c);
    // Adds the bytes standing for one byte of the text.
    void unit(const char* bytes, std::size_t size);

    const std::size_t m_limit;
    std::string m_text;
    // Line breaks not written yet: they are dropped when nothing follows them.
    std::string m_breaks;
    bool m_full = false;
    std::size_t m_leftOut = 0;
    // The text's size when it last left room for the marker, and the bytes of the text added since.
    std::size_t m_safeSize = 0;
    std::size_t m_sinceSafe = 0;
};

class LogMessage {
public:
    LogMessage(const char* file, int line, LogSeverity severity);
    ~LogMessage();
    std::ostream& stream() { return stream_; }

private:
    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;

    LogSeverity severity_;
    LogLineBuffer buffer_;
    std::ostream stream_;
};

// Swallows the stream expression when the severity is filtered out.
class LogMessageVoidify {
public:
    void operator&(std::ostream&) {}
};

} // namespace cef_logging

#define CEF_LOG_SEVERITY_INFO ::cef_logging::LOG_INFO
#define CEF_LOG_SEVERITY_WARNING ::cef_logging::LOG_WARNING
#define CEF_LOG_SEVERITY_ERROR ::cef_logging::LOG_ERROR
#define CEF_LOG_SEVERITY_FATAL ::cef_logging::LOG_FATAL
#define CEF_LOG_SEVERITY_VERBOSE ::cef_logging::LOG_VERBOSE

#define LOG_IS_ON(severity) (::cef_logging::ShouldCreateLogMessage(CEF_LOG_SEVERITY_##severity))

#define LOG(severity)                                                                              \
    !LOG_IS_ON(severity)                                                                           \
        ? (void)0                                                                                  \
        : ::cef_logging::LogMessageVoidify() &                                                     \
              ::cef_logging::LogMessage(__FILE__, __LINE__, CEF_LOG_SEVERITY_##severity).stream()

#define LOG_IF(severity, condition)                                                                \
    !(LOG_IS_ON(severity) && (condition))                                                          \
        ? (void)0                                                                                  \
        : ::cef_logging::LogMessageVoidify() &                                                     \
              ::cef_logging::LogMessage(__FILE__, __LINE__, CEF_LOG_SEVERITY_##severity).stream()
