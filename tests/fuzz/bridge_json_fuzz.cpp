// The JSON the page engine hands the bridge: the arguments of a page's call of a global function,
// as the page side writes them, read into script values and handed to the program's page bridge
// on the runtime layer's test host. The input is one call a line: the function's name, a tab, and
// a JSON array of its arguments. Checked: a value read is written again as JSON that reads back to
// the same value (an object's members in any order, keys without NUL); function handles are whole
// numbers from 1 to 2^53; nesting stays bounded; and of the calls to setMessageCallback exactly the
// first with a name and a function for each name registers: an event of one of the page event
// names afterwards calls exactly that function, once, with one array; events of other names call
// nothing.
#include "fuzz_check.h"

#include "cefclient/client_app.h"
#include "cef_recording_client.h"
#include "cef_test/cef_test_host.h"
#include "cefqt/script_json.h"

#include "include/cef_process_message.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using cef_backend::ScriptValue;

const char* const kEvents[] = {"keyDown",      "mouseMove",    "devicesChanged",       "macroItem",
                               "currentPropChanged", "navStateChanged", "onDeviceData", "onBrowserMsg",
                               "onSwitchVirtualDevice"};

// The runtime with the program's application and a browser of a recording client, made anew now
// and then: the host keeps a record of every call.
struct Runtime {
    CefRefPtr<ClientApp> app = new ClientApp;
    CefRefPtr<test_support::RecordingClient> client = new test_support::RecordingClient;
    cef_test::TestHost host;

    Runtime() { FUZZ_CHECK(cef_test::StartRuntime(app.get())); }
    ~Runtime()
    {
        for (int id : host.BrowserIds())
            if (!host.Record(id).closed)
                host.DestroyView(id);
        cef_test::WaitForIdle();
        cef_test::StopRuntime();
        client->Forget();
    }
    int open()
    {
        CefWindowInfo info;
        info.SetAsChild(0x77, test_support::WindowRect{0, 0, 800, 600});
        FUZZ_CHECK(CefBrowserHost::CreateBrowser(info, client.get(), "about:blank", CefBrowserSettings()));
        cef_test::WaitForIdle();
        return host.LastBrowserId();
    }
};

Runtime& runtime()
{
    static std::unique_ptr<Runtime> r;
    static int uses = 0;
    if (!r || ++uses % 64 == 0) {
        r.reset();
        r.reset(new Runtime);
        static bool registered = false;
        if (!registered)
            std::atexit([] { r.reset(); });
        registered = true;
    }
    return *r;
}

int depth(const ScriptValue& v)
{
    int d = 0;
    for (const ScriptValue& item : v.items)
        d = std::max(d, depth(item));
    for (const auto& member : v.members)
        d = std::max(d, depth(member.second));
    return d + 1;
}

bool handlesValid(const ScriptValue& v)
{
    if (v.kind == ScriptValue::Function && !(v.function_id >= 1 && v.function_id <= (int64(1) << 53)))
        return false;
    for (const ScriptValue& item : v.items)
        if (!handlesValid(item))
            return false;
    for (const auto& member : v.members)
        if (!handlesValid(member.second))
            return false;
    return true;
}

// Whether an object at any depth has a key holding a NUL character: the JSON library reads such
// keys apart or together, and in an order, that differ from one reading of a text to the next.
bool nulInKeys(const ScriptValue& v)
{
    for (const ScriptValue& item : v.items)
        if (nulInKeys(item))
            return true;
    for (const auto& member : v.members)
        if (member.first.ToString16().find(u'\0') != std::u16string::npos || nulInKeys(member.second))
            return true;
    return false;
}

// The value with every object's members in key order: the JSON library keeps an object's members
// in an order of its own; the members themselves are what counts.
ScriptValue sorted(ScriptValue v)
{
    for (ScriptValue& item : v.items)
        item = sorted(item);
    for (auto& member : v.members)
        member.second = sorted(member.second);
    std::stable_sort(v.members.begin(), v.members.end(),
                     [](const auto& a, const auto& b) { return a.first.ToString16() < b.first.ToString16(); });
    return v;
}

