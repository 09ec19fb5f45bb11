#include "cef_test_browser.h"
#include "row_name.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace test_support;
using cef_backend::ScriptValue;

namespace {

// A native global that records what it receives and answers with a value built by the test.
class EchoHandler : public CefV8Handler {
public:
    bool Execute(const CefString& name, CefRefPtr<CefV8Value>, const CefV8ValueList& arguments,
                 CefRefPtr<CefV8Value>& retval, CefString& exception) override
    {
        args = arguments;
        current = CefV8Context::GetCurrentContext();
        if (name == "fail") {
            exception = "boom";
            return true;
        }
        if (name == "callBack" && arguments.size() == 1 && arguments[0]->IsFunction()) {
            CefV8ValueList callArgs{CefV8Value::CreateInt(7)};
            retval = arguments[0]->ExecuteFunction(nullptr, callArgs);
            return true;
        }
        retval = arguments.empty() ? nullptr : arguments[0];
        return true;
    }
    CefV8ValueList args;
    CefRefPtr<CefV8Context> current;
    IMPLEMENT_REFCOUNTING(EchoHandler);
};

class CefV8Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = new RecordingApp(&log);
        echo = new EchoHandler;
        app->onContextCreated = [this](CefRefPtr<CefV8Context> context) {
            CefRefPtr<CefV8Value> g = context->GetGlobal();
            for (const char* n : {"echo", "fail", "callBack"})
                g->SetValue(n, CefV8Value::CreateFunction(n, echo.get()), V8_PROPERTY_ATTRIBUTE_NONE);
            g->SetValue("notAFunction", CefV8Value::CreateInt(1), V8_PROPERTY_ATTRIBUTE_NONE);
        };
        client = new RecordingClient(&log);
        ASSERT_TRUE(cef_test::StartRuntime(app.get()));
        id = CreateTestBrowser(host, client.get());
        ctx = host.CreateContext(id);
    }
    void TearDown() override
    {
        cef_test::StopRuntime();
        client->Forget();
        app->onContextCreated = nullptr;
    }

    EventLog log;
    cef_test::TestHost host;
    CefRefPtr<RecordingApp> app;
    CefRefPtr<RecordingClient> client;
    CefRefPtr<EchoHandler> echo;
    int id = 0;
    int64 ctx = 0;
};

TEST_F(CefV8Test, NativeGlobalsAreExposed)
{
    const auto globals = host.Record(id).globals[ctx];
    // In the order the application's OnContextCreated sets them: the renderer router's first.
    EXPECT_EQ(globals, (std::vector<std::string>{"cefQuery", "cefQueryCancel", "registerCallback", "echo", "fail",
                                                 "callBack"}));
}

// A value through a native global and back: what the handler gets and what the page gets again. A
// page function (made once the browser runs) goes through as itself.
struct Conversion {
    const char* name;
    ScriptValue in;
    bool (*check)(CefRefPtr<CefV8Value>);
    ScriptValue back; // after the round trip
    bool pageFunction = false;
};

void PrintTo(const Conversion& row, std::ostream* os) { *os << row.name; }

class CefV8Conversion : public CefV8Test, public ::testing::WithParamInterface<Conversion> {};

TEST_P(CefV8Conversion, RoundTrip)
{
    const Conversion& c = GetParam();
    const ScriptValue fn = host.MakePageFunction("cb");
    std::string exception;
    const ScriptValue back = host.CallGlobal(id, ctx, "echo", {c.pageFunction ? fn : c.in}, &exception);
    ASSERT_EQ(echo->args.size(), 1u);
    EXPECT_TRUE(c.check(echo->args[0]));
    EXPECT_EQ(back, c.pageFunction ? fn : c.back);
    EXPECT_TRUE(exception.empty());
}

