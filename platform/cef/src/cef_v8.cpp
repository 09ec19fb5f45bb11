// Script values and contexts of the renderer side, over the backend's script host.
#include "include/cef_v8.h"

#include "cef_internal.h"

#include <cmath>
#include <limits>
#include <map>

using namespace cef_internal;
using cef_backend::ScriptValue;

namespace {

const int kMaxDepth = 64;

thread_local std::vector<CefRefPtr<CefV8Context>> t_stack;

std::vector<CefRefPtr<CefV8Context>>& stack() { return t_stack; }

class V8ValueImpl : public CefV8Value {
public:
    enum Type { Undefined, Null, Bool, Number, String, Object, Array, Function };

    explicit V8ValueImpl(Type t) : type_(t) {}

    // Construction helpers.
    static CefRefPtr<V8ValueImpl> number(double d)
    {
        CefRefPtr<V8ValueImpl> v = new V8ValueImpl(Number);
        v->d_ = d;
        return v;
    }

    bool IsValid() override { return true; }
    bool IsUndefined() override { return type_ == Undefined; }
    bool IsNull() override { return type_ == Null; }
    bool IsBool() override { return type_ == Bool; }
    bool IsInt() override
    {
        return type_ == Number && std::isfinite(d_) && std::floor(d_) == d_ &&
               d_ >= double(std::numeric_limits<int32>::min()) && d_ <= double(std::numeric_limits<int32>::max());
    }
    bool IsUInt() override
    {
        return type_ == Number && std::isfinite(d_) && std::floor(d_) == d_ && d_ >= 0 &&
               d_ <= double(std::numeric_limits<uint32>::max());
    }
    bool IsDouble() override { return type_ == Number; }
    bool IsDate() override { return false; }
    bool IsString() override { return type_ == String; }
    bool IsObject() override { return type_ == Object || type_ == Array || type_ == Function; }
    bool IsArray() override { return type_ == Array; }
    bool IsFunction() override { return type_ == Function; }
    bool IsSame(CefRefPtr<CefV8Value> that) override
    {
        auto* o = dynamic_cast<V8ValueImpl*>(that.get());
        if (!o)
            return false;
        if (IsObject() || o->IsObject())
            return o == this || (type_ == Function && o->type_ == Function && functionId_ &&
                                 functionId_ == o->functionId_ && contextId_ == o->contextId_);
        if (type_ != o->type_)
            return false;
        switch (type_) {
        case Bool: return b_ == o->b_;
        case Number: return d_ == o->d_;
        case String: return s_ == o->s_;
        default: return true;
        }
    }

    bool GetBoolValue() override { return type_ == Bool && b_; }
    int32 GetIntValue() override { return IsInt() ? int32(d_) : (type_ == Number && std::isfinite(d_) ? int32(int64(d_)) : 0); }
    uint32 GetUIntValue() override { return IsUInt() ? uint32(d_) : 0; }
    double GetDoubleValue() override { return type_ == Number ? d_ : 0; }
    CefString GetStringValue() override { return type_ == String ? s_ : CefString(); }

