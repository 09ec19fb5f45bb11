// The per-device hot keys of the main window: conf.xml names, per device id, the device whose
// settings page a hot key opens. The input is conf.xml's text, a line "%%", then one call a line,
// fields separated by tabs:
//   set <device id> <key sequence>    the device's hot key (its entry made first)
//   press <device id>                 the device's hot key is pressed
// Checked after every call: a hot key's text and state are kept under its device; a press opens
// at most one page, the settings page of the device that conf.xml lists under exactly that id
// (the first such entry with a product), and only when that page lies below the program folder as
// a browser reads the address; the window survives.
#include "fuzz_app.h"
#include "fuzz_check.h"
#include "fuzz_sandbox.h"

#include "app/application.h"
#include "app/global_shortcut.h"
#include "app/window.h"

#include <pugixml.hpp>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace {

struct Process {
    QTemporaryDir root;
    QString program = root.filePath(QStringLiteral("app"));
    Window* window = nullptr;

    Process()
    {
        FUZZ_CHECK(root.isValid());
        FUZZ_CHECK(QDir().mkpath(program + QStringLiteral("/Resources")));
        FUZZ_CHECK(QDir().mkpath(root.filePath(QStringLiteral("tmp"))));
        qputenv("TMPDIR", QFile::encodeName(root.filePath(QStringLiteral("tmp"))));
        setAppDirPath(program + QLatin1Char('/'));
        TestApplication* app = fuzzApplication();
        window = new Window;
        app->setMainWindow(window);
    }
};

Process& process()
{
    static Process* p = new Process;
    return *p;
}

void writeConf(const QByteArray& text)
{
    QFile file(process().program + QStringLiteral("/Resources/conf.xml"));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// The "device" of the first product that conf.xml lists for an entry whose deviceId is exactly
// id; false when there is none.
bool deviceOf(const QString& confText, const QString& id, QString* device)
{
    const QByteArray text = confText.toUtf8();
    pugi::xml_document doc;
    if (!doc.load_buffer(text.constData(), size_t(text.size())))
        return false;
    for (pugi::xml_node conf : doc.child("root").children("conf")) {
        const pugi::xml_attribute deviceId = conf.attribute("deviceId");
        if (!deviceId || QString::fromUtf8(deviceId.value()) != id)
            continue;
        if (pugi::xml_node product = conf.child("productInfo")) {
            *device = QString::fromUtf8(product.attribute("device").value());
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Process& p = process();
    Window* window = p.window;
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const int split = input.indexOf(QLatin1String("\n%%\n"));
    writeConf((split < 0 ? input : input.left(split)).toUtf8());
    appInstance()->loadConf();
    const QString confText = appInstance()->confText();
    const QStringList lines = split < 0 ? QStringList() : input.mid(split + 4).split(QLatin1Char('\n'));

    QString dir = p.program;
    for (int i = 0; i < lines.size() && i < 32; ++i) {
        const QStringList f = lines.at(i).split(QLatin1Char('\t'));
        const QString id = f.value(1);
        if (f.value(0) == QLatin1String("set")) {
            window->addHotKeyEntry(id);
            window->setDeviceHotKey(id, f.value(2));
            FUZZ_CHECK(window->hotKeys().value(id));
            FUZZ_CHECK(window->hotKeyTexts().value(id) == qMakePair(f.value(2), QStringLiteral("0")));
        } else if (f.value(0) == QLatin1String("press")) {
            GlobalShortcut* key = window->hotKeys().value(id);
            if (!key)
                continue;
            window->closePopups();
            emit key->activated();
            QString device;
            const QString page = QStringLiteral("file:///") + dir + QStringLiteral("/view/device/");
            const bool listed = deviceOf(confText, id, &device);
            const QString expected = page + device + QStringLiteral("/seting.html");
            FUZZ_CHECK(window->popups().size() <= 1);
            if (!window->popups().isEmpty()) {
                const QString opened = window->popups().firstKey();
                FUZZ_CHECK(listed && opened == expected);
                FUZZ_CHECK(fuzz_sandbox::fileUrlBelow(opened, dir));
            } else {
                FUZZ_CHECK(!listed || !fuzz_sandbox::fileUrlBelow(expected, dir));
            }
        }
    }
    window->closePopups();
    window->clearHotKeys();
    FUZZ_CHECK(appMainWindow() == window);
    return 0;
}
