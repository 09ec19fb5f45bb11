// The window tests on a real X display: the X platform wherever a display is given (the test run
// gives an Xvfb without a window manager); without one the cases are skipped.
#include <QByteArray>
#include <QtGlobal>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