    bool HasValue(const CefString& key) override { return IsObject() && props_.count(key) > 0; }
    bool HasValue(int index) override
    {
        return type_ == Array ? index >= 0 && size_t(index) < elements_.size() : HasValue(CefString(std::to_string(index)));
    }
    bool DeleteValue(const CefString& key) override
    {
        if (!IsObject())
            return false;
        auto it = props_.find(key);
        if (it == props_.end())
            return false;
        if (it->second.attr & V8_PROPERTY_ATTRIBUTE_DONTDELETE)
            return false;
        props_.erase(it);
        for (auto k = order_.begin(); k != order_.end(); ++k)
            if (*k == key) {
                order_.erase(k);
                break;
            }
        return true;
    }
    bool DeleteValue(int index) override
    {
        if (type_ == Array) {
            if (index < 0 || size_t(index) >= elements_.size())
                return false;
            elements_[index] = new V8ValueImpl(Undefined);
            return true;
        }
        return DeleteValue(CefString(std::to_string(index)));
    }
    CefRefPtr<CefV8Value> GetValue(const CefString& key) override
    {
        if (!IsObject())
            return nullptr;
        auto it = props_.find(key);
        return it == props_.end() ? CefRefPtr<CefV8Value>(new V8ValueImpl(Undefined)) : it->second.value;
    }
    CefRefPtr<CefV8Value> GetValue(int index) override
    {
        if (type_ == Array) {
            if (index < 0 || size_t(index) >= elements_.size())
                return new V8ValueImpl(Undefined);
            return elements_[index];
        }
        return GetValue(CefString(std::to_string(index)));
    }
    bool SetValue(const CefString& key, CefRefPtr<CefV8Value> value, PropertyAttribute attribute) override
    {
        if (!IsObject() || !value || value.get() == this)
            return false;
        auto it = props_.find(key);
        if (it != props_.end()) {
            if (it->second.attr & V8_PROPERTY_ATTRIBUTE_READONLY)
                return false;
            it->second = Prop{value, attribute};
            return true;
        }
        props_[key] = Prop{value, attribute};
        order_.push_back(key);
        return true;
    }
    bool SetValue(int index, CefRefPtr<CefV8Value> value) override
    {
        if (type_ != Array)
            return SetValue(CefString(std::to_string(index)), value, V8_PROPERTY_ATTRIBUTE_NONE);
        if (index < 0 || !value || value.get() == this)
            return false;
        if (size_t(index) >= elements_.size()) {
            const size_t old = elements_.size();
            elements_.resize(size_t(index) + 1);
            for (size_t i = old; i < elements_.size(); ++i)
                elements_[i] = new V8ValueImpl(Undefined);
        }
        elements_[index] = value;
        return true;
    }
    bool GetKeys(std::vector<CefString>& keys) override
    {
        keys.clear();
        if (type_ == Array)
            for (size_t i = 0; i < elements_.size(); ++i)
                keys.push_back(std::to_string(i));
        for (const auto& k : order_)
            if (!(props_[k].attr & V8_PROPERTY_ATTRIBUTE_DONTENUM))
                keys.push_back(k);
        return IsObject();
    }
    int GetArrayLength() override { return type_ == Array ? int(elements_.size()) : 0; }
    CefString GetFunctionName() override { return type_ == Function ? s_ : CefString(); }
    CefRefPtr<CefV8Handler> GetFunctionHandler() override { return handler_; }

    CefRefPtr<CefV8Value> ExecuteFunction(CefRefPtr<CefV8Value> object, const CefV8ValueList& arguments) override
    {
        return ExecuteFunctionWithContext(nullptr, object, arguments);
    }
    CefRefPtr<CefV8Value> ExecuteFunctionWithContext(CefRefPtr<CefV8Context> context, CefRefPtr<CefV8Value> object,
                                                     const CefV8ValueList& arguments) override;

    bool HasException() override { return !exception_.empty(); }
    CefRefPtr<CefV8Exception> GetException() override;
    bool ClearException() override
    {
        exception_.clear();
        return true;
    }

    // Drops everything the value holds (context release).
    void Clear()
    {
        props_.clear();
        order_.clear();
        elements_.clear();
        handler_ = nullptr;
    }

