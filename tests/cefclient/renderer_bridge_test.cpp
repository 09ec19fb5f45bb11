// The pages' side of the bridge on the test host: setMessageCallback's registration rules,
// delivery of page events with their arguments converted, browsers kept apart, and release
// with the script context.
#include "renderer_host.h"
#include "row_name.h"

#include "cefclient/renderer/page_bridge.h"
#include "cefclient/renderer/v8_list_conversion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace renderer_test;
using cef_backend::ScriptValue;

namespace {

ScriptValue Str(const char* s) { return ScriptValue::MakeString(s); }
ScriptValue Int(int i) { return ScriptValue::MakeInt(i); }
ScriptValue Arr(std::vector<ScriptValue> v) { return ScriptValue::MakeArray(std::move(v)); }

CefRefPtr<CefProcessMessage> Message(const std::string& name,
                                     const std::function<void(CefRefPtr<CefListValue>)>& fill = nullptr)
{
    CefRefPtr<CefProcessMessage> m = CefProcessMessage::Create(name);
    if (fill)
        fill(m->GetArgumentList());
    return m;
}

// The registered keys, read on the renderer thread.
std::vector<std::pair<std::string, int>> RegisteredKeys()
{
    std::vector<std::pair<std::string, int>> keys;
    OnRenderer([&] {
        for (const auto& e : g_messageCallbacks)
            keys.push_back(e.first);
    });
    return keys;
}

class RendererBridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RegisteredKeys().empty()) << "left over from an earlier test";
        ASSERT_TRUE(rt.Started());
        browser = rt.OpenBrowser(&context);
        ASSERT_NE(browser, 0);
    }
    void TearDown() override
    {
        // Closing a browser releases its contexts and with them their registrations.
        for (int id : rt.host.BrowserIds())
            rt.host.DestroyView(id);
        cef_test::WaitForIdle();
        EXPECT_TRUE(RegisteredKeys().empty());
    }

    // setMessageCallback(args...) from page script; checks that it gives undefined and does not throw.
    void Register(int id, int64 ctx, const std::vector<ScriptValue>& args)
    {
        std::string exception;
        EXPECT_EQ(rt.host.CallGlobal(id, ctx, "setMessageCallback", args, &exception), ScriptValue());
        EXPECT_EQ(exception, "");
    }
    ScriptValue RegisterNew(int id, int64 ctx, const char* name)
    {
        const ScriptValue fn = rt.host.MakePageFunction(name);
        Register(id, ctx, {Str(name), fn});
        return fn;
    }
    // What the application answers for the message when the page function returns the
    // host's answer.
    bool Handled(int id, CefRefPtr<CefProcessMessage> message)
    {
        bool handled = true;
        OnRenderer([&] { handled = app->OnProcessMessageReceived(rt.host.Browser(id), PID_BROWSER, message); });
        return handled;
    }

    CefRefPtr<ClientApp> app = new ClientApp;
    RendererHost rt{app};
    int browser = 0;
    int64 context = 0;
};

struct Event {
    const char* name;
    std::function<void(CefRefPtr<CefListValue>)> fill;
    ScriptValue expected; // the one argument the page function receives
};

void PrintTo(const Event& row, std::ostream* os) { *os << row.name; }

class PageEvents : public RendererBridgeTest, public ::testing::WithParamInterface<Event> {};

TEST_P(PageEvents, EventsReachThePageAsOneArrayOfTheirArguments)
{
    const Event& c = GetParam();
    const ScriptValue fn = RegisterNew(browser, context, c.name);
    const size_t before = rt.host.PageCalls(browser).size();
    rt.Send(browser, Message(c.name, c.fill));
    const std::vector<cef_test::PageCall> calls = rt.host.PageCalls(browser);
    ASSERT_EQ(calls.size(), before + 1);
    EXPECT_EQ(calls.back().function_id, fn.function_id);
    EXPECT_EQ(calls.back().context_id, context);
    EXPECT_EQ(calls.back().args, std::vector<ScriptValue>{c.expected});
}

