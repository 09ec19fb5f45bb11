#include "devices/device_filter.h"

#include "devices/macro_steps.h"

#include "include/base/cef_logging.h"

#include <pugixml.hpp>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// The transition bits of the buttons a mapping can take: right, middle, fourth and fifth.
const uint16_t kPressBits[] = {INTERCEPTION_MOUSE_RIGHT_DOWN, INTERCEPTION_MOUSE_MIDDLE_DOWN,
                               INTERCEPTION_MOUSE_BUTTON_4_DOWN, INTERCEPTION_MOUSE_BUTTON_5_DOWN};

bool isPressBit(uint16_t state) { return std::find(std::begin(kPressBits), std::end(kPressBits), state) != std::end(kPressBits); }

QString attribute(const pugi::xml_node& node, const char* name)
{
    return QString::fromUtf8(node.attribute(name).value());
}

// "按下(A)延迟(50)弹起(A)": verb and argument of each step, in order.
QList<MacroAction> macroActions(const QString& value, const std::function<QString(const QString&)>& hidCodeOf)
{
    QList<MacroAction> actions;
    for (const MacroStep& step : macroSteps(value)) {
        const QString& verb = step.verb;
        const QString& argument = step.argument;
        if (verb == QStringLiteral("按下") || verb == QStringLiteral("弹起")) {
            const QString code = hidCodeOf(argument.toUpper());
            if (!code.isEmpty())
                actions.append({verb == QStringLiteral("按下") ? QStringLiteral("down") : QStringLiteral("up"), code});
        } else if (verb == QStringLiteral("延迟") && !argument.isEmpty()) {
            actions.append({QStringLiteral("delayTime"), argument});
        }
    }
    return actions;
}

QString mouseButtonOf(const QString& value)
{
    static const struct {
        const char16_t* name;
        const char* code;
    } buttons[] = {{u"单击左键()", "1"}, {u"单击右键()", "2"}, {u"单击中键()", "4"}, {u"单击前进键()", "10"}, {u"单击后退键()", "8"}};
    for (const auto& b : buttons)
        if (value == QString::fromUtf16(b.name))
            return QString::fromLatin1(b.code);
    return QString();
}

// The host of a filter made without one while the program registered none: it reads no file,
// knows no key name and no device, and hands nothing over.
class AbsentHost : public DEVICE_FILTER::Host {
public:
    bool mappingText(const QString&, QString*) override { return false; }
    QString hidCodeOfKey(const QString&) override { return QString(); }
    InputDeviceList inputDevices() override { return InputDeviceList(); }
    void runTask(const MacroTask&, int) override {}
    void stopOutput() override {}
};

std::atomic<DEVICE_FILTER::HostMaker> g_defaultHostMaker{nullptr};

} // namespace

QList<MacroAction> mappingActions(const QString& task, const QString& value,
                                  const std::function<QString(const QString&)>& hidCodeOf)
{
    if (task == QLatin1String("MACRO"))
        return macroActions(value, hidCodeOf);
    if (task == QLatin1String("HOTKEY")) {
        QStringList codes;
        for (const QString& name : value.split(QLatin1Char('+'))) {
            const QString code = hidCodeOf(name.toUpper());
            if (!code.isEmpty())
                codes << code;
        }
        return {{QStringLiteral("hotKey"), codes.join(QLatin1Char(','))}};
    }
    if (task == QLatin1String("SHORTCUT"))
        return {{QStringLiteral("shortcut"), value}};
    if (task == QLatin1String("MOUSE"))
        return {{QStringLiteral("mouse"), mouseButtonOf(value)}};
    if (task == QLatin1String("TEXT"))
        return {{QStringLiteral("text"), value}};
    if (task == QLatin1String("KEYBROAD"))
        return {{QStringLiteral("keybroad"), hidCodeOf(value.toUpper())}};
    if (task == QLatin1String("MOUSEMOVE") || value.isEmpty())
        return {};
    return {{task, value}};
}

bool parseKeyMapping(const QString& text, const std::function<QString(const QString&)>& hidCodeOf,
                     DeviceKeyMap* map)
{
    const QByteArray utf8 = text.toUtf8();
    pugi::xml_document doc;
    if (!doc.load_buffer(utf8.constData(), size_t(utf8.size()), pugi::parse_default, pugi::encoding_utf8))
        return false;
    const pugi::xml_node conf = doc.child("conf");
    const auto isElement = [](const pugi::xml_node& n) { return n.type() == pugi::node_element; };
    if (!conf.find_child(isElement))
        return false;
    DeviceKeyMap mappings;
    for (const pugi::xml_node& mapping : conf.children()) {
        if (!isElement(mapping))
            continue;
        const pugi::xml_node taskNode = mapping.find_child(isElement);
        if (!taskNode)
            continue;
        const DeviceKey key(attribute(mapping, "scanCode").toUShort(), attribute(mapping, "flag").toUShort());
        MacroTask task;
        task.playType = attribute(mapping, "playType").toInt();
        task.playCount = attribute(mapping, "playCount").toInt();
        task.actions = mappingActions(attribute(taskNode, "task").toUpper(), attribute(taskNode, "value"), hidCodeOf);
        mappings.insert(key, task);
    }
    *map = mappings;
    return true;
}

