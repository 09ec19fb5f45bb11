// Shared set-up for tests of the device code: one application per process, the simulated
// vendor library's controls, device files.
#pragma once

#include "app/application.h"
#include "app/window.h"
#include "vq/vq_api.h"
#include "vqsim/vqsim.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

class TestApplication : public Application {
public:
    TestApplication(int& argc, char** argv)
        : Application(argc, argv)
    {
        registerInstance();
    }
    void setMainWindow(Window* window) { m_mainWindow = window; }

    // The process's one application, created on first use and kept until exit.
    static TestApplication* get()
    {
        static TestApplication* app = [] {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "device_tests";
            static char* argv[] = {name, nullptr};
            return new TestApplication(argc, argv);
        }();
        return app;
    }
};

inline const VqSim& vqsim() { return VqSim::instance(); }

// Points the simulated library at a device file holding `text` and reloads it; an empty
// text restores the built-in mouse "M1.0" and keyboard "K1.0".
class SimDevices {
public:
    explicit SimDevices(const QString& text = QString())
    {
        if (text.isEmpty()) {
            unsetenv("VQSIM_DEVICES");
        } else {
            m_path = m_dir.filePath(QStringLiteral("devices.txt"));
            QFile file(m_path);
            if (file.open(QIODevice::WriteOnly))
                file.write(text.toUtf8());
            file.close();
            setenv("VQSIM_DEVICES", QFile::encodeName(m_path).constData(), 1);
        }
        unsetenv("VQSIM_STATE");
        if (vqsim().loaded())
            vqsim().reset();
    }
    ~SimDevices()
    {
        if (vqsim().loaded())
            vqsim().shutdown();
        unsetenv("VQSIM_DEVICES");
    }
    QString dir() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

// The simulated devices and a new main window listing them, as the device fixtures set them
// up; each fixture ends them in its own order.
struct SimMainWindow {
    std::unique_ptr<SimDevices> sim;
    Window* window = nullptr;

    // The application and the simulated library first; call with ASSERT_NO_FATAL_FAILURE.
    void open()
    {
        TestApplication::get();
        ASSERT_TRUE(vqsim().loaded());
        sim = std::make_unique<SimDevices>();
        window = new Window();
        TestApplication::get()->setMainWindow(window);
    }
    // Unregisters the main window, then deletes it; the simulated devices stay.
    void closeWindow()
    {
        TestApplication::get()->setMainWindow(nullptr);
        delete window;
        window = nullptr;
    }
};

// A property block of a simulated device; empty where the library has none.
inline QByteArray simProp(const char* id, int index)
{
    uint8_t buf[VQ_BLOCK_SIZE] = {};
    const int n = vqsim().getProp(id, index, buf, sizeof buf);
    return n < 0 ? QByteArray() : QByteArray(reinterpret_cast<const char*>(buf), n);
}

inline QByteArray simMemory(const char* id, int address, int length)
{
    QByteArray out(length, '\0');
    vqsim().getMemory(id, address, reinterpret_cast<uint8_t*>(out.data()), length);
    return out;
}

// Calls of one entry point in the simulated library's call log.
inline int simCalls(const char* name)
{
    int n = 0;
    VqSimCall call;
    for (int i = 0; vqsim().callAt(i, &call) == 0; ++i)
        if (std::string(call.name) == name)
            ++n;
    return n;
}

inline VqSimCall lastSimCall(const char* name)
{
    VqSimCall found{};
    VqSimCall call;
    for (int i = 0; vqsim().callAt(i, &call) == 0; ++i)
        if (std::string(call.name) == name)
            found = call;
    return found;
}

inline const char* kMouseId = "HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000";
inline const char* kKeyboardId = "HID\\VID_1A2C&PID_0E30&MI_01\\7&2C3D4E5F&0&0000";