INSTANTIATE_TEST_SUITE_P(
    Events, PageEvents,
    ::testing::Values(
        Event{"devicesChanged", [](CefRefPtr<CefListValue> a) { a->SetInt(0, 2); }, Arr({Int(2)})},
        Event{"keyDown", nullptr, Arr({})},
        Event{"navStateChanged",
               [](CefRefPtr<CefListValue> a) {
                   a->SetBool(0, true);
                   a->SetBool(1, false);
               },
               Arr({ScriptValue::MakeBool(true), ScriptValue::MakeBool(false)})},
        Event{"mouseMove", [](CefRefPtr<CefListValue> a) { a->SetString(0, "-12,40"); }, Arr({Str("-12,40")})},
        Event{"onDeviceData",
               [](CefRefPtr<CefListValue> a) {
                   CefRefPtr<CefListValue> inner = CefListValue::Create();
                   inner->SetInt(0, 1);
                   inner->SetString(1, "a");
                   a->SetList(0, inner);
                   a->SetDouble(1, 2.5);
               },
               Arr({Arr({Int(1), Str("a")}), ScriptValue::MakeNumber(2.5)})},
        Event{"macroItem",
               [](CefRefPtr<CefListValue> a) {
                   CefRefPtr<CefDictionaryValue> dict = CefDictionaryValue::Create();
                   dict->SetInt("k", 1);
                   a->SetDictionary(0, dict);
                   const char bytes[] = "xy";
                   a->SetBinary(1, CefBinaryValue::Create(bytes, 2));
                   a->SetNull(2);
               },
               Arr({ScriptValue::MakeNull(), ScriptValue::MakeNull(), ScriptValue::MakeNull()})}),
    test_support::RowName());

struct Answer {
    const char* name;
    bool answers;
    ScriptValue result;
    bool handled;
};

void PrintTo(const Answer& row, std::ostream* os) { *os << row.name; }

class PageAnswers : public RendererBridgeTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(PageAnswers, OnlyTrueFromThePageFunctionMarksTheMessageHandled)
{
    const Answer& c = GetParam();
    RegisterNew(browser, context, "devicesChanged");
    rt.host.SetFunctionResult([&c](const cef_test::PageCall&, ScriptValue* r) {
        *r = c.result;
        return c.answers;
    });
    EXPECT_EQ(Handled(browser, Message("devicesChanged")), c.handled);
}

INSTANTIATE_TEST_SUITE_P(Answers, PageAnswers,
                         ::testing::Values(Answer{"True", true, ScriptValue::MakeBool(true), true},
                                           Answer{"False", true, ScriptValue::MakeBool(false), false},
                                           Answer{"AString", true, Str("true"), false},
                                           Answer{"ANumber", true, Int(1), false},
                                           // An asynchronous page.
                                           Answer{"Nothing", false, ScriptValue(), false}),
                         test_support::RowName());

TEST_F(RendererBridgeTest, MessagesWithoutAPageFunctionAreNotHandled)
{
    RegisterNew(browser, context, "devicesChanged");
    rt.host.SetFunctionResult([](const cef_test::PageCall&, ScriptValue* r) {
        *r = ScriptValue::MakeBool(true);
        return true;
    });
    // No function for this name, and a name that is never delivered: not handled, nothing called.
    const size_t calls = rt.host.PageCalls().size();
    EXPECT_FALSE(Handled(browser, Message("keyDown")));
    EXPECT_FALSE(Handled(browser, Message("cefQueryAnswer")));
    EXPECT_EQ(rt.host.PageCalls().size(), calls);
}

TEST_F(RendererBridgeTest, TheFirstRegistrationOfANameInABrowserWins)
{
    const ScriptValue first = RegisterNew(browser, context, "devicesChanged");
    const ScriptValue second = RegisterNew(browser, context, "devicesChanged");
    // Another context of the same browser (a frame) while the first lives: no effect either.
    const int64 frame = rt.host.CreateContext(browser);
    const ScriptValue third = RegisterNew(browser, frame, "devicesChanged");
    rt.Send(browser, Message("devicesChanged", [](CefRefPtr<CefListValue> a) { a->SetInt(0, 1); }));
    const std::vector<cef_test::PageCall> calls = rt.host.PageCalls(browser);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].function_id, first.function_id);
    EXPECT_EQ(RegisteredKeys(), (std::vector<std::pair<std::string, int>>{{"devicesChanged", browser}}));
}

