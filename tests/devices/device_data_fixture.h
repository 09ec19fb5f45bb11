// Set-up for tests of the driver descriptions, task byte strings, device macros and the colour
// report: the simulated devices "M1.0" (mouse) and "K1.0" (keyboard) listed in a main window,
// and a handler holding the two built-in descriptions.
#pragma once

#include "vqsim_devices.h"

#include "devices/device_data_handler.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <memory>

class DeviceDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(devices.open());
        handler = std::make_unique<device_data_handler>();
        handler->loadDriverXml(QStringLiteral(":/drive/M1.0"));
        handler->loadDriverXml(QStringLiteral(":/drive/K1.0"));
        vqsim().clearCalls();
    }
    void TearDown() override
    {
        vqsim().waitIdle(5000);
        handler.reset();
        devices.closeWindow();
        devices.sim.reset();
    }

    // Makes the description the handler's current one without touching any device.
    void useDriver(const QString& driverVersion)
    {
        handler->writeDeviceTask(QStringLiteral("no such device"), driverVersion, QStringLiteral("0"), QString(),
                                 QString(), QString());
    }

    static QByteArray prop(const char* id, int index) { return simProp(id, index); }
    static void setProp(const char* id, int index, const QByteArray& bytes) { setSimProp(id, index, bytes); }
    static QByteArray memory(const char* id, int address, int length) { return simMemory(id, address, length); }
    static void setMemory(const char* id, int address, const QByteArray& bytes) { setSimMemory(id, address, bytes); }

    SimMainWindow devices;
    std::unique_ptr<device_data_handler> handler;
};

// "01 21 00 00" -> bytes.
inline QByteArray hexBytes(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
