// Conversions between the runtime's list values and script values (and Qt variants).
#pragma once

#include "include/cef_v8.h"
#include "include/cef_values.h"

#include <QVariant>
#include <QVariantList>

// Sets target[i] for every item i of source: booleans, numbers and strings as themselves,
// lists as arrays (item by item), anything else as null.
void CopyListToV8Array(CefRefPtr<CefListValue> source, CefRefPtr<CefV8Value> target);
void CopyListItemToV8Array(CefRefPtr<CefListValue> source, int index, CefRefPtr<CefV8Value> target);

// Script array to list, item by item. Nothing calls it.
void CopyV8ArrayToList(CefRefPtr<CefV8Value> source, CefRefPtr<CefListValue> target);
// One script value into target[index]; values of other kinds leave it unset. Nothing calls it.
void CopyV8ValueToList(CefRefPtr<CefV8Value> value, int index, CefRefPtr<CefListValue> target);
// A script array as a new list. Nothing calls it.
CefRefPtr<CefListValue> CopyV8ArrayToNestedList(CefRefPtr<CefV8Value> source);
// A list as Qt variants, item by item. Nothing calls it.
QVariantList ListToVariantList(CefRefPtr<CefListValue> list);
// One list item as a Qt variant (invalid for other kinds). Nothing calls it.
QVariant ListItemToVariant(CefRefPtr<CefListValue> list, int index);