TEST_F(RendererBridgeTest, WrongArgumentsAreIgnoredWithoutAnError)
{
    const ScriptValue fn = rt.host.MakePageFunction();
    const std::vector<std::vector<ScriptValue>> calls = {
        {},
        {Str("devicesChanged")},
        {fn},
        {Int(5), fn},
        {Str("devicesChanged"), Str("not a function")},
        {Str("devicesChanged"), ScriptValue::MakeObject({})},
        {fn, Str("devicesChanged")},
        {Str("devicesChanged"), fn, fn},
    };
    for (const auto& args : calls)
        Register(browser, context, args);
    EXPECT_TRUE(RegisteredKeys().empty());
    rt.Send(browser, Message("devicesChanged"));
    EXPECT_TRUE(rt.host.PageCalls().empty());
}

TEST_F(RendererBridgeTest, NamesOutsideTheEventListAreKeptButNeverCalled)
{
    RegisterNew(browser, context, "fooEvent");
    RegisterNew(browser, context, "devicesChanged");
    EXPECT_EQ(RegisteredKeys(),
              (std::vector<std::pair<std::string, int>>{{"devicesChanged", browser}, {"fooEvent", browser}}));
    rt.Send(browser, Message("fooEvent"));
    // Names are compared exactly.
    rt.Send(browser, Message("DevicesChanged"));
    rt.Send(browser, Message("devicesChanged "));
    EXPECT_TRUE(rt.host.PageCalls().empty());
}

TEST_F(RendererBridgeTest, EachBrowserReceivesOnlyItsOwnEvents)
{
    int64 otherContext = 0;
    const int other = rt.OpenBrowser(&otherContext);
    ASSERT_NE(other, 0);
    const ScriptValue mine = RegisterNew(browser, context, "onBrowserMsg");
    const ScriptValue theirs = RegisterNew(other, otherContext, "onBrowserMsg");

    rt.Send(other, Message("onBrowserMsg", [](CefRefPtr<CefListValue> a) { a->SetString(0, "to other"); }));
    rt.Send(browser, Message("onBrowserMsg", [](CefRefPtr<CefListValue> a) { a->SetString(0, "to main"); }));

    const std::vector<cef_test::PageCall> toMain = rt.host.PageCalls(browser);
    const std::vector<cef_test::PageCall> toOther = rt.host.PageCalls(other);
    ASSERT_EQ(toMain.size(), 1u);
    ASSERT_EQ(toOther.size(), 1u);
    EXPECT_EQ(toMain[0].function_id, mine.function_id);
    EXPECT_EQ(toMain[0].args, std::vector<ScriptValue>{Arr({Str("to main")})});
    EXPECT_EQ(toOther[0].function_id, theirs.function_id);
    EXPECT_EQ(toOther[0].context_id, otherContext);
    EXPECT_EQ(toOther[0].args, std::vector<ScriptValue>{Arr({Str("to other")})});
}

TEST_F(RendererBridgeTest, ReleasingAContextDropsItsRegistrationsOnly)
{
    int64 otherContext = 0;
    const int other = rt.OpenBrowser(&otherContext);
    RegisterNew(browser, context, "devicesChanged");
    RegisterNew(browser, context, "keyDown");
    const ScriptValue kept = RegisterNew(other, otherContext, "devicesChanged");

    rt.host.ReleaseContext(browser, context);
    cef_test::WaitForIdle();
    EXPECT_EQ(RegisteredKeys(), (std::vector<std::pair<std::string, int>>{{"devicesChanged", other}}));
    rt.Send(browser, Message("devicesChanged"));
    EXPECT_TRUE(rt.host.PageCalls(browser).empty());

    // The reloaded page registers again, and its new function is the one called.
    const int64 reloaded = rt.host.CreateContext(browser);
    const ScriptValue fresh = RegisterNew(browser, reloaded, "devicesChanged");
    rt.Send(browser, Message("devicesChanged"));
    rt.Send(other, Message("devicesChanged"));
    ASSERT_EQ(rt.host.PageCalls(browser).size(), 1u);
    EXPECT_EQ(rt.host.PageCalls(browser)[0].function_id, fresh.function_id);
    EXPECT_EQ(rt.host.PageCalls(browser)[0].context_id, reloaded);
    ASSERT_EQ(rt.host.PageCalls(other).size(), 1u);
    EXPECT_EQ(rt.host.PageCalls(other)[0].function_id, kept.function_id);
}