std::vector<ScriptValue> sorted(std::vector<ScriptValue> values)
{
    for (ScriptValue& v : values)
        v = sorted(v);
    return values;
}

std::vector<ScriptValue> read(const QJsonArray& array)
{
    std::vector<ScriptValue> values;
    for (const QJsonValue& v : array)
        values.push_back(cefqt::ScriptValueFromJson(v));
    return values;
}

} // namespace

// Qt's own JSON reader (5.15) loses an object it read from a text that holds one key twice with an
// object among the values (such as {"":{},"":1}): that memory is Qt's, not the bridge's. Fuzz with
// -detect_leaks=0: the check after each such input would take most of the time; the check at exit
// still runs.
extern "C" const char* __lsan_default_suppressions() { return "leak:libQt5Core.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Runtime& rt = runtime();
    const int browser = rt.open();
    const int64 context = rt.host.CreateContext(browser);
    std::map<std::string, int64> registered;

    const QStringList lines = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)).split('\n');
    for (int i = 0; i < lines.size() && i < 16; ++i) {
        const QString name = lines[i].section(QLatin1Char('\t'), 0, 0);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i].section(QLatin1Char('\t'), 1).toUtf8(), &error);
        // The engine hands the bridge an array of arguments, whatever the page wrote.
        if (error.error != QJsonParseError::NoError || !document.isArray())
            continue;
        const std::vector<ScriptValue> values = read(document.array());
        for (const ScriptValue& v : values) {
            FUZZ_CHECK(depth(v) <= 66);
            FUZZ_CHECK(handlesValid(v));
        }
        // Written again and read back: the same values.
        const QJsonDocument again = QJsonDocument::fromJson(cefqt::ScriptValuesJson(values), &error);
        FUZZ_CHECK(error.error == QJsonParseError::NoError && again.isArray());
        if (std::none_of(values.begin(), values.end(), nulInKeys))
            FUZZ_CHECK(sorted(read(again.array())) == sorted(values));

        std::string exception;
        rt.host.CallGlobal(browser, context, name.toStdString(), values, &exception);
        if (name == QLatin1String("setMessageCallback")) {
            FUZZ_CHECK(exception.empty());
            if (values.size() == 2 && values[0].kind == ScriptValue::String && values[1].kind == ScriptValue::Function)
                registered.emplace(values[0].s.ToString(), values[1].function_id);
        }
    }

    // Answers to the page's queries, if any, have come by now.
    cef_test::WaitForIdle();
    auto callsSince = [&](size_t before) {
        cef_test::WaitForIdle();
        const std::vector<cef_test::PageCall> calls = rt.host.PageCalls(browser);
        std::vector<int64> called;
        for (size_t i = before; i < calls.size(); ++i) {
            FUZZ_CHECK(calls[i].args.size() == 1 && calls[i].args[0].kind == ScriptValue::Array);
            called.push_back(calls[i].function_id);
        }
        return called;
    };
    size_t before = rt.host.PageCalls(browser).size();
    std::vector<int64> expected;
    for (const char* event : kEvents) {
        CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(event);
        message->GetArgumentList()->SetInt(0, 7);
        rt.host.Browser(browser)->SendProcessMessage(PID_RENDERER, message);
        const auto it = registered.find(event);
        if (it != registered.end())
            expected.push_back(it->second);
    }
    FUZZ_CHECK(callsSince(before) == expected);
    // Names outside the list reach no page function, registered or not.
    before = rt.host.PageCalls(browser).size();
    for (const auto& r : registered)
        rt.host.Browser(browser)->SendProcessMessage(PID_RENDERER, CefProcessMessage::Create(r.first));
    const std::vector<int64> others = callsSince(before);
    size_t listed = 0;
    for (const auto& r : registered)
        for (const char* event : kEvents)
            listed += r.first == event;
    FUZZ_CHECK(others.size() == listed);
    rt.host.DestroyView(browser);
    cef_test::WaitForIdle();
    return 0;
}