    Type type_;
    bool b_ = false;
    double d_ = 0;
    CefString s_; // string value, or function name
    struct Prop {
        CefRefPtr<CefV8Value> value;
        PropertyAttribute attr = V8_PROPERTY_ATTRIBUTE_NONE;
    };
    std::map<CefString, Prop> props_;
    std::vector<CefString> order_;
    std::vector<CefRefPtr<CefV8Value>> elements_;
    CefRefPtr<CefV8Handler> handler_; // native function
    int browserId_ = 0;               // page function
    int64 contextId_ = 0;
    int64 functionId_ = 0;
    std::string exception_;

private:
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(V8ValueImpl);
};

class V8ExceptionImpl : public CefV8Exception {
public:
    explicit V8ExceptionImpl(const std::string& m) : m_(m) {}
    CefString GetMessage() override { return m_; }
    CefString GetSourceLine() override { return CefString(); }
    CefString GetScriptResourceName() override { return CefString(); }
    int GetLineNumber() override { return 0; }
    int GetStartPosition() override { return 0; }
    int GetEndPosition() override { return 0; }
    int GetStartColumn() override { return 0; }
    int GetEndColumn() override { return 0; }

private:
    std::string m_;
    IMPLEMENT_REFCOUNTING(V8ExceptionImpl);
};

CefRefPtr<CefV8Exception> V8ValueImpl::GetException()
{
    return exception_.empty() ? nullptr : new V8ExceptionImpl(exception_);
}

class V8ContextImpl : public CefV8Context {
public:
    V8ContextImpl(CefRefPtr<CefBrowser> browser, int64 id) : browser_(browser), id_(id), global_(new V8ValueImpl(V8ValueImpl::Object)) {}

    bool IsValid() override { return valid_; }
    CefRefPtr<CefBrowser> GetBrowser() override { return browser_; }
    CefRefPtr<CefFrame> GetFrame() override { return browser_ ? browser_->GetMainFrame() : nullptr; }
    CefRefPtr<CefV8Value> GetGlobal() override { return global_.get(); }
    bool Enter() override
    {
        if (!valid_ || !CefCurrentlyOn(TID_RENDERER))
            return false;
        stack().push_back(this);
        return true;
    }
    bool Exit() override
    {
        auto& s = stack();
        for (auto it = s.rbegin(); it != s.rend(); ++it)
            if (it->get() == this) {
                s.erase(std::next(it).base());
                return true;
            }
        return false;
    }
    bool IsSame(CefRefPtr<CefV8Context> that) override { return that.get() == this; }
    bool Eval(const CefString&, CefRefPtr<CefV8Value>& retval, CefRefPtr<CefV8Exception>& exception) override
    {
        retval = nullptr;
        exception = new V8ExceptionImpl("Eval is not supported");
        return false;
    }

    void Invalidate()
    {
        valid_ = false;
        if (global_)
            global_->Clear();
        browser_ = nullptr;
    }

