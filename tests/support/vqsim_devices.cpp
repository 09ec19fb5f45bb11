#include "vqsim_devices.h"

#include "test_app.h"
#include "test_files.h"

#include "app/window.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cstdlib>
#include <cstring>

const char* const kMouseId = "HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000";
const char* const kKeyboardId = "HID\\VID_1A2C&PID_0E30&MI_01\\7&2C3D4E5F&0&0000";

SimDevices::SimDevices(const QString& text)
{
    if (text.isEmpty()) {
        unsetenv("VQSIM_DEVICES");
    } else {
        const QString path = m_dir.filePath(QStringLiteral("devices.txt"));
        test_support::writeFile(path, text.toUtf8());
        setenv("VQSIM_DEVICES", QFile::encodeName(path).constData(), 1);
    }
    unsetenv("VQSIM_STATE");
    if (vqsim().loaded())
        vqsim().reset();
}

SimDevices::~SimDevices()
{
    if (vqsim().loaded())
        vqsim().shutdown();
    unsetenv("VQSIM_DEVICES");
}

void SimMainWindow::open()
{
    TestApplication::get();
    ASSERT_TRUE(vqsim().loaded());
    sim = std::make_unique<SimDevices>();
    window = new Window();
    TestApplication::get()->setMainWindow(window);
}

void SimMainWindow::closeWindow()
{
    TestApplication::get()->setMainWindow(nullptr);
    delete window;
    window = nullptr;
}

QByteArray simProp(const char* id, int index)
{
    uint8_t buf[VQ_BLOCK_SIZE] = {};
    const int n = vqsim().getProp(id, index, buf, sizeof buf);
    return n < 0 ? QByteArray() : QByteArray(reinterpret_cast<const char*>(buf), n);
}

void setSimProp(const char* id, int index, const QByteArray& bytes)
{
    vqsim().setProp(id, index, reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
}

QByteArray simMemory(const char* id, int address, int length)
{
    QByteArray out(length, '\0');
    vqsim().getMemory(id, address, reinterpret_cast<uint8_t*>(out.data()), length);
    return out;
}

void setSimMemory(const char* id, int address, const QByteArray& bytes)
{
    vqsim().setMemory(id, address, reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
}

int simCalls(const char* name)
{
    int n = 0;
    VqSimCall call;
    for (int i = 0; vqsim().callAt(i, &call) == 0; ++i)
        if (std::strcmp(call.name, name) == 0)
            ++n;
    return n;
}

VqSimCall lastSimCall(const char* name)
{
    VqSimCall found{};
    VqSimCall call;
    for (int i = 0; vqsim().callAt(i, &call) == 0; ++i)
        if (std::strcmp(call.name, name) == 0)
            found = call;
    return found;
}
