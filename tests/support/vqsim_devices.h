// The simulated vendor libraries in tests: their controls, device files, and a main window that
// lists the simulated devices.
#pragma once

#include "vq/vq_api.h"
#include "vqsim/vqsim.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class Window;

// The controls of the "libvq.dll" the program loads; members are null when it cannot be loaded.
inline const VqSim& vqsim() { return VqSim::instance(); }

// DeviceIds of the built-in mouse "M1.0" and keyboard "K1.0".
extern const char* const kMouseId;
extern const char* const kKeyboardId;

// Points the simulated library at a device file holding `text` and reloads it; an empty text
// restores the built-in mouse and keyboard. Ends the library's callback thread when destroyed.
class SimDevices {
public:
    explicit SimDevices(const QString& text = QString());
    ~SimDevices();
    QString dir() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// The simulated devices and a new main window listing them; each fixture ends them in its own
// order.
struct SimMainWindow {
    std::unique_ptr<SimDevices> sim;
    Window* window = nullptr;

    // The application and the simulated library first; call with ASSERT_NO_FATAL_FAILURE.
    void open();
    // Unregisters the main window, then deletes it; the simulated devices stay.
    void closeWindow();
};

// A property of a simulated device; empty where the library has none.
QByteArray simProp(const char* id, int index);
void setSimProp(const char* id, int index, const QByteArray& bytes);
// Bytes of a simulated device's memory; zeros outside it.
QByteArray simMemory(const char* id, int address, int length);
void setSimMemory(const char* id, int address, const QByteArray& bytes);

// Calls of one entry point in the call log, and the latest of them (all zero when none).
int simCalls(const char* name);
VqSimCall lastSimCall(const char* name);
