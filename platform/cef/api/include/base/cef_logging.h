// Logging of the browser runtime: LOG(INFO) << ...; lines go to the runtime's log file
// as "[MMDD/HHMMSS.mmm:INFO:file.cpp(123)] text" when the minimum severity admits them.
#pragma once

#include "include/internal/cef_types.h"

#include <sstream>
#include <string>

namespace cef_logging {

typedef int LogSeverity;
const LogSeverity LOG_VERBOSE = -1;
const LogSeverity LOG_INFO = 0;
const LogSeverity LOG_WARNING = 1;
const LogSeverity LOG_ERROR = 2;
const LogSeverity LOG_FATAL = 3;

bool ShouldCreateLogMessage(LogSeverity severity);

class LogMessage {
public:
    LogMessage(const char* file, int line, LogSeverity severity);
    ~LogMessage();
    std::ostream& stream() { return stream_; }

private:
    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;

    LogSeverity severity_;
    std::ostringstream stream_;
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
