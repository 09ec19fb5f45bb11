// Helpers of the engine and runtime-layer tests: the shared bounded wait, and the process
// environment the engine tests run in.
#pragma once

#include "wait.h"

#include <QtGlobal>

namespace cefqt_test {

using test_support::waitFor;

// Engine flags and Qt platform of a test process, set before QApplication exists.
inline void setTestEnvironment()
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
#ifdef TM_VIEW_TESTS
    // Views want a real X display (native child windows); without one they still
    // work offscreen with the software scene graph.
    if (qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
#endif
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace cefqt_test