StrokeDecision decideStroke(const DeviceKeyMap& map, bool keyboard, uint16_t code, uint16_t state,
                            const QList<HeldKey>& held)
{
    StrokeDecision d;
    d.held = held;
    DeviceKey key;
    if (keyboard) {
        key = DeviceKey(code, (state & INTERCEPTION_KEY_E0) ? 1 : 0);
        d.kind = (state & INTERCEPTION_KEY_UP) ? StrokeDecision::Release : StrokeDecision::Press;
    } else if (isPressBit(state)) {
        key = DeviceKey(state, kMouseKeyFlag);
        d.kind = StrokeDecision::Press;
    } else if (isPressBit(uint16_t(state / 2)) && state % 2 == 0) {
        key = DeviceKey(state / 2, kMouseKeyFlag);
        d.kind = StrokeDecision::Release;
    } else {
        return d;
    }
    int heldAt = -1;
    for (int i = 0; i < held.size(); ++i)
        if (held[i].key == key)
            heldAt = i;
    const auto mapped = map.constFind(key);
    if (d.kind == StrokeDecision::Press) {
        if (heldAt >= 0) {
            d.deliver = false; // pressed again before its release
            return d;
        }
        if (mapped == map.constEnd())
            return d;
        d.deliver = false;
        if (mapped->playType == 0 || mapped->playType == 1) {
            d.effect = StrokeDecision::RunTask;
            d.task = *mapped;
            d.keyState = 0;
        }
        d.held.append({key, *mapped});
        return d;
    }
    if (heldAt < 0)
        return d; // its press went on: so does the release
    d.deliver = false;
    const MacroTask task = held[heldAt].task;
    const bool ended = held[heldAt].ended;
    d.held.removeAt(heldAt);
    if (ended)
        return d;
    if (mapped == map.constEnd() || task.playType == 1) {
        d.effect = StrokeDecision::StopOutput;
    } else if (task.playType == 0 || task.playType == 2) {
        d.effect = StrokeDecision::RunTask;
        d.task = task;
        d.keyState = 1;
    }
    return d;
}

QString firstHardwareId(const uint8_t* buffer, unsigned count, unsigned size)
{
    const unsigned units = std::min(count, size) / 2;
    QString id;
    for (unsigned i = 0; i < units; ++i) {
        const char16_t unit = char16_t(buffer[2 * i] | (buffer[2 * i + 1] << 8));
        if (!unit)
            break;
        id.append(QChar(unit));
    }
    return id;
}

bool DEVICE_FILTER::endTasks(Held* held)
{
    bool running = false;
    for (HeldKey& key : held->keys) {
        running = running || !key.ended;
        key.ended = true;
    }
    return running;
}

DEVICE_FILTER::HostMaker DEVICE_FILTER::setDefaultHostMaker(HostMaker make)
{
    return g_defaultHostMaker.exchange(make, std::memory_order_acq_rel);
}

std::shared_ptr<DEVICE_FILTER::Host> DEVICE_FILTER::defaultHost()
{
    const HostMaker make = g_defaultHostMaker.load(std::memory_order_acquire);
    return make ? make() : std::make_shared<AbsentHost>();
}

DEVICE_FILTER::DEVICE_FILTER(QThread* thread, std::shared_ptr<Host> host)
    : m_host(host ? std::move(host) : defaultHost())
    , m_stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    moveToThread(thread);
    connect(thread, &QThread::started, this, &DEVICE_FILTER::start);
}

DEVICE_FILTER::~DEVICE_FILTER()
{
    if (m_stopEvent)
        CloseHandle(m_stopEvent);
}

bool DEVICE_FILTER::loadConfig(const QString& path, const QString& deviceId)
{
    if (path.isEmpty())
        return true;
    if (deviceId.isEmpty())
        return false;
    QString text;
    DeviceKeyMap map;
    if (!m_host->mappingText(path, &text)
        || !parseKeyMapping(text, [this](const QString& key) { return m_host->hidCodeOfKey(key); }, &map))
        return false;
    removeDeviceConfig(deviceId);
    if (!map.isEmpty()) {
        QMutexLocker lock(&m_lock);
        m_configs.append({deviceId, map});
    }
    return true;
}

bool DEVICE_FILTER::removeDeviceConfig(const QString& deviceId)
{
    if (deviceId.isEmpty())
        return false;
    QMutexLocker handOver(&m_handOver);
    bool ending = false;
    {
        QMutexLocker lock(&m_lock);
        int i = 0;
        while (i < m_configs.size() && m_configs[i].deviceId != deviceId)
            ++i;
        if (i == m_configs.size())
            return false;
        m_configs.removeAt(i);
        // Its held keys stay held, so that their releases are swallowed as their presses were.
        for (Held& held : m_pressed)
            if (held.deviceId == deviceId)
                ending = endTasks(&held) || ending;
    }
    if (ending)
        m_host->stopOutput();
    return true;
}

