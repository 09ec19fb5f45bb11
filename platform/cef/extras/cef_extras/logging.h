// Where the runtime's log lines go. CefInitialize sets it from CefSettings (log_file,
// log_severity); code that runs without the runtime (tests) may set it directly.
#pragma once

#include "include/internal/cef_types.h"

#include <cstddef>
#include <string>

namespace cef_logging {

// The log file's bound: a line that would take the file beyond it first moves the file to
// "<path>.1" (replacing the one there), then starts a new file; when the move fails, the file
// starts over.
const std::size_t kMaxLogFileBytes = 8 * 1024 * 1024;
// The bound of one line, its end included: a longer text is cut (LogLineBuffer).
const std::size_t kMaxLogLineBytes = 16 * 1024;

// An empty path drops every line; minSeverity is the lowest severity written.
void SetLogDestination(const std::string& path, cef_log_severity_t minSeverity);

} // namespace cef_logging
