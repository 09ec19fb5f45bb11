#include "cefclient/renderer/v8_list_conversion.h"

#include "cef_extras/qt_string.h"

void CopyListToV8Array(CefRefPtr<CefListValue> source, CefRefPtr<CefV8Value> target)
{
    const int size = int(source->GetSize());
    for (int i = 0; i < size; ++i)
        CopyListItemToV8Array(source, i, target);
}

void CopyListItemToV8Array(CefRefPtr<CefListValue> source, int index, CefRefPtr<CefV8Value> target)
{
    CefRefPtr<CefV8Value> value;
    switch (source->GetType(index)) {
    case VTYPE_BOOL:
        value = CefV8Value::CreateBool(source->GetBool(index));
        break;
    case VTYPE_INT:
        value = CefV8Value::CreateInt(source->GetInt(index));
        break;
    case VTYPE_DOUBLE:
        value = CefV8Value::CreateDouble(source->GetDouble(index));
        break;
    case VTYPE_STRING:
        value = CefV8Value::CreateString(source->GetString(index));
        break;
    case VTYPE_LIST: {
        CefRefPtr<CefListValue> list = source->GetList(index);
        value = CefV8Value::CreateArray(int(list->GetSize()));
        CopyListToV8Array(list, value);
        break;
    }
    default:
        value = CefV8Value::CreateNull();
        break;
    }
    target->SetValue(index, value);
}

void CopyV8ArrayToList(CefRefPtr<CefV8Value> source, CefRefPtr<CefListValue> target)
{
    const int length = source->GetArrayLength();
    for (int i = 0; i < length; ++i)
        CopyV8ValueToList(source->GetValue(i), i, target);
}

void CopyV8ValueToList(CefRefPtr<CefV8Value> value, int index, CefRefPtr<CefListValue> target)
{
    if (value->IsArray())
        target->SetList(index, CopyV8ArrayToNestedList(value));
    else if (value->IsString())
        target->SetString(index, value->GetStringValue());
    else if (value->IsBool())
        target->SetBool(index, value->GetBoolValue());
    else if (value->IsInt())
        target->SetInt(index, value->GetIntValue());
    else if (value->IsDouble())
        target->SetDouble(index, value->GetDoubleValue());
}

CefRefPtr<CefListValue> CopyV8ArrayToNestedList(CefRefPtr<CefV8Value> source)
{
    CefRefPtr<CefListValue> list = CefListValue::Create();
    CopyV8ArrayToList(source, list);
    return list;
}

QVariantList ListToVariantList(CefRefPtr<CefListValue> list)
{
    QVariantList out;
    const int size = int(list->GetSize());
    for (int i = 0; i < size; ++i)
        out.append(ListItemToVariant(list, i));
    return out;
}

QVariant ListItemToVariant(CefRefPtr<CefListValue> list, int index)
{
    switch (list->GetType(index)) {
    case VTYPE_BOOL:
        return list->GetBool(index);
    case VTYPE_INT:
        return list->GetInt(index);
    case VTYPE_DOUBLE:
        return list->GetDouble(index);
    case VTYPE_STRING:
        return cef_extras::ToQString(list->GetString(index));
    case VTYPE_LIST:
        return ListToVariantList(list->GetList(index));
    default:
        return QVariant();
    }
}