INSTANTIATE_TEST_SUITE_P(CefV8Test, CefV8Conversion,
    ::testing::Values(
        Conversion{"Undefined", ScriptValue(), [](CefRefPtr<CefV8Value> v) { return v->IsUndefined(); }, ScriptValue()},
        Conversion{"Null", ScriptValue::MakeNull(), [](CefRefPtr<CefV8Value> v) { return v->IsNull(); },
         ScriptValue::MakeNull()},
        Conversion{"Bool", ScriptValue::MakeBool(true),
         [](CefRefPtr<CefV8Value> v) { return v->IsBool() && v->GetBoolValue(); }, ScriptValue::MakeBool(true)},
        Conversion{"Int", ScriptValue::MakeInt(-12),
         [](CefRefPtr<CefV8Value> v) { return v->IsInt() && v->IsDouble() && v->GetIntValue() == -12; },
         ScriptValue::MakeInt(-12)},
        Conversion{"IntegralDouble", ScriptValue::MakeNumber(3.0), [](CefRefPtr<CefV8Value> v) { return v->IsInt(); },
         ScriptValue::MakeInt(3)},
        Conversion{"Fraction", ScriptValue::MakeNumber(2.5),
         [](CefRefPtr<CefV8Value> v) { return !v->IsInt() && v->IsDouble() && v->GetDoubleValue() == 2.5; },
         ScriptValue::MakeNumber(2.5)},
        Conversion{"BeyondInt32", ScriptValue::MakeNumber(4294967296.0),
         [](CefRefPtr<CefV8Value> v) { return !v->IsInt() && v->GetDoubleValue() == 4294967296.0; },
         ScriptValue::MakeNumber(4294967296.0)},
        Conversion{"String", ScriptValue::MakeString("\xC3\xA4x"),
         [](CefRefPtr<CefV8Value> v) { return v->IsString() && v->GetStringValue().ToString16() == u"\u00E4x"; },
         ScriptValue::MakeString("\xC3\xA4x")},
        Conversion{"NestedArray",
         ScriptValue::MakeArray({ScriptValue::MakeInt(1), ScriptValue::MakeArray({ScriptValue::MakeString("a")})}),
         [](CefRefPtr<CefV8Value> v) {
             return v->IsArray() && v->GetArrayLength() == 2 && v->GetValue(1)->IsArray() &&
                    v->GetValue(1)->GetValue(0)->GetStringValue().ToString() == "a";
         },
         ScriptValue::MakeArray({ScriptValue::MakeInt(1), ScriptValue::MakeArray({ScriptValue::MakeString("a")})})},
        Conversion{"Object",
         ScriptValue::MakeObject({{"request", ScriptValue::MakeString("r")}, {"n", ScriptValue::MakeNull()}}),
         [](CefRefPtr<CefV8Value> v) {
             return v->IsObject() && !v->IsArray() && v->GetValue("request")->GetStringValue().ToString() == "r" &&
                    v->GetValue("missing")->IsUndefined();
         },
         ScriptValue::MakeObject({{"request", ScriptValue::MakeString("r")}, {"n", ScriptValue::MakeNull()}})},
        Conversion{"PageFunction", ScriptValue(),
         [](CefRefPtr<CefV8Value> v) { return v->IsFunction() && !v->GetFunctionHandler(); }, ScriptValue(), true}),
    test_support::RowName());

TEST_F(CefV8Test, HandlerRunsInTheCallersContext)
{
    host.CallGlobal(id, ctx, "echo", {});
    ASSERT_TRUE(echo->current);
    EXPECT_EQ(echo->current->GetBrowser()->GetIdentifier(), id);
    EXPECT_FALSE(CefV8Context::InContext()); // not on this thread
}

TEST_F(CefV8Test, ExceptionsAndUnknownNames)
{
    std::string exception;
    EXPECT_EQ(host.CallGlobal(id, ctx, "fail", {}, &exception), ScriptValue());
    EXPECT_EQ(exception, "boom");
    exception.clear();
    EXPECT_EQ(host.CallGlobal(id, ctx, "nosuch", {}, &exception), ScriptValue());
    EXPECT_EQ(host.CallGlobal(id, ctx, "notAFunction", {}), ScriptValue());
    EXPECT_EQ(host.CallGlobal(id, ctx + 100, "echo", {}), ScriptValue()); // unknown context
}

