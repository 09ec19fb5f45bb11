// Set-up shared by the device benchmarks: the application with a main window listing the
// simulated devices, debug output dropped (it would time the terminal), and the entry points of
// the simulated libraries for the floors.
#pragma once

#include "test_app.h"

#include "app/window.h"
#include "vq/vq_api.h"

#include <QJsonObject>
#include <QLibrary>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

class DeviceBench {
public:
    DeviceBench()
    {
        TestApplication::get();
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        m_window = new Window();
        TestApplication::get()->setMainWindow(m_window);
        if (!m_libvq.load() || !m_hexlane.load()) {
            std::fprintf(stderr, "the simulated libraries are not beside the program\n");
            std::exit(2);
        }
    }
    ~DeviceBench() { TestApplication::get()->setMainWindow(nullptr); }

    // The DeviceId the program passes for a listed Version, as a zero-terminated UTF-16 text.
    std::u16string deviceId(const QString& version) const
    {
        const QString id = m_window->deviceMap().value(version).value(QStringLiteral("DeviceId")).toString();
        if (id.isEmpty()) {
            std::fprintf(stderr, "%s is not listed\n", qPrintable(version));
            std::exit(2);
        }
        return std::u16string(reinterpret_cast<const char16_t*>(id.utf16()), size_t(id.size()));
    }

    template <typename T>
    T libvq(const char* name) { return reinterpret_cast<T>(m_libvq.resolve(name)); }
    template <typename T>
    T hexlane(const char* name) { return reinterpret_cast<T>(m_hexlane.resolve(name)); }

private:
    Window* m_window = nullptr; // kept until exit, as the program keeps its main window
    QLibrary m_libvq{QStringLiteral("libvq.dll")};
    QLibrary m_hexlane{QStringLiteral("Hexlane.dll")};
};