TEST_F(RendererBridgeTest, APageFunctionWhoseContextCannotBeEnteredIsNotCalled)
{
    RegisterNew(browser, context, "devicesChanged");
    cef_test::WaitForIdle();
    // No context can be entered off the renderer thread.
    EXPECT_FALSE(app->OnProcessMessageReceived(rt.host.Browser(browser), PID_BROWSER, Message("devicesChanged")));
    cef_test::WaitForIdle();
    EXPECT_TRUE(rt.host.PageCalls(browser).empty());
    // On the renderer thread the same message arrives.
    rt.Send(browser, Message("devicesChanged"));
    EXPECT_EQ(rt.host.PageCalls(browser).size(), 1u);
}

// The router still answers the page's queries while the bridge delivers events.
TEST_F(RendererBridgeTest, PageQueriesStillWork)
{
    RegisterNew(browser, context, "devicesChanged");
    const ScriptValue onSuccess = rt.host.MakePageFunction("onSuccess");
    rt.host.CallGlobal(browser, context, "cefQuery",
                       {ScriptValue::MakeObject({{"request", Str("ping:7")}, {"onSuccess", onSuccess}})});
    // Answered from another thread: wait (bounded) for the answer to arrive.
    for (int i = 0; i < 500 && rt.host.PageCalls(browser).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        cef_test::WaitForIdle();
    }
    const std::vector<cef_test::PageCall> calls = rt.host.PageCalls(browser);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].function_id, onSuccess.function_id);
    EXPECT_EQ(calls[0].args, std::vector<ScriptValue>{Str("pong:7")});
}

// The conversions nothing in the program calls yet, both ways through a list.
TEST(V8ListConversionTest, ScriptValuesThroughAListAndIntoVariants)
{
    CefRefPtr<CefV8Value> inner = CefV8Value::CreateArray(2);
    inner->SetValue(0, CefV8Value::CreateInt(1));
    inner->SetValue(1, CefV8Value::CreateString("x"));
    CefRefPtr<CefV8Value> source = CefV8Value::CreateArray(6);
    source->SetValue(0, CefV8Value::CreateBool(true));
    source->SetValue(1, CefV8Value::CreateInt(-7));
    source->SetValue(2, CefV8Value::CreateDouble(2.5));
    source->SetValue(3, CefV8Value::CreateString("\xC3\xA4"));
    source->SetValue(4, inner);
    source->SetValue(5, CefV8Value::CreateNull()); // not carried

    CefRefPtr<CefListValue> list = CefListValue::Create();
    CopyV8ArrayToList(source, list);
    ASSERT_EQ(list->GetSize(), 5u);
    EXPECT_EQ(list->GetType(0), VTYPE_BOOL);
    EXPECT_EQ(list->GetType(1), VTYPE_INT);
    EXPECT_EQ(list->GetType(2), VTYPE_DOUBLE);
    EXPECT_EQ(list->GetType(3), VTYPE_STRING);
    EXPECT_EQ(list->GetType(4), VTYPE_LIST);

    const QVariantList variants = ListToVariantList(list);
    EXPECT_EQ(variants, (QVariantList{true, -7, 2.5, QString::fromUtf8("\xC3\xA4"), QVariantList{1, "x"}}));

    CefRefPtr<CefV8Value> back = CefV8Value::CreateArray(int(list->GetSize()));
    CopyListToV8Array(list, back);
    ASSERT_EQ(back->GetArrayLength(), 5);
    EXPECT_TRUE(back->GetValue(0)->GetBoolValue());
    EXPECT_EQ(back->GetValue(1)->GetIntValue(), -7);
    EXPECT_EQ(back->GetValue(2)->GetDoubleValue(), 2.5);
    EXPECT_EQ(back->GetValue(3)->GetStringValue().ToString(), "\xC3\xA4");
    EXPECT_EQ(back->GetValue(4)->GetValue(1)->GetStringValue().ToString(), "x");
}

} // namespace
