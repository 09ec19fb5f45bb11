#include "app/application.h"

namespace {
Application* g_instance = nullptr;
QString g_appDir;
}

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

Application::~Application()
{
    if (g_instance == this)
        g_instance = nullptr;
}

void Application::registerInstance() { g_instance = this; }

Application* Application::instance() { return g_instance; }

Window* Application::mainWindow() { return g_instance ? g_instance->m_mainWindow : nullptr; }

InputDeviceList Application::inputDevices() const
{
    QMutexLocker lock(&m_inputDevicesLock);
    return m_inputDevices;
}

void Application::setInputDevices(const InputDeviceList& list)
{
    QMutexLocker lock(&m_inputDevicesLock);
    m_inputDevices = list;
}

Application* appInstance() { return Application::instance(); }
Window* appMainWindow() { return Application::mainWindow(); }

void setAppDirPath(const QString& path) { g_appDir = path; }
const QString& appDirPath() { return g_appDir; }
