// URL helpers.
#pragma once

#include "include/cef_base.h"

// MIME type of a file extension without the dot ("html" -> "text/html"); empty when unknown.
CefString CefGetMimeType(const CefString& extension);
