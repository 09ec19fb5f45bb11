// Device reports through the device-data callback, as the vendor library hands them over from a
// thread of its own. The input is a sequence of reports: a length byte (reports hold at least 8
// bytes: shorter ones are made 8 long), a byte choosing the thread (the library's or the GUI
// thread), the position the pointer is moved to first, the report's bytes and the length the
// library passes. Checked: a report whose second byte ends in 5 becomes one "keyDown" without
// arguments, one ending in 8 one "mouseMove" with where the pointer was when the report came, any
// other none; the length passed is never read; a report without bytes sends nothing.
#include "fuzz_app.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "page_events.h"

#include "devices/devices_handler.h"
#include "win32sim/cursor.h"

#include <QString>
#include <QVariantList>

#include <memory>
#include <thread>
#include <vector>

namespace {

// The main browser's events, on a runtime made anew now and then: the host keeps every event.
test_support::MainBrowserEvents& events()
{
    static std::unique_ptr<test_support::MainBrowserEvents> e;
    static int uses = 0;
    if (!e || ++uses % 64 == 0) {
        fuzzApplication();
        e.reset();
        e.reset(new test_support::MainBrowserEvents);
        static bool registered = false;
        // The runtime's threads end before the process does.
        if (!registered)
            std::atexit([] { e.reset(); });
        registered = true;
    }
    return *e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    test_support::MainBrowserEvents& browser = events();
    const int before = browser.events().size();
    QList<test_support::PageEvent> expected;
    FuzzInput in(data, size);
    for (int report = 0; report < 16 && !in.atEnd(); ++report) {
        const int length = std::max<int>(8, in.byte());
        const bool fromLibrary = in.pick(2);
        const int x = int(in.u32() % 4000) - 1000, y = int(in.u32() % 3000) - 1000;
        std::vector<uint8_t> bytes(static_cast<size_t>(length));
        for (uint8_t& b : bytes)
            b = in.byte();
        const int32_t passed = int32_t(in.u32());

        win32sim::moveCursor(x, y);
        auto deliver = [&] {
            const uint8_t* p = bytes.data();
            FUZZ_CHECK(deviceDataCallback(&p, passed));
        };
        if (fromLibrary)
            std::thread(deliver).join();
        else
            deliver();
        const int kind = bytes[1] & 0x0F;
        if (kind == 5)
            expected.append({QStringLiteral("keyDown"), {}});
        else if (kind == 8)
            expected.append({QStringLiteral("mouseMove"), {QString("%1,%2").arg(x).arg(y)}});
    }
    // No report: nothing is sent.
    const uint8_t* none = nullptr;
    FUZZ_CHECK(deviceDataCallback(&none, 8) && deviceDataCallback(nullptr, 8));

    cef_test::WaitForIdle();
    const QList<test_support::PageEvent> sent = browser.events().mid(before);
    FUZZ_CHECK(sent.size() == expected.size());
    for (int i = 0; i < sent.size(); ++i)
        FUZZ_CHECK(sent[i].name == expected[i].name && sent[i].args == expected[i].args);
    return 0;
}
