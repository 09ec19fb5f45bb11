#include "cefqt/script_json.h"

#include "cef_extras/qt_string.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>

#include <cmath>
#include <limits>

using cef_backend::ScriptValue;

namespace cefqt {
namespace {

const char kHex[] = "0123456789abcdef";

void appendEscape(QByteArray& out, char16_t unit)
{
    const char e[] = {'\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF], kHex[(unit >> 4) & 0xF],
                      kHex[unit & 0xF]};
    out.append(e, int(sizeof e));
}

// UTF-16 text as a JSON string; a lone surrogate stays the same code unit (escaped).
void appendString(QByteArray& out, const CefString& text)
{
    const char16* s = text.c_str();
    const size_t n = text.length();
    out += '"';
    for (size_t i = 0; i < n; ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20)
                    appendEscape(out, char16_t(c));
                else
                    out += char(c);
            }
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
            } else {
                appendEscape(out, char16_t(c));
                continue;
            }
        }
        if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
        }
        out += char(0x80 | (c & 0x3F));
    }
    out += '"';
}

void appendValue(QByteArray& out, const ScriptValue& v)
{
    switch (v.kind) {
    case ScriptValue::Undefined:
        break;
    case ScriptValue::Null:
        out += "null";
        return;
    case ScriptValue::Bool:
        out += v.b ? "true" : "false";
        return;
    case ScriptValue::Int:
        out += QByteArray::number(v.i);
        return;
    case ScriptValue::Double:
        if (std::isfinite(v.d))
            out += QByteArray::number(v.d, 'g', QLocale::FloatingPointShortest);
        else
            out += std::isnan(v.d) ? "{\"$d\":\"NaN\"}" : v.d > 0 ? "{\"$d\":\"Infinity\"}" : "{\"$d\":\"-Infinity\"}";
        return;
    case ScriptValue::String:
        appendString(out, v.s);
        return;
    case ScriptValue::Array:
        out += '[';
        for (size_t i = 0; i < v.items.size(); ++i) {
            if (i)
                out += ',';
            appendValue(out, v.items[i]);
        }
        out += ']';
        return;
    case ScriptValue::Object:
        out += "{\"$o\":{";
        for (size_t i = 0; i < v.members.size(); ++i) {
            if (i)
                out += ',';
            appendString(out, v.members[i].first);
            out += ':';
            appendValue(out, v.members[i].second);
        }
        out += "}}";
        return;
    case ScriptValue::Function:
        out += "{\"$f\":";
        out += QByteArray::number(qlonglong(v.function_id));
        out += '}';
        return;
    }
    out += "{\"$u\":1}";
}

// Nesting of values read from the page side: deeper ones read as undefined.
const int kMaxDepth = 64;

ScriptValue fromJson(const QJsonValue& v, int depth)
{
    if (depth > kMaxDepth)
        return ScriptValue::MakeUndefined();
    switch (v.type()) {
    case QJsonValue::Null:
        return ScriptValue::MakeNull();
    case QJsonValue::Bool:
        return ScriptValue::MakeBool(v.toBool());
    case QJsonValue::Double:
        return ScriptValue::MakeNumber(v.toDouble());
    case QJsonValue::String:
        return ScriptValue::MakeString(cef_extras::ToCefString(v.toString()));
    case QJsonValue::Array: {
        std::vector<ScriptValue> items;
        const QJsonArray array = v.toArray();
        items.reserve(size_t(array.size()));
        for (const QJsonValue& item : array)
            items.push_back(fromJson(item, depth + 1));
        return ScriptValue::MakeArray(std::move(items));
    }
    case QJsonValue::Object: {
        const QJsonObject o = v.toObject();
        if (o.size() != 1)
            return ScriptValue::MakeUndefined();
        const auto tag = o.constBegin();
        if (tag.key() == QLatin1String("$f")) {
            // Handles are whole numbers that a double holds exactly.
            const double handle = tag.value().toDouble();
            if (!(handle >= 1 && handle <= 9007199254740992.0) || std::floor(handle) != handle)
                return ScriptValue::MakeUndefined();
            return ScriptValue::MakeFunction(int64(handle));
        }
        if (tag.key() == QLatin1String("$d")) {
            const QString s = tag.value().toString();
            const double inf = std::numeric_limits<double>::infinity();
            return ScriptValue::MakeNumber(s == QLatin1String("Infinity")    ? inf
                                           : s == QLatin1String("-Infinity") ? -inf
                                                                             : std::nan(""));
        }
        if (tag.key() == QLatin1String("$o")) {
            std::vector<std::pair<CefString, ScriptValue>> members;
            const QJsonObject m = tag.value().toObject();
            members.reserve(size_t(m.size()));
            for (auto it = m.constBegin(); it != m.constEnd(); ++it)
                members.emplace_back(cef_extras::ToCefString(it.key()), fromJson(it.value(), depth + 1));
            return ScriptValue::MakeObject(std::move(members));
        }
        return ScriptValue::MakeUndefined();
    }
    default:
        return ScriptValue::MakeUndefined();
    }
}

} // namespace

ScriptValue ScriptValueFromJson(const QJsonValue& value) { return fromJson(value, 0); }

QByteArray ScriptValuesJson(const std::vector<ScriptValue>& values)
{
    QByteArray out;
    out.reserve(64);
    out += '[';
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += ',';
        appendValue(out, values[i]);
    }
    out += ']';
    return out;
}

} // namespace cefqt