    int64 Id() const { return id_; }
    int BrowserId() const { return browserId_; }
    void SetBrowserId(int id) { browserId_ = id; }
    CefRefPtr<V8ValueImpl> Global() { return global_; }

private:
    CefRefPtr<CefBrowser> browser_;
    const int64 id_;
    int browserId_ = 0;
    CefRefPtr<V8ValueImpl> global_;
    bool valid_ = true;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(V8ContextImpl);
};

V8ContextImpl* contextImpl(CefRefPtr<CefV8Context> c) { return dynamic_cast<V8ContextImpl*>(c.get()); }

CefRefPtr<CefV8Value> V8ValueImpl::ExecuteFunctionWithContext(CefRefPtr<CefV8Context> context,
                                                              CefRefPtr<CefV8Value> object,
                                                              const CefV8ValueList& arguments)
{
    exception_.clear();
    if (type_ != Function)
        return nullptr;
    const bool entered = context && context->Enter();
    CefRefPtr<CefV8Value> result;
    if (handler_) {
        CefRefPtr<CefV8Value> retval;
        CefString exception;
        CefRefPtr<CefV8Value> receiver = object;
        if (!receiver) {
            CefRefPtr<CefV8Context> cur = CefV8Context::GetCurrentContext();
            receiver = cur ? cur->GetGlobal() : CefRefPtr<CefV8Value>(new V8ValueImpl(Undefined));
        }
        const bool handled = handler_->Execute(s_, receiver, arguments, retval, exception);
        if (handled && !exception.empty())
            exception_ = exception.ToString();
        else
            result = (handled && retval) ? retval : CefRefPtr<CefV8Value>(new V8ValueImpl(Undefined));
    } else {
        std::vector<ScriptValue> args;
        for (const auto& a : arguments)
            args.push_back(ToScriptValue(a));
        ScriptValue out;
        CefRefPtr<CefBrowser> browser = FindBrowser(browserId_);
        CefRefPtr<CefV8Context> ctx = context ? context : CefV8Context::GetCurrentContext();
        if (browser && InvokePageFunction(browser, contextId_, functionId_, args, &out))
            result = FromScriptValue(out, ctx);
        else
            result = new V8ValueImpl(Undefined);
    }
    if (entered)
        context->Exit();
    return result;
}

ScriptValue toScript(CefRefPtr<CefV8Value> v, int depth)
{
    if (!v || depth > kMaxDepth)
        return ScriptValue();
    auto* impl = dynamic_cast<V8ValueImpl*>(v.get());
    if (!impl)
        return ScriptValue();
    switch (impl->type_) {
    case V8ValueImpl::Undefined: return ScriptValue();
    case V8ValueImpl::Null: return ScriptValue::MakeNull();
    case V8ValueImpl::Bool: return ScriptValue::MakeBool(impl->b_);
    case V8ValueImpl::Number: return ScriptValue::MakeNumber(impl->d_);
    case V8ValueImpl::String: return ScriptValue::MakeString(impl->s_);
    case V8ValueImpl::Array: {
        std::vector<ScriptValue> items;
        for (auto& e : impl->elements_)
            items.push_back(toScript(e, depth + 1));
        return ScriptValue::MakeArray(std::move(items));
    }
    case V8ValueImpl::Function: return ScriptValue::MakeFunction(impl->functionId_, impl->s_);
    case V8ValueImpl::Object: {
        std::vector<std::pair<CefString, ScriptValue>> members;
        for (const auto& k : impl->order_)
            members.emplace_back(k, toScript(impl->props_[k].value, depth + 1));
        return ScriptValue::MakeObject(std::move(members));
    }
    }
    return ScriptValue();
}

CefRefPtr<CefV8Value> fromScript(const ScriptValue& sv, V8ContextImpl* ctx, int depth)
{
    if (depth > kMaxDepth)
        return new V8ValueImpl(V8ValueImpl::Undefined);
    switch (sv.kind) {
    case ScriptValue::Undefined: return CefV8Value::CreateUndefined();
    case ScriptValue::Null: return CefV8Value::CreateNull();
    case ScriptValue::Bool: return CefV8Value::CreateBool(sv.b);
    case ScriptValue::Int: return CefV8Value::CreateInt(sv.i);
    case ScriptValue::Double: return CefV8Value::CreateDouble(sv.d);
    case ScriptValue::String: return CefV8Value::CreateString(sv.s);
    case ScriptValue::Array: {
        CefRefPtr<CefV8Value> a = CefV8Value::CreateArray(int(sv.items.size()));
        for (size_t i = 0; i < sv.items.size(); ++i)
            a->SetValue(int(i), fromScript(sv.items[i], ctx, depth + 1));
        return a;
    }
    case ScriptValue::Object: {
        CefRefPtr<CefV8Value> o = CefV8Value::CreateObject(nullptr);
        for (const auto& m : sv.members)
            o->SetValue(m.first, fromScript(m.second, ctx, depth + 1), V8_PROPERTY_ATTRIBUTE_NONE);
        return o;
    }
    case ScriptValue::Function: {
        CefRefPtr<V8ValueImpl> f = new V8ValueImpl(V8ValueImpl::Function);
        f->s_ = sv.s;
        f->functionId_ = sv.function_id;
        if (ctx) {
            f->contextId_ = ctx->Id();
            f->browserId_ = ctx->BrowserId();
        }
        return f.get();
    }
    }
    return CefV8Value::CreateUndefined();
}

} // namespace

