// Script values for page functions as the page bridge's JSON text: strings, booleans, finite
// numbers and null as themselves; {"$u":1} undefined, {"$d":"NaN"} non-finite numbers,
// {"$f":id} a page function, {"$o":{...}} a plain object (members in order).
#pragma once

#include "cef_control/backend.h"

#include <QByteArray>

#include <vector>

namespace cefqt {

// A JSON array of the values, UTF-8.
QByteArray ScriptValuesJson(const std::vector<cef_backend::ScriptValue>& values);

} // namespace cefqt
