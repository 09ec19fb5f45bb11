// The process's test application for the targets that need one.
#pragma once

#include "fuzz_check.h"
#include "test_app.h"

#include "vqsim/vqsim.h"

#include <QGuiApplication>
#include <QList>
#include <QScreen>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

// Offscreen, with the simulated vendor library on its built-in devices. The code under test traces
// every call: only a fatal message is shown.
inline TestApplication* fuzzApplication()
{
    unsetenv("VQSIM_DEVICES");
    unsetenv("VQSIM_STATE");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    TestApplication* app = TestApplication::get();
    // The application lives as long as the process, and its screens with it; Qt frees its own list
    // of them at exit, before the leak check.
    static const QList<QScreen*>* const screens = new QList<QScreen*>(QGuiApplication::screens());
    (void)screens;
    FUZZ_CHECK(VqSim::instance().loaded());
    return app;
}