namespace cef_internal {

CefRefPtr<CefV8Context> CreateV8Context(CefRefPtr<CefBrowser> browser, int64 contextId)
{
    CefRefPtr<V8ContextImpl> c = new V8ContextImpl(browser, contextId);
    c->SetBrowserId(browser ? browser->GetIdentifier() : 0);
    return c.get();
}

void InvalidateV8Context(CefRefPtr<CefV8Context> context)
{
    if (auto* c = contextImpl(context))
        c->Invalidate();
}

int64 V8ContextId(CefRefPtr<CefV8Context> context)
{
    auto* c = contextImpl(context);
    return c ? c->Id() : 0;
}

std::vector<std::string> GlobalFunctionNames(CefRefPtr<CefV8Context> context)
{
    std::vector<std::string> names;
    auto* c = contextImpl(context);
    if (!c)
        return names;
    CefRefPtr<V8ValueImpl> g = c->Global();
    for (const auto& k : g->order_) {
        auto* f = dynamic_cast<V8ValueImpl*>(g->props_[k].value.get());
        if (f && f->type_ == V8ValueImpl::Function && f->handler_)
            names.push_back(k.ToString());
    }
    return names;
}

ScriptValue CallGlobal(CefRefPtr<CefV8Context> context, const CefString& name, const std::vector<ScriptValue>& args,
                       std::string* exception)
{
    auto* c = contextImpl(context);
    if (!c || !c->IsValid())
        return ScriptValue();
    CefRefPtr<CefV8Value> fn = c->Global()->GetValue(name);
    auto* f = dynamic_cast<V8ValueImpl*>(fn.get());
    if (!f || f->type_ != V8ValueImpl::Function || !f->handler_)
        return ScriptValue();
    CefV8ValueList v8args;
    for (const auto& a : args)
        v8args.push_back(fromScript(a, c, 0));
    context->Enter();
    CefRefPtr<CefV8Value> retval;
    CefString exc;
    CefRefPtr<CefV8Handler> handler = f->handler_;
    const bool handled = handler->Execute(f->s_, c->GetGlobal(), v8args, retval, exc);
    context->Exit();
    if (handled && !exc.empty()) {
        if (exception)
            *exception = exc.ToString();
        return ScriptValue();
    }
    return handled ? toScript(retval, 0) : ScriptValue();
}

ScriptValue ToScriptValue(CefRefPtr<CefV8Value> value) { return toScript(value, 0); }

CefRefPtr<CefV8Value> FromScriptValue(const ScriptValue& value, CefRefPtr<CefV8Context> context)
{
    return fromScript(value, contextImpl(context), 0);
}

} // namespace cef_internal

// ---- static members

CefRefPtr<CefV8Context> CefV8Context::GetCurrentContext()
{
    auto& s = stack();
    return s.empty() ? nullptr : s.back();
}

CefRefPtr<CefV8Context> CefV8Context::GetEnteredContext() { return GetCurrentContext(); }

bool CefV8Context::InContext() { return !stack().empty(); }