QStringList DEVICE_FILTER::configuredDevices() const
{
    QMutexLocker lock(&m_lock);
    QStringList ids;
    for (const Config& c : m_configs)
        ids.append(c.deviceId);
    return ids;
}

QString DEVICE_FILTER::presentDeviceId(const QString& hardwareId) const
{
    const int end = hardwareId.indexOf(QChar(0));
    const QString id = (end < 0 ? hardwareId : hardwareId.left(end)).toUpper();
    if (id.isEmpty() || id.contains(QLatin1String("ZORVA")))
        return QString();
    for (const InputDeviceRecord& device : m_host->inputDevices().devices)
        if (device.hardwareId.toUpper() == id)
            return device.hardwareId;
    return QString();
}

const DEVICE_FILTER::Config* DEVICE_FILTER::configOf(const QString& deviceId) const
{
    if (deviceId.isEmpty())
        return nullptr;
    for (const Config& c : m_configs)
        if (c.deviceId == deviceId)
            return &c;
    return nullptr;
}

DeviceKeyMap DEVICE_FILTER::mappingForDevice(const QString& hardwareId) const
{
    const QString deviceId = presentDeviceId(hardwareId);
    QMutexLocker lock(&m_lock);
    const Config* config = configOf(deviceId);
    return config ? config->map : DeviceKeyMap();
}

void DEVICE_FILTER::setFlags(bool first, bool second)
{
    m_flags[0] = first;
    m_flags[1] = second;
}

void DEVICE_FILTER::requestStop()
{
    {
        QMutexLocker lock(&m_lock);
        m_stop = true;
    }
    if (m_stopEvent)
        SetEvent(m_stopEvent);
}

bool DEVICE_FILTER::stopRequested() const
{
    QMutexLocker lock(&m_lock);
    return m_stop;
}

void DEVICE_FILTER::act(const StrokeDecision& decision)
{
    if (decision.effect == StrokeDecision::RunTask)
        m_host->runTask(decision.task, decision.keyState);
    else if (decision.effect == StrokeDecision::StopOutput)
        m_host->stopOutput();
}

void DEVICE_FILTER::start()
{
    // Without the driver there is nothing to capture, and the priority stays as it is.
    InterceptionContext context = interception_create_context();
    if (!context)
        return;
    HANDLE process = GetCurrentProcess();
    const DWORD priority = GetPriorityClass(process);
    SetPriorityClass(process, HIGH_PRIORITY_CLASS);
    interception_set_filter(context, interception_is_mouse, INTERCEPTION_FILTER_MOUSE_BUTTONS);

    for (;;) {
        Stroke stroke;
        const InterceptionDevice device = interception_wait_until(context, m_stopEvent);
        if (interception_receive(context, device, &stroke, 1) <= 0)
            break;
        if (stopRequested()) {
            interception_send(context, device, &stroke, 1);
            break;
        }
        uint8_t id[1000];
        std::memset(id, 0, sizeof id);
        const unsigned count = interception_get_hardware_id(context, device, id, sizeof id);
        const QString deviceId = presentDeviceId(firstHardwareId(id, count, sizeof id));
        const bool keyboard = interception_is_keyboard(device);
        const uint16_t code = keyboard ? stroke.key.code : 0;
        const uint16_t state = keyboard ? stroke.key.state : stroke.mouse.state;

        QMutexLocker handOver(&m_handOver);
        StrokeDecision decision;
        {
            QMutexLocker lock(&m_lock);
            const Config* config = configOf(deviceId);
            const DeviceKeyMap map = config ? config->map : DeviceKeyMap();
            if (keyboard && !map.isEmpty())
                LOG(INFO) << "keyboard come" << code;
            Held held = m_pressed.value(device);
            decision = decideStroke(map, keyboard, code, state, held.keys);
            if (decision.kind == StrokeDecision::Press && decision.held.size() > held.keys.size())
                held.deviceId = deviceId;
            held.keys = decision.held;
            if (held.keys.isEmpty())
                m_pressed.remove(device);
            else
                m_pressed.insert(device, held);
        }
        if (decision.deliver) {
            handOver.unlock();
            interception_send(context, device, &stroke, 1);
            continue;
        }
        if (!keyboard)
            LOG(INFO) << (decision.kind == StrokeDecision::Press ? "mouse down" : "mouse up");
        act(decision);
    }

    // The tasks of keys still held end with the loop.
    {
        QMutexLocker handOver(&m_handOver);
        bool ending = false;
        {
            QMutexLocker lock(&m_lock);
            for (Held& held : m_pressed)
                ending = endTasks(&held) || ending;
            m_pressed.clear();
        }
        if (ending)
            m_host->stopOutput();
    }
    interception_destroy_context(context);
    SetPriorityClass(process, priority);
}
