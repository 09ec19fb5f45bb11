// URL helpers.
#pragma once

#include "include/cef_base.h"

// Splits url; false when it is not a valid absolute URL.
bool CefParseURL(const CefString& url, CefURLParts& parts);
// Joins parts (spec wins when set); false when the result is not a valid URL.
bool CefCreateURL(const CefURLParts& parts, CefString& url);
// MIME type of a file extension without the dot ("html" -> "text/html"); empty when unknown.
CefString CefGetMimeType(const CefString& extension);
