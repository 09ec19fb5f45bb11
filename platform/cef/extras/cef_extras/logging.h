// Where the runtime's log lines go. CefInitialize sets it from CefSettings (log_file,
// log_severity); code that runs without the runtime (tests) may set it directly.
#pragma once

#include "include/internal/cef_types.h"

#include <string>

namespace cef_logging {

// An empty path drops every line; minSeverity is the lowest severity written.
void SetLogDestination(const std::string& path, cef_log_severity_t minSeverity);

} // namespace cef_logging