CefRefPtr<CefV8Value> CefV8Value::CreateUndefined() { return new V8ValueImpl(V8ValueImpl::Undefined); }
CefRefPtr<CefV8Value> CefV8Value::CreateNull() { return new V8ValueImpl(V8ValueImpl::Null); }
CefRefPtr<CefV8Value> CefV8Value::CreateBool(bool value)
{
    CefRefPtr<V8ValueImpl> v = new V8ValueImpl(V8ValueImpl::Bool);
    v->b_ = value;
    return v.get();
}
CefRefPtr<CefV8Value> CefV8Value::CreateInt(int32 value) { return V8ValueImpl::number(value).get(); }
CefRefPtr<CefV8Value> CefV8Value::CreateUInt(uint32 value) { return V8ValueImpl::number(value).get(); }
CefRefPtr<CefV8Value> CefV8Value::CreateDouble(double value) { return V8ValueImpl::number(value).get(); }
CefRefPtr<CefV8Value> CefV8Value::CreateString(const CefString& value)
{
    CefRefPtr<V8ValueImpl> v = new V8ValueImpl(V8ValueImpl::String);
    v->s_ = value;
    return v.get();
}
CefRefPtr<CefV8Value> CefV8Value::CreateObject(CefRefPtr<CefV8Accessor>)
{
    return new V8ValueImpl(V8ValueImpl::Object);
}
CefRefPtr<CefV8Value> CefV8Value::CreateArray(int length)
{
    CefRefPtr<V8ValueImpl> v = new V8ValueImpl(V8ValueImpl::Array);
    for (int i = 0; i < length; ++i)
        v->elements_.push_back(new V8ValueImpl(V8ValueImpl::Undefined));
    return v.get();
}
CefRefPtr<CefV8Value> CefV8Value::CreateFunction(const CefString& name, CefRefPtr<CefV8Handler> handler)
{
    if (!handler)
        return nullptr;
    CefRefPtr<V8ValueImpl> v = new V8ValueImpl(V8ValueImpl::Function);
    v->s_ = name;
    v->handler_ = handler;
    return v.get();
}

namespace {
class StackTraceImpl : public CefV8StackTrace {
public:
    bool IsValid() override { return true; }
    int GetFrameCount() override { return 0; }
    CefRefPtr<CefV8StackFrame> GetFrame(int) override { return nullptr; }

private:
    IMPLEMENT_REFCOUNTING(StackTraceImpl);
};
} // namespace

CefRefPtr<CefV8StackTrace> CefV8StackTrace::GetCurrent(int) { return new StackTraceImpl; }

// ---- ScriptValue

namespace cef_backend {

ScriptValue ScriptValue::MakeNull()
{
    ScriptValue v;
    v.kind = Null;
    return v;
}
ScriptValue ScriptValue::MakeBool(bool b)
{
    ScriptValue v;
    v.kind = Bool;
    v.b = b;
    return v;
}
ScriptValue ScriptValue::MakeInt(int i)
{
    ScriptValue v;
    v.kind = Int;
    v.i = i;
    return v;
}
ScriptValue ScriptValue::MakeNumber(double d)
{
    if (std::isfinite(d) && std::floor(d) == d && d >= double(std::numeric_limits<int32>::min()) &&
        d <= double(std::numeric_limits<int32>::max()) && !(d == 0 && std::signbit(d)))
        return MakeInt(int(d));
    ScriptValue v;
    v.kind = Double;
    v.d = d;
    return v;
}
ScriptValue ScriptValue::MakeString(const CefString& s)
{
    ScriptValue v;
    v.kind = String;
    v.s = s;
    return v;
}
ScriptValue ScriptValue::MakeArray(std::vector<ScriptValue> items)
{
    ScriptValue v;
    v.kind = Array;
    v.items = std::move(items);
    return v;
}
ScriptValue ScriptValue::MakeObject(std::vector<std::pair<CefString, ScriptValue>> members)
{
    ScriptValue v;
    v.kind = Object;
    v.members = std::move(members);
    return v;
}
ScriptValue ScriptValue::MakeFunction(int64 id, const CefString& name)
{
    ScriptValue v;
    v.kind = Function;
    v.function_id = id;
    v.s = name;
    return v;
}

bool ScriptValue::operator==(const ScriptValue& o) const
{
    if (kind != o.kind)
        return false;
    switch (kind) {
    case Undefined:
    case Null: return true;
    case Bool: return b == o.b;
    case Int: return i == o.i;
    case Double: return d == o.d || (std::isnan(d) && std::isnan(o.d));
    case String: return s == o.s;
    case Array: return items == o.items;
    case Object: return members == o.members;
    case Function: return function_id == o.function_id;
    }
    return false;
}

} // namespace cef_backend
