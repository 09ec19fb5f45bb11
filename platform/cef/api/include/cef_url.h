// URL helpers.
#pragma once

#include "include/cef_base.h"

struct CefURLParts {
    CefString full_url;
    CefString scheme;
    CefString username;
    CefString password;
    CefString host;
    CefString port;
    CefString origin;
    CefString path;
    CefString query;
};

// Splits url; false when it is not a valid absolute URL.
bool CefParseURL(const CefString& url, CefURLParts& parts);
// Joins parts (full_url wins when set); false when the result is not a valid URL.
bool CefCreateURL(const CefURLParts& parts, CefString& url);
// MIME type of a file extension without the dot ("html" -> "text/html"); empty when unknown.
CefString CefGetMimeType(const CefString& extension);
