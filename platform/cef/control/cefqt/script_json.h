// Script values for page functions as the page bridge's JSON text: strings, booleans, finite
// numbers and null as themselves; {"$u":1} undefined, {"$d":"NaN"} non-finite numbers,
// {"$f":id} a page function, {"$o":{...}} a plain object (members in order).
#pragma once

#include "cef_control/backend.h"

#include <QByteArray>
#include <QJsonValue>

#include <vector>

namespace cefqt {

// A JSON array of the values, UTF-8.
QByteArray ScriptValuesJson(const std::vector<cef_backend::ScriptValue>& values);

// A value of that JSON as the page side writes it. What the page side never writes reads as
// undefined: an object of another shape, a function handle that is not a whole number from 1 to
// 2^53, and anything nested deeper than the values may be.
cef_backend::ScriptValue ScriptValueFromJson(const QJsonValue& value);

} // namespace cefqt
