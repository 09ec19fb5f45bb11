// Key-mapping files: the input is read as a mapping file, then its bytes, two at a time, as a
// sequence of mouse and keyboard strokes decided over the mappings it gave.
#include "fuzz_check.h"

#include "devices/device_filter.h"

#include <QSet>
#include <QStringList>

#include <cstdint>

namespace {

const QSet<QString>& playedKinds()
{
    static const QSet<QString> kinds{"down", "up", "delayTime", "hotKey", "shortcut", "mouse", "text", "keybroad"};
    return kinds;
}

QString codeOf(const QString& key)
{
    // Key names are looked up in upper case only.
    FUZZ_CHECK(key == key.toUpper());
    return key == QLatin1String("A") ? QStringLiteral("04") : QString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    DeviceKeyMap map;
    const MacroTask untouched{7, 7, {{QStringLiteral("x"), QStringLiteral("y")}}};
    map.insert(DeviceKey(1, 1), untouched);
    const DeviceKeyMap before = map;
    if (!parseKeyMapping(text, codeOf, &map)) {
        FUZZ_CHECK(map.size() == 1 && map.firstKey() == before.firstKey());
        map.clear();
    }
    for (const MacroTask& task : map) {
        for (const MacroAction& a : task.actions) {
            // What plays, or a kind of its own in upper case that plays nothing (empty for a task
            // element without a task).
            FUZZ_CHECK(playedKinds().contains(a.first) || a.first == a.first.toUpper());
            if (a.first == QLatin1String("down") || a.first == QLatin1String("up"))
                FUZZ_CHECK(a.second == QLatin1String("04"));
            if (a.first == QLatin1String("delayTime"))
                FUZZ_CHECK(!a.second.isEmpty() && a.second == a.second.trimmed());
            if (a.first == QLatin1String("mouse"))
                FUZZ_CHECK(QStringList({"", "1", "2", "4", "10", "8"}).contains(a.second));
        }
    }

    // Strokes: a swallowed release always follows a swallowed press of its key, no key is held
    // twice, and the left button and combined transitions always go on.
    for (bool keyboard : {false, true}) {
        QList<HeldKey> held;
        QMap<DeviceKey, int> pressed;
        for (size_t i = 0; i + 1 < size; i += 2) {
            const uint16_t state = uint16_t(data[i] | (data[i + 1] << 8)) & (keyboard ? 0x3 : 0x3FF);
            const uint16_t code = keyboard ? data[i] : 0;
            const StrokeDecision d = decideStroke(map, keyboard, code, state, held);
            if (!keyboard && (state == 1 || state == 2 || (state & (state - 1)) != 0))
                FUZZ_CHECK(d.deliver && d.effect == StrokeDecision::Nothing);
            const DeviceKey key = keyboard ? DeviceKey(code, (state & 2) ? 1 : 0)
                                           : DeviceKey(d.kind == StrokeDecision::Release ? state / 2 : state, 10);
            if (!d.deliver && d.kind == StrokeDecision::Press && d.held.size() > held.size())
                ++pressed[key];
            if (!d.deliver && d.kind == StrokeDecision::Release) {
                FUZZ_CHECK(pressed.value(key) > 0);
                --pressed[key];
            }
            QSet<DeviceKey> keys;
            for (const HeldKey& h : d.held) {
                FUZZ_CHECK(!keys.contains(h.key));
                keys.insert(h.key);
            }
            held = d.held;
        }
    }
    return 0;
}