TEST_F(CefV8Test, PageFunctionsRunThroughTheScriptHost)
{
    const ScriptValue fn = host.MakePageFunction("cb");
    // Asynchronous engine: the call gives undefined.
    EXPECT_EQ(host.CallGlobal(id, ctx, "callBack", {fn}), ScriptValue());
    ASSERT_EQ(host.PageCalls(id).size(), 1u);
    EXPECT_EQ(host.PageCalls(id)[0].function_id, fn.function_id);
    EXPECT_EQ(host.PageCalls(id)[0].context_id, ctx);
    EXPECT_EQ(host.PageCalls(id)[0].args, std::vector<ScriptValue>{ScriptValue::MakeInt(7)});
    // An engine that answers synchronously.
    host.SetFunctionResult([](const cef_test::PageCall&, ScriptValue* r) {
        *r = ScriptValue::MakeBool(true);
        return true;
    });
    EXPECT_EQ(host.CallGlobal(id, ctx, "callBack", {fn}), ScriptValue::MakeBool(true));
}

TEST_F(CefV8Test, ReleasedContextIsInvalidAndItsGlobalsGone)
{
    CefRefPtr<CefV8Context> held;
    cef_extras::PostTask(TID_RENDERER, [&] { held = echo->current; });
    host.CallGlobal(id, ctx, "echo", {});
    cef_extras::PostTask(TID_RENDERER, [&] { held = echo->current; });
    cef_test::WaitForIdle();
    ASSERT_TRUE(held);
    host.ReleaseContext(id, ctx);
    cef_test::WaitForIdle();
    EXPECT_TRUE(log.Has("OnContextReleased@REN"));
    EXPECT_FALSE(held->IsValid());
    EXPECT_EQ(host.CallGlobal(id, ctx, "echo", {ScriptValue::MakeInt(1)}), ScriptValue());
    held = nullptr;
    echo->current = nullptr;
    echo->args.clear();
}

TEST(CefV8ValueTest, ValuesBuiltInCode)
{
    CefRefPtr<CefV8Value> arr = CefV8Value::CreateArray(2);
    EXPECT_EQ(arr->GetArrayLength(), 2);
    EXPECT_TRUE(arr->GetValue(0)->IsUndefined());
    arr->SetValue(3, CefV8Value::CreateString("x"));
    EXPECT_EQ(arr->GetArrayLength(), 4);
    CefRefPtr<CefV8Value> obj = CefV8Value::CreateObject(nullptr);
    EXPECT_TRUE(obj->SetValue("k", CefV8Value::CreateDouble(1.5), V8_PROPERTY_ATTRIBUTE_READONLY));
    EXPECT_FALSE(obj->SetValue("k", CefV8Value::CreateDouble(2), V8_PROPERTY_ATTRIBUTE_NONE));
    EXPECT_DOUBLE_EQ(obj->GetValue("k")->GetDoubleValue(), 1.5);
    EXPECT_FALSE(CefV8Value::CreateInt(1)->SetValue("k", CefV8Value::CreateNull(), V8_PROPERTY_ATTRIBUTE_NONE));
    EXPECT_TRUE(CefV8Value::CreateUInt(4000000000u)->IsUInt());
    EXPECT_FALSE(CefV8Value::CreateUInt(4000000000u)->IsInt());
    EXPECT_TRUE(CefV8Value::CreateString("a")->IsSame(CefV8Value::CreateString("a")));
    EXPECT_FALSE(CefV8Value::CreateObject(nullptr)->IsSame(CefV8Value::CreateObject(nullptr)));
    EXPECT_EQ(CefV8Value::CreateFunction("f", nullptr), nullptr);
}

} // namespace
