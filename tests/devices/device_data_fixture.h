// Set-up for tests of the driver descriptions, task byte strings, device macros and the colour
// report: the simulated devices "M1.0" (mouse) and "K1.0" (keyboard) listed in a main window,
// and a handler holding the two built-in descriptions.
#pragma once

#include "device_test_support.h"

#include "devices/device_data_handler.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <memory>

class DeviceDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        ASSERT_TRUE(vqsim().loaded());
        sim = std::make_unique<SimDevices>();
        window = new Window();
        TestApplication::get()->setMainWindow(window);
        handler = std::make_unique<device_data_handler>();
        handler->loadDriverXml(QStringLiteral(":/drive/M1.0"));
        handler->loadDriverXml(QStringLiteral(":/drive/K1.0"));
        vqsim().clearCalls();
    }
    void TearDown() override
    {
        vqsim().waitIdle(5000);
        TestApplication::get()->setMainWindow(nullptr);
        handler.reset();
        delete window;
        sim.reset();
    }

    // Makes the description the handler's current one without touching any device.
    void useDriver(const QString& driverVersion)
    {
        handler->writeDeviceTask(QStringLiteral("no such device"), driverVersion, QStringLiteral("0"), QString(),
                                 QString(), QString());
    }

    static QByteArray prop(const char* id, int index)
    {
        uint8_t buf[VQ_BLOCK_SIZE] = {};
        const int n = vqsim().getProp(id, index, buf, sizeof buf);
        return n < 0 ? QByteArray() : QByteArray(reinterpret_cast<const char*>(buf), n);
    }
    static void setProp(const char* id, int index, const QByteArray& bytes)
    {
        vqsim().setProp(id, index, reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
    }
    static QByteArray memory(const char* id, int address, int length)
    {
        QByteArray out(length, '\0');
        vqsim().getMemory(id, address, reinterpret_cast<uint8_t*>(out.data()), length);
        return out;
    }
    static void setMemory(const char* id, int address, const QByteArray& bytes)
    {
        vqsim().setMemory(id, address, reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
    }

    std::unique_ptr<SimDevices> sim;
    Window* window = nullptr;
    std::unique_ptr<device_data_handler> handler;
};

// "01 21 00 00" -> bytes.
inline QByteArray hexBytes(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
